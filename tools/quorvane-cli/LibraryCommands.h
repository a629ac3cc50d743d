// quorvane-cli's "library" commands: the sound library from a shell, with
// tab-separated output for scripts. They need no MIDI port.
#pragma once

#include <optional>

namespace quorvane::cli {

// Runs the command line when its command is "library" (or it starts with a
// library option: --library FILE, --move-aside) and returns the exit code;
// nullopt for any other command line.
std::optional<int> RunLibraryCommand(int argc, char** argv);

}  // namespace quorvane::cli
