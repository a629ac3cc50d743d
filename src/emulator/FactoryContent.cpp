#include "emulator/FactoryContent.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

#include "device/ParamTable.h"
#include "emulator/MemoryLayout.h"

namespace quorvane::emulator {

namespace {

// A fixed integer hash (splitmix64 finaliser), so the content never depends on a
// library's random distributions.
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A value in [lo, hi] picked by (item, salt).
int Pick(int item, int salt, int lo, int hi) {
    const uint64_t h = Mix((static_cast<uint64_t>(item) << 20) ^ static_cast<uint64_t>(salt));
    return lo + static_cast<int>(h % static_cast<uint64_t>(hi - lo + 1));
}

// Writes a parameter's model value (an editor list index) as its device byte.
void Set(Bytes& image, int base, Param p, int value) {
    const ParamInfo& info = Info(p);
    value = std::clamp(value, 0, info.listSize - 1);
    image.at(base + info.offset) = static_cast<uint8_t>(value + info.bias);
}

// A random value from the parameter's whole list.
void SetAny(Bytes& image, int base, Param p, int item, int salt) {
    Set(image, base, p, Pick(item, salt, 0, Info(p).listSize - 1));
}

void SetName(Bytes& image, const std::string& name) {
    Bytes n = EncodeName(name);
    std::copy(n.begin(), n.end(), image.begin());
}

struct TimbreFamily {
    const char* name;
    uint8_t media;
    uint8_t firstTone;
    uint8_t count;
};

// 128 timbres, each playing the tone its name suggests.
constexpr TimbreFamily kTimbreFamilies[] = {
    {"Piano", 0, 0, 8},       {"E.Piano", 0, 10, 5},    {"Bright EP", 0, 15, 2},  {"Vibes", 0, 17, 3},
    {"Bell", 0, 20, 2},       {"Marimba", 0, 22, 1},    {"Ac.Guitar", 0, 23, 5},  {"E.Guitar", 0, 28, 4},
    {"Heavy Gtr", 0, 32, 2},  {"Slap Bass", 0, 34, 6},  {"Pop Bass", 0, 40, 6},   {"Fingered", 0, 46, 2},
    {"Picked", 0, 48, 2},     {"Fretless", 0, 50, 2},   {"Ac.Bass", 0, 52, 1},    {"Syn.Bass", 0, 53, 8},
    {"Choir", 0, 61, 4},      {"Strings", 0, 65, 4},    {"Organ", 0, 69, 9},      {"Rock Organ", 0, 78, 2},
    {"Soft Tp", 0, 80, 2},    {"Tp/Trb", 0, 82, 3},     {"Sax", 0, 85, 5},        {"Brass", 0, 90, 1},
    {"Flute", 0, 91, 1},      {"Shakuhachi", 0, 92, 2}, {"Fantasia", 0, 94, 1},   {"Bell Pad", 0, 95, 1},
    {"Syn Choir", 0, 96, 1},  {"Breath Vox", 0, 97, 1}, {"Syn.Vox", 0, 98, 2},    {"Calliope", 0, 100, 2},
    {"Metal Hit", 0, 102, 1}, {"Rich Brass", 0, 103, 1}, {"JP Brass", 0, 104, 2}, {"BraStrings", 0, 106, 1},
    {"String Pad", 0, 107, 2}, {"JP Strings", 0, 109, 1}, {"Pizzagogo", 0, 110, 1}, {"Fanta Bell", 0, 111, 1},
    {"Spect Bell", 0, 112, 1}, {"Synth Harp", 0, 114, 1}, {"Pulse Wave", 0, 115, 3}, {"Saw Wave", 0, 118, 2},
    {"Harpsi", 1, 0, 4},      {"Positive", 1, 6, 2},    {"Church", 1, 12, 4},     {"Drums", 0, 127, 1},
};

struct TimbreEntry {
    std::string name;
    int media;
    int tone;
};

const std::vector<TimbreEntry>& Timbres() {
    static const std::vector<TimbreEntry> all = [] {
        std::vector<TimbreEntry> v;
        for (const TimbreFamily& f : kTimbreFamilies)
            for (int i = 0; i < f.count; ++i) {
                std::string name = f.name;
                if (f.count > 1) name += " " + std::to_string(i + 1);
                v.push_back({name, f.media, f.firstTone + i});
            }
        if (v.size() != 128) throw std::logic_error("factory timbre table must have 128 entries");
        return v;
    }();
    return all;
}

constexpr std::array<const char*, 64> kPatchNames = {
    "Piano 1",     "Piano 2",     "E.Piano",     "Strings 1",   "Strings 2",   "Fantasia",
    "Jazz Combo",  "Rock Band",   "Pop Ballad",  "Brass Sect",  "Organ Trio",  "Big Band",
    "Bass&Piano",  "Fusion",      "Latin Set",   "Slap Funk",   "Pad & Bell",  "Choir Pad",
    "Orchestra",   "Chamber",     "Guitar Duo",  "Country",     "Blues Organ", "Soul Brass",
    "Sax Solo",    "Flute & Str", "Harpsichord", "Church",      "Synth Lead",  "Synth Bass",
    "Techno",      "House",       "Dance Mix",   "New Age",     "Ambient",     "Space Pad",
    "Bell Tower",  "Marimba Jam", "Vibes Trio",  "Reggae",      "Ska Horns",   "Bossa Nova",
    "Samba",       "Tango",       "Waltz",       "March",       "Film Score",  "Fanfare",
    "Kalimba",     "Koto & Flute", "Shakuhachi", "Gamelan",     "Steel Drums", "Calliope",
    "Music Box",   "Glass Harp",  "Pizzicato",   "Str Quartet", "Split Bass",  "Layer Pad",
    "Velo Switch", "Rhythm Only", "Full Stack",  "Init Patch",
};

constexpr std::array<const char*, 4> kRhythmNames = {"Drum Set 1", "Drum Set 2", "Electro Kit", "Orch Perc"};

void CheckRange(int n, int hi, const char* what) {
    if (n < 1 || n > hi) throw std::out_of_range(std::string(what) + " number out of range");
}

}  // namespace

std::string FactoryPatchName(int n) {
    CheckRange(n, 64, "patch");
    return kPatchNames[n - 1];
}
std::string FactoryTimbreName(int n) {
    CheckRange(n, 128, "timbre");
    return Timbres()[n - 1].name;
}
std::string FactoryRhythmName(int n) {
    CheckRange(n, 4, "rhythm setup");
    return kRhythmNames[n - 1];
}

Bytes FactoryTimbreImage(int n) {
    const TimbreEntry& t = Timbres().at(n - 1);
    Bytes img(kTimbreImageSize, 0);
    SetName(img, t.name);
    Set(img, 0, Param::TimbreToneMedia, t.media);
    Set(img, 0, Param::TimbreToneNumber, t.tone);
    Set(img, 0, Param::TimbreTimbreLevel, Pick(n, 1, 90, 127));
    Set(img, 0, Param::TimbreVelocitySens, Pick(n, 2, 7, 13));       // "0" .. "6"
    Set(img, 0, Param::TimbreChannelPressSens, Pick(n, 3, 5, 10));
    Set(img, 0, Param::TimbreEnvAttackRate, Pick(n, 4, 4, 10));
    Set(img, 0, Param::TimbreEnvDecayRate, Pick(n, 5, 4, 10));
    Set(img, 0, Param::TimbreEnvSustainLevel, Pick(n, 6, 4, 10));
    Set(img, 0, Param::TimbreEnvReleaseRate, Pick(n, 7, 4, 10));
    // Mostly unshifted, a few an octave up or down; fine tune near the centre.
    const int coarse[] = {24, 24, 24, 24, 12, 36};
    Set(img, 0, Param::TimbrePitchShiftCoarse, coarse[Pick(n, 8, 0, 5)]);
    Set(img, 0, Param::TimbrePitchShiftFine, Pick(n, 9, 45, 55));
    Set(img, 0, Param::TimbreBendRangeLower, Pick(n, 10, 0, 14));
    Set(img, 0, Param::TimbreBendRangeUpper, Pick(n, 11, 0, 12));
    SetAny(img, 0, Param::TimbrePitchChAfterSens, n, 12);
    SetAny(img, 0, Param::TimbrePitchPolyAfterSens, n, 13);
    SetAny(img, 0, Param::TimbreAutoBendDepth, n, 14);
    SetAny(img, 0, Param::TimbreAutoBendRate, n, 15);
    Set(img, 0, Param::TimbreDetuneDepth, Pick(n, 16, 0, 6));
    SetAny(img, 0, Param::TimbreRate, n, 17);
    SetAny(img, 0, Param::TimbreWaveform, n, 18);
    SetAny(img, 0, Param::TimbreDepth, n, 19);
    SetAny(img, 0, Param::TimbreDelay, n, 20);
    SetAny(img, 0, Param::TimbreRiseTime, n, 21);
    SetAny(img, 0, Param::TimbreModulationDepth, n, 22);
    SetAny(img, 0, Param::TimbreVibratoChAfterSens, n, 23);
    SetAny(img, 0, Param::TimbreVibratoPolyAfterSens, n, 24);
    return img;
}

Bytes FactoryPatchImage(int n) {
    CheckRange(n, 64, "patch");
    Bytes img(kPatchImageSize, 0);
    SetName(img, kPatchNames[n - 1]);

    for (Param p : AllParams())
        if (Info(p).block == Block::PatchCommon) SetAny(img, 0, p, n, 100 + static_cast<int>(p));
    Set(img, 0, Param::PatchCommonChorusFeedback, Pick(n, 30, 20, 42));

    const int rb = kPatchImageRhythm;
    const int rhythmVoices = Pick(n, 31, 4, 8);
    Set(img, rb, Param::PatchRhythmRhythmSetup, (n - 1) % 4);
    Set(img, rb, Param::PatchRhythmVoiceReserve, rhythmVoices);
    Set(img, rb, Param::PatchRhythmReceiveChannel, 9);  // "10"
    Set(img, rb, Param::PatchRhythmLevel, Pick(n, 32, 90, 127));
    Set(img, rb, Param::PatchRhythmLevelBoostSw, Pick(n, 33, 0, 1));
    Set(img, rb, Param::PatchRhythmRxVolume, 1);
    Set(img, rb, Param::PatchRhythmRxHold, Pick(n, 34, 0, 1));

    // 1 to 6 parts sound; the others keep a timbre but no voices and no channel.
    const int active = Pick(n, 35, 1, 6);
    const bool split = active >= 2 && Pick(n, 36, 0, 2) == 0;
    int voicesLeft = kMaxVoices - rhythmVoices;
    for (int part = 1; part <= 6; ++part) {
        const int b = kPatchImagePart1 + 13 * (part - 1);
        const bool on = part <= active;
        int voices = 0;
        if (on) {
            const int fair = voicesLeft / (active - part + 1);
            voices = std::min(voicesLeft, std::max(1, Pick(n, 40 + part, fair / 2, fair)));
            voicesLeft -= voices;
        }
        int low = 0, high = 127;
        if (split && part <= 2) {
            const int splitKey = Pick(n, 50, 48, 64);
            if (part == 1) high = splitKey - 1;
            else low = splitKey;
        } else if (on && part > 2) {
            low = Pick(n, 60 + part, 0, 48);
            high = Pick(n, 70 + part, low + 12, 127);
        }
        Set(img, b, Param::PatchPartTimbreNumber, Pick(n, 80 + part, 0, 127));
        Set(img, b, Param::PatchPartVoiceReserve, voices);
        Set(img, b, Param::PatchPartReceiveChannel, on ? part - 1 : 16);  // 16 = "Off"
        Set(img, b, Param::PatchPartKeyRangeLow, low);
        Set(img, b, Param::PatchPartKeyRangeHi, high);
        Set(img, b, Param::PatchPartVeloLevel, Pick(n, 90 + part, 0, 1));
        Set(img, b, Param::PatchPartVeloThreshold, Pick(n, 100 + part, 0, 126));
        Set(img, b, Param::PatchPartLevel, on ? Pick(n, 110 + part, 80, 127) : 100);
        SetAny(img, b, Param::PatchPartOutputAssign, n, 120 + part);
        Set(img, b, Param::PatchPartPan, Pick(n, 130 + part, 3, 11));
        Set(img, b, Param::PatchPartRxVolume, 1);
        Set(img, b, Param::PatchPartRxPan, 1);
        Set(img, b, Param::PatchPartRxHold, Pick(n, 140 + part, 0, 1));
    }
    return img;
}

Bytes FactoryRhythmImage(int n) {
    CheckRange(n, 4, "rhythm setup");
    Bytes img(kRhythmImageSize, 0);
    SetName(img, kRhythmNames[n - 1]);
    Set(img, 0, Param::RhythmSetupCommonBenderRangeLower, Pick(n, 1, 0, 14));
    Set(img, 0, Param::RhythmSetupCommonBenderRangeHigher, Pick(n, 2, 0, 12));
    for (int inst = 0; inst < 64; ++inst) {
        const int b = kRhythmImageInst0 + 20 * inst;
        const int item = n * 100 + inst;
        const int key = inst + 35;
        Set(img, b, Param::RhythmSetupInstToneMedia, 0);
        Set(img, b, Param::RhythmSetupInstToneNumber, Pick(item, 1, 0, 2) == 0 ? 113 : 127);
        Set(img, b, Param::RhythmSetupInstSourceKey, key);
        // The open hi-hat (key 46) is cut by the closed and pedal hi-hats (42, 44).
        Set(img, b, Param::RhythmSetupInstMuteInst, (key == 42 || key == 44) ? 46 - 35 + 1 : 0);
        Set(img, b, Param::RhythmSetupInstInstLevel, Pick(item, 2, 20, 31));
        Set(img, b, Param::RhythmSetupInstVelocitySens, Pick(item, 3, 7, 13));
        SetAny(img, b, Param::RhythmSetupInstEnvMode, item, 4);
        Set(img, b, Param::RhythmSetupInstEnvAttackRate, Pick(item, 5, 5, 9));
        Set(img, b, Param::RhythmSetupInstEnvDecayRate, Pick(item, 6, 5, 9));
        Set(img, b, Param::RhythmSetupInstEnvReleaseRate, Pick(item, 7, 5, 9));
        Set(img, b, Param::RhythmSetupInstPitchShiftCoarse, Pick(item, 8, 10, 18));  // "-4" .. "4"
        Set(img, b, Param::RhythmSetupInstPitchShiftFine, Pick(item, 9, 40, 60));
        Set(img, b, Param::RhythmSetupInstChannelAfterSens, Pick(item, 10, 0, 26));
        Set(img, b, Param::RhythmSetupInstPolyAfterSens, Pick(item, 11, 0, 26));
        Set(img, b, Param::RhythmSetupInstRandom, Pick(item, 12, 0, 4));
        SetAny(img, b, Param::RhythmSetupInstAutoBendDepth, item, 13);
        SetAny(img, b, Param::RhythmSetupInstAutoBendRate, item, 14);
        Set(img, b, Param::RhythmSetupInstDetuneDepth, Pick(item, 15, 0, 4));
        SetAny(img, b, Param::RhythmSetupInstOutputAssign, item, 16);
        Set(img, b, Param::RhythmSetupInstPan, Pick(item, 17, 2, 12));
    }
    return img;
}

}  // namespace quorvane::emulator
