// Playing a library patch on the module without changing its memory.
//
// Which bits of a memory record are which parameter is the module's own
// affair, so nothing here decodes a record. The module does it: a program
// change loads a patch memory into the working area, and writing a part's
// timbre number (or the rhythm setup number) loads that memory; the working
// area's layout is known. An audition therefore
// 1. reads the scratch patch memory and saves it in the journal (synced)
//    before anything is written;
// 2. writes the library patch there, sends the program change for it and reads
//    the working patch's six part timbre numbers and its rhythm setup number;
// 3. for each timbre (and the rhythm setup) the source bank holds: journals the
//    module's own memory of that number, writes the bank's record there and
//    writes the number to the part again so the part loads it;
// 4. puts every memory it wrote back, verified, and closes the journal;
// 5. reads the working area's blocks (the patch, the six part timbres, the
//    rhythm setup's common block when the patch names one) as the reading.
// The working area then plays the library sound and the memory is as before.
// If it stops half-way, the journal holds what to put back (Journal::Recover).
// A module that answers but does not switch to the scratch patch gets the
// scratch memory back at once.
//
// A timbre plays on a chosen part the same way, through the timbre memory of
// the number that part uses now (a rhythm setup through the one the rhythm
// part uses); a working-area sound is written straight into the working area,
// no memory touched and nothing journalled.
// Standard C++ over the model, Transfer and Journal.
#pragma once

#include <array>
#include <map>
#include <string>

#include "device/clsU220.h"
#include "library/Journal.h"
#include "library/SoundLibraryModule.h"
#include "library/SoundLibraryItems.h"
#include "library/Transfer.h"

namespace quorvane::library {

// A library patch and, when the library holds it, the bank it came from. Each
// record is the bytes of the memory's addresses as the module sends them.
struct AuditionSource {
    int64_t itemId = 0;               // the library item (0: not from the library)
    SoundType type = SoundType::Patch;
    std::string name;                 // for the journal and messages
    Bytes patch;                      // the item's bytes: for a patch, the patch memory (MemoryRange(Patch, n).size bytes)
    std::map<int, Bytes> timbres;     // the bank's timbre memories by number (1..128)
    std::map<int, Bytes> rhythms;     // the bank's rhythm setups by number (1..4)
};

struct AuditionReport {
    Outcome outcome = Outcome::Done;
    std::string text;                  // one line for the user
    std::array<int, 6> timbres{};      // part timbre numbers the patch names (1..128), as read
    int rhythmSetup = 0;               // rhythm setup number (1..4), 0 when the patch names none
    std::vector<int> timbresFromBank;  // timbre numbers loaded from the source bank
    bool rhythmFromBank = false;
    bool journalOpen = false;          // the module's own bytes wait in the journal
    // What the module played, read from its working area (set when it is Done).
    Reading reading;
    bool ok() const { return outcome == Outcome::Done && !journalOpen; }
};

class SoundLibrary;
// The item's bytes and, for a patch, the timbres and rhythm setups of the file
// it was first imported from. Throws LibraryError(Input) for an unknown id.
AuditionSource AuditionSourceOf(SoundLibrary& lib, int64_t itemId);

struct AuditionOptions {
    int scratch = 0;  // patch memory for a patch (1..64); 0: the module's current patch
    int part = 1;     // part for a timbre (1..6)
};

class Audition {
public:
    // `journal` may be null only where nothing needs to survive (the virtual module).
    Audition(clsU220& model, Host& host, Journal* journal) : model_(model), host_(host), journal_(journal) {}

    // Auditions `source` through patch memory `scratch` (1..64).
    AuditionReport Play(const AuditionSource& source, int scratch);
    // A timbre on `part` (1..6), or a rhythm setup on the rhythm part: journals
    // the memory of the number that part uses, writes the library's record
    // there, writes the number to the part again so it loads it, and puts the
    // memory back, verified.
    AuditionReport PlayOnPart(const AuditionSource& source, int part);
    // A working-area sound, written into the working area, verified.
    AuditionReport PlayWorking(const AuditionSource& source);
    // Any of them by the source's type (a patch in options.scratch, 1..64).
    AuditionReport Play(const AuditionSource& source, const AuditionOptions& options);

    // The patch memory the working area came from: the patch the model last
    // switched to while the working area is unedited, else the one memory
    // whose name the working patch carries. 0, `outcome` and `why` when the
    // module does not answer (NoAnswer), or the name is in no patch memory or
    // in more than one (Failed).
    int CurrentPatch(Outcome& outcome, std::string& why);

private:
    bool Read(const std::vector<Range>& ranges, MemoryImage& out);
    // Reads the six part timbres and, when the patch names a rhythm setup, its
    // common block into report.reading, beside the patch's blocks read before.
    bool ReadWorking(AuditionReport& report);
    // Refuses (true, report set) while an interrupted journal waits.
    bool Blocked(AuditionReport& report);
    bool Save(const std::string& operation, const MemoryImage& originals, AuditionReport& report);
    bool WriteVerified(const MemoryImage& image, AuditionReport& report);
    AuditionReport Stop(AuditionReport report, Outcome outcome, const std::string& text);
    // Puts `originals` back, verified, and closes the journal: the audition
    // cannot go on though the module answers.
    AuditionReport Abandon(AuditionReport report, const MemoryImage& originals, const std::string& why);
    // Reads what the module plays and words the outcome.
    AuditionReport Finish(AuditionReport report, const AuditionSource& source);
    AuditionReport PutBack(AuditionReport report, const MemoryImage& originals, const AuditionSource& source);

    clsU220& model_;
    Host& host_;
    library::Journal* journal_;
};

// Auditions library item `id` by its type and, when it played, keeps what the
// module played in the library (SaveReading). A patch with no scratch given
// goes to the module's current patch. Throws LibraryError(Input) for an unknown
// id.
AuditionReport AuditionItem(SoundLibrary& lib, Audition& audition, int64_t id, const AuditionOptions& options);

}  // namespace quorvane::library
