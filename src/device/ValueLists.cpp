#include "device/ValueLists.h"

namespace quorvane::ui::lists {

QString Numbers(int first, int last) {
    QStringList l;
    for (int i = first; i <= last; ++i) l << QString::number(i);
    return l.join(',');
}

QString NumbersPadded(int first, int last, int digits) {
    QStringList l;
    for (int i = first; i <= last; ++i) l << QString("%1").arg(i, digits, 10, QChar('0'));
    return l.join(',');
}

QString NoteName(int note) {
    static const char* kPitch[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return QString("%1%2").arg(kPitch[note % 12]).arg(note / 12 - 1);
}

QString NoteNames() {
    QStringList l;
    for (int n = 0; n < 128; ++n) l << NoteName(n);
    return l.join(',');
}

QString RhythmKeyNames() {
    QStringList l;
    for (int n = 35; n <= 98; ++n) l << NoteName(n);  // "B1" .. "D7"
    return l.join(',');
}

QString Pan() { return "7>,6>,5>,4>,3>,2>,1>,><,<1,<2,<3,<4,<5,<6,<7,Rnd"; }
QString OffOn() { return "Off,On"; }
QString ReceiveChannel() { return NumbersPadded(1, 16, 2) + ",Off"; }
QString ToneMedia() { return "I," + NumbersPadded(1, 31, 2); }
QString ToneNumber() { return NumbersPadded(1, 128, 3); }
QString MinusSeven() { return Numbers(-7, 7); }
QString MinusFifty() { return Numbers(-50, 50); }
QString BendDown() { return "-36,-24," + Numbers(-12, 0); }
QString PitchSens() { return "-36,-24," + Numbers(-12, 12); }

QString ChorusTypes() { return QStringLiteral("Chorus1,Chorus2,FB-Chorus,Flanger,Short Delay"); }
QString ChorusOutModes() { return QStringLiteral("Pre Rev,Post Rev"); }
QString ReverbTypes() { return QStringLiteral("Room1,Room2,Room3,Hall1,Hall2,Gate,Delay,CrossDelay"); }
QString Controllers() {
    return NumbersPadded(0, 5, 2) + "," + NumbersPadded(7, 31, 2) + "," + NumbersPadded(64, 95, 2) + ",off";
}
QString Destinations() {
    return QStringLiteral(
        "Timbre Level,Env Attack,Env Decay,Env Sustain,Env Release,A.Bend Depth,A.Bend Rate,"
        "Detune Depth,Vib Rate,Vib Waveform,Vib Depth,Vib Delay,Vib Rise Time,Vib Mod Depth,"
        "Chrs Level,Chrs Rate,Chrs Feedback,Rev Level,Delay Feedback");
}
QString Waveforms() { return QStringLiteral("Tri,Sine,Square,SawUp,SawDwn,Randm1,Randm2,Randm3,Randm4"); }

}  // namespace quorvane::ui::lists
