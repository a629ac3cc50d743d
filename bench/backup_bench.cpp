// A full back-up and a full restore with verification against the module's
// wire model (31250 baud, answers after a delay, a message closer than the gap to
// the one before it lost), with the real ports' send gap.
//
// Prints for each the time it took against the paced wire limit of the same
// messages, their ratio, and the messages lost on the way. The limit: requests
// and data sets leave back to back with the send gap between them, each answer
// starts when its request has arrived and the module's answer delay has passed
// (and not before the previous answer has left), and the verification starts
// after the last data set.
//
//   backup_bench [--gap-ms 20] [--answer-delay-ms 0] [--window N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/Host.h"
#include "device/clsU220.h"
#include "library/MemoryImage.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "emulator/VirtualU220.h"

using namespace quorvane;
using namespace quorvane::library;

namespace {

constexpr size_t kRQ1Bytes = 13;
constexpr size_t kFrameBytes = 10;  // a data set's bytes besides its data

double WireMs(size_t bytes) { return emulator::U220Emulator::wireMs(bytes); }

// Reads of `plan` fully pipelined, starting at `t`: returns when the last answer is in.
double ReadLimit(const std::vector<Range>& plan, double t, double gapMs, double answerDelayMs) {
    double requestEnd = t - gapMs, answerEnd = t;
    for (const Range& r : plan) {
        requestEnd = requestEnd + gapMs + WireMs(kRQ1Bytes);
        answerEnd = std::max(requestEnd + answerDelayMs, answerEnd) + WireMs(kFrameBytes + r.size);
    }
    return answerEnd;
}

double WriteLimit(const std::vector<Range>& sets, double gapMs) {
    double t = 0;
    for (size_t i = 0; i < sets.size(); ++i) t += (i ? gapMs : 0) + WireMs(kFrameBytes + sets[i].size);
    return t;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    int gapMs = 20, window = 32;
    double answerDelayMs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--gap-ms")) gapMs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--answer-delay-ms")) answerDelayMs = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--window")) window = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: backup_bench [--gap-ms 20] [--answer-delay-ms 0] [--window N]\n");
            return 2;
        }
    }

    SimpleHost host;
    auto vm = std::make_shared<midi::VirtualU220>();
    vm->withEmulator([&](emulator::U220Emulator& e) {
        emulator::WireModel w;
        w.enabled = true;
        w.minGapMs = gapMs;
        w.answerDelayMs = answerDelayMs;
        e.setWireModel(w);
    });
    clsU220 model(host, vm->makeOutput(), vm->makeInput([&](std::function<void()> f) { host.post(std::move(f)); }));
    model.MIDIOutput1->open(-1);
    model.MIDIInput1->open(0);
    model.MIDIOutput1->setSendGapMs(gapMs);
    Transfer transfer(model, host);
    transfer.window = window;

    const std::string path = (std::filesystem::temp_directory_path() / "quorvane-backup-bench.syx").string();
    const std::vector<Range> plan = BackupPlan();

    auto start = std::chrono::steady_clock::now();
    const TransferReport backup = transfer.BackUp(path);
    const double backupS = Seconds(std::chrono::steady_clock::now() - start);
    const double backupLimitS = ReadLimit(plan, 0, gapMs, answerDelayMs) / 1000.0;
    const auto lostAfterBackup = vm->withEmulator([](emulator::U220Emulator& e) { return e.stats().lostToGap; });
    const uint64_t timeoutsAfterBackup = model.TimeoutCount();

    const BackupFile file = ReadBackupFile(path);
    std::filesystem::remove(path);
    if (!backup.ok() || !file.ok) {
        std::fprintf(stderr, "backup failed: %s %s\n", backup.text.c_str(), file.error.c_str());
        return 1;
    }
    std::vector<Range> sets;
    for (const DataSet& d : file.image.dataSets()) sets.push_back({d.address, static_cast<int>(d.data.size())});

    start = std::chrono::steady_clock::now();
    const TransferReport restore = transfer.Restore(file.image, true);
    const double restoreS = Seconds(std::chrono::steady_clock::now() - start);
    const double writeLimitMs = WriteLimit(sets, gapMs);
    const double restoreLimitS = ReadLimit(sets, writeLimitMs + gapMs, gapMs, answerDelayMs) / 1000.0;
    const auto lostAfterRestore = vm->withEmulator([](emulator::U220Emulator& e) { return e.stats().lostToGap; });

    std::printf("wire model: send gap %d ms, answer delay %.0f ms, %zu requests, %zu data sets, window %d\n", gapMs,
                answerDelayMs, plan.size(), sets.size(), window);
    std::printf("backup:  %.2f s, paced wire limit %.2f s, ratio %.3f, messages lost %llu, requests timed out %llu  (%s)\n",
                backupS, backupLimitS, backupS / backupLimitS, static_cast<unsigned long long>(lostAfterBackup),
                static_cast<unsigned long long>(timeoutsAfterBackup), backup.text.c_str());
    std::printf("restore: %.2f s, paced wire limit %.2f s, ratio %.3f, messages lost %llu, resent %d, requests timed out %llu  (%s)\n",
                restoreS, restoreLimitS, restoreS / restoreLimitS,
                static_cast<unsigned long long>(lostAfterRestore - lostAfterBackup), restore.resent,
                static_cast<unsigned long long>(model.TimeoutCount() - timeoutsAfterBackup), restore.text.c_str());
    return backup.ok() && restore.ok() ? 0 : 1;
}
