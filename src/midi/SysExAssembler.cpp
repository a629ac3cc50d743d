#include "midi/SysExAssembler.h"

namespace quorvane::midi {

void SysExAssembler::reset() {
    partial_.clear();
    inSysEx_ = false;
    overlong_ = false;
}

void SysExAssembler::drop() {
    ++incomplete_;
    reset();
}

void SysExAssembler::feed(const uint8_t* data, size_t size,
                          const std::function<void(const std::vector<uint8_t>&)>& emit) {
    size_t i = 0;
    while (i < size) {
        if (!inSysEx_) {
            const uint8_t b = data[i];
            if (b == 0xF0) {
                inSysEx_ = true;
                overlong_ = false;
                partial_.assign(1, 0xF0);
                ++i;
                continue;
            }
            if (b < 0x80 || b == 0xF7) {  // the rest of a message whose start we never saw
                ++incomplete_;
                return;
            }
            emit(std::vector<uint8_t>(data + i, data + size));  // a message of its own
            return;
        }
        const uint8_t b = data[i++];
        if (b < 0x80) {
            if (partial_.size() + 1 < max_) partial_.push_back(b);
            else overlong_ = true;
        } else if (b == 0xF7) {
            if (overlong_) {
                drop();
            } else {
                partial_.push_back(0xF7);
                std::vector<uint8_t> done;
                done.swap(partial_);
                reset();
                emit(done);
            }
        } else if (b >= 0xF8) {
            emit(std::vector<uint8_t>(1, b));  // real time: may sit inside a System Exclusive
        } else {
            drop();  // another status byte ends the System Exclusive before its F7
            --i;     // and is looked at again as the start of a message
        }
    }
}

}  // namespace quorvane::midi
