// MIDI ports on RtMidi, over every API compiled into the library (ALSA on Linux,
// CoreMIDI on macOS, WinMM on Windows), and on JACK through a client of our own
// (JackPorts.h) in RtMidi's place: its output places every message on the
// server's frame clock no closer than the send gap to the previous one.
//
// Device lists concatenate the ports of every API in RtMidi's order. When more
// than one API is compiled in, each name carries its API ("JACK: system:midi_playback_1",
// "ALSA: Midi Through:Midi Through Port-0 14:0") so that names stay unique. An API
// whose server is not running (no JACK server, no ALSA sequencer) contributes no
// ports, quietly: the MIDI libraries' own console messages are switched off.
//
// Errors (a port that vanished, a driver failure, a malformed message handed in)
// never escape as exceptions: they reach onError with a non-zero code other than
// 8 and a readable text, on the GUI thread.
//
// One file per concern: RtMidiOutput.cpp and RtMidiInput.cpp the ports,
// RtMidiListing.cpp what the MIDI system is (failures, running, name, APIs,
// the about text), RtMidiJack.cpp JACK in RtMidi's place, VirtualEndpoint.cpp
// the simulator's ports; RtMidiSupport.h what they share (quiet libraries,
// captured errors, posted events, port lists).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiPorts.h"
#include "midi/SysExAssembler.h"

namespace quorvane::midi {

// Error numbers passed to onError by the RtMidi ports. 0 and 8 are never used
// (the model ignores them).
enum RtMidiPortError : int {
    kErrNoSuchDevice = 2,    // index outside the device list
    kErrDeviceGone = 3,      // a listed port is no longer there
    kErrOpenFailed = 4,      // the MIDI system refused to open the port
    kErrNotOpen = 5,         // a message was handed to a closed output
    kErrBadMessage = 6,      // refused to send bytes that are not a valid message
    kErrDriver = 7,          // the MIDI system reported a failure while running
};

class RtMidiOutput : public MIDIOutput {
public:
    static constexpr int kDefaultGapMs = 20;

    // `post` runs the error and not-sent events on the GUI thread.
    // `clientName` names this program to the MIDI system: the open port is
    // "<clientName>:out". On JACK one client "<clientName>" carries both
    // directions ("<clientName>:out" and "<clientName>:in") and lists the ports;
    // elsewhere the input's port is "<clientName>-in:in" and listing goes
    // through a client "<clientName>-list" without ports, kept only while no
    // port is open.
    explicit RtMidiOutput(PostFn post, std::string clientName = "Quorvane");
    ~RtMidiOutput() override;

    // Lists the ports again (a listing less than 0.3 s old is reused). Devices
    // are 0 .. deviceCount()-1; there is no device -1.
    int deviceCount() const override;
    std::string deviceName(int index) const override;  // "" outside the list
    // On JACK messages sent at once leave in the first cycle that has the new
    // connection in place.
    bool open(int index) override;
    // Sends what is still queued first; on JACK the connection then stays until
    // the cycle that carried the last message has ended.
    void close() override;
    bool isOpen() const override;
    void sendShort(uint8_t status, uint8_t data1) override;
    void sendChannel(uint8_t status, uint8_t data1, uint8_t data2) override;
    void sendSysEx(const Bytes& frame) override;
    void setSendGapMs(int ms) override;
    int sendGapMs() const override;
    void flush() override;

    uint64_t sentCount() const;
    // What is added to the send gap for the open port's MIDI system: 0 now that
    // JACK places messages at exact frames (kept for callers of old).
    double deliveryGranularityMs() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

class RtMidiInput : public MIDIInput {
public:
    static constexpr size_t kMaxQueuedMessages = 4096;
    static constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;

    explicit RtMidiInput(PostFn post, std::string clientName = "Quorvane");
    ~RtMidiInput() override;

    int deviceCount() const override;  // lists the ports again
    std::string deviceName(int index) const override;
    // Opening empties the queue of received messages.
    bool open(int index) override;
    void close() override;
    bool isOpen() const override;
    int messageCount() const override;
    Bytes receivedMessage() const override;
    void discard() override;
    uint64_t droppedCount() const override;  // overflowCount() + incompleteCount()
    uint64_t overflowCount() const;          // complete messages that found the queue full
    uint64_t incompleteCount() const;        // System Exclusive messages cut short or malformed

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// How many times a MIDI system client of this program lost its server (JACK:
// the server stopped or dropped the client). Only grows; any thread. Device
// lists made after a change start with fresh clients.
uint64_t MidiSystemFailures();
// Whether the MIDI system behind the port listed as `deviceLabel` runs now (a
// short-lived client finds out; true for a name of no API). Its name ("JACK"),
// "" when unknown.
bool MidiSystemRunning(const std::string& deviceLabel);
std::string MidiSystemName(const std::string& deviceLabel);

// Names of the APIs compiled into RtMidi, e.g. {"ALSA", "JACK"}.
std::vector<std::string> RtMidiApiNames();

// A pair of virtual ports (an input and an output that other programs connect
// to), for a program that plays the module's part on the MIDI system, such as
// the simulator tool.
class RtMidiVirtualEndpoint {
public:
    // Called on RtMidi's thread with every complete message received: whole
    // System Exclusive frames and channel messages (timing clock and active
    // sensing are filtered out).
    using ReceiveFn = std::function<void(const Bytes& message)>;

    // `api` is an RtMidi API name as RtMidi spells it ("jack", "alsa", "core");
    // empty picks the first API that can make virtual ports. Check ok() after.
    // One client per port: the input appears to other programs as
    // "<clientName>:<inPortName>", the output as "<clientName>-out:<outPortName>"
    // (on JACK through JackVirtualEndpoint, which also stamps arrival frames).
    RtMidiVirtualEndpoint(const std::string& api, const std::string& clientName, const std::string& inPortName,
                          const std::string& outPortName, ReceiveFn onReceive);
    ~RtMidiVirtualEndpoint();
    RtMidiVirtualEndpoint(const RtMidiVirtualEndpoint&) = delete;
    RtMidiVirtualEndpoint& operator=(const RtMidiVirtualEndpoint&) = delete;

    bool ok() const;
    std::string error() const;  // why it is not ok, or the last send failure
    std::string apiName() const;
    // Sends one message out of the virtual output. Callable from any thread.
    bool send(const Bytes& message);
    uint64_t incompleteCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace quorvane::midi
