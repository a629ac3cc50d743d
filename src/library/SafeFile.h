// Saving files.
#pragma once

#include <string>

#include "device/Protocol.h"

namespace quorvane::library {

// Writes `bytes` under `path` through a temporary file beside it that is renamed
// only once it is complete, so a failure never leaves a half-written file
// under the chosen name. False and `error` on failure.
bool WriteFileAtomically(const std::string& path, const Bytes& bytes, std::string& error);

}  // namespace quorvane::library
