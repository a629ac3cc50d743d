// The comma-separated value lists shared by several windows (device/ValueLists.h)
// and the two helpers that put them into list controls.
#pragma once

#include <QString>
#include <QStringList>

#include "device/ValueLists.h"

class QComboBox;

namespace quorvane::ui::lists {

// Appends the pieces of `commaList` to the combo box, in order.
void Fill(QComboBox* combo, const QString& commaList);
// Selects `index` without letting a value outside the list select anything:
// an index outside 0..count-1 leaves the box with no selection (-1).
void Select(QComboBox* combo, int index);

}  // namespace quorvane::ui::lists
