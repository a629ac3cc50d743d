// Storing a library patch into the module with the timbres and rhythm setup it
// needs, and knowing beforehand what that changes.
//
// A patch names its six part timbres and its rhythm setup by number, and those
// numbers inside a record cannot be rewritten (its layout is unknown): the
// bank's timbres go to the numbers the patch names. Which module patches use
// which timbres is learnt through the module (a program change to each patch
// and a read of its working patch) and kept in the library (the module index,
// SoundLibraryModule.h). A store first snapshots every memory it replaces into
// the library (so it can be put back) and journals them (so a stop half-way
// can be recovered), then writes verified, as a restore does.
// Standard C++ over the model, Transfer, Journal and the library.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/clsU220.h"
#include "library/Journal.h"
#include "library/SoundLibraryModule.h"
#include "library/Transfer.h"

namespace quorvane::library {

class SoundLibrary;

struct IndexReport {
    Outcome outcome = Outcome::Done;
    std::string text;  // one line for the user
    ModuleIndex index;
};

// Reads every patch memory's name, bytes and, through a program change, the
// part timbre numbers and rhythm setup it names; switches back to the patch
// that was current; saves what it read into the library. `progress` gets the
// patches done and in all; returning false from it cancels (what was read is
// kept). The program changes replace the working area: edits not written to a
// memory are lost (the caller asks first, clsU220::WorkingAreaEdited).
IndexReport ReadModuleIndex(clsU220& model, Host& host, SoundLibrary& lib,
                            const std::function<bool(int done, int total)>& progress = {});

// One memory the patch needs besides its own.
struct PlanNeed {
    MemoryKind kind = MemoryKind::Timbre;  // Timbre or Rhythm
    int number = 0;                        // where the patch looks for it (1..128, 1..4)
    std::string name;                      // the bank's sound's name
    bool inBank = false;                   // the library holds it from the patch's bank
    bool identical = false;                // the module holds those very bytes there already
    std::string replacedName;              // the module's own memory there now
    std::vector<int> affectedPatches;      // other module patches that use that number
    uint64_t moduleHash = 0;               // BytesHash of the module's memory there when planned
    // "already in the module at T-17 (identical)", "\"Brass 2\" goes to T-17 (now \"Strings\"), which module
    // patches P-3 and P-9 also use: they would change", or that it is not in the bank
    std::string text;
};

struct StorePlan {
    int64_t itemId = 0;
    std::string itemName;
    int slot = 0;                 // patch memory 1..64
    std::string replacedName;     // the patch memory's current name
    uint64_t replacedHash = 0;    // BytesHash of the patch memory's bytes when planned
    std::array<int, 6> timbres{}; // part timbre numbers the patch names (its reading)
    int rhythmSetup = 0;          // 1..4, 0 when it names none
    std::vector<PlanNeed> needs;  // timbres in part order without repeats, then the rhythm setup
    bool indexKnown = false;      // every module patch's use is known
    std::string text;             // the whole plan in lines for the user, with the note on numbers
    Outcome outcome = Outcome::Done;  // NoAnswer/Failed: the plan could not be made (text says why)
};

// Makes the plan (reads the memories it would replace through the module; takes
// the patch's timbre numbers from its reading, auditioning it first in patch
// memory `slot` when the library has none, and keeping that reading with the
// working area's blocks). The plan names what the module held when it was made:
// Store refuses to write when that changed since. PlanStore and Store throw
// LibraryError(Input) for an item not in the library.
StorePlan PlanStore(clsU220& model, Host& host, SoundLibrary& lib, Journal* journal, int64_t itemId, int slot);

struct StoreReport {
    Outcome outcome = Outcome::Done;
    std::string text;
    int64_t snapshotId = 0;   // what was replaced, to put back
    bool journalOpen = false;
    bool ok() const { return outcome == Outcome::Done && !journalOpen; }
};

// Writes the patch (and, unless `alone`, the needs that are in the bank and not
// identical), verified, after the snapshot and the journal.
StoreReport Store(clsU220& model, Host& host, SoundLibrary& lib, Journal* journal, const StorePlan& plan, bool alone);

// Writes a snapshot's memories back, verified (journalled first), marks it put
// back and refreshes the module index for the patches it touched.
TransferReport PutBackSnapshot(clsU220& model, Host& host, SoundLibrary& lib, Journal* journal, int64_t snapshotId);

}  // namespace quorvane::library
