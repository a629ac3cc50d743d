// Reading and saving files, with a reason in words for every failure. The
// system calls live in SafeFile.cpp only (POSIX, and a Windows branch).
//
// Saving never writes through a name it did not create itself:
// - a symbolic link at the path is followed to the file it names, which is
//   replaced (the link stays a link);
// - the temporary file is created exclusively (never opened if something stands
//   under its name, a planted link included), with a name of its own, in the
//   folder of that resolved file, and renamed over it once it is complete and
//   flushed to the disk; every write, flush and close is checked;
// - an existing file keeps its permissions (and its owner, where allowed);
// - anything that is not a regular file (a directory, a device, a fifo) is
//   refused: nothing is saved over it.
#pragma once

#include <cstddef>
#include <string>

#include "device/Protocol.h"

namespace quorvane::library {

// Files larger than this are not read: no back-up comes near it.
constexpr size_t kMaxReadBytes = size_t{64} << 20;

// Reads the whole regular file at `path`. On failure `error` says why, without
// the path: "no such file or directory", "permission denied", "it is a
// directory, not a file", ...
bool ReadWholeFile(const std::string& path, Bytes& out, std::string& error, size_t most = kMaxReadBytes);

// Whether a file could be saved under `path`: false, with a reason that names
// the path, for an empty name and for something there that is not a regular
// file (followed through symbolic links). To check before a long operation.
bool CheckSaveTarget(const std::string& path, std::string& error);

// Writes `bytes` under `path` as described above, so a failure never leaves a
// half-written file under the chosen name. False and `error` (naming the path)
// on failure; the temporary file is then removed.
bool WriteFileAtomically(const std::string& path, const Bytes& bytes, std::string& error);

// Makes the folder's entries (a rename, a removal) durable on the disk.
void SyncFolder(const std::string& folder);

}  // namespace quorvane::library
