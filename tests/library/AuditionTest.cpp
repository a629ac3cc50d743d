// Audition of a library patch on the virtual module in another record packing,
// at a real module's pace: the memory is as before at the end, and the working
// area plays what the source bank plays (a second module holding that bank,
// switched to the patch).
#include <gtest/gtest.h>

#include <filesystem>

#include "device/clsU220.h"
#include "emulator/FactoryContent.h"
#include "emulator/MemoryLayout.h"
#include "emulator/VirtualU220.h"
#include "library/Audition.h"
#include "library/SoundLibrary.h"
#include "library/SysexFile.h"

using namespace quorvane;
using namespace quorvane::library;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kPacking = 7;  // not the default packing: nothing may decode a record

// The working area as the model reads it.
Bytes WorkingArea(const emulator::U220Emulator& e) {
    Bytes w = e.read({0x10, 0x04, 0x00}, (0x15 - 0x04) * 128 + 50);
    const Bytes r = e.read({0x11, 0x00, 0x00}, (35 + 63) * 128 + 20);
    w.insert(w.end(), r.begin(), r.end());
    return w;
}

MemoryImage Memory(const emulator::U220Emulator& e) {
    MemoryImage image;
    for (const MemoryArea& a : MemoryAreas()) image.put(MemoryAddress(a.kind, 1), e.read(MemoryAddress(a.kind, 1), a.size()));
    return image;
}

void PutRecord(emulator::U220Emulator& e, Address base, const Bytes& record) {
    Bytes nibbles;
    for (uint8_t b : record) {
        nibbles.push_back(b & 0x0F);
        nibbles.push_back(b >> 4);
    }
    e.load(base, nibbles);
}

// A bank unlike the factory's: patch 6 names other timbres and rhythm setup 3,
// and every timbre and rhythm setup is another factory one.
emulator::U220Emulator Bank() {
    using namespace emulator;
    U220Emulator bank(0x10, kPacking);
    const RecordPacking packing(kPacking);
    Bytes own = FactoryPatchImage(6);
    for (int part = 0; part < 6; ++part) {
        const int at = kPatchImagePart1 + 13 * part + Info(Param::PatchPartTimbreNumber).offset;
        own[at] = static_cast<uint8_t>((own[at] + 37 * (part + 1)) % 128);
    }
    own[kPatchImageRhythm + Info(Param::PatchRhythmRhythmSetup).offset] = 2;
    PutRecord(bank, PatchMemoryAddress(6), packing.pack(Record::Patch, own));
    for (int n = 1; n <= 128; ++n)
        PutRecord(bank, TimbreMemoryAddress(n), packing.pack(Record::Timbre, FactoryTimbreImage((n + 40) % 128 + 1)));
    for (int n = 1; n <= 4; ++n)
        PutRecord(bank, RhythmMemoryAddress(n), packing.pack(Record::Rhythm, FactoryRhythmImage(n % 4 + 1)));
    return bank;
}

AuditionSource SourceOf(const emulator::U220Emulator& bank, int patch, bool withBank) {
    AuditionSource s;
    s.name = "Bank patch " + std::to_string(patch);
    s.patch = bank.read(MemoryAddress(MemoryKind::Patch, patch), AreaOf(MemoryKind::Patch).recordSize);
    if (!withBank) return s;
    for (int n = 1; n <= AreaOf(MemoryKind::Timbre).count; ++n)
        s.timbres[n] = bank.read(MemoryAddress(MemoryKind::Timbre, n), AreaOf(MemoryKind::Timbre).recordSize);
    for (int n = 1; n <= AreaOf(MemoryKind::Rhythm).count; ++n)
        s.rhythms[n] = bank.read(MemoryAddress(MemoryKind::Rhythm, n), AreaOf(MemoryKind::Rhythm).recordSize);
    return s;
}

// The reading holds every block of the module's working patch, its six part
// timbres and its rhythm setup's common block as `e` holds them, and the
// numbers its patch names.
void ExpectReadingOf(const Reading& reading, const emulator::U220Emulator& e) {
    std::vector<std::pair<Block, int>> blocks = BlocksOf(RequestKind::PatchData);
    for (auto b : BlocksOf(RequestKind::TimbreData)) blocks.push_back(b);
    blocks.push_back({Block::RhythmCommon, 0});
    for (auto [block, index] : blocks) {
        SCOPED_TRACE(static_cast<int>(block) * 10 + index);
        Bytes read;
        EXPECT_TRUE(reading.working.get({BlockAddress(block, index), BlockSize(block)}, read));
        EXPECT_EQ(read, e.read(BlockAddress(block, index), BlockSize(block)));
    }
    EXPECT_EQ(reading.working.size(), static_cast<size_t>(kPatchDataBytes + kTimbreDataBytes + BlockSize(Block::RhythmCommon)));
    for (int part = 1; part <= kParts; ++part)
        EXPECT_EQ(reading.timbres[part - 1], e.peek(ParamAddress(Param::PatchPartTimbreNumber, part)) + 1);
    EXPECT_EQ(reading.rhythmSetup, e.peek(ParamAddress(Param::PatchRhythmRhythmSetup)) + 1);
}

// The virtual module at a real module's pace with the second packing, the
// model on it with the real ports' gap, and a journal of its own.
struct Rig {
    SimpleHost host;
    std::shared_ptr<midi::VirtualU220> vm = std::make_shared<midi::VirtualU220>();
    std::unique_ptr<clsU220> model;
    fs::path dir;
    std::unique_ptr<Journal> journal;

    explicit Rig(double answerDelayMs = 400) {
        vm->withEmulator([&](emulator::U220Emulator& e) {
            e.setPackingSeed(kPacking);
            emulator::WireModel w;
            w.enabled = true;
            w.answerDelayMs = answerDelayMs;
            w.minGapMs = 20;
            e.setWireModel(w);
        });
        auto post = [this](std::function<void()> f) { host.post(std::move(f)); };
        model = std::make_unique<clsU220>(host, vm->makeOutput(), vm->makeInput(post));
        EXPECT_TRUE(model->MIDIOutput1->open(-1));
        EXPECT_TRUE(model->MIDIInput1->open(0));
        model->MIDIOutput1->setSendGapMs(20);
        model->RequestTimeout = 3000ms;
        static int serial = 0;
        dir = fs::temp_directory_path() /
              ("quorvane-audition-rig-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        fs::remove_all(dir);
        journal = std::make_unique<Journal>(dir.string());
    }
    ~Rig() { fs::remove_all(dir); }
    template <class F>
    auto Module(F&& f) {
        model->MIDIOutput1->flush();
        return vm->withEmulator(std::forward<F>(f));
    }
};

// The module's Rx control channel, 0..15 or 16 for Off (master setup nibbles 8 and 9).
void SetRxChannel(emulator::U220Emulator& e, int channel) {
    e.poke({0, 0, 8}, static_cast<uint8_t>(channel & 0x0F));
    e.poke({0, 0, 9}, static_cast<uint8_t>(channel >> 4));
}

}  // namespace

// A module that answers but does not switch to the scratch patch (its Rx
// control channel Off; a channel other than the one the model read, as when
// it was changed on the module's panel): the scratch memory is put back at
// once, verified, the journal closed, and the message names the reason.
TEST(Audition, AModuleThatDoesNotSwitchGetsTheScratchMemoryBackAtOnce) {
    struct Case {
        const char* what;
        bool modelReadTheChannelFirst;
        int channel;  // set on the module before the audition (-1: the next one to its own)
        const char* reason;
    } cases[] = {
        {"Rx control channel Off", false, 16, "Rx control channel is Off"},
        {"another Rx control channel", true, -1, "Patch Change setting"},
    };
    emulator::U220Emulator bank = Bank();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(40);
        if (c.modelReadTheChannelFirst) rig.model->MasterSetupMIDIRxCh();
        const MemoryImage before = rig.Module([&](emulator::U220Emulator& e) {
            SetRxChannel(e, c.channel >= 0 ? c.channel : (e.rxChannel() + 1) % 16);
            return Memory(e);
        });
        const AuditionReport r = Audition(*rig.model, rig.host, rig.journal.get()).Play(SourceOf(bank, 6, true), 4);
        EXPECT_EQ(r.outcome, Outcome::Failed);
        EXPECT_FALSE(r.journalOpen);
        EXPECT_NE(r.text.find(c.reason), std::string::npos) << r.text;
        EXPECT_NE(r.text.find("Patch 4 is as it was."), std::string::npos) << r.text;
        EXPECT_TRUE(r.timbresFromBank.empty());
        EXPECT_FALSE(rig.journal->Pending());
        EXPECT_TRUE(rig.journal->Load().originals.holds(MemoryAddress(MemoryKind::Patch, 4)));
        rig.Module([&](emulator::U220Emulator& e) {
            EXPECT_TRUE(Memory(e) == before) << "a memory byte changed";
            EXPECT_EQ(e.stats().programChanges, 0u);
            EXPECT_EQ(e.stats().lostToGap, 0u);
            return 0;
        });
    }
}

// With and without the bank, in the module's current patch and in another one:
// every memory byte as before, the journal closed with the originals in it,
// and the working area as the bank plays the patch (without the bank: the
// patch's own part blocks over the module's timbres); the reading holds that
// working area and the numbers the patch names.
TEST(Audition, PlaysTheBankSoundAndLeavesEveryMemoryByteAsBefore) {
    struct Case {
        int scratch;
        bool withBank;
    } cases[] = {{1, true}, {12, false}};
    emulator::U220Emulator bank = Bank();
    bank.receive({0xC0, 5});
    const Bytes expected = WorkingArea(bank);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.scratch);
        SimpleHost host;
        auto vm = std::make_shared<midi::VirtualU220>();
        vm->withEmulator([](emulator::U220Emulator& e) {
            e.setPackingSeed(kPacking);
            emulator::WireModel w;
            w.enabled = true;
            w.answerDelayMs = 400;
            w.minGapMs = 20;
            e.setWireModel(w);
        });
        auto post = [&host](std::function<void()> f) { host.post(std::move(f)); };
        clsU220 model(host, vm->makeOutput(), vm->makeInput(post));
        ASSERT_TRUE(model.MIDIOutput1->open(-1));
        ASSERT_TRUE(model.MIDIInput1->open(0));
        model.MIDIOutput1->setSendGapMs(20);
        model.RequestTimeout = 3000ms;
        const fs::path dir = fs::temp_directory_path() / ("quorvane-audition-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        Journal journal(dir.string());

        const MemoryImage before = vm->withEmulator([](emulator::U220Emulator& e) { return Memory(e); });
        Audition audition(model, host, &journal);
        const AuditionReport r = audition.Play(SourceOf(bank, 6, c.withBank), c.scratch);
        model.MIDIOutput1->flush();
        EXPECT_TRUE(r.ok()) << r.text;
        EXPECT_EQ(r.text, "Auditioning Bank patch 6 \xE2\x80\x94 not stored");
        EXPECT_EQ(r.rhythmSetup, 3);
        EXPECT_EQ(r.rhythmFromBank, c.withBank);
        EXPECT_EQ(r.timbresFromBank.empty(), !c.withBank);
        const JournalState js = journal.Load();
        EXPECT_TRUE(js.exists);
        EXPECT_FALSE(js.open);
        EXPECT_TRUE(js.originals.holds(MemoryAddress(MemoryKind::Patch, c.scratch)));

        vm->withEmulator([&](emulator::U220Emulator& e) {
            EXPECT_TRUE(Memory(e) == before) << "a memory byte changed";
            EXPECT_EQ(e.stats().lostToGap, 0u);
            const Bytes now = WorkingArea(e);
            ExpectReadingOf(r.reading, e);
            if (c.withBank) {
                EXPECT_EQ(now, expected);
                ExpectReadingOf(r.reading, bank);
            } else {
                // The patch's own blocks; the timbres are the module's.
                const int patchBytes = BlockAddress(Block::Timbre, 1).offset() - 0x04 * 128;
                EXPECT_EQ(Bytes(now.begin(), now.begin() + patchBytes), Bytes(expected.begin(), expected.begin() + patchBytes));
                EXPECT_NE(now, expected);
            }
            return 0;
        });
        fs::remove_all(dir);
    }
}

// The module stops answering after a number of its answers (early, half-way,
// late in the audition): the audition stops with the journal open, and once
// the module answers again the journal puts every memory back byte for byte.
// Stopped while the working area is read (every memory back by then): the
// journal is closed and the text says so.
TEST(Audition, AStoppedAuditionIsPutBackByTheJournal) {
    emulator::U220Emulator bank = Bank();
    const AuditionSource source = SourceOf(bank, 6, true);
    int total = 0;  // answers an audition takes until its memories are back
    for (double share : {0.0, 0.15, 0.5, 0.85, 1.0}) {
        SCOPED_TRACE(share);
        SimpleHost host;
        auto vm = std::make_shared<midi::VirtualU220>();
        vm->withEmulator([](emulator::U220Emulator& e) {
            e.setPackingSeed(kPacking);
            emulator::WireModel w;
            w.enabled = true;
            w.answerDelayMs = 40;
            w.minGapMs = 20;
            e.setWireModel(w);
        });
        auto post = [&host](std::function<void()> f) { host.post(std::move(f)); };
        clsU220 model(host, vm->makeOutput(), vm->makeInput(post));
        ASSERT_TRUE(model.MIDIOutput1->open(-1));
        ASSERT_TRUE(model.MIDIInput1->open(0));
        model.MIDIOutput1->setSendGapMs(20);
        model.RequestTimeout = 500ms;
        int answers = 0;
        const int stopAfter = share < 1.0 ? static_cast<int>(share * total) : total + 1;
        model.OnMessage = [&](const MonitorEvent& m) {
            // The first request of the working area's part timbres starts the reading.
            const Address timbres = BlockAddress(Block::Timbre, 1);
            if (share == 0.0 && total == 0 && m.kind == MonitorEvent::Kind::Sent && m.message.size() > 8 &&
                m.message[4] == sysex::kRQ1 && m.message[5] == timbres.a1 && m.message[6] == timbres.a2 &&
                m.message[7] == timbres.a3)
                total = answers;
            if (m.kind != MonitorEvent::Kind::Received) return;
            if (++answers == stopAfter) vm->withEmulator([](emulator::U220Emulator& e) { e.setSilent(true); });
        };
        const fs::path dir = fs::temp_directory_path() / ("quorvane-audition-stop-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        Journal journal(dir.string());

        const MemoryImage before = vm->withEmulator([](emulator::U220Emulator& e) { return Memory(e); });
        const AuditionReport r = Audition(model, host, &journal).Play(source, 1);
        model.MIDIOutput1->flush();
        if (share == 0.0) {  // the whole audition, to count its answers
            ASSERT_TRUE(r.ok()) << r.text;
            ASSERT_GT(total, 10);
            ASSERT_GT(answers, total);
            fs::remove_all(dir);
            continue;
        }
        EXPECT_FALSE(r.ok());
        if (share == 1.0) {
            EXPECT_EQ(r.outcome, Outcome::NoAnswer);
            EXPECT_FALSE(r.journalOpen);
            EXPECT_FALSE(journal.Pending());
            EXPECT_NE(r.text.find("its memory is as before"), std::string::npos) << r.text;
            vm->withEmulator([&](emulator::U220Emulator& e) {
                EXPECT_TRUE(Memory(e) == before) << "a memory byte changed";
                return 0;
            });
            fs::remove_all(dir);
            continue;
        }
        EXPECT_TRUE(r.journalOpen) << r.text;
        EXPECT_TRUE(journal.Pending());
        EXPECT_NE(r.text.find("wait in the journal"), std::string::npos) << r.text;
        // Refused while the journal waits.
        EXPECT_EQ(Audition(model, host, &journal).Play(source, 1).outcome, Outcome::Failed);

        vm->withEmulator([](emulator::U220Emulator& e) { e.setSilent(false); });
        Transfer transfer(model, host);
        transfer.journal = &journal;
        const TransferReport back = journal.Recover(transfer);
        EXPECT_TRUE(back.ok()) << back.text;
        EXPECT_FALSE(journal.Pending());
        vm->withEmulator([&](emulator::U220Emulator& e) {
            EXPECT_TRUE(Memory(e) == before) << "a memory byte changed";
            return 0;
        });
        fs::remove_all(dir);
    }
}

// Every other kind of audition, each against a second module that plays the
// same sound by the module's own means: a timbre on part 3 and a rhythm setup
// on the rhythm part (the second module holds the record in the memory the
// part uses and has the number written again), a working-area sound (the bank
// module switched to its patch 6), and a library patch through AuditionItem
// in the module's current patch, whose reading the library then keeps. Every
// memory byte is as before, the working area equals the second module's, the
// reading holds it, and only the memory auditions leave a (closed) journal.
TEST(Audition, EveryKindOfSoundPlaysAsTheSecondModulePlaysItAndLeavesTheMemory) {
    enum class Via { Part, Working, Library };
    struct Case {
        const char* what;
        SoundType type;
        Via via;
        int part;
    } cases[] = {
        {"timbre on part 3", SoundType::Timbre, Via::Part, 3},
        {"rhythm setup on the rhythm part", SoundType::Rhythm, Via::Part, 1},
        {"working-area sound", SoundType::Working, Via::Working, 1},
        {"library patch in the current patch", SoundType::Patch, Via::Library, 1},
    };
    emulator::U220Emulator bank = Bank();
    bank.receive({0xC0, 5});
    MemoryImage bankWorking;
    for (const Range& r : BackupAreas())
        if (r.address.a1 >= 0x10) bankWorking.put(r.address, bank.read(r.address, r.size));
    const Bytes bankFile = SyxBytes([&] {
        MemoryImage all = bankWorking;
        for (const MemoryArea& a : MemoryAreas()) all.put(MemoryAddress(a.kind, 1), bank.read(MemoryAddress(a.kind, 1), a.size()));
        return all;
    }(), 0x10);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        emulator::U220Emulator second(0x10, kPacking);
        AuditionSource source;
        source.type = c.type;
        source.name = c.what;
        const MemoryImage before = rig.Module([](emulator::U220Emulator& e) { return Memory(e); });
        if (c.type == SoundType::Timbre || c.type == SoundType::Rhythm) {
            const bool rhythm = c.type == SoundType::Rhythm;
            const MemoryKind kind = rhythm ? MemoryKind::Rhythm : MemoryKind::Timbre;
            const Param number = rhythm ? Param::PatchRhythmRhythmSetup : Param::PatchPartTimbreNumber;
            source.patch = bank.read(MemoryAddress(kind, 2), AreaOf(kind).recordSize);
            const uint8_t used = second.peek(ParamAddress(number, rhythm ? 0 : c.part));
            second.load(MemoryAddress(kind, used + 1), source.patch);
            second.receive(BuildDT1(0x10, ParamAddress(number, rhythm ? 0 : c.part), {used}));
        } else {
            const std::vector<Sound> sounds = SoundsIn(bankWorking);
            ASSERT_EQ(sounds.size(), 1u);
            source.patch = sounds[0].bytes;
            second = Bank();
            second.receive({0xC0, 5});
        }
        ASSERT_NE(WorkingArea(second), rig.Module([](emulator::U220Emulator& e) { return WorkingArea(e); }));

        Audition audition(*rig.model, rig.host, rig.journal.get());
        AuditionReport r;
        std::string name = c.what;
        std::optional<SoundLibrary> lib;
        if (c.via == Via::Library) {
            lib.emplace((rig.dir / "library.sqlite").string());
            lib->ImportBytes("bank.syx", bankFile);
            const Bytes patch6 = bank.read(MemoryAddress(MemoryKind::Patch, 6), AreaOf(MemoryKind::Patch).recordSize);
            int64_t id = 0;
            for (const ItemRow& row : lib->List(Query{.type = SoundType::Patch}))
                if (lib->Details(row.id)->bytes == patch6) id = row.id;
            ASSERT_NE(id, 0);
            name = lib->Details(id)->row.name;
            r = AuditionItem(*lib, audition, id, {});
            ASSERT_TRUE(r.ok()) << r.text;
            const std::optional<Reading> kept = LoadReading(*lib, id);
            ASSERT_TRUE(kept.has_value());
            EXPECT_TRUE(kept->working == r.reading.working);
            EXPECT_EQ(kept->timbres, r.reading.timbres);
            EXPECT_EQ(kept->rhythmSetup, r.reading.rhythmSetup);
            EXPECT_TRUE(rig.journal->Load().originals.holds(MemoryAddress(MemoryKind::Patch, 1)));
        } else {
            r = audition.Play(source, AuditionOptions{.scratch = 0, .part = c.part});
        }
        EXPECT_TRUE(r.ok()) << r.text;
        EXPECT_EQ(r.text, "Auditioning " + name + " \xE2\x80\x94 not stored");
        const JournalState js = rig.journal->Load();
        EXPECT_EQ(js.exists, c.via != Via::Working);
        EXPECT_FALSE(js.open);
        rig.Module([&](emulator::U220Emulator& e) {
            EXPECT_TRUE(Memory(e) == before) << "a memory byte changed";
            EXPECT_EQ(WorkingArea(e), WorkingArea(second));
            ExpectReadingOf(r.reading, e);
            EXPECT_EQ(e.stats().lostToGap, 0u);
            return 0;
        });
    }
}
