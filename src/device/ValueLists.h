// The comma-separated value lists the editors show, the MIDI monitor and a
// comparison name values with. A list control is filled by splitting one of
// these texts at "," and appending the pieces in order; the selected entry's
// 0-based index is the value the model stores. Standard C++ (UTF-8 texts); the
// windows take them through ui/common/ValueLists.h.
#pragma once

#include <string>

namespace quorvane::values {

// "first,first+1,...,last" in plain decimal (minus sign for negatives).
std::string Numbers(int first, int last);
// The same with a fixed number of digits ("01".."16", "001".."128").
std::string NumbersPadded(int first, int last, int digits);

std::string NoteNames();       // "C-1,C#-1,...,G9" (128, index = MIDI note number)
std::string RhythmKeyNames();  // "B1,C2,...,D7" (64 keys, 35..98)
std::string Pan();             // "7>,...,1>,><,<1,...,<7,Rnd" (16)
std::string OffOn();           // "Off,On"
std::string ReceiveChannel();  // "01".."16","Off" (17)
std::string ToneMedia();       // "I","01".."31" (32)
std::string ToneNumber();      // "001".."128"
std::string MinusSeven();      // "-7".."7" (15)
std::string MinusFifty();      // "-50".."50" (101)
std::string BendDown();        // "-36,-24,-12,...,0" (15)
std::string PitchSens();       // "-36,-24,-12,...,12" (27)

// Lists of one editor each, also used by the MIDI monitor to name values.
std::string ChorusTypes();     // patch chorus type (5)
std::string ChorusOutModes();  // "Pre Rev,Post Rev"
std::string ReverbTypes();     // patch reverb type (8)
std::string Controllers();     // "00".."05","07".."31","64".."95","off" (64, no "06")
std::string Destinations();    // what a controller changes (19)
std::string Waveforms();       // timbre vibrato waveform (9)

// Name of MIDI note n: "C4" for 60, "C-1" for 0.
std::string NoteName(int note);

}  // namespace quorvane::values
