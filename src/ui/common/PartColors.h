// The colour of each part (1..6): its bar in the key range editor and the
// strip at the start of its row in the patch editor.
#pragma once

#include <QColor>

namespace quorvane::ui {

inline QColor PartColor(int p) {
    static const QColor colors[7] = {QColor(),          QColor(255, 0, 0),   QColor(255, 255, 0),
                                     QColor(0, 255, 0), QColor(0, 255, 255), QColor(255, 0, 255),
                                     QColor(0, 0, 255)};
    return p >= 1 && p <= 6 ? colors[p] : QColor();
}

}  // namespace quorvane::ui
