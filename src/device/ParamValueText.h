// A parameter in words: the caption the editors give it and its model value as
// the editor's list shows it ("<2" for pan 9). The MIDI monitor, the CLI and a
// comparison of library sounds name values with these. Standard C++ (UTF-8).
#pragma once

#include <optional>
#include <string>

#include "device/ParamTable.h"

namespace quorvane {

// The entry `value` of the list the editors show for `p`; nullopt outside the list.
std::optional<std::string> ParamValueText(Param p, int value);

// The words the editors use for `p` ("Chorus Type", "Env Attack Rate"); where
// an editor repeats a caption under several frames the frame leads ("Vib Depth").
const char* ParamCaption(Param p);

}  // namespace quorvane
