// Reassembly of System Exclusive input that arrives in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quorvane::midi {

// Reassembles System Exclusive messages that a MIDI API hands over in chunks
// (ALSA and WinMM split long ones). Feed it every message in arrival order;
// it returns complete messages: F0 .. F7 frames whose data bytes are all below
// 80h, and any other message unchanged. Real-time bytes (F8h..FFh) arriving
// inside a System Exclusive message are passed on without breaking it.
class SysExAssembler {
public:
    explicit SysExAssembler(size_t maxSysExBytes = 64 * 1024) : max_(maxSysExBytes) {}
    // Calls `emit` for each complete message the chunk finishes.
    void feed(const uint8_t* data, size_t size, const std::function<void(const std::vector<uint8_t>&)>& emit);
    void reset();
    // System Exclusive messages thrown away: cut short by another status byte,
    // a continuation with no start, a data byte of 80h or more, or too long.
    uint64_t incomplete() const { return incomplete_; }

private:
    void drop();
    std::vector<uint8_t> partial_;
    bool inSysEx_ = false;
    bool overlong_ = false;
    size_t max_;
    uint64_t incomplete_ = 0;
};

}  // namespace quorvane::midi
