// The library commands that work through the module, each group in its own
// file: audition and recover (AuditionCommands.cpp), store, put-back and
// module-index (StoreCommands.cpp). Each returns nullopt for a command that is
// not its own. They share LibraryCommands.cpp's conventions: failures are
// thrown as Stop (exit code and message) or LibraryError.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LibraryCommands.h"
#include "library/SoundLibrary.h"

namespace quorvane::cli {

// Exit codes as the other commands: 0 done, 1 a run-time failure, 2 bad input,
// 3 the module did not answer.
enum { kOk = 0, kFailure = 1, kUsage = 2, kNoAnswer = 3 };

struct Stop {
    int code;
    std::string message;
};
[[noreturn]] inline void Fail(int code, const std::string& message) { throw Stop{code, message}; }

std::optional<int> RunAuditionCommand(const std::string& command, const std::vector<std::string>& args,
                                      library::SoundLibrary& lib, ModuleLink& link);
std::optional<int> RunStoreCommand(const std::string& command, const std::vector<std::string>& args,
                                   library::SoundLibrary& lib, ModuleLink& link);

}  // namespace quorvane::cli
