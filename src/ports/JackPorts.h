// MIDI on a JACK server through libjack, without RtMidi: the output places each
// message at a frame of its own, so the gap between messages holds as the far
// end receives them however late a process cycle runs; the input stamps each
// message with its frame.
//
// Frames count from the server's start (64 bits: no wrap); frameMs() turns a
// frame into ms on the same clock.
//
// Threading: the process callback (JACK's real-time thread) never allocates,
// locks or waits: messages travel between it and the other threads through
// JACK ring buffers, and received ones wake a reader thread of the client
// through a semaphore. Every other member may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorvane::midi {

// Whether this build talks to JACK itself (libjack was there when it was built).
bool JackBuiltIn();

// Times a JACK client of ours lost its server (it stopped, or threw the client
// out). Only grows.
uint64_t JackServerFailures();

// Whether a JACK server answers now (a short-lived client asks).
bool JackServerRunning();

#if QUORVANE_HAVE_JACK

class JackMidiClient {
public:
    using Bytes = std::vector<uint8_t>;
    // Called on the client's reader thread (never the real-time one) with each
    // message received and the frame it arrived at.
    using ReceiveFn = std::function<void(const uint8_t* data, size_t size, uint64_t frame)>;

    // The client of this program named `name`, shared by whoever asks for the
    // same name while it lives (one client for both directions). Opened when
    // nobody holds it, or when the one held lost its server. Null when no server
    // answers (`error` says why).
    static std::shared_ptr<JackMidiClient> shared(const std::string& name, std::string* error = nullptr);
    // A client of its own, not shared.
    static std::shared_ptr<JackMidiClient> open(const std::string& name, std::string* error = nullptr);

    ~JackMidiClient();
    JackMidiClient(const JackMidiClient&) = delete;
    JackMidiClient& operator=(const JackMidiClient&) = delete;

    // The server went away (or dropped this client): nothing moves any more.
    bool dead() const;
    std::string name() const;  // as the server knows it
    uint32_t sampleRate() const;
    uint32_t periodFrames() const;
    double frameMs(uint64_t frame) const { return 1000.0 * static_cast<double>(frame) / sampleRate(); }
    uint64_t framesOf(double ms) const;
    // The server's frame now (between cycles: where the clock stands).
    uint64_t frameNow() const;

    // MIDI ports of other clients: those that take messages (`sendTargets`) or
    // those that send them. In the server's order.
    std::vector<std::string> ports(bool sendTargets) const;
    bool portExists(const std::string& fullName) const;

    // The client's own ports, registered on first use (named `portName`);
    // the client runs its process callback from then on.
    bool addOutput(const std::string& portName, std::string* error);
    bool addInput(const std::string& portName, ReceiveFn onReceive, std::string* error);

    // Connects the output to `target` (another client's port), ending its other
    // connections. Messages pushed from now on leave once the server has the
    // connection in place.
    bool connectOutput(const std::string& target, std::string* error);
    // Waits until what was pushed has left and the cycle that carried it has
    // ended (at most a moment longer when the server stalls), then ends the
    // output's connections.
    void disconnectOutput();
    // Connects `source` to the input, ending the input's other connections, and
    // returns once a cycle has run with the connection in place.
    bool connectInput(const std::string& source, std::string* error);
    // Ends the input's connections and its receiver (once a delivery in
    // progress has returned).
    void disconnectInput();

    // Least gap in ms between the end of one message on the wire (31250 baud,
    // 10 bits a byte) and the start of the next, counted in frames.
    void setGapMs(double ms);
    // Queues one message for the output, to leave no sooner than frame
    // `notBefore` (0: as soon as the gap allows). False when the queue is full
    // or the message larger than the queue takes.
    bool push(const Bytes& message, uint64_t notBefore = 0);
    // Waits until every message pushed has been placed in a cycle, and that
    // cycle has ended. False when it gave up (server gone or stalled).
    bool drain();
    // Messages pushed and not yet placed.
    size_t pending() const;
    // Received messages the input's queue had no room for.
    uint64_t inputOverflows() const;

    struct Impl;

private:
    explicit JackMidiClient(std::unique_ptr<Impl> d);
    std::unique_ptr<Impl> d_;
};

// A pair of ports other programs connect to, as the module's end of a cable:
// the input "<clientName>:<inPortName>" takes messages, stamped with their
// frame; the output "<clientName>-out:<outPortName>" sends them, each at the
// frame asked for. Two clients, so the names read as they always did.
class JackVirtualEndpoint {
public:
    using Bytes = std::vector<uint8_t>;
    // On the input's reader thread: a whole message (System Exclusive put
    // together from its parts; timing clock and active sensing left out), and
    // when it arrived in ms on the frame clock.
    using ReceiveFn = std::function<void(const Bytes& message, double atMs)>;

    JackVirtualEndpoint(const std::string& clientName, const std::string& inPortName, const std::string& outPortName,
                        ReceiveFn onReceive);
    ~JackVirtualEndpoint();
    JackVirtualEndpoint(const JackVirtualEndpoint&) = delete;
    JackVirtualEndpoint& operator=(const JackVirtualEndpoint&) = delete;

    bool ok() const;
    std::string error() const;
    // Now in ms on the frame clock, and one period in ms.
    double nowMs() const;
    double periodMs() const;
    // Sends at `atMs` on the frame clock (0: at once). Any thread.
    bool send(const Bytes& message, double atMs = 0);
    uint64_t incompleteCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
#endif

}  // namespace quorvane::midi
