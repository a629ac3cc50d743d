// Back-up, restore, copy and swap against the virtual module: byte for byte
// round trips, lost writes and lost answers found by verification and sent
// again, a memory that never verifies named, Cancel and a silent module leaving
// no file, and the same at a real module's pace.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "device/clsU220.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "emulator/VirtualU220.h"
#include "MidiFileWriter.h"

using namespace quorvane;
using namespace quorvane::library;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        vm = std::make_shared<midi::VirtualU220>();
        auto post = [this](std::function<void()> f) { host.post(std::move(f)); };
        model = std::make_unique<clsU220>(host, vm->makeOutput(), vm->makeInput(post));
        ASSERT_TRUE(model->MIDIOutput1->open(-1));
        ASSERT_TRUE(model->MIDIInput1->open(0));
        model->RequestTimeout = 1000ms;
        dir = fs::temp_directory_path() / ("quorvane-transfer-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        model.reset();
        fs::remove_all(dir);
    }
    // A module at a real module's pace: answers 400 ms after a request, messages
    // closer than 20 ms lost, and the output keeping a 20 ms gap.
    void RealPace() {
        vm->withEmulator([](emulator::U220Emulator& e) {
            emulator::WireModel w;
            w.enabled = true;
            w.answerDelayMs = 400;
            w.minGapMs = 20;
            e.setWireModel(w);
        });
        model->MIDIOutput1->setSendGapMs(20);
        model->RequestTimeout = 3000ms;
    }
    // What the module holds in every backed-up area.
    MemoryImage Module() {
        MemoryImage image;
        vm->withEmulator([&](emulator::U220Emulator& e) {
            for (const Range& r : BackupAreas()) image.put(r.address, e.read(r.address, r.size));
        });
        return image;
    }
    Bytes Peek(Range r) {
        return vm->withEmulator([&](emulator::U220Emulator& e) { return e.read(r.address, r.size); });
    }
    void Poke(Address a, uint8_t v) {
        vm->withEmulator([&](emulator::U220Emulator& e) { e.poke(a, v); });
    }
    // Changes every area: a few bytes of each data set's worth.
    void Scramble(uint32_t seed) {
        std::mt19937 rng(seed);
        for (const Range& r : BackupPlan())
            for (int k = 0; k < 3; ++k) Poke(r.address.plus(static_cast<int>(rng() % r.size)), rng() & 0x7F);
    }
    size_t SentToModule() { return vm->received().size(); }

    SimpleHost host;
    std::shared_ptr<midi::VirtualU220> vm;
    std::unique_ptr<clsU220> model;
    fs::path dir;
};

}  // namespace

TEST_F(TransferTest, BackUpChangeRestoreEndsByteForByteEqual) {
    const MemoryImage original = Module();
    Transfer t(*model, host);
    std::vector<Progress> seen;
    t.onProgress = [&](const Progress& p) {
        seen.push_back(p);
        return true;
    };
    const std::string path = (dir / "module.syx").string();
    const TransferReport backup = t.BackUp(path);
    ASSERT_TRUE(backup.ok()) << backup.text;
    EXPECT_EQ(backup.text, "Backed up master setup, 64 patches, 128 timbres, 4 rhythm setups, working area.");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().done, seen.back().total);
    for (size_t i = 1; i < seen.size(); ++i) ASSERT_GE(seen[i].done, seen[i - 1].done);
    EXPECT_FALSE(fs::exists(path + ".part"));

    BackupFile file = ReadBackupFile(path);
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_TRUE(file.image == original);
    EXPECT_EQ(file.deviceIds, std::vector<uint8_t>{0x10});

    // The same file as another module's (device ID 6), and as a Standard MIDI File
    // would carry it, each restored over a changed module.
    const BackupFile otherId = ReadBackup(SyxBytes(file.image, 0x05));
    ASSERT_TRUE(otherId.ok);
    std::vector<Bytes> messages;
    for (const DataSet& d : file.image.dataSets()) messages.push_back(BuildDT1(0x10, d.address, d.data));
    const BackupFile midi = ReadBackup(test::MidiFile(messages));
    ASSERT_TRUE(midi.ok && midi.midiFile) << midi.error;
    for (const BackupFile* f : std::initializer_list<const BackupFile*>{&file, &otherId, &midi}) {
        Scramble(static_cast<uint32_t>(SentToModule()));
        ASSERT_FALSE(Module() == original);
        // Names read before are forgotten where the restore wrote.
        model->MemoryPatchName(1);
        seen.clear();
        const TransferReport r = t.Restore(f->image);
        EXPECT_TRUE(r.ok()) << r.text;
        EXPECT_EQ(r.text, "Restored master setup, 64 patches, 128 timbres, 4 rhythm setups, working area; all verified.");
        EXPECT_EQ(r.resent, 0);
        EXPECT_TRUE(Module() == original);
        EXPECT_FALSE(model->MemoryPatchNameLoaded(1));
        EXPECT_EQ(seen.back().done, seen.back().total);
    }
}

TEST_F(TransferTest, LostWritesAndLostAnswersAreFoundAndSentAgain) {
    MemoryImage image;
    for (int n = 1; n <= 8; ++n) image.put(PatchMemoryAddress(n), Bytes(160, static_cast<uint8_t>(n)));
    for (int n = 1; n <= 4; ++n) image.put(TimbreMemoryAddress(n * 3), Bytes(64, static_cast<uint8_t>(0x20 + n)));
    vm->withEmulator([](emulator::U220Emulator& e) {
        emulator::FaultModel f;
        f.drop = 0.05;
        f.seed = 7;
        e.setFaults(f);
    });
    struct Case {
        const char* name;
        int loseEvery;          // a write lost every n-th step (0 = none)
        bool stubborn;          // patch 7 never takes what is written
        bool verify;
        const char* text;
    } cases[] = {
        {"every fifth write lost", 5, false, true, "Restored 8 patches, 4 timbres; all verified."},
        {"patch 7 never takes it", 0, true, true, "The restore did not finish (memories did not take what was sent): patches 1, 2, 3, 4, 5, 6, 8; timbres 3, 6, 9, 12 verified; patch 7 did not take what was sent. Restore the file again to finish it."},
        {"without verification nothing is read", 0, false, false, "Sent 8 patches, 4 timbres to the U-220; not verified."},
    };
    for (const Case& c : cases) {
        Scramble(1);
        Transfer t(*model, host);
        int step = 0;
        const int firstRound = static_cast<int>(image.dataSets().size());
        t.onProgress = [&](const Progress& p) {
            // The virtual module without a gap takes each data set at once: undo it
            // here as a lost message would have.
            if (p.stage == "Writing" && c.loseEvery && ++step <= firstRound && step % c.loseEvery == 0) Poke(PatchMemoryAddress(step % 8 + 1), 0x55);
            if (p.stage == "Writing" && c.stubborn) Poke(PatchMemoryAddress(7).plus(100), 0x66);
            return true;
        };
        const size_t before = SentToModule();
        const TransferReport r = t.Restore(image, c.verify);
        EXPECT_EQ(r.text, c.text) << c.name;
        Bytes got;
        MemoryImage module = Module();
        if (c.stubborn) {
            EXPECT_EQ(r.resent, 3) << c.name;  // sent again at most three times
            ASSERT_EQ(r.unverified.size(), 1u) << c.name;
            EXPECT_EQ(r.unverified[0], (Range{PatchMemoryAddress(7).plus(100), 1})) << c.name;
        } else if (c.verify) {
            EXPECT_GT(r.resent, 0) << c.name;
            EXPECT_TRUE(Differences(image, module, image.runs()).empty()) << c.name;
        } else {
            // Only the data sets went out: no request.
            const auto sent = vm->received();
            for (size_t i = before; i < sent.size(); ++i) EXPECT_EQ(sent[i][4], sysex::kDT1) << c.name;
        }
    }
    EXPECT_GT(vm->withEmulator([](emulator::U220Emulator& e) { return e.stats().dropped; }), 0u);
}

TEST_F(TransferTest, CopyAndSwapMemoriesAtARealModulesPace) {
    RealPace();
    const Bytes p3 = Peek(MemoryRange(MemoryKind::Patch, 3)), p10 = Peek(MemoryRange(MemoryKind::Patch, 10));
    const Bytes p1 = Peek(MemoryRange(MemoryKind::Patch, 1)), p2 = Peek(MemoryRange(MemoryKind::Patch, 2));
    const Bytes t5 = Peek(MemoryRange(MemoryKind::Timbre, 5)), t6 = Peek(MemoryRange(MemoryKind::Timbre, 6));
    ASSERT_NE(p3, p10);
    const std::string name3 = model->MemoryPatchName(3), name10 = model->MemoryPatchName(10);
    ASSERT_NE(name3, name10);
    Transfer t(*model, host);

    TransferReport r = t.Copy(MemoryKind::Patch, 3, 10);
    EXPECT_TRUE(r.ok()) << r.text;
    EXPECT_EQ(r.text, "Copied patch 3 to patch 10; verified.");
    EXPECT_EQ(Peek(MemoryRange(MemoryKind::Patch, 10)), p3);
    EXPECT_EQ(Peek(MemoryRange(MemoryKind::Patch, 3)), p3);
    EXPECT_EQ(model->MemoryPatchName(10), name3);  // read again, not the old name

    r = t.Swap(MemoryKind::Patch, 1, 2);
    EXPECT_EQ(r.text, "Swapped patch 1 with patch 2; verified.");
    EXPECT_EQ(Peek(MemoryRange(MemoryKind::Patch, 1)), p2);
    EXPECT_EQ(Peek(MemoryRange(MemoryKind::Patch, 2)), p1);

    r = t.Swap(MemoryKind::Timbre, 5, 6);
    EXPECT_TRUE(r.ok()) << r.text;
    EXPECT_EQ(Peek(MemoryRange(MemoryKind::Timbre, 5)), t6);
    EXPECT_EQ(Peek(MemoryRange(MemoryKind::Timbre, 6)), t5);

    // Nothing to do with numbers out of range or a memory onto itself.
    const size_t before = SentToModule();
    for (auto [from, to] : {std::pair{0, 3}, {3, 65}, {4, 4}})
        EXPECT_EQ(t.Copy(MemoryKind::Patch, from, to).outcome, Outcome::Failed);
    EXPECT_EQ(t.Swap(MemoryKind::Rhythm, 1, 5).outcome, Outcome::Failed);
    EXPECT_EQ(SentToModule(), before);
    EXPECT_EQ(vm->withEmulator([](emulator::U220Emulator& e) { return e.stats().lostToGap; }), 0u);
}

TEST_F(TransferTest, CancelOrASilentModuleLeaveNoFile) {
    RealPace();
    struct Case {
        const char* name;
        bool cancel;  // else the module falls silent and the user picks Cancel
        Outcome outcome;
        const char* text;
    } cases[] = {
        {"Cancel pressed", true, Outcome::Cancelled, "Back-up cancelled; no file was written."},
        {"module stops answering", false, Outcome::NoAnswer, "The U-220 stopped answering (no answer to a request and 2 quiet retries); no file was written."},
    };
    model->RequestTimeout = 1000ms;
    for (const Case& c : cases) {
        const std::string path = (dir / "cancelled.syx").string();
        Transfer t(*model, host);
        int steps = 0, asked = 0;
        model->OnNotResponding = [&](RequestKind what) {
            ++asked;
            EXPECT_EQ(what, RequestKind::RawRange);
            return false;
        };
        t.onProgress = [&](const Progress&) {
            if (++steps == 2 && !c.cancel) vm->withEmulator([](emulator::U220Emulator& e) { e.setSilent(true); });
            return !(c.cancel && steps == 2);
        };
        const TransferReport r = t.BackUp(path);
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        EXPECT_EQ(r.text, c.text) << c.name;
        EXPECT_EQ(asked, c.cancel ? 0 : 1) << c.name;
        EXPECT_FALSE(fs::exists(path)) << c.name;
        EXPECT_FALSE(fs::exists(path + ".part")) << c.name;
        vm->withEmulator([](emulator::U220Emulator& e) { e.setSilent(false); });
    }
}
