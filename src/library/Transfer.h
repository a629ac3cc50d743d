// Backing up, restoring and copying the module's memory through the model's raw
// range read and write: the same request queue, reply checks, time limits and
// paced output as every property. Writes keep only a short lead on the wire, so
// progress is what has really gone out and Cancel takes effect at once.
//
// Rules every write keeps:
// - With a journal, what a copy, swap, restore or put back overwrites is read
//   first and saved (synced) in the journal before the first data set goes out.
// - Writes go out in batches of `window` data sets, each read back before the
//   next batch: a module that stops answering stops the writing after at most
//   one batch, and the report names what was verified, what was written but not
//   read back, and what was not written.
// - Nothing is called copied, swapped or restored that was not read back equal.
// - A copy or swap that fails while the module still answers puts the originals
//   back at once; otherwise they wait in the journal (Journal::Recover).
// - A request the module leaves unanswered is asked again quietly
//   `quietRetries` times as one short piece, so a silent module is given up
//   after about (1 + quietRetries) time limits, not that many whole windows.
// - Messages the module lost (several requests of one window timed out, a data
//   set read back different) double the send gap for the rest of the
//   operation, up to 160 ms; the port's own gap is set back at the end.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "device/MemoryMap.h"
#include "device/clsU220.h"
#include "library/MemoryImage.h"

namespace quorvane::library {

class Journal;

// The memories as MemoryMap has them (MemoryKind, MemoryWord).
using quorvane::MemoryKind;
using quorvane::MemoryWord;
// The addresses of one memory (number from 1); size 0 for a number out of range.
Range MemoryRange(MemoryKind kind, int number);

// Addresses moved so far and in all (reads and writes both count).
struct Progress {
    size_t done = 0;
    size_t total = 0;
    std::string stage;  // "Reading", "Writing", "Verifying"
};

enum class Outcome { Done, Cancelled, NoAnswer, Failed };

struct TransferReport {
    Outcome outcome = Outcome::Done;
    std::string text;               // one line for the user
    std::vector<Range> unverified;  // still different after every resend
    std::vector<Range> unchecked;   // written, but not read back (the module stopped answering, or Cancel)
    std::vector<Range> unwritten;   // meant to be written, never sent
    bool journalOpen = false;       // the originals wait in the journal to be put back
    bool putBack = false;           // a failed copy or swap put the originals back, verified
    // A copy or swap that failed and whose put back failed too: what went wrong
    // first, in words; the lists above then name the memories that do not hold
    // their originals.
    std::string failedPutBack;
    int resent = 0;                 // data sets sent again after a verification
    int gapMs = -1;                 // the send gap messages lost made it widen to (-1: not widened)
    bool ok() const { return outcome == Outcome::Done && unverified.empty() && unchecked.empty() && unwritten.empty(); }
};

class Transfer {
public:
    Transfer(clsU220& model, Host& host) : model_(model), host_(host) {}

    // Called after each step; return false to cancel. A copy or swap cancelled
    // half-way still puts back what it overwrote (progress is told, its answer
    // is not heeded then): only `mustStop` ends that too.
    std::function<bool(const Progress&)> onProgress;
    // True when everything must stop at once (the program is ending).
    std::function<bool()> mustStop;
    int quietRetries = 2;  // a request asked again without asking the user
    int maxResends = 3;    // a range that differs is sent again at most this often
    int window = 32;       // pieces read in one request; data sets written before a read back
    // Where overwritten memories are saved first; none: no journal is kept.
    Journal* journal = nullptr;

    // Reads the pieces of `plan` (each at most 128 addresses) into `out`.
    Outcome Read(const std::vector<Range>& plan, MemoryImage& out);
    // Reads the whole module (or the given areas) and writes it to `path` as a
    // .syx file for the model's device ID. Nothing is left under `path` unless it
    // completed.
    TransferReport BackUp(const std::string& path, const std::vector<Range>& areas = BackupAreas());
    // Writes every data set of `image` to the module in ascending address order,
    // each batch (with `verify`) read back and what differs sent again.
    // `originals`, when given, is what the module holds now (a back-up made just
    // before): the journal takes what it covers from there instead of reading it.
    TransferReport Restore(const MemoryImage& image, bool verify = true, const MemoryImage* originals = nullptr);
    TransferReport Copy(MemoryKind kind, int from, int to);
    TransferReport Swap(MemoryKind kind, int a, int b);
    // Writes back what the journal's last, completed operation overwrote
    // ("Put back"), verified and itself journalled, so a second put back redoes it.
    TransferReport PutBack();
    // Writes back the originals of an interrupted journal, verified; closes the
    // journal when all verified (Journal::Recover calls this).
    TransferReport Recover(Journal& journal);

private:
    bool Tell(const std::string& stage);
    bool Write(const std::vector<DataSet>& sets, size_t& sent);
    // One request of pieces; a silent module is asked again quietly for the
    // first piece alone, then through the model's OnNotResponding.
    bool ReadWindow(const std::vector<std::pair<Address, int>>& request, Bytes& bytes);
    TransferReport WriteVerified(const MemoryImage& image, bool verify);
    // Reads `ranges` as the module holds them, with an interrupted journal's
    // originals over them: the journal holds what the memories should be.
    Outcome ReadLogical(const std::vector<Range>& ranges, const MemoryImage& pending, MemoryImage& out);
    // Refuses (false, report set) when an interrupted journal waits for memories
    // that `targets` do not all overwrite, or is for another device; else
    // `pending` gets its originals (empty without one).
    bool CheckPending(const std::vector<Range>& targets, MemoryImage& pending, TransferReport& report);
    // Journals `originals`, writes `image` verified and, for a copy or swap that
    // failed while the module answers, puts the originals back.
    TransferReport Overwrite(const std::string& operation, const MemoryImage& image, const MemoryImage& originals,
                             bool verify, bool putBackOnFailure);
    // Doubles the send gap (up to 160 ms); false when it cannot widen further.
    bool Widen(TransferReport* report);

    clsU220& model_;
    Host& host_;
    Progress progress_;
    int portGap_ = -1;     // the port's gap before a widening, set back at the end
    int widenedTo_ = -1;
    bool puttingBack_ = false;  // a failed or cancelled overwrite puts its originals back
};
}  // namespace quorvane::library
