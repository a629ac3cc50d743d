// The journal of overwritten memories, against the virtual module at a real
// module's pace: a copy or swap on a wire that loses messages closer than 60 ms
// either ends verified or names the memories that are wrong, with their
// originals on disk until they are back; a module that stops answering mid-way
// stops the writing at once; a silent module is given up after one request and
// its quiet retries; and a journal that cannot be used is never guessed at.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "device/clsU220.h"
#include "library/Journal.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "emulator/VirtualU220.h"

using namespace quorvane;
using namespace quorvane::library;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quorvane-journal-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        journal = std::make_unique<Journal>(dir.string());
        vm = std::make_shared<midi::VirtualU220>();
        Connect();
    }
    void TearDown() override {
        model.reset();
        fs::remove_all(dir);
    }
    // A new model on the same module, as a program started again would make.
    void Connect() {
        model.reset();
        auto post = [this](std::function<void()> f) { host.post(std::move(f)); };
        model = std::make_unique<clsU220>(host, vm->makeOutput(), vm->makeInput(post));
        ASSERT_TRUE(model->MIDIOutput1->open(-1));
        ASSERT_TRUE(model->MIDIInput1->open(0));
        model->RequestTimeout = 1000ms;
        model->OnMessage = [this](const MonitorEvent& e) {
            if (e.kind != MonitorEvent::Kind::Sent || e.message.size() < 5) return;
            if (e.message[4] == sysex::kRQ1) ++requests;
            if (e.message[4] == sysex::kDT1) ++dataSets;
        };
    }
    // Answers after `answerMs`, loses a message starting less than `minGapMs`
    // after the previous one; the output keeps the real ports' 20 ms gap.
    void Pace(double answerMs, double minGapMs) {
        vm->setRealistic(answerMs, minGapMs);
        model->MIDIOutput1->setSendGapMs(20);
    }
    void Silent(bool on) {
        vm->withEmulator([on](emulator::U220Emulator& e) { e.setSilent(on); });
    }
    Bytes Peek(Range r) {
        return vm->withEmulator([&](emulator::U220Emulator& e) { return e.read(r.address, r.size); });
    }
    void Load(Range r, const Bytes& b) {
        vm->withEmulator([&](emulator::U220Emulator& e) { e.load(r.address, b); });
    }
    static Range Patch(int n) { return MemoryRange(MemoryKind::Patch, n); }
    // The patch numbers a list of ranges touches.
    static std::vector<int> PatchesIn(const std::vector<Range>& ranges) {
        Contents c = ContentsOf(ranges);
        std::vector<int> n = c.patches;
        n.insert(n.end(), c.partPatches.begin(), c.partPatches.end());
        std::sort(n.begin(), n.end());
        n.erase(std::unique(n.begin(), n.end()), n.end());
        return n;
    }

    SimpleHost host;
    std::shared_ptr<midi::VirtualU220> vm;
    std::unique_ptr<clsU220> model;
    std::unique_ptr<Journal> journal;
    fs::path dir;
    int requests = 0, dataSets = 0;
};

}  // namespace

TEST_F(JournalTest, CopyAndSwapOnALossyWireEndVerifiedOrNameWhatIsWrongAndTheJournalPutsTheOriginalsBack) {
    enum Expect { Verified, PutBack, Journalled };
    struct Case {
        const char* name;
        bool swap;
        int a, b;          // copy a to b, or swap a with b
        double minGapMs;   // the module loses what follows closer than this (0: an instant module, no gap)
        int maxResends;
        int stubborn;      // a patch that keeps a wrong byte whatever is written ...
        int stubbornFor;   // ... for this many data sets written
        Expect expect;
    } cases[] = {
        // The lost requests and data sets widen the gap past 60 (100) ms.
        {"swap, messages lost closer than 60 ms", true, 10, 20, 60, 3, 0, 0, Verified},
        {"copy, messages lost closer than 60 ms", false, 3, 10, 60, 3, 0, 0, Verified},
        {"copy, lost closer than 100 ms, no resend", false, 3, 10, 100, 0, 0, 0, Verified},
        // The module answers, but a memory does not take what is written.
        // (a copy writes 2 data sets, then 3 resends of 1; a swap 4, then 3 of 1)
        {"copy, patch 10 drops the copy", false, 3, 10, 0, 3, 10, 5, PutBack},
        {"swap, patch 20 drops the swap", true, 10, 20, 0, 3, 20, 7, PutBack},
        {"swap, patch 20 drops the swap and its original", true, 10, 20, 0, 3, 20, 1000, Journalled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        ASSERT_TRUE(journal->Discard(error)) << error;
        vm->setRealistic(0, 0);
        vm->withEmulator([](emulator::U220Emulator& e) { e.resetToFactory(); });
        const Bytes oldA = Peek(Patch(c.a)), oldB = Peek(Patch(c.b));
        ASSERT_NE(oldA, oldB);
        // What each memory should hold after the operation, and before it.
        std::map<int, Bytes> want{{c.a, c.swap ? oldB : oldA}, {c.b, oldA}}, original{{c.a, oldA}, {c.b, oldB}};
        Transfer t(*model, host);
        t.journal = journal.get();
        t.maxResends = c.maxResends;
        int gap = 0;
        if (c.minGapMs > 0) {
            Pace(10, c.minGapMs);
            gap = 20;
        } else {
            model->MIDIOutput1->setSendGapMs(0);  // each data set arrives as it is written
        }
        // The stubborn byte: neither what it held nor what it is meant to hold.
        uint8_t wrongByte = 0;
        while (c.stubborn && (wrongByte == original[c.stubborn][100] || wrongByte == want[c.stubborn][100])) ++wrongByte;
        int writes = 0;
        t.onProgress = [&](const Progress& p) {
            if (p.stage == "Writing" && c.stubborn && ++writes <= c.stubbornFor)
                vm->withEmulator([&](emulator::U220Emulator& e) { e.poke(Patch(c.stubborn).address.plus(100), wrongByte); });
            return true;
        };
        const TransferReport r = c.swap ? t.Swap(MemoryKind::Patch, c.a, c.b) : t.Copy(MemoryKind::Patch, c.a, c.b);
        t.onProgress = nullptr;
        vm->setRealistic(10, 0);
        EXPECT_EQ(r.ok(), c.expect == Verified) << r.text;
        EXPECT_EQ(model->MIDIOutput1->sendGapMs(), gap) << "the port's own gap is set back";
        if (c.expect == Verified) {
            EXPECT_EQ(r.text, c.swap ? "Swapped patch 10 with patch 20; verified." : "Copied patch 3 to patch 10; verified.");
            EXPECT_GE(r.gapMs, c.minGapMs);
            for (auto& [n, bytes] : want) EXPECT_EQ(Peek(Patch(n)), bytes) << "patch " << n;
            // Kept, closed, for a put back: it puts back exactly what was overwritten.
            const JournalState s = journal->Load();
            EXPECT_FALSE(s.open);
            EXPECT_FALSE(journal->Pending());
            EXPECT_EQ(journal->PendingJournal(), "");
            Bytes kept;
            ASSERT_TRUE(s.originals.get(Patch(c.b), kept));
            EXPECT_EQ(kept, oldB);
            EXPECT_EQ(s.originals.holds(Patch(c.a).address), c.swap);
            const TransferReport back = t.PutBack();
            EXPECT_TRUE(back.ok()) << back.text;
            for (auto& [n, bytes] : original) EXPECT_EQ(Peek(Patch(n)), bytes) << "put back, patch " << n;
            // The put back is journalled too: a second one does the operation again.
            EXPECT_TRUE(t.PutBack().ok());
            for (auto& [n, bytes] : want) EXPECT_EQ(Peek(Patch(n)), bytes) << "put back again, patch " << n;
            continue;
        }
        const std::string stubborn = "patch " + std::to_string(c.stubborn);
        if (c.expect == PutBack) {
            EXPECT_EQ(r.text, std::string(c.swap ? "Swap patch 10 with patch 20" : "Copy patch 3 to patch 10") +
                                  " failed: " + stubborn + " did not take what was sent; put back the originals of " +
                                  (c.swap ? "patches 10, 20" : "patch 10") + ", verified.");
            EXPECT_EQ(PatchesIn(r.unverified), std::vector<int>{c.stubborn});
            EXPECT_TRUE(r.putBack);
            EXPECT_FALSE(journal->Pending()) << "put back: nothing waits";
            for (auto& [n, bytes] : original) EXPECT_EQ(Peek(Patch(n)), bytes) << "patch " << n;
            continue;
        }
        // The originals could not go back either: the report names the memory
        // that does not hold its original; every other one does.
        EXPECT_EQ(r.text, "Swap patch 10 with patch 20 failed: " + stubborn +
                              " did not take what was sent; putting the originals back failed too: " + stubborn +
                              " did not take what was sent; the originals are kept in the journal, to be put back "
                              "when the U-220 answers again.");
        EXPECT_EQ(PatchesIn(r.unverified), std::vector<int>{c.stubborn});
        for (auto& [n, bytes] : original) {
            if (n != c.stubborn) {
                EXPECT_EQ(Peek(Patch(n)), bytes) << "patch " << n;
            }
        }
        EXPECT_TRUE(r.journalOpen);
        const JournalState s = journal->Load();
        EXPECT_TRUE(s.open);
        for (auto& [n, bytes] : original) {
            Bytes kept;
            ASSERT_TRUE(s.originals.get(Patch(n), kept));
            EXPECT_EQ(kept, bytes) << "journalled patch " << n;
        }
        // The memory takes writes again: the journal puts the originals back.
        const TransferReport rec = journal->Recover(t);
        EXPECT_TRUE(rec.ok()) << rec.text;
        EXPECT_EQ(rec.text, "Put back patches 10, 20 as they were before the interrupted swap patch 10 with patch 20; verified.");
        for (auto& [n, bytes] : original) EXPECT_EQ(Peek(Patch(n)), bytes) << "recovered, patch " << n;
        EXPECT_FALSE(journal->Pending());
    }
}

TEST_F(JournalTest, ASwapCutOffHalfWayLeavesAJournalThatTheNextRunFinishes) {
    struct Case {
        const char* name;
        int maxResends;
        bool patch20Stubborn;  // patch 20 keeps a wrong byte through the swap's own writes
        int silentAtWrite;     // the module stops (as under SIGSTOP) after this data set has left
        const char* text;
    } cases[] = {
        {"stops after the second data set", 3, false, 2,
         "The U-220 stopped answering: swap patch 10 with patch 20 failed: patches 10, 20 written but not read back; "
         "the originals are kept in the journal, to be put back when the U-220 answers again."},
        // The swap's 4 data sets, a verification that finds patch 20 wrong, then
        // the first data set of the originals going back.
        {"stops while the originals go back", 0, true, 5,
         "The U-220 stopped answering: swap patch 10 with patch 20 failed: patch 20 did not take what was sent; "
         "putting the originals back failed too: patches 10, 20 written but not read back; the originals are kept "
         "in the journal, to be put back when the U-220 answers again."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vm->setRealistic(0, 0);
        vm->withEmulator([](emulator::U220Emulator& e) { e.resetToFactory(); });
        const Bytes old10 = Peek(Patch(10)), old20 = Peek(Patch(20));
        if (c.patch20Stubborn) model->MIDIOutput1->setSendGapMs(0);  // each data set arrives as it is written
        else Pace(10, 20);
        {
            Transfer t(*model, host);
            t.journal = journal.get();
            t.maxResends = c.maxResends;
            int asked = 0, written = 0, requestsBefore = 0, dataSetsBefore = 0;
            model->OnNotResponding = [&](RequestKind) { return ++asked, false; };
            t.onProgress = [&](const Progress& p) {
                if (p.stage != "Writing") return true;
                ++written;
                if (c.patch20Stubborn && written <= 4)
                    vm->withEmulator([&](emulator::U220Emulator& e) { e.poke(Patch(20).address.plus(100), old10[100] ^ 1); });
                if (written == c.silentAtWrite) {
                    Silent(true);
                    requestsBefore = requests;
                    dataSetsBefore = dataSets;
                }
                return true;
            };
            const TransferReport r = t.Swap(MemoryKind::Patch, 10, 20);
            EXPECT_EQ(r.outcome, Outcome::NoAnswer);
            EXPECT_EQ(r.text, c.text);
            EXPECT_TRUE(r.journalOpen);
            EXPECT_EQ(asked, 1);
            // After it stopped: the rest of the batch of 4, the read back of the
            // batch (one request of its 4 pieces), 2 quiet retries of one piece.
            EXPECT_EQ(dataSets - dataSetsBefore, 4 - (c.silentAtWrite - 1) % 4 - 1);
            EXPECT_EQ(requests - requestsBefore, 4 + 2);
            model->OnNotResponding = nullptr;
        }
        // The program ends; the next one finds the journal on disk.
        Connect();
        Silent(false);
        Pace(10, 20);
        Journal again(dir.string());
        EXPECT_EQ(again.PendingJournal(),
                  "An interrupted swap patch 10 with patch 20 (U-220 with device ID 17) left patches 10, 20 to be put back.");
        Transfer t(*model, host);
        const TransferReport r = again.Recover(t);
        EXPECT_TRUE(r.ok()) << r.text;
        EXPECT_EQ(r.text, "Put back patches 10, 20 as they were before the interrupted swap patch 10 with patch 20; verified.");
        EXPECT_EQ(Peek(Patch(10)), old10);
        EXPECT_EQ(Peek(Patch(20)), old20);
        EXPECT_EQ(again.PendingJournal(), "");
        EXPECT_FALSE(fs::exists(again.SyxPath()));
        EXPECT_EQ(again.Recover(t).text, "No interrupted operation waits to be finished.");
    }
}

TEST_F(JournalTest, ARestoreThatLosesTheModuleStopsWritingAtOnceAndSaysWhatWasWritten) {
    Pace(10, 20);
    MemoryImage file, before;
    for (int n = 1; n <= 64; ++n) {
        file.put(Patch(n).address, Bytes(160, static_cast<uint8_t>(n)));
        before.put(Patch(n).address, Peek(Patch(n)));
    }
    Transfer t(*model, host);
    t.journal = journal.get();
    int written = 0, requestsBefore = 0, dataSetsBefore = 0, asked = 0;
    model->OnNotResponding = [&](RequestKind) { return ++asked, false; };
    // 80 data sets in batches of 32: the module stops during the second batch.
    t.onProgress = [&](const Progress& p) {
        if (p.stage == "Writing" && ++written == 40) {
            Silent(true);
            requestsBefore = requests;
            dataSetsBefore = dataSets;
        }
        return true;
    };
    std::string error;
    const TransferReport r = t.Restore(file);
    EXPECT_EQ(r.outcome, Outcome::NoAnswer);
    auto list = [](int from, int to) {
        std::string s;
        for (int n = from; n <= to; ++n) s += (n == from ? "" : ", ") + std::to_string(n);
        return s;
    };
    // Batch 1 (bytes 0..4095) verified: patches 1-25 whole; batch 2 (..8191)
    // written, not read back: patches 26-52; the rest (from 8192) not written.
    EXPECT_EQ(r.text, "The restore did not finish (the U-220 stopped answering): patches " + list(1, 25) +
                          " verified; patches " + list(26, 52) + " written but not read back; patches " + list(52, 64) +
                          " not written. Restore the file again to finish it, or put back what it overwrote from the "
                          "journal.");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(dataSets - dataSetsBefore, 64 - 40) << "only the rest of the batch after the module stopped";
    EXPECT_EQ(requests - requestsBefore, 32 + 2) << "one read back of the batch and two quiet retries";
    for (int n = 1; n <= 25; ++n) EXPECT_EQ(Peek(Patch(n)), Bytes(160, static_cast<uint8_t>(n))) << "patch " << n;
    for (int n = 53; n <= 64; ++n) EXPECT_NE(Peek(Patch(n)), Bytes(160, static_cast<uint8_t>(n))) << "patch " << n;

    // The journal holds all 64 originals; put back, the module is as before.
    Silent(false);
    EXPECT_TRUE(journal->Load().originals == before);
    const TransferReport rec = journal->Recover(t);
    EXPECT_TRUE(rec.ok()) << rec.text;
    for (int n = 1; n <= 64; ++n) {
        Bytes b;
        before.get(Patch(n), b);
        EXPECT_EQ(Peek(Patch(n)), b) << "patch " << n;
    }

    // Restored again, twice: reading the 80 pieces it overwrites for the
    // journal first, or taking them from the back-up just made.
    t.onProgress = nullptr;
    vm->setRealistic(0, 0);
    model->MIDIOutput1->setSendGapMs(0);
    for (const MemoryImage* backup : std::vector<const MemoryImage*>{nullptr, &before}) {
        ASSERT_TRUE(journal->Discard(error)) << error;
        requests = 0;
        const TransferReport again = t.Restore(file, true, backup);
        EXPECT_TRUE(again.ok()) << again.text;
        EXPECT_EQ(requests, backup ? 80 : 160) << "the verification, and the journal's read without a back-up";
        EXPECT_TRUE(journal->Load().originals == before);
        ASSERT_TRUE(t.PutBack().ok());
    }
}

TEST_F(JournalTest, ASilentModuleIsGivenUpAfterOneRequestAndItsQuietRetries) {
    struct Case {
        const char* name;
        int silentAfterWindows;  // -1: answers, but to another device ID (the first request is one piece)
        int quietRetries;
    } cases[] = {
        {"silent from the start", 0, 2},
        {"stops after the first window", 1, 2},
        {"wrong device ID", -1, 2},
        {"no quiet retries", 0, 0},
    };
    Pace(400, 20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Silent(c.silentAfterWindows == 0);
        model->DeviceID(c.silentAfterWindows < 0 ? 0x05 : 0x10);
        Transfer t(*model, host);
        t.quietRetries = c.quietRetries;
        int asked = 0, windows = 0, requestsBefore = requests;
        model->OnNotResponding = [&](RequestKind) { return ++asked, false; };
        t.onProgress = [&](const Progress&) {
            if (++windows == c.silentAfterWindows) {
                Silent(true);
                requestsBefore = requests;
            }
            return true;
        };
        const auto start = Clock::now();
        const TransferReport r = t.BackUp((dir / "never.syx").string());
        const auto took = Clock::now() - start;
        EXPECT_EQ(r.outcome, Outcome::NoAnswer);
        EXPECT_EQ(r.text, "The U-220 stopped answering (no answer to a request and " + std::to_string(c.quietRetries) +
                              " quiet retries); no file was written.");
        EXPECT_EQ(asked, 1);
        // The first request of a transfer asks for one piece, the next ones for a
        // window of 32; then each quiet retry for one piece.
        EXPECT_EQ(requests - requestsBefore, (c.silentAfterWindows == 1 ? 32 : 1) + c.quietRetries);
        // A hang bound only: the window's limit (1 s + its wire time) and 1 s a retry.
        EXPECT_LT(took, 60s);
        Silent(false);
    }
    model->DeviceID(0x10);
}

TEST_F(JournalTest, AJournalThatWaitsOrCannotBeUsedStopsWhatWouldLoseIt) {
    const Bytes old10 = Peek(Patch(10)), old20 = Peek(Patch(20));
    Transfer t(*model, host);
    t.journal = journal.get();
    // A swap cut off after patch 10 took patch 20's bytes: patch 10 is wrong.
    std::string error;
    MemoryImage originals;
    originals.put(Patch(10).address, old10);
    originals.put(Patch(20).address, old20);
    ASSERT_TRUE(journal->Begin("swap patch 10 with patch 20", 0x10, originals, error)) << error;
    Load(Patch(10), old20);
    // The journal is an ordinary back-up file of the originals.
    const BackupFile asFile = ReadBackupFile(journal->SyxPath());
    ASSERT_TRUE(asFile.ok) << asFile.error;
    EXPECT_TRUE(asFile.image == originals);

    // Anything that would overwrite other memories is refused, sending nothing.
    const int sentBefore = requests + dataSets;
    TransferReport r = t.Copy(MemoryKind::Patch, 3, 5);
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.text, "An interrupted swap patch 10 with patch 20 (U-220 with device ID 17) left patches 10, 20 to be put "
                      "back. Put them back (or discard the journal) before anything else is written.");
    MemoryImage file;
    file.put(Patch(10).address, Bytes(160, 1));
    EXPECT_EQ(t.Restore(file).outcome, Outcome::Failed) << "patch 20 would not be covered";
    EXPECT_EQ(requests + dataSets, sentBefore);
    // For another device ID, the journal's module is not this one.
    model->DeviceID(0x11);
    EXPECT_EQ(journal->Recover(t).text, "Cannot put back: the journal is for the U-220 with device ID 17, not 18.");
    EXPECT_EQ(requests + dataSets, sentBefore);
    model->DeviceID(0x10);

    // The same swap again works from the journal's originals, not from the
    // half-swapped memories, and ends with the swap the user asked for.
    r = t.Swap(MemoryKind::Patch, 10, 20);
    EXPECT_TRUE(r.ok()) << r.text;
    EXPECT_EQ(Peek(Patch(10)), old20);
    EXPECT_EQ(Peek(Patch(20)), old10);
    EXPECT_FALSE(journal->Pending());

    // A journal that cannot be read is never guessed at: refused until discarded.
    struct Damage {
        const char* name;
        std::function<void()> apply;
    } damages[] = {
        {"description cut short", [&] { std::ofstream(journal->TextPath()) << "quorvane journal 1\noperation: sw"; }},
        {"originals missing", [&] { fs::remove(journal->SyxPath()); }},
        {"originals damaged", [&] { std::ofstream(journal->SyxPath(), std::ios::binary) << "\xF0\x41\x10\x2B\x12"; }},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        ASSERT_TRUE(journal->Begin("copy patch 3 to patch 4", 0x10, originals, error)) << error;
        d.apply();
        EXPECT_TRUE(journal->Pending());
        EXPECT_EQ(journal->PendingJournal().rfind("An interrupted operation left a journal that cannot be used: ", 0), 0u)
            << journal->PendingJournal();
        const int sent = requests + dataSets;
        EXPECT_EQ(t.Copy(MemoryKind::Patch, 3, 4).outcome, Outcome::Failed);
        EXPECT_EQ(journal->Recover(t).outcome, Outcome::Failed);
        EXPECT_EQ(requests + dataSets, sent);
        ASSERT_TRUE(journal->Discard(error)) << error;
        EXPECT_FALSE(journal->Pending());
    }

    // A closed journal whose originals went missing blocks nothing, but is not
    // put back from nothing.
    ASSERT_TRUE(journal->Begin("copy patch 3 to patch 4", 0x10, originals, error)) << error;
    ASSERT_TRUE(journal->Close(error)) << error;
    fs::remove(journal->SyxPath());
    EXPECT_FALSE(journal->Pending());
    EXPECT_EQ(t.PutBack().outcome, Outcome::Failed);
    EXPECT_TRUE(t.Copy(MemoryKind::Patch, 3, 4).ok());

    // A journal that cannot be saved: nothing is written.
    fs::remove_all(dir);
    std::ofstream(dir.string()) << "a file where the folder should be";
    const int dataSetsBefore = dataSets;
    r = t.Copy(MemoryKind::Patch, 3, 4);
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.text.rfind("Nothing was written: the journal of what copy patch 3 to patch 4 overwrites could not be saved", 0), 0u)
        << r.text;
    EXPECT_EQ(dataSets, dataSetsBefore) << "read, but nothing written";
    fs::remove(dir);
}

#if !defined(_WIN32)
TEST(DataFolder, FollowsTheOverrideThenXdgThenHome) {
    struct Case {
        const char* override_;
        const char* xdg;
        const char* home;
        const char* want;
    } cases[] = {
        {"/tmp/q-test", "/x", "/h", "/tmp/q-test"},
        {nullptr, "/x", "/h", "/x/quorvane"},
        {nullptr, "relative", "/h", "/h/.local/share/quorvane"},  // XDG wants absolute paths
        {nullptr, nullptr, "/h", "/h/.local/share/quorvane"},
    };
    auto keep = [](const char* name) {
        const char* v = std::getenv(name);
        return std::pair<std::string, bool>(v ? v : "", v != nullptr);
    };
    const auto o = keep("QUORVANE_DATA_DIR"), x = keep("XDG_DATA_HOME"), h = keep("HOME");
    auto set = [](const char* name, const char* v) { v ? ::setenv(name, v, 1) : ::unsetenv(name); };
    for (const Case& c : cases) {
        set("QUORVANE_DATA_DIR", c.override_);
        set("XDG_DATA_HOME", c.xdg);
        set("HOME", c.home);
        EXPECT_EQ(DataFolder(), c.want);
    }
    set("QUORVANE_DATA_DIR", o.second ? o.first.c_str() : nullptr);
    set("XDG_DATA_HOME", x.second ? x.first.c_str() : nullptr);
    set("HOME", h.second ? h.first.c_str() : nullptr);
}
#endif

// Cancel stops a swap, not the put back of what it overwrote; only a stop of
// everything (the program ending) leaves the originals to the journal.
TEST_F(JournalTest, ACancelledSwapPutsItsOriginalsBackUnlessEverythingMustStop) {
    for (const bool mustStop : {false, true}) {
        SCOPED_TRACE(mustStop ? "the program ends" : "Cancel");
        vm->withEmulator([](emulator::U220Emulator& e) { e.resetToFactory(); });
        std::string discardError;
        journal->Discard(discardError);
        Pace(10, 20);
        const Bytes old10 = Peek(Patch(10)), old20 = Peek(Patch(20));
        Transfer t(*model, host);
        t.journal = journal.get();
        int written = 0;
        bool cancelled = false;
        t.onProgress = [&](const Progress& p) {
            if (p.stage == "Writing" && ++written == 2) cancelled = true;
            return !cancelled;
        };
        t.mustStop = [&] { return mustStop && cancelled; };
        const TransferReport r = t.Swap(MemoryKind::Patch, 10, 20);
        EXPECT_EQ(r.outcome, Outcome::Cancelled);
        EXPECT_EQ(r.putBack, !mustStop) << r.text;
        EXPECT_EQ(journal->Pending(), mustStop);
        if (!mustStop) {
            EXPECT_EQ(Peek(Patch(10)), old10);
            EXPECT_EQ(Peek(Patch(20)), old20);
        } else {
            // The next run puts them back from the journal.
            cancelled = false;
            Transfer again(*model, host);
            EXPECT_TRUE(journal->Recover(again).ok());
            EXPECT_EQ(Peek(Patch(10)), old10);
            EXPECT_EQ(Peek(Patch(20)), old20);
        }
    }
}
