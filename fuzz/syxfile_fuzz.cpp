// libFuzzer target for the back-up reader on .syx files (messages back to back)
// and whatever else a user may open as one.
//
// Checked for every input:
// - no crash, no sanitizer report;
// - a refusal always says why, and a file read holds at least one data set;
// - the image read saves as .syx and as .mid, and both read back to the same
//   image and the same number of addresses;
// - the summary can be made for any image read.

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>

#include "library/SysexFile.h"

using namespace quorvane;
using namespace quorvane::library;

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const BackupFile f = ReadBackup(Bytes(data, data + size));
    Check(f.ok != !f.error.empty(), "a refusal has a reason, a success none");
    if (!f.ok) return 0;
    Check(f.dataSets > 0 && !f.image.empty(), "a file read holds data");
    Check(!f.deviceIds.empty() && std::is_sorted(f.deviceIds.begin(), f.deviceIds.end()), "device IDs ascending");
    Check(f.requests <= f.ignored, "requests are among the ignored messages");
    (void)f.Summary();
    for (const Bytes& saved : {SyxBytes(f.image, f.deviceIds.back()), MidiBytes(f.image, f.deviceIds.back())}) {
        const BackupFile again = ReadBackup(saved);
        Check(again.ok && again.image == f.image && again.image.size() == f.image.size(), "the saved image reads back");
        Check(again.deviceIds == std::vector<uint8_t>{f.deviceIds.back()}, "saved for one device ID");
    }
    return 0;
}
