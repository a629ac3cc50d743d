// What the library learns through a module and keeps, so that later views need
// no module: the readings of auditions, which timbres each patch memory of a
// module names (the module index), and snapshots of the memories a store
// replaced. Records themselves are never decoded here (see Audition.h): every
// number below was read from the module's working area, whose layout is known.
// Standard C++ over the library's database; errors are thrown as LibraryError.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/MemoryImage.h"

namespace quorvane::library {

class SoundLibrary;

// What an audition read of an item through the module.
struct Reading {
    int64_t itemId = 0;
    std::array<int, 6> timbres{};  // part timbre numbers the patch names (1..128)
    int rhythmSetup = 0;           // 1..4, 0 when the patch names none
    // The working area's blocks as the module sent them while it played the
    // item (the patch blocks, the six part timbres; what was read of the rhythm
    // setup): decode them with the parameter table.
    MemoryImage working;
    std::string readAt;  // "YYYY-MM-DD HH:MM:SS" (UTC); set on saving
};

// Replaces the item's reading. Throws LibraryError(Input) for an unknown item.
void SaveReading(SoundLibrary& lib, Reading reading);
std::optional<Reading> LoadReading(SoundLibrary& lib, int64_t itemId);

// One patch memory of a module as read through the module.
struct ModulePatch {
    int number = 0;                // 1..64
    std::string name;              // UTF-8
    uint64_t hash = 0;             // BytesHash of the memory's bytes
    std::array<int, 6> timbres{};  // 1..128
    int rhythmSetup = 0;           // 1..4, 0 when it names none
    std::string readAt;
};

// "What is in the module": the module's patches by number, for one device ID
// (the byte, 0..31).
struct ModuleIndex {
    int deviceId = 0;
    std::vector<ModulePatch> patches;  // ascending number; only those read
    // The patch numbers that name `timbre` (1..128) in one of their parts.
    std::vector<int> UsingTimbre(int timbre) const;
    std::vector<int> UsingRhythmSetup(int setup) const;
    const ModulePatch* Patch(int number) const;
};

// Replaces the entries of the given patches (the others stay).
void SaveModulePatches(SoundLibrary& lib, int deviceId, const std::vector<ModulePatch>& patches);
// Forgets entries of a device: the given patch numbers, or all when empty
// (after a write that changed them in a way the library could not follow).
void ForgetModulePatches(SoundLibrary& lib, int deviceId, const std::vector<int>& numbers = {});
ModuleIndex LoadModuleIndex(SoundLibrary& lib, int deviceId);

// The memories a store replaced, as they were before it.
struct Snapshot {
    int64_t id = 0;
    std::string made;       // (UTC)
    std::string operation;  // "store Brass Sect into patch 12"
    int deviceId = 0;
    MemoryImage image;
    std::string putBack;    // when it was put back (UTC), "" while not
};

int64_t SaveSnapshot(SoundLibrary& lib, const std::string& operation, int deviceId, const MemoryImage& image);
// Newest first.
std::vector<Snapshot> Snapshots(SoundLibrary& lib, int limit = 20);
std::optional<Snapshot> LoadSnapshot(SoundLibrary& lib, int64_t id);
void MarkSnapshotPutBack(SoundLibrary& lib, int64_t id);

}  // namespace quorvane::library
