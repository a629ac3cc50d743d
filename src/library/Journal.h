// The journal of overwritten memories: before a copy, swap, restore or put back
// writes to the module, what it will overwrite is saved on disk (and synced), so a
// failure at any point (a lost message, a module that stops answering, a killed
// program) leaves the originals to be put back.
//
// The journal is two files in the user's data folder:
//   journal.syx  the originals as data sets, an ordinary back-up file: any
//                restore can read it;
//   journal.txt  what was done ("swap patch 10 with patch 20"), the device ID
//                and its state: "open" until the operation was verified,
//                "done" after (kept so the last operation can be put back).
// Begin removes the old journal.txt before it writes the new journal.syx, so a
// crash in between never pairs new originals with an old description.
// Standard C++ only; the few system calls sit behind #ifdefs in Journal.cpp.
#pragma once

#include <string>

#include "library/MemoryImage.h"

namespace quorvane::library {

class Transfer;
struct TransferReport;

// The user's data folder: $QUORVANE_DATA_DIR when set (tests), else
// $XDG_DATA_HOME/quorvane, else ~/.local/share/quorvane (%LOCALAPPDATA%\quorvane
// on Windows). Not created here.
std::string DataFolder();

struct JournalState {
    bool exists = false;     // a journal.txt is there
    bool open = false;       // its operation was not verified: the originals wait to go back
    std::string operation;   // "swap patch 10 with patch 20"
    int deviceId = -1;       // the byte, 0..31
    MemoryImage originals;   // what the operation overwrote
    std::string error;       // set when the journal cannot be read
};

class Journal {
public:
    explicit Journal(std::string folder = DataFolder());
    const std::string& Folder() const { return folder_; }
    std::string SyxPath() const;
    std::string TextPath() const;

    JournalState Load() const;
    // True when an operation was interrupted (its journal open, or too damaged
    // to tell): nothing else may overwrite memories until it is put back or
    // discarded. A closed journal whose originals went missing blocks nothing.
    bool Pending() const;
    // What waits, in words for the user ("" when nothing does): "An interrupted
    // swap patch 10 with patch 20 (U-220 with device ID 17) left patch 10, 20 to
    // be put back."
    std::string PendingJournal() const;
    // Writes the originals back to the module, verified, and closes the journal
    // when they all verified. Refuses a journal made for another device ID.
    TransferReport Recover(Transfer& transfer);
    // Forgets the journal (both files). False and `error` when a file stays.
    bool Discard(std::string& error);

    // For the transfers: saves and syncs a new open journal. False and `error`
    // when it could not be saved: nothing may then be written to the module.
    bool Begin(const std::string& operation, int deviceId, const MemoryImage& originals, std::string& error);
    // Marks the journal done (the operation verified); the originals stay for a
    // put back.
    bool Close(std::string& error);

private:
    bool WriteState(const std::string& operation, int deviceId, bool open, std::string& error);

    std::string folder_;
};

// Creates the folder of `path` if need be, then saves `bytes` as WriteFileAtomically
// does (SafeFile.h): through a temporary file created exclusively beside
// it, synced to the disk before it is renamed over `path`, and syncs the folder
// after. False and `error` on failure; `path` is then unchanged.
bool WriteFileDurably(const std::string& path, const Bytes& bytes, std::string& error);

}  // namespace quorvane::library
