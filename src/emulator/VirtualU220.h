// The built-in virtual U-220: the emulator behind a pair of ports, so that the
// model talks to it exactly as to a module on a real MIDI port. Its output port
// feeds the emulator; the emulator's answers arrive on its input port through
// the PostFn, after the wire model's delay when that is on.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "emulator/U220Emulator.h"
#include "midi/MidiPorts.h"

namespace quorvane::midi {

class VirtualU220 : public std::enable_shared_from_this<VirtualU220> {
public:
    static constexpr const char* kDeviceName = "Quorvane virtual U-220";

    explicit VirtualU220(uint8_t deviceId = 0x10);
    ~VirtualU220();

    // Runs fn with the emulator locked (the emulator is shared with a delivery thread).
    template <class F>
    auto withEmulator(F&& fn) {
        std::lock_guard lock(mutex_);
        return fn(emulator_);
    }
    // Realistic mode: the module behaves like one on a real cable. Every message
    // takes its time on a 31,250-baud wire, each answer starts `answerDelayMs`
    // after its request has arrived, and a message that starts less than
    // `minGapMs` after the end of the previous one is lost (counted in the
    // emulator's lostToGap). setRealistic(0, 0) turns it off again: answers at once.
    void setRealistic(double answerDelayMs, double minGapMs);
    bool realistic() const;
    // Messages lost because they followed the previous one too closely.
    uint64_t lostToGap() const;

    // Copy of every message the module has taken in, in order.
    std::vector<Bytes> received() const;
    void clearReceived();

    // Ports on this module. `post` delivers answers on the GUI thread. The module
    // must be owned by a shared_ptr: an output port keeps it alive. Output device
    // -1 and input device 0 are the only devices; answers reach every open input.
    std::unique_ptr<MIDIOutput> makeOutput();
    std::unique_ptr<MIDIInput> makeInput(PostFn post);

private:
    friend class VirtualOutputPort;
    friend class VirtualInputPort;
    struct Delivery;
    void fromHost(const Bytes& message);
    // `start`: when the message began on the wire, as the output's pacing counted it.
    void fromHost(const Bytes& message, std::chrono::steady_clock::time_point start);
    mutable std::mutex mutex_;
    emulator::U220Emulator emulator_;
    std::shared_ptr<Delivery> delivery_;
};

}  // namespace quorvane::midi
