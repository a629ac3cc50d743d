// Starting the virtual module from a back-up: its memory takes every byte of
// the image as it is; what the image lacks stays as the module had it. A
// template over the image (anything with dataSets() of address and data), so
// that the emulator needs nothing of the back-up library.
#pragma once

#include "emulator/U220Emulator.h"
#include "emulator/VirtualU220.h"

namespace quorvane::midi {

template <class Image>
void LoadIntoVirtualModule(VirtualU220& module, const Image& image) {
    module.withEmulator([&](emulator::U220Emulator& e) {
        for (const auto& d : image.dataSets()) e.load(d.address, d.data);
    });
}

}  // namespace quorvane::midi
