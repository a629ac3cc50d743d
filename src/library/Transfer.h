// Backing up, restoring and copying the module's memory through the model's raw
// range read and write: the same request queue, reply checks, time limits and
// paced output as every property. Writes keep only a short lead on the wire, so
// progress is what has really gone out and Cancel takes effect at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "device/clsU220.h"
#include "library/MemoryImage.h"
#include "midi/VirtualU220.h"

namespace quorvane::library {

// Starts the virtual module from a backup: its memory takes every byte of the
// image as it is; what the image lacks stays as the module had it.
void LoadIntoVirtualModule(midi::VirtualU220& module, const MemoryImage& image);

enum class MemoryKind { Patch, Timbre, Rhythm };
// The addresses of one memory (number from 1); size 0 for a number out of range.
Range MemoryRange(MemoryKind kind, int number);
const char* MemoryWord(MemoryKind kind);  // "patch", "timbre", "rhythm setup"

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
    int resent = 0;                 // data sets sent again after a verification
    bool ok() const { return outcome == Outcome::Done && unverified.empty(); }
};

class Transfer {
public:
    Transfer(clsU220& model, Host& host) : model_(model), host_(host) {}

    // Called after each step; return false to cancel.
    std::function<bool(const Progress&)> onProgress;
    int quietRetries = 2;  // a request asked again without asking the user
    int maxResends = 3;    // a range that differs is sent again at most this often
    int window = 32;       // pieces read in one request

    // Reads the pieces of `plan` (each at most 128 addresses) into `out`.
    Outcome Read(const std::vector<Range>& plan, MemoryImage& out);
    // Reads the whole module (or the given areas) and writes it to `path` as a
    // .syx file for the model's device ID. Nothing is left under `path` unless it
    // completed.
    TransferReport BackUp(const std::string& path, const std::vector<Range>& areas = BackupAreas());
    // Writes every data set of `image` to the module in ascending address order,
    // then (with `verify`) reads it all back and sends what differs again.
    TransferReport Restore(const MemoryImage& image, bool verify = true);
    TransferReport Copy(MemoryKind kind, int from, int to);
    TransferReport Swap(MemoryKind kind, int a, int b);

private:
    bool Tell(const std::string& stage);
    bool Write(const std::vector<DataSet>& sets);
    TransferReport WriteVerified(const MemoryImage& image, bool verify);

    clsU220& model_;
    Host& host_;
    Progress progress_;
};

}  // namespace quorvane::library
