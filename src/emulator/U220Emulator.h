// A software U-220: its whole memory with believable names and values, answers
// to data requests, data sets applied, program change loading a patch, and an
// optional model of the MIDI wire and of faults for tests and benchmarks.
// Standard C++ only. Not thread-safe: the owner serialises calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/Protocol.h"

namespace quorvane::emulator {

// The MIDI wire: 31250 baud, 10 bits a byte.
struct WireModel {
    bool enabled = false;
    double answerDelayMs = 0;  // between the end of a request and the start of its answer
    double minGapMs = 0;       // a message starting sooner than this after the end of
                               // the previous one is lost, as on a slow module
};

// Faults applied to what the module sends; probabilities 0..1, repeatable by seed.
struct FaultModel {
    double drop = 0;     // an answer message is lost
    double delay = 0;    // an answer message comes late by delayMs
    double delayMs = 200;
    double damage = 0;   // one data byte of an answer message is changed
    double foreign = 0;  // a foreign System Exclusive message is inserted before an answer
    uint32_t seed = 1;
};

// A message the module sends, and when (ms on the caller's clock) it has fully
// arrived at the other end.
struct Outgoing {
    Bytes message;
    double atMs = 0;
};

struct EmulatorStats {
    uint64_t received = 0;       // complete messages taken in
    uint64_t lostToGap = 0;      // lost because they followed the previous one too closely
    uint64_t ignored = 0;        // not for this module (other ID, model, bad checksum, ...)
    uint64_t requests = 0;       // RQ1 answered
    uint64_t dataSets = 0;       // DT1 applied
    uint64_t programChanges = 0; // on the Rx control channel
    uint64_t dropped = 0, delayed = 0, damaged = 0, foreign = 0;  // injected faults
};

class U220Emulator {
public:
    // `packingSeed` chooses how the memories keep their records (0: the default
    // packing; see MemoryLayout.h). The working area and every message about it
    // are the same in every packing; only the memory bytes differ.
    explicit U220Emulator(uint8_t deviceId = 0x10, uint32_t packingSeed = 0);

    uint8_t deviceId() const;
    void setDeviceId(uint8_t id);
    void setWireModel(const WireModel& w);
    const WireModel& wireModel() const;
    void setFaults(const FaultModel& f);
    const FaultModel& faults() const;
    // Changes the packing; every record in memory is carried over to the new one,
    // so every memory keeps its sound.
    void setPackingSeed(uint32_t seed);
    uint32_t packingSeed() const;
    // A silent module takes messages in (and applies them) but never answers.
    void setSilent(bool silent);
    bool silent() const;

    // Longest data part of one answer message; longer stretches are split.
    static constexpr size_t kMaxAnswerData = 128;

    // One complete message from the host (System Exclusive or a channel message)
    // whose first byte reached the module at `startMs`. Returns what the module
    // sends in answer, with the times at which each answer has fully arrived.
    std::vector<Outgoing> receive(const Bytes& message, double startMs = 0);

    // Memory, one 7-bit value per address.
    uint8_t peek(Address a) const;
    void poke(Address a, uint8_t v);
    Bytes read(Address a, int size) const;
    // Stores bytes as the memory holds them (a backup loaded at start), without
    // what a data set would do besides (no timbre or rhythm setup loaded).
    // Addresses the module does not have are skipped.
    void load(Address a, const Bytes& data);

    // Current patch (1..64) after the last program change, 0 before any.
    int currentPatch() const;
    // Rx control channel from the master setup (0..15; 16 and above = Off).
    int rxChannel() const;
    // Restores the factory memory and loads patch 1 into the temporary areas.
    void resetToFactory();
    // Forgets the wire's history (last message in and out), e.g. when the
    // owner's clock starts again.
    void resetWire();
    // Every message taken in, in order (messages lost to the wire gap are not).
    // Keeps the latest 100000 or so.
    const std::vector<Bytes>& log() const;
    void clearLog();
    const EmulatorStats& stats() const;

    // Wire time of n bytes in milliseconds (n * 10 bits / 31250 baud).
    static double wireMs(size_t bytes) { return bytes * 10.0 * 1000.0 / 31250.0; }

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace quorvane::emulator
