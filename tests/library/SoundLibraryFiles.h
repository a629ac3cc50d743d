// Bank files for the sound library's tests and benchmark: the virtual module's
// factory memory, mutated by a seeded generator (names and bytes), so that
// every seed gives sounds of its own.
#pragma once

#include <random>
#include <string>

#include "device/Protocol.h"
#include "emulator/U220Emulator.h"
#include "library/MemoryImage.h"
#include "library/SoundLibraryItems.h"

namespace quorvane::library::testfiles {

// Every backed-up area of a factory-new virtual module.
inline MemoryImage FactoryMemory() {
    static const MemoryImage image = [] {
        emulator::U220Emulator e;
        MemoryImage m;
        for (const Range& r : BackupAreas()) m.put(r.address, e.read(r.address, r.size));
        return m;
    }();
    return image;
}

// A made-up name of 12 characters or fewer.
inline std::string RandomName(std::mt19937& rng) {
    static const char* const syllables[] = {"Bra", "ss", " Pad", "Str", "ing", "Vox", " Lead", "Bell", "Syn", "th",
                                            "Pno", " 2", "Warm", "Air", "Koto", "Jet", "Glo", "w", " X", "Dark"};
    std::string name;
    while (name.size() < 6) name += syllables[rng() % 20];
    return name.substr(0, 12);
}

// The factory memory with every sound changed: a new name and one value past
// the name. The same seed gives the same file.
inline MemoryImage MutatedBank(uint32_t seed) {
    MemoryImage image = FactoryMemory();
    std::mt19937 rng(seed);
    for (const Sound& s : SoundsIn(image)) {
        Bytes b = WithName(s.bytes, RandomName(rng));
        const size_t at = sysex::kNameBytes + rng() % (b.size() - sysex::kNameBytes);
        b[at] = static_cast<uint8_t>((b[at] + 1 + rng() % 15) & 0x0F);
        PlaceSound(image, s.type, s.number, b);
    }
    return image;
}

}  // namespace quorvane::library::testfiles
