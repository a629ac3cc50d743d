#include "LibraryModuleCommands.h"

namespace quorvane::cli {

std::optional<int> RunStoreCommand(const std::string&, const std::vector<std::string>&, library::SoundLibrary&, ModuleLink&) {
    return std::nullopt;
}

}  // namespace quorvane::cli
