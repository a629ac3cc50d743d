// The value lists the editors share (device/ValueLists.h) as Qt texts, and the
// two helpers that put them into list controls.
#pragma once

#include <QString>
#include <QStringList>

#include "device/ValueLists.h"

class QComboBox;

namespace quorvane::ui::lists {

inline QString Numbers(int first, int last) { return QString::fromStdString(values::Numbers(first, last)); }
inline QString NumbersPadded(int first, int last, int digits) {
    return QString::fromStdString(values::NumbersPadded(first, last, digits));
}
inline QString NoteNames() { return QString::fromStdString(values::NoteNames()); }
inline QString RhythmKeyNames() { return QString::fromStdString(values::RhythmKeyNames()); }
inline QString Pan() { return QString::fromStdString(values::Pan()); }
inline QString OffOn() { return QString::fromStdString(values::OffOn()); }
inline QString ReceiveChannel() { return QString::fromStdString(values::ReceiveChannel()); }
inline QString ToneMedia() { return QString::fromStdString(values::ToneMedia()); }
inline QString ToneNumber() { return QString::fromStdString(values::ToneNumber()); }
inline QString MinusSeven() { return QString::fromStdString(values::MinusSeven()); }
inline QString MinusFifty() { return QString::fromStdString(values::MinusFifty()); }
inline QString BendDown() { return QString::fromStdString(values::BendDown()); }
inline QString PitchSens() { return QString::fromStdString(values::PitchSens()); }
inline QString ChorusTypes() { return QString::fromStdString(values::ChorusTypes()); }
inline QString ChorusOutModes() { return QString::fromStdString(values::ChorusOutModes()); }
inline QString ReverbTypes() { return QString::fromStdString(values::ReverbTypes()); }
inline QString Controllers() { return QString::fromStdString(values::Controllers()); }
inline QString Destinations() { return QString::fromStdString(values::Destinations()); }
inline QString Waveforms() { return QString::fromStdString(values::Waveforms()); }
inline QString NoteName(int note) { return QString::fromStdString(values::NoteName(note)); }

// Appends the pieces of `commaList` to the combo box, in order.
void Fill(QComboBox* combo, const QString& commaList);
// Selects `index` without letting a value outside the list select anything:
// an index outside 0..count-1 leaves the box with no selection (-1).
void Select(QComboBox* combo, int index);

}  // namespace quorvane::ui::lists
