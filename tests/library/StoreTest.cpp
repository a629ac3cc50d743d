// Storing a library patch into the module with its timbres, on the realistic
// virtual module in another record packing: the module index against a second
// module's own working patch, the plan's affected patches, the store, `alone`,
// put back, and a store the module stops answering in the middle of.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "device/ParamTable.h"
#include "device/clsU220.h"
#include "emulator/FactoryContent.h"
#include "emulator/MemoryLayout.h"
#include "emulator/VirtualU220.h"
#include "library/ModuleStore.h"
#include "library/SoundLibrary.h"
#include "library/SysexFile.h"

using namespace quorvane;
using namespace quorvane::library;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kPacking = 7;  // not the default packing: nothing may decode a record
constexpr int kBankPatch = 6;     // the bank's patch that is stored
constexpr int kSlot = 12;         // where it goes

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

Bytes Record(const emulator::U220Emulator& e, MemoryKind kind, int n) {
    return e.read(MemoryAddress(kind, n), AreaOf(kind).recordSize);
}

// The memories (kind, number) whose bytes differ between two modules.
std::set<std::pair<MemoryKind, int>> Differing(const emulator::U220Emulator& a, const emulator::U220Emulator& b) {
    std::set<std::pair<MemoryKind, int>> out;
    for (const MemoryArea& area : MemoryAreas())
        for (int n = 1; n <= area.count; ++n)
            if (Record(a, area.kind, n) != Record(b, area.kind, n)) out.insert({area.kind, n});
    return out;
}

void PutRecord(emulator::U220Emulator& e, Address base, const Bytes& record) {
    Bytes nibbles;
    for (uint8_t b : record) {
        nibbles.push_back(b & 0x0F);
        nibbles.push_back(b >> 4);
    }
    e.load(base, nibbles);
}

// The part timbre numbers and rhythm setup a module's patch names, as that
// module's own working patch shows them after a program change to it.
std::pair<std::array<int, 6>, int> Names(emulator::U220Emulator& e, int patch) {
    e.receive({static_cast<uint8_t>(0xC0 + e.rxChannel()), static_cast<uint8_t>(patch - 1)});
    std::array<int, 6> t{};
    for (int part = 1; part <= 6; ++part) t[part - 1] = e.peek(ParamAddress(Param::PatchPartTimbreNumber, part)) + 1;
    const int setup = e.peek(ParamAddress(Param::PatchRhythmRhythmSetup));
    return {t, setup < 4 ? setup + 1 : 0};
}

// A bank unlike the module: its patch 6 names other timbres (part 1's timbre
// keeps the module's bytes, the others are other sounds) and rhythm setup 3 (another sound).
emulator::U220Emulator Bank() {
    using namespace emulator;
    U220Emulator bank(0x10, kPacking);
    const RecordPacking packing(kPacking);
    Bytes own = FactoryPatchImage(kBankPatch);
    for (int part = 0; part < 6; ++part) {
        const int at = kPatchImagePart1 + 13 * part + Info(Param::PatchPartTimbreNumber).offset;
        own[at] = static_cast<uint8_t>((own[at] + 37 * (part + 1)) % 128);
    }
    own[kPatchImageRhythm + Info(Param::PatchRhythmRhythmSetup).offset] = 2;
    PutRecord(bank, PatchMemoryAddress(kBankPatch), packing.pack(Record::Patch, own));
    const int keep = Names(bank, kBankPatch).first[0];
    for (int n = 1; n <= 128; ++n)
        if (n != keep)
            PutRecord(bank, TimbreMemoryAddress(n), packing.pack(Record::Timbre, FactoryTimbreImage((n + 40) % 128 + 1)));
    for (int n = 1; n <= 4; ++n)
        PutRecord(bank, RhythmMemoryAddress(n), packing.pack(Record::Rhythm, FactoryRhythmImage(n % 4 + 1)));
    return bank;
}

// The realistic virtual module in the second packing, the model on it, a
// journal and a library holding the bank (imported from a .syx file).
struct Rig {
    SimpleHost host;
    std::shared_ptr<midi::VirtualU220> vm = std::make_shared<midi::VirtualU220>();
    std::unique_ptr<clsU220> model;
    fs::path dir;
    std::unique_ptr<Journal> journal;
    std::unique_ptr<SoundLibrary> lib;
    emulator::U220Emulator bank = Bank();
    int64_t item = 0;

    explicit Rig(const std::string& name) {
        vm->withEmulator([](emulator::U220Emulator& e) { e.setPackingSeed(kPacking); });
        vm->setRealistic(40, 20);
        auto post = [this](std::function<void()> f) { host.post(std::move(f)); };
        model = std::make_unique<clsU220>(host, vm->makeOutput(), vm->makeInput(post));
        EXPECT_TRUE(model->MIDIOutput1->open(-1));
        EXPECT_TRUE(model->MIDIInput1->open(0));
        model->MIDIOutput1->setSendGapMs(20);
        model->RequestTimeout = 1000ms;
        dir = fs::temp_directory_path() / ("quorvane-store-" + name + "-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        journal = std::make_unique<Journal>((dir / "journal").string());
        lib = std::make_unique<SoundLibrary>((dir / "library.sqlite").string());
        MemoryImage image;
        for (const MemoryArea& a : MemoryAreas())
            image.put(MemoryAddress(a.kind, 1), bank.read(MemoryAddress(a.kind, 1), a.size()));
        const std::string syx = (dir / "bank.syx").string();
        std::string error;
        EXPECT_TRUE(SaveBackup(syx, image, 0x10, error)) << error;
        lib->Import({syx});
        const Bytes wanted = Record(bank, MemoryKind::Patch, kBankPatch);
        Query q;
        q.type = SoundType::Patch;
        for (const ItemRow& row : lib->List(q))
            if (lib->Details(row.id)->bytes == wanted) item = row.id;
        EXPECT_NE(item, 0);
    }
    ~Rig() {
        model->MIDIOutput1->flush();
        fs::remove_all(dir);
    }
    template <class F>
    auto Module(F&& f) {
        return vm->withEmulator(std::forward<F>(f));
    }
    // A copy of the module's memory in a module of its own.
    emulator::U220Emulator Copy() {
        emulator::U220Emulator c(0x10, kPacking);
        Module([&](emulator::U220Emulator& e) {
            for (const MemoryArea& a : MemoryAreas())
                c.load(MemoryAddress(a.kind, 1), e.read(MemoryAddress(a.kind, 1), a.size()));
            return 0;
        });
        return c;
    }
    void IndexFromTheModule() {
        const IndexReport r = ReadModuleIndex(*model, host, *lib);
        ASSERT_EQ(r.outcome, Outcome::Done) << r.text;
        ASSERT_EQ(r.index.patches.size(), 64u);
    }
};

}  // namespace

// The index names, for every patch memory, what the module's own working patch
// shows after a program change to it (a module with some patches of the bank
// too); the module plays the patch it played before; a cancel keeps what was
// read.
TEST(ModuleStore, TheIndexNamesWhatEachPatchUses) {
    struct Case {
        int current;    // the patch the module plays before
        bool fromHere;  // this model switched to it (else the module did, and its name tells)
        int cancelAt;   // progress returns false at this many patches (0: never)
    } cases[] = {{9, false, 0}, {3, true, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.current);
        Rig rig("index");
        rig.Module([&](emulator::U220Emulator& e) {
            for (int n : {2, 40}) e.load(MemoryAddress(MemoryKind::Patch, n), Record(rig.bank, MemoryKind::Patch, kBankPatch));
            return 0;
        });
        if (c.fromHere) ASSERT_EQ(rig.model->PatchChange(static_cast<int16_t>(c.current)), PatchChangeResult::Done);
        else rig.Module([&](emulator::U220Emulator& e) { return e.receive({static_cast<uint8_t>(0xC0 + e.rxChannel()), static_cast<uint8_t>(c.current - 1)}); });
        std::vector<int> told;
        const IndexReport r = ReadModuleIndex(*rig.model, rig.host, *rig.lib, [&](int done, int total) {
            EXPECT_EQ(total, 64);
            told.push_back(done);
            return done != c.cancelAt || c.cancelAt == 0;
        });
        const size_t read = c.cancelAt ? static_cast<size_t>(c.cancelAt) : 64u;
        EXPECT_EQ(r.outcome, c.cancelAt ? Outcome::Cancelled : Outcome::Done) << r.text;
        ASSERT_EQ(r.index.patches.size(), read);
        EXPECT_EQ(told.back(), static_cast<int>(read));
        EXPECT_EQ(LoadModuleIndex(*rig.lib, rig.model->DeviceID()).patches.size(), read);
        EXPECT_EQ(rig.Module([](emulator::U220Emulator& e) { return e.currentPatch(); }), c.current);

        emulator::U220Emulator second = rig.Copy();
        for (const ModulePatch& p : r.index.patches) {
            SCOPED_TRACE(p.number);
            const auto [timbres, setup] = Names(second, p.number);
            EXPECT_EQ(p.timbres, timbres);
            EXPECT_EQ(p.rhythmSetup, setup);
            EXPECT_EQ(p.hash, BytesHash(Record(second, MemoryKind::Patch, p.number)));
            EXPECT_EQ(p.name, SoundName(Record(second, MemoryKind::Patch, p.number)));
        }
        if (!c.cancelAt) {
            std::set<int> users;
            for (int n = 1; n <= 64; ++n)
                for (int t : Names(second, n).first)
                    if (t == Names(second, 2).first[1]) users.insert(n);
            const std::vector<int> using2 = r.index.UsingTimbre(Names(second, 2).first[1]);
            EXPECT_EQ(std::set<int>(using2.begin(), using2.end()), users);
            EXPECT_TRUE(users.count(40));
        }
    }
}

// With shared timbres the plan names exactly the other module patches that use
// each number (from a second module's own working patches), the identical one
// as identical; the store writes exactly the patch and the needs that differ,
// snapshots them, and the module then plays the bank's sound. `alone` writes
// only the patch. Put back brings every memory byte back and the index entry.
TEST(ModuleStore, PlanStoreAndPutBack) {
    for (bool alone : {false, true}) {
        SCOPED_TRACE(alone);
        Rig rig(alone ? "alone" : "store");
        rig.IndexFromTheModule();
        const ModulePatch oldEntry = *LoadModuleIndex(*rig.lib, rig.model->DeviceID()).Patch(kSlot);
        emulator::U220Emulator before = rig.Copy();
        const auto [timbres, setup] = Names(rig.bank, kBankPatch);

        // No reading yet: the plan auditions the patch (the memory as before).
        ASSERT_FALSE(LoadReading(*rig.lib, rig.item));
        const StorePlan plan = PlanStore(*rig.model, rig.host, *rig.lib, rig.journal.get(), rig.item, kSlot);
        ASSERT_EQ(plan.outcome, Outcome::Done) << plan.text;
        {
            emulator::U220Emulator now = rig.Copy();
            EXPECT_TRUE(Differing(now, before).empty());
        }
        // The reading keeps the working area as the bank plays the patch.
        const std::optional<Reading> kept = LoadReading(*rig.lib, rig.item);
        ASSERT_TRUE(kept);
        rig.bank.receive({static_cast<uint8_t>(0xC0 + rig.bank.rxChannel()), kBankPatch - 1});
        EXPECT_GT(kept->working.size(), 6u * BlockSize(Block::Timbre));
        for (const Range& r : kept->working.runs()) {
            Bytes b;
            kept->working.get(r, b);
            EXPECT_EQ(b, rig.bank.read(r.address, r.size));
        }
        EXPECT_EQ(plan.timbres, timbres);
        EXPECT_EQ(plan.rhythmSetup, setup);
        EXPECT_TRUE(plan.indexKnown);
        EXPECT_EQ(plan.replacedName, SoundName(Record(before, MemoryKind::Patch, kSlot)));

        std::vector<std::pair<MemoryKind, int>> wanted;
        for (int t : timbres)
            if (std::find(wanted.begin(), wanted.end(), std::pair{MemoryKind::Timbre, t}) == wanted.end())
                wanted.push_back({MemoryKind::Timbre, t});
        wanted.push_back({MemoryKind::Rhythm, setup});
        ASSERT_EQ(plan.needs.size(), wanted.size());
        int shared = 0;
        for (size_t i = 0; i < wanted.size(); ++i) {
            const PlanNeed& need = plan.needs[i];
            SCOPED_TRACE(need.text);
            EXPECT_EQ(std::pair(need.kind, need.number), wanted[i]);
            EXPECT_TRUE(need.inBank);
            EXPECT_EQ(need.identical, Record(rig.bank, need.kind, need.number) == Record(before, need.kind, need.number));
            EXPECT_EQ(need.identical, i == 0);  // the bank keeps part 1's timbre as the module has it
            std::vector<int> users;
            for (int n = 1; n <= 64; ++n) {
                if (n == kSlot) continue;
                const auto [t, s] = Names(before, n);
                if (need.kind == MemoryKind::Timbre ? std::find(t.begin(), t.end(), need.number) != t.end()
                                                    : s == need.number)
                    users.push_back(n);
            }
            EXPECT_EQ(need.affectedPatches, users);
            shared += users.empty() ? 0 : 1;
            const std::string label = (need.kind == MemoryKind::Timbre ? "T-" : "R-") + std::to_string(need.number);
            if (need.identical) EXPECT_EQ(need.text, "already in the module at " + label + " (identical)");
            else if (users.size() > 1) EXPECT_NE(need.text.find("goes to " + label + " (now"), std::string::npos);
            if (users.size() > 1 && !need.identical)
                EXPECT_NE(need.text.find("which module patches P-" + std::to_string(users[0])), std::string::npos);
        }
        EXPECT_GT(shared, 1) << "the case needs shared timbres";
        EXPECT_NE(plan.text.find("cannot be changed"), std::string::npos);
        EXPECT_NE(plan.text.find("Write button"), std::string::npos);
        EXPECT_NE(plan.text.find("store the patch alone"), std::string::npos);

        const StoreReport s = Store(*rig.model, rig.host, *rig.lib, rig.journal.get(), plan, alone);
        rig.model->MIDIOutput1->flush();
        ASSERT_TRUE(s.ok()) << s.text;
        EXPECT_FALSE(rig.journal->Pending());
        std::set<std::pair<MemoryKind, int>> written{{MemoryKind::Patch, kSlot}};
        if (!alone)
            for (size_t i = 1; i < wanted.size(); ++i) written.insert(wanted[i]);
        emulator::U220Emulator after = rig.Copy();
        EXPECT_EQ(Differing(after, before), written);
        const std::optional<Snapshot> snap = LoadSnapshot(*rig.lib, s.snapshotId);
        ASSERT_TRUE(snap);
        MemoryImage expectedSnap;
        for (const auto& [kind, n] : written) expectedSnap.put(MemoryAddress(kind, n), Record(before, kind, n));
        EXPECT_TRUE(snap->image == expectedSnap);
        const ModuleIndex index = LoadModuleIndex(*rig.lib, rig.model->DeviceID());
        const ModulePatch* entry = index.Patch(kSlot);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->timbres, timbres);
        EXPECT_EQ(entry->hash, BytesHash(Record(rig.bank, MemoryKind::Patch, kBankPatch)));
        if (!alone) {
            after.receive({static_cast<uint8_t>(0xC0 + after.rxChannel()), kSlot - 1});
            EXPECT_EQ(WorkingArea(after), WorkingArea(rig.bank)) << "the module does not play the bank's sound";
        }

        // A second plan after the store: the timbres are there now.
        const StorePlan again = PlanStore(*rig.model, rig.host, *rig.lib, rig.journal.get(), rig.item, kSlot);
        for (const PlanNeed& n : again.needs)
            EXPECT_EQ(n.identical, !alone || (n.kind == MemoryKind::Timbre && n.number == wanted[0].second)) << n.text;

        const TransferReport back = PutBackSnapshot(*rig.model, rig.host, *rig.lib, rig.journal.get(), s.snapshotId);
        rig.model->MIDIOutput1->flush();
        EXPECT_TRUE(back.ok()) << back.text;
        EXPECT_TRUE(Differing(rig.Copy(), before).empty()) << "a memory byte was not put back";
        EXPECT_FALSE(LoadSnapshot(*rig.lib, s.snapshotId)->putBack.empty());
        const ModuleIndex restoredIndex = LoadModuleIndex(*rig.lib, rig.model->DeviceID());
        const ModulePatch* restored = restoredIndex.Patch(kSlot);
        ASSERT_TRUE(restored);
        EXPECT_EQ(restored->timbres, oldEntry.timbres);
        EXPECT_EQ(restored->rhythmSetup, oldEntry.rhythmSetup);
        EXPECT_EQ(restored->hash, oldEntry.hash);
        // Once only.
        EXPECT_EQ(PutBackSnapshot(*rig.model, rig.host, *rig.lib, rig.journal.get(), s.snapshotId).outcome, Outcome::Failed);
    }
}

// Plans that tell of what they cannot know or do: no index, a stale index, a
// slot out of range, a module changed between plan and store.
TEST(ModuleStore, PlansWithoutIndexOrOnAChangedModule) {
    Rig rig("plans");
    // A reading, so no audition is needed.
    Reading reading;
    reading.itemId = rig.item;
    std::tie(reading.timbres, reading.rhythmSetup) = Names(rig.bank, kBankPatch);
    SaveReading(*rig.lib, reading);

    StorePlan plan = PlanStore(*rig.model, rig.host, *rig.lib, rig.journal.get(), rig.item, kSlot);
    ASSERT_EQ(plan.outcome, Outcome::Done) << plan.text;
    EXPECT_FALSE(plan.indexKnown);
    EXPECT_NE(plan.text.find("The module index has not been read"), std::string::npos) << plan.text;

    // An index with two entries that no longer hold: P-3 changed since.
    std::vector<ModulePatch> entries;
    emulator::U220Emulator second = rig.Copy();
    for (int n = 1; n <= 64; ++n) {
        ModulePatch p;
        p.number = n;
        std::tie(p.timbres, p.rhythmSetup) = Names(second, n);
        p.hash = BytesHash(Record(second, MemoryKind::Patch, n));
        entries.push_back(p);
    }
    SaveModulePatches(*rig.lib, rig.model->DeviceID(), entries);
    rig.Module([&](emulator::U220Emulator& e) {
        e.load(MemoryAddress(MemoryKind::Patch, 3), Record(rig.bank, MemoryKind::Patch, kBankPatch));
        return 0;
    });
    plan = PlanStore(*rig.model, rig.host, *rig.lib, rig.journal.get(), rig.item, kSlot);
    EXPECT_FALSE(plan.indexKnown);
    EXPECT_NE(plan.text.find("does not tell what P-3 uses"), std::string::npos) << plan.text;

    EXPECT_EQ(PlanStore(*rig.model, rig.host, *rig.lib, rig.journal.get(), rig.item, 65).outcome, Outcome::Failed);

    // The slot changes after the plan: nothing is written.
    rig.Module([&](emulator::U220Emulator& e) {
        e.load(MemoryAddress(MemoryKind::Patch, kSlot), Record(rig.bank, MemoryKind::Patch, 1));
        return 0;
    });
    emulator::U220Emulator before = rig.Copy();
    const StoreReport s = Store(*rig.model, rig.host, *rig.lib, rig.journal.get(), plan, false);
    EXPECT_EQ(s.outcome, Outcome::Failed);
    EXPECT_NE(s.text.find("changed since the plan"), std::string::npos) << s.text;
    EXPECT_TRUE(Differing(rig.Copy(), before).empty());
    EXPECT_TRUE(Snapshots(*rig.lib).empty());
}

// The module stops answering from a share of a store's messages on: the store
// ends with the journal open, its slot forgotten in the index, and the journal
// puts every memory back byte for byte once the module answers again.
TEST(ModuleStore, AStoppedStoreLeavesTheJournalToRecover) {
    int total = 0;  // messages a whole store sends from its first data set on
    for (double share : {0.0, 0.1, 0.5, 0.95}) {
        SCOPED_TRACE(share);
        Rig rig("stop");
        Reading reading;
        reading.itemId = rig.item;
        std::tie(reading.timbres, reading.rhythmSetup) = Names(rig.bank, kBankPatch);
        SaveReading(*rig.lib, reading);
        ModulePatch slotEntry;
        slotEntry.number = kSlot;
        SaveModulePatches(*rig.lib, rig.model->DeviceID(), {slotEntry});
        const StorePlan plan = PlanStore(*rig.model, rig.host, *rig.lib, rig.journal.get(), rig.item, kSlot);
        ASSERT_EQ(plan.outcome, Outcome::Done) << plan.text;
        emulator::U220Emulator before = rig.Copy();

        // Silent from a message of the writing on: what is sent is still taken in.
        int sent = 0;
        const int stopAt = std::max(1, static_cast<int>(share * total));
        rig.model->OnMessage = [&](const MonitorEvent& m) {
            if (m.kind != MonitorEvent::Kind::Sent) return;
            if (!sent && !(m.message.size() > 4 && m.message[4] == sysex::kDT1)) return;
            if (++sent == stopAt && share > 0)
                rig.vm->withEmulator([](emulator::U220Emulator& e) { e.setSilent(true); });
        };
        const StoreReport s = Store(*rig.model, rig.host, *rig.lib, rig.journal.get(), plan, false);
        rig.model->MIDIOutput1->flush();
        rig.model->OnMessage = nullptr;
        if (share == 0.0) {
            ASSERT_TRUE(s.ok()) << s.text;
            total = sent;
            ASSERT_GT(total, 10);
            continue;
        }
        EXPECT_FALSE(s.ok());
        EXPECT_TRUE(s.journalOpen) << s.text;
        EXPECT_TRUE(rig.journal->Pending());
        EXPECT_FALSE(LoadModuleIndex(*rig.lib, rig.model->DeviceID()).Patch(kSlot));
        // Nothing else is stored while the journal waits.
        EXPECT_EQ(Store(*rig.model, rig.host, *rig.lib, rig.journal.get(), plan, false).outcome, Outcome::Failed);

        rig.Module([](emulator::U220Emulator& e) { e.setSilent(false); return 0; });
        Transfer transfer(*rig.model, rig.host);
        transfer.journal = rig.journal.get();
        const TransferReport back = rig.journal->Recover(transfer);
        rig.model->MIDIOutput1->flush();
        EXPECT_TRUE(back.ok()) << back.text;
        EXPECT_TRUE(Differing(rig.Copy(), before).empty()) << "a memory byte was not put back";
    }
}
