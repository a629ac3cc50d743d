#include "ui/common/ValueLists.h"

#include <QComboBox>

namespace quorvane::ui::lists {

void Fill(QComboBox* combo, const QString& commaList) { combo->addItems(commaList.split(',')); }

void Select(QComboBox* combo, int index) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

}  // namespace quorvane::ui::lists
