// The comma-separated value lists shared by several windows. Each list control
// is filled by splitting one of these texts at "," and appending the pieces in
// order; the selected entry's 0-based index is the value the model stores.
#pragma once

#include <QString>
#include <QStringList>

namespace quorvane::ui::lists {

// "first,first+1,...,last" in plain decimal (minus sign for negatives).
QString Numbers(int first, int last);
// The same with a fixed number of digits ("01".."16", "001".."128").
QString NumbersPadded(int first, int last, int digits);

QString NoteNames();       // "C-1,C#-1,...,G9" (128, index = MIDI note number)
QString RhythmKeyNames();  // "B1,C2,...,D7" (64 keys, 35..98)
QString Pan();             // "7>,...,1>,><,<1,...,<7,Rnd" (16)
QString OffOn();           // "Off,On"
QString ReceiveChannel();  // "01".."16","Off" (17)
QString ToneMedia();       // "I","01".."31" (32)
QString ToneNumber();      // "001".."128"
QString MinusSeven();      // "-7".."7" (15)
QString MinusFifty();      // "-50".."50" (101)
QString BendDown();        // "-36,-24,-12,...,0" (15)
QString PitchSens();       // "-36,-24,-12,...,12" (27)

// Lists of one editor each, also used by the MIDI monitor to name values.
QString ChorusTypes();     // patch chorus type (5)
QString ChorusOutModes();  // "Pre Rev,Post Rev"
QString ReverbTypes();     // patch reverb type (8)
QString Controllers();     // "00".."05","07".."31","64".."95","off" (64, no "06")
QString Destinations();    // what a controller changes (19)
QString Waveforms();       // timbre vibrato waveform (9)

// Name of MIDI note n: "C4" for 60, "C-1" for 0.
QString NoteName(int note);

}  // namespace quorvane::ui::lists
