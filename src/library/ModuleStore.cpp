#include "library/ModuleStore.h"

#include <algorithm>

#include "device/ParamTable.h"
#include "library/Audition.h"
#include "library/SoundLibrary.h"

namespace quorvane::library {

namespace {

constexpr int kPatches = 64;

// Pieces of at most 128 addresses, as the module answers them.
std::vector<Range> Pieces(const std::vector<Range>& ranges) {
    std::vector<Range> out;
    for (const Range& r : ranges)
        for (const Range& piece : Split(r)) out.push_back(piece);
    return out;
}

Outcome ReadMemories(clsU220& model, Host& host, const std::vector<Range>& ranges, MemoryImage& out,
                     const std::function<bool(const Progress&)>& progress = {}) {
    Transfer t(model, host);
    t.onProgress = progress;
    return t.Read(Pieces(ranges), out);
}

Bytes Held(const MemoryImage& image, Range r) {
    Bytes b;
    image.get(r, b);
    return b;
}

std::string Label(MemoryKind kind, int number) {
    const char* letter = kind == MemoryKind::Patch ? "P-" : kind == MemoryKind::Timbre ? "T-" : "R-";
    return letter + std::to_string(number);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// "P-3", "P-3 and P-9", "P-3, P-5 and P-9".
std::string PatchList(const std::vector<int>& numbers) {
    std::string s;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i) s += i + 1 == numbers.size() ? " and " : ", ";
        s += Label(MemoryKind::Patch, numbers[i]);
    }
    return s;
}

// The working area's blocks an audition leaves to be decoded: the patch, its
// six parts, the six part timbres and the rhythm setup's common block.
std::vector<Range> WorkingBlocks() {
    std::vector<Range> r{{BlockAddress(Block::PatchCommon), BlockSize(Block::PatchCommon)},
                         {BlockAddress(Block::PatchRhythm), BlockSize(Block::PatchRhythm)}};
    for (int part = 1; part <= kParts; ++part) r.push_back({BlockAddress(Block::PatchPart, part), BlockSize(Block::PatchPart)});
    for (int part = 1; part <= kParts; ++part) r.push_back({BlockAddress(Block::Timbre, part), BlockSize(Block::Timbre)});
    r.push_back({BlockAddress(Block::RhythmCommon), BlockSize(Block::RhythmCommon)});
    return r;
}

// The numbers a patch names, from the working area after a program change to it.
// False when the module did not switch to it or did not answer.
bool ReadNumbers(clsU220& model, int number, ModulePatch& entry, Outcome& outcome, std::string& why) {
    model.ForgetPatchSent();
    const PatchChangeResult change = model.PatchChange(static_cast<int16_t>(number));
    if (change != PatchChangeResult::Done) {
        outcome = change == PatchChangeResult::NoAnswer ? Outcome::NoAnswer : Outcome::Failed;
        why = model.LastError();
        return false;
    }
    for (int part = 1; part <= kParts; ++part)
        entry.timbres[part - 1] = model.get(Param::PatchPartTimbreNumber, part) + 1;
    const int setup = model.get(Param::PatchRhythmRhythmSetup);
    entry.rhythmSetup = setup >= 0 && setup < 4 ? setup + 1 : 0;
    if (!model.PatchDataLoaded()) {
        outcome = Outcome::NoAnswer;
        why = "The U-220 did not answer with the working patch of patch " + std::to_string(number) + ".";
        return false;
    }
    return true;
}

// Which patch the module plays now: the last program change sent, else the one
// memory whose name the working patch carries (0 when that does not tell).
// Names the model does not know are read when `readNames`, else not compared.
int CurrentPatch(clsU220& model, bool readNames) {
    if (const int sent = model.LastPatchSent()) return sent;
    const std::string working = model.PatchCommonPatchName();
    if (!model.PatchDataLoaded()) return 0;
    int found = 0;
    for (int n = 1; n <= kPatches; ++n) {
        if (!readNames && !model.MemoryPatchNameLoaded(n)) continue;
        if (model.MemoryPatchName(static_cast<int16_t>(n)) != working) continue;
        if (found) return 0;  // two memories of that name: cannot tell
        found = n;
    }
    return found;
}

}  // namespace

IndexReport ReadModuleIndex(clsU220& model, Host& host, SoundLibrary& lib,
                            const std::function<bool(int done, int total)>& progress) {
    IndexReport report;
    const int device = model.DeviceID();
    auto tell = [&](int done) { return !progress || progress(done, kPatches); };
    if (!tell(0)) {
        report.outcome = Outcome::Cancelled;
        report.text = "Reading the module index cancelled; nothing was read.";
        report.index = LoadModuleIndex(lib, device);
        return report;
    }

    // The records themselves in one go: names and hashes, and the names the
    // patch changes check against without asking for them again.
    std::vector<Range> ranges;
    for (int n = 1; n <= kPatches; ++n) ranges.push_back(MemoryRange(MemoryKind::Patch, n));
    MemoryImage records;
    const Outcome read = ReadMemories(model, host, ranges, records, [&](const Progress&) { return tell(0); });
    if (read != Outcome::Done) {
        report.outcome = read;
        report.text = read == Outcome::Cancelled ? "Reading the module index cancelled; nothing was read."
                                                 : "The U-220 did not answer; the module index was not read.";
        report.index = LoadModuleIndex(lib, device);
        return report;
    }
    std::vector<std::string> names;
    std::vector<Bytes> bytes;
    for (const Range& r : ranges) {
        bytes.push_back(Held(records, r));
        names.push_back(SoundName(bytes.back()));
        model.LearnMemoryNames(r.address, bytes.back());
    }
    const int current = CurrentPatch(model, true);  // every name is known by now

    std::vector<ModulePatch> patches;
    std::string why;
    for (int n = 1; n <= kPatches; ++n) {
        ModulePatch entry;
        entry.number = n;
        entry.name = names[n - 1];
        entry.hash = BytesHash(bytes[n - 1]);
        Outcome o = Outcome::Done;
        if (!ReadNumbers(model, n, entry, o, why)) {
            report.outcome = o;
            break;
        }
        patches.push_back(entry);
        if (!tell(n)) {
            if (n < kPatches) report.outcome = Outcome::Cancelled;
            break;
        }
    }
    // Back to the patch that played before (a failed switch is only told).
    std::string back;
    if (current && report.outcome != Outcome::NoAnswer) {
        model.ForgetPatchSent();
        if (model.PatchChange(static_cast<int16_t>(current)) != PatchChangeResult::Done)
            back = " The U-220 did not switch back to patch " + std::to_string(current) + ".";
    }
    if (!patches.empty()) SaveModulePatches(lib, device, patches);
    report.index = LoadModuleIndex(lib, device);

    const std::string count = std::to_string(patches.size()) + " of " + std::to_string(kPatches) + " patches";
    switch (report.outcome) {
        case Outcome::Done: report.text = "Read the module index: " + count + "."; break;
        case Outcome::Cancelled: report.text = "Reading the module index cancelled after " + count + " (kept)."; break;
        case Outcome::NoAnswer:
            report.text = "The U-220 stopped answering after " + count + " of the module index (kept).";
            break;
        case Outcome::Failed:
            report.text = "The module index stopped after " + count + " (kept): " + why;
            break;
    }
    report.text += back;
    return report;
}

StorePlan PlanStore(clsU220& model, Host& host, SoundLibrary& lib, Journal* journal, int64_t itemId, int slot) {
    StorePlan plan;
    plan.itemId = itemId;
    plan.slot = slot;
    auto fail = [&](Outcome o, const std::string& text) {
        plan.outcome = o;
        plan.text = text;
        return plan;
    };
    const AuditionSource source = AuditionSourceOf(lib, itemId);
    plan.itemName = source.name;
    const Range place = MemoryRange(MemoryKind::Patch, slot);
    if (source.type != SoundType::Patch) return fail(Outcome::Failed, "Only a patch is stored with its timbres; " + Quoted(source.name) + " is not a patch.");
    if (place.size == 0) return fail(Outcome::Failed, "There is no patch memory " + std::to_string(slot) + ".");
    if (static_cast<int>(source.patch.size()) != place.size)
        return fail(Outcome::Failed, "The library patch does not have the size of a patch memory.");
    if (journal && journal->Pending()) return fail(Outcome::Failed, journal->PendingJournal() + " Put it back before storing.");

    // The numbers the patch names: from its reading, else from an audition.
    std::optional<Reading> reading = LoadReading(lib, itemId);
    if (!reading) {
        Audition audition(model, host, journal);
        const AuditionReport a = audition.Play(source, slot);
        if (!a.ok()) return fail(a.outcome == Outcome::Done ? Outcome::Failed : a.outcome, a.text);
        reading = LoadReading(lib, itemId);  // an audition may keep its own reading
        if (!reading) {
            Reading r;
            r.itemId = itemId;
            r.timbres = a.timbres;
            r.rhythmSetup = a.rhythmSetup;
            // The working area plays the item now: kept with the numbers, for
            // views without the module.
            const Outcome o = ReadMemories(model, host, WorkingBlocks(), r.working);
            if (o != Outcome::Done) return fail(o, "The U-220 did not answer with its working area; nothing was planned.");
            SaveReading(lib, r);
            reading = r;
        }
    }
    plan.timbres = reading->timbres;
    plan.rhythmSetup = reading->rhythmSetup;

    // The needs: timbres in part order without repeats, then the rhythm setup.
    for (int t : reading->timbres) {
        if (t < 1 || t > 128) continue;
        bool seen = false;
        for (const PlanNeed& n : plan.needs) seen = seen || n.number == t;
        if (seen) continue;
        PlanNeed need;
        need.kind = MemoryKind::Timbre;
        need.number = t;
        plan.needs.push_back(need);
    }
    if (reading->rhythmSetup >= 1 && reading->rhythmSetup <= 4) {
        PlanNeed need;
        need.kind = MemoryKind::Rhythm;
        need.number = reading->rhythmSetup;
        plan.needs.push_back(need);
    }

    // What the module holds: every patch memory (its name, and whether the index
    // still tells what each uses) and the memories the needs go to.
    std::vector<Range> ranges;
    for (int n = 1; n <= kPatches; ++n) ranges.push_back(MemoryRange(MemoryKind::Patch, n));
    for (const PlanNeed& n : plan.needs) ranges.push_back(MemoryRange(n.kind, n.number));
    MemoryImage module;
    const Outcome read = ReadMemories(model, host, ranges, module);
    if (read != Outcome::Done)
        return fail(read, read == Outcome::Cancelled ? "Cancelled." : "The U-220 did not answer; nothing was planned.");
    const Bytes replaced = Held(module, place);
    plan.replacedName = SoundName(replaced);
    plan.replacedHash = BytesHash(replaced);

    const ModuleIndex index = LoadModuleIndex(lib, model.DeviceID());
    std::vector<int> missing, stale;
    for (int n = 1; n <= kPatches; ++n) {
        if (n == slot) continue;
        const ModulePatch* p = index.Patch(n);
        if (!p) missing.push_back(n);
        else if (p->hash != BytesHash(Held(module, MemoryRange(MemoryKind::Patch, n)))) stale.push_back(n);
    }
    plan.indexKnown = missing.empty() && stale.empty();

    for (PlanNeed& need : plan.needs) {
        const auto& bank = need.kind == MemoryKind::Timbre ? source.timbres : source.rhythms;
        const Range r = MemoryRange(need.kind, need.number);
        const Bytes own = Held(module, r);
        need.replacedName = SoundName(own);
        need.moduleHash = BytesHash(own);
        const auto it = bank.find(need.number);
        need.inBank = it != bank.end() && static_cast<int>(it->second.size()) == r.size;
        need.name = need.inBank ? SoundName(it->second) : need.replacedName;
        need.identical = need.inBank && it->second == own;
        std::vector<int> users = need.kind == MemoryKind::Timbre ? index.UsingTimbre(need.number)
                                                                  : index.UsingRhythmSetup(need.number);
        for (int u : users)
            if (u != slot) need.affectedPatches.push_back(u);
        const std::string label = Label(need.kind, need.number);
        if (!need.inBank) {
            need.text = label + " is not in the patch's bank: the patch plays the module's own " + label + " " +
                        Quoted(need.replacedName) + ".";
        } else if (need.identical) {
            need.text = "already in the module at " + label + " (identical)";
        } else {
            need.text = Quoted(need.name) + " goes to " + label + " (now " + Quoted(need.replacedName) + ")";
            if (need.affectedPatches.size() == 1)
                need.text += ", which module patch " + PatchList(need.affectedPatches) + " also uses: it would change";
            else if (!need.affectedPatches.empty())
                need.text += ", which module patches " + PatchList(need.affectedPatches) + " also use: they would change";
            else if (plan.indexKnown)
                need.text += ", which no other module patch uses";
            if (!plan.indexKnown) need.text += need.affectedPatches.empty() ? "; other users are not known" : " (and perhaps others)";
        }
    }

    std::string text = "Store " + Quoted(source.name) + " into " + Label(MemoryKind::Patch, slot) + ", replacing " +
                       Quoted(plan.replacedName) + ".\n";
    for (const PlanNeed& n : plan.needs) text += "  " + n.text + "\n";
    if (!missing.empty() && missing.size() + (slot >= 1 ? 1 : 0) >= static_cast<size_t>(kPatches))
        text += "The module index has not been read: which module patches use these timbres is not known (read the module index first).\n";
    else if (!plan.indexKnown) {
        std::vector<int> unknown = missing;
        unknown.insert(unknown.end(), stale.begin(), stale.end());
        std::sort(unknown.begin(), unknown.end());
        text += "The module index does not tell what " + PatchList(unknown) +
                (unknown.size() == 1 ? " uses (changed or not read since): " : " use (changed or not read since): ") +
                "read the module index again.\n";
    }
    text +=
        "The timbre numbers inside a patch record cannot be changed: the timbres go to the numbers the patch names. "
        "To place them elsewhere, audition the patch, change the part timbres in the patch editor and store it with "
        "the module's own Write button.\n";
    text += "Or store the patch alone: only " + Label(MemoryKind::Patch, slot) +
            " is written, and it plays the module's own timbres at those numbers.";
    plan.text = text;
    return plan;
}

StoreReport Store(clsU220& model, Host& host, SoundLibrary& lib, Journal* journal, const StorePlan& plan, bool alone) {
    StoreReport report;
    auto fail = [&](Outcome o, const std::string& text) {
        report.outcome = o;
        report.text = text;
        return report;
    };
    if (plan.outcome != Outcome::Done) return fail(Outcome::Failed, "There is no plan to store: " + plan.text);
    if (journal && journal->Pending()) return fail(Outcome::Failed, journal->PendingJournal() + " Put it back before storing.");
    const AuditionSource source = AuditionSourceOf(lib, plan.itemId);
    const Range place = MemoryRange(MemoryKind::Patch, plan.slot);
    if (place.size == 0 || static_cast<int>(source.patch.size()) != place.size)
        return fail(Outcome::Failed, "The library patch does not fit patch memory " + std::to_string(plan.slot) + ".");

    MemoryImage image;
    image.put(place.address, source.patch);
    std::vector<std::string> extra;
    if (!alone) {
        for (const PlanNeed& need : plan.needs) {
            if (!need.inBank || need.identical) continue;
            const auto& bank = need.kind == MemoryKind::Timbre ? source.timbres : source.rhythms;
            const auto it = bank.find(need.number);
            const Range r = MemoryRange(need.kind, need.number);
            if (it == bank.end() || static_cast<int>(it->second.size()) != r.size)
                return fail(Outcome::Failed, "The library no longer holds the bank's " + Label(need.kind, need.number) +
                                                 "; make the plan again.");
            image.put(r.address, it->second);
            extra.push_back(Label(need.kind, need.number));
        }
    }

    // What it replaces, read through the module: it must still be what the plan
    // was made on (the user agreed to that), and it goes into the snapshot.
    MemoryImage originals;
    const std::vector<Range> targets = image.runs();
    const Outcome read = ReadMemories(model, host, targets, originals);
    if (read != Outcome::Done)
        return fail(read, read == Outcome::Cancelled ? "Store cancelled; nothing was written."
                                                     : "The U-220 did not answer; nothing was written.");
    bool same = BytesHash(Held(originals, place)) == plan.replacedHash;
    for (const PlanNeed& need : plan.needs)
        if (!alone && need.inBank && !need.identical)
            same = same && BytesHash(Held(originals, MemoryRange(need.kind, need.number))) == need.moduleHash;
    if (!same) return fail(Outcome::Failed, "The module's memories changed since the plan was made; nothing was written. Make the plan again.");

    const std::string operation = "store " + source.name + " into patch " + std::to_string(plan.slot);
    report.snapshotId = SaveSnapshot(lib, operation, model.DeviceID(), originals);

    Transfer t(model, host);
    t.journal = journal;
    const TransferReport w = t.Restore(image, true, &originals);
    report.journalOpen = w.journalOpen;
    const int device = model.DeviceID();
    if (!w.ok()) {
        // The slot may hold either patch now.
        ForgetModulePatches(lib, device, {plan.slot});
        report.outcome = w.outcome == Outcome::Done ? Outcome::Failed : w.outcome;
        report.text = "The store did not finish: " + w.text;
        return report;
    }
    // Timbres and rhythm setups written change no patch's numbers: only the
    // slot's entry changes.
    ModulePatch entry;
    entry.number = plan.slot;
    entry.name = SoundName(source.patch);
    entry.hash = BytesHash(source.patch);
    entry.timbres = plan.timbres;
    entry.rhythmSetup = plan.rhythmSetup;
    SaveModulePatches(lib, device, {entry});

    std::string with;
    for (size_t i = 0; i < extra.size(); ++i) with += (i ? i + 1 == extra.size() ? " and " : ", " : "") + extra[i];
    report.text = "Stored " + Quoted(source.name) + " into " + Label(MemoryKind::Patch, plan.slot) +
                  (with.empty() ? std::string(alone ? " alone" : "") : " with " + with) +
                  "; all verified. Snapshot " + std::to_string(report.snapshotId) + " keeps what it replaced.";
    return report;
}

TransferReport PutBackSnapshot(clsU220& model, Host& host, SoundLibrary& lib, Journal* journal, int64_t snapshotId) {
    TransferReport report;
    const std::optional<Snapshot> snap = LoadSnapshot(lib, snapshotId);
    if (!snap) {
        report.outcome = Outcome::Failed;
        report.text = "There is no snapshot " + std::to_string(snapshotId) + " in the library.";
        return report;
    }
    if (snap->deviceId != model.DeviceID()) {
        report.outcome = Outcome::Failed;
        report.text = "Snapshot " + std::to_string(snapshotId) + " was taken of the U-220 with device ID " +
                      std::to_string(snap->deviceId + 1) + "; nothing was written.";
        return report;
    }
    if (!snap->putBack.empty()) {
        report.outcome = Outcome::Failed;
        report.text = "Snapshot " + std::to_string(snapshotId) + " was put back already (" + snap->putBack + ").";
        return report;
    }
    Transfer t(model, host);
    t.journal = journal;
    report = t.Restore(snap->image, true);
    const Contents c = ContentsOf(snap->image);
    if (!report.ok()) {
        ForgetModulePatches(lib, snap->deviceId, c.patches);
        report.text = "Putting back snapshot " + std::to_string(snapshotId) + " did not finish: " + report.text;
        return report;
    }
    MarkSnapshotPutBack(lib, snapshotId);
    report.text = "Put back " + snap->operation + " (snapshot " + std::to_string(snapshotId) + "): " +
                  NameMemories(c) + "; all verified.";

    // The patches it wrote hold their old bytes again: their numbers are read
    // again through a program change, then the module goes back to its patch
    // when that is known (the names the model knows tell it; none is read).
    const int current = c.patches.empty() ? 0 : CurrentPatch(model, false);
    std::vector<ModulePatch> entries;
    std::vector<int> unread;
    for (int n : c.patches) {
        ModulePatch entry;
        entry.number = n;
        const Bytes b = Held(snap->image, MemoryRange(MemoryKind::Patch, n));
        entry.name = SoundName(b);
        entry.hash = BytesHash(b);
        Outcome o = Outcome::Done;
        std::string why;
        if (ReadNumbers(model, n, entry, o, why)) entries.push_back(entry);
        else unread.push_back(n);
    }
    if (!c.patches.empty()) {
        model.ForgetPatchSent();
        const bool back = current && model.PatchChange(static_cast<int16_t>(current)) == PatchChangeResult::Done;
        if (!back && !entries.empty())
            report.text += " The U-220 now plays patch " + std::to_string(entries.back().number) + ".";
    }
    if (!entries.empty()) SaveModulePatches(lib, snap->deviceId, entries);
    if (!unread.empty()) {
        ForgetModulePatches(lib, snap->deviceId, unread);
        report.text += " The module index forgot " + PatchList(unread) + " (read it again).";
    }
    return report;
}

}  // namespace quorvane::library
