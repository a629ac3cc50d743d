#include "device/ValueLists.h"

namespace quorvane::values {

namespace {

std::string Padded(int i, int digits) {
    std::string s = std::to_string(i < 0 ? -i : i);
    if (static_cast<int>(s.size()) < digits) s.insert(0, static_cast<size_t>(digits) - s.size(), '0');
    return i < 0 ? "-" + s : s;
}

}  // namespace

std::string Numbers(int first, int last) { return NumbersPadded(first, last, 0); }

std::string NumbersPadded(int first, int last, int digits) {
    std::string l;
    for (int i = first; i <= last; ++i) l += (i == first ? "" : ",") + Padded(i, digits);
    return l;
}

std::string NoteName(int note) {
    static const char* kPitch[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return kPitch[note % 12] + std::to_string(note / 12 - 1);
}

std::string NoteNames() {
    std::string l;
    for (int n = 0; n < 128; ++n) l += (n ? "," : "") + NoteName(n);
    return l;
}

std::string RhythmKeyNames() {
    std::string l;
    for (int n = 35; n <= 98; ++n) l += (n > 35 ? "," : "") + NoteName(n);  // "B1" .. "D7"
    return l;
}

std::string Pan() { return "7>,6>,5>,4>,3>,2>,1>,><,<1,<2,<3,<4,<5,<6,<7,Rnd"; }
std::string OffOn() { return "Off,On"; }
std::string ReceiveChannel() { return NumbersPadded(1, 16, 2) + ",Off"; }
std::string ToneMedia() { return "I," + NumbersPadded(1, 31, 2); }
std::string ToneNumber() { return NumbersPadded(1, 128, 3); }
std::string MinusSeven() { return Numbers(-7, 7); }
std::string MinusFifty() { return Numbers(-50, 50); }
std::string BendDown() { return "-36,-24," + Numbers(-12, 0); }
std::string PitchSens() { return "-36,-24," + Numbers(-12, 12); }

std::string ChorusTypes() { return "Chorus1,Chorus2,FB-Chorus,Flanger,Short Delay"; }
std::string ChorusOutModes() { return "Pre Rev,Post Rev"; }
std::string ReverbTypes() { return "Room1,Room2,Room3,Hall1,Hall2,Gate,Delay,CrossDelay"; }
std::string Controllers() {
    return NumbersPadded(0, 5, 2) + "," + NumbersPadded(7, 31, 2) + "," + NumbersPadded(64, 95, 2) + ",off";
}
std::string Destinations() {
    return "Timbre Level,Env Attack,Env Decay,Env Sustain,Env Release,A.Bend Depth,A.Bend Rate,"
           "Detune Depth,Vib Rate,Vib Waveform,Vib Depth,Vib Delay,Vib Rise Time,Vib Mod Depth,"
           "Chrs Level,Chrs Rate,Chrs Feedback,Rev Level,Delay Feedback";
}
std::string Waveforms() { return "Tri,Sine,Square,SawUp,SawDwn,Randm1,Randm2,Randm3,Randm4"; }

}  // namespace quorvane::values
