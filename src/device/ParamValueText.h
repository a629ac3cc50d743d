// A parameter's model value as the editor's list shows it ("<2" for pan 9).
#pragma once

#include <QString>
#include <optional>

#include "device/ParamTable.h"

namespace quorvane::ui {

// The entry `value` of the list the editors show for `p`; nullopt outside the list.
std::optional<QString> ParamValueText(Param p, int value);

}  // namespace quorvane::ui
