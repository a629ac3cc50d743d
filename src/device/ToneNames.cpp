// The module's internal tone names, by tone medium (0 and 1) and tone number.
#include "clsU220.h"

namespace quorvane {

namespace {
const char* const kMedium0[128] = {
    "A.PIANO 1", "A.PIANO 2", "A.PIANO 3", "A.PIANO 4", "A.PIANO 5", "A.PIANO 6", "A.PIANO 7",
    "A.PIANO 8", "A.PIANO 9", "A.PIANO 10", "E.PIANO 1", "E.PIANO 2", "E.PIANO 3", "E.PIANO 4",
    "E.PIANO 5", "BRIGHT EP1", "BRIGHT EP2", "VIB 1", "VIB 2", "VIB 3", "BELL 1", "BELL 2",
    "MARIMBA", "A.GUITAR 1", "A.GUITAR 2", "A.GUITAR 3", "A.GUITAR 4", "A.GUITAR 5", "E.GUITAR 1",
    "E.GUITAR 2", "E.GUITAR 3", "E.GUITAR 4", "HEAVY.EG 1", "HEAVY.EG 2", "SLAP 1", "SLAP 2",
    "SLAP 3", "SLAP 4", "SLAP 5", "SLAP 6", "SLAP 7", "SLAP 8", "SLAP 9", "SLAP 10", "SLAP 11",
    "SLAP 12", "FINGERED 1", "FINGERED 2", "PICKED 1", "PICKED 2", "FRETLESS 1", "FRETLESS 2",
    "AC.BASS", "SYN.BASS 1", "SYN.BASS 2", "SYN.BASS 3", "SYN.BASS 4", "SYN.BASS 5", "SYN.BASS 6",
    "SYN.BASS 7", "SYN.BASS 8", "CHIR 1", "CHIR 2", "CHIR 3", "CHIR 4", "STRINGS 1", "STRINGS 2",
    "STRINGS 3", "STRINGS 4", "E.ORGAN 1", "E.ORGAN 2", "E.ORGAN 3", "E.ORGAN 4", "E.ORGAN 5",
    "E.ORGAN 6", "E.ORGAN 7", "E.ORGAN 8", "E.ORGAN 9", "R.ORGAN 1", "R.ORGAN 2", "SOFT TP 1",
    "SOFT TP 2", "TP/TRB 1", "TP/TRB 2", "TP/TRB 3", "SAX 1", "SAX 2", "SAX 3", "SAX 4", "SAX 5",
    "BRASS 1", "FLUTE 1", "SHAKU 1", "SHAKU 2", "FANTASIA", "BELL PAD", "SYN CHOIR", "BREATH VOX",
    "SYN.VOX 1", "SYN.VOX 2", "L.CALLIOPE", "CALLIOPE", "METAL HIT", "RICH BRASS", "JP.BRASS 1",
    "JP.BRASS 2", "BRASTRINGS", "STRINGPAD1", "STRINGPAD2", "JP.STRINGS", "PIZZAGOGO",
    "FANTA BELL", "SPECT BELL", "BELL DRUM", "SYNTH HARP", "PULSEWAVE1", "PULSEWAVE2",
    "PULSEWAVE3", "SAW WAVE 1", "SAW WAVE 2", "PIZZ", "METAL", "BREATH", "NAILS", "SPECTRUM 1",
    "SPECTRUM 2", "N.DANCE", "DRUMS",
};
const char* const kMedium1[20] = {
    "HARPSI 1", "HARPSI 2", "HARPSI 3", "HARPSI 4", "HARPSI 5", "HARPSI 6", "POSITIVE 1",
    "POSITIVE 2", "POSITIVE 3", "POSITIVE 4", "POSITIVE 5", "POSITIVE 6", "CHURCH 1", "CHURCH 2",
    "CHURCH 3", "CHURCH 4", "CHURCH 5", "CHURCH 6", "CHURCH 7", "CHURCH RVB",
};
}  // namespace

std::string clsU220::ToneName(int16_t ToneMedia, int16_t ToneNo) const {
    if (ToneNo < 0 || ToneNo > 127) return "";
    if (ToneMedia == 0) return kMedium0[ToneNo];
    if (ToneMedia == 1 && ToneNo < 20) return kMedium1[ToneNo];
    return "";
}

}  // namespace quorvane
