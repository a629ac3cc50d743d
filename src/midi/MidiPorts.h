// The MIDI port operations the model relies on: listing devices, opening and
// closing them, sending short and System Exclusive messages, and a queue of
// received System Exclusive messages. Back ends: RtMidi (every API compiled in)
// and the built-in virtual U-220.
//
// Threading: every member is called on the GUI thread. A back end that receives
// on another thread only copies the message into its queue and hands a wake-up
// to the injected PostFn, which runs onSysExReceived on the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorvane::midi {

using Bytes = std::vector<uint8_t>;
// Runs a function on the GUI thread, later. Must be safe to call from any thread.
using PostFn = std::function<void(std::function<void()>)>;

using ErrorHandler = std::function<void(int code, const std::string& text)>;

class MIDIOutput {
public:
    virtual ~MIDIOutput() = default;
    // Devices are numbered -1 .. deviceCount()-1; -1 is listed first.
    virtual int deviceCount() const = 0;
    virtual std::string deviceName(int index) const = 0;
    // Opens device `index`, closing whatever was open. On failure calls onError
    // with a clear text and returns false.
    virtual bool open(int index) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // A two-byte channel message (Program Change: C0h+channel, program).
    virtual void sendShort(uint8_t status, uint8_t data1) = 0;
    // One complete System Exclusive frame, F0 .. F7.
    virtual void sendSysEx(const Bytes& frame) = 0;
    // A three-byte channel message (Note On 90h+channel, Note Off 80h+channel:
    // key, velocity), queued and paced like every other message. A back end
    // that cannot send one says so through onError.
    virtual void sendChannel(uint8_t status, uint8_t data1, uint8_t data2) {
        (void)status, (void)data1, (void)data2;
        if (onError) onError(6, "This MIDI output cannot send notes.");
    }
    // Least time between the end of one message on the wire and the start of the
    // next. A data set still waiting for the same address is replaced by a newer one.
    virtual void setSendGapMs(int ms) = 0;
    virtual int sendGapMs() const = 0;
    // Blocks until every queued message has been handed to the port (used at exit).
    virtual void flush() {}

    ErrorHandler onError;
    // A message handed to sendShort/sendSysEx that never left: merged into a
    // newer data set for the same address, or dropped (with the reason). On the
    // GUI thread. For watching only.
    std::function<void(const Bytes& message, bool merged, const std::string& reason)> onNotSent;
};

class MIDIInput {
public:
    virtual ~MIDIInput() = default;
    // Devices are numbered 0 .. deviceCount()-1.
    virtual int deviceCount() const = 0;
    virtual std::string deviceName(int index) const = 0;
    virtual bool open(int index) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Received System Exclusive messages, oldest first.
    virtual int messageCount() const = 0;
    virtual Bytes receivedMessage() const = 0;  // empty when none
    virtual void discard() = 0;                 // drops the oldest message
    // Messages dropped because the queue was full or a message was cut short.
    virtual uint64_t droppedCount() const { return 0; }

    ErrorHandler onError;
    std::function<void()> onSysExReceived;  // on the GUI thread
};

}  // namespace quorvane::midi
