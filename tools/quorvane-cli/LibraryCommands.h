// quorvane-cli's "library" commands: the sound library from a shell, with
// tab-separated output for scripts. They need no MIDI port.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/Host.h"
#include "device/clsU220.h"
#include "library/Journal.h"
#include "library/Transfer.h"

namespace quorvane::cli {

// Runs the command line when its command is "library" (or it starts with a
// library option: --library FILE, --move-aside) and returns the exit code;
// nullopt for any other command line.
// Library commands that work through the module (audition, store, recover,
// put-back, module-index) are left to the session: nullopt for them too.
std::optional<int> RunLibraryCommand(int argc, char** argv);

// What the session hands the library commands that work through the module.
struct ModuleLink {
    clsU220& model;
    Host& host;
    library::Journal* journal;  // null for the built-in virtual U-220 (it ends with the program)
    int deviceByte;             // 0..31
    // Opens the ports (ends the program with a message when it cannot).
    std::function<void()> open;
    // Ends with a transfer's report as the other module commands do: prints its
    // text and returns 0, or ends with exit 3 (no answer) or 1 (not verified),
    // saying how to put back what waits in the journal.
    std::function<int(const library::TransferReport&)> finish;
};

// True when the words after "library" name a command that needs the module.
bool IsModuleLibraryCommand(const std::vector<std::string>& words);
// Runs "library [--library FILE] [--move-aside] COMMAND ARGS" for those
// commands; `words` are the library options given before the word "library",
// then the words after it.
int RunModuleLibraryCommand(const std::vector<std::string>& words, ModuleLink& link);

}  // namespace quorvane::cli
