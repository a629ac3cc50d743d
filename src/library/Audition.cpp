#include "library/Audition.h"

#include <algorithm>

namespace quorvane::library {

namespace {

// Pieces of at most kMaxDataSet addresses, as the module answers them.
std::vector<Range> Pieces(const std::vector<Range>& ranges) {
    std::vector<Range> out;
    for (const Range& r : ranges)
        for (const Range& piece : Split(r)) out.push_back(piece);
    return out;
}

// The stretches a working-area request reads (MemoryMap's segments).
std::vector<Range> RangesOf(RequestKind kind) {
    std::vector<Range> out;
    for (const Segment& s : SegmentsOf(kind)) out.push_back({s.address, s.size});
    return out;
}

// A working-area parameter as read (the device byte less its bias); -1 when
// not read or outside the parameter's list.
int ValueIn(const MemoryImage& working, Param p, int index = 0) {
    Bytes b;
    if (!working.get({ParamAddress(p, index), 1}, b)) return -1;
    const int v = b[0] - Info(p).bias;
    return v >= 0 && v < Info(p).listSize ? v : -1;
}

// The part timbre numbers and the rhythm setup number from the working
// patch's blocks; false when one is not read or out of range.
bool NumbersIn(const MemoryImage& working, AuditionReport& report) {
    for (int part = 1; part <= kParts; ++part) {
        const int t = ValueIn(working, Param::PatchPartTimbreNumber, part);
        if (t < 0) return false;
        report.timbres[part - 1] = t + 1;
    }
    const int setup = ValueIn(working, Param::PatchRhythmRhythmSetup);
    if (setup < 0) return false;
    report.rhythmSetup = setup + 1;
    report.reading.timbres = report.timbres;
    report.reading.rhythmSetup = report.rhythmSetup;
    return true;
}

const char* const kBadNumbers = "The U-220's working patch names a timbre or rhythm setup number out of range.";

}  // namespace

bool Audition::Read(const std::vector<Range>& ranges, MemoryImage& out) {
    Transfer t(model_, host_);
    return t.Read(Pieces(ranges), out) == Outcome::Done;
}

bool Audition::ReadWorking(AuditionReport& report) {
    std::vector<Range> ranges = RangesOf(RequestKind::TimbreData);
    if (report.rhythmSetup) {
        const std::vector<Range> rhythm = RangesOf(RequestKind::RhythmCommon);
        ranges.insert(ranges.end(), rhythm.begin(), rhythm.end());
    }
    return Read(ranges, report.reading.working);
}

bool Audition::Blocked(AuditionReport& report) {
    if (!journal_ || !journal_->Pending()) return false;
    report.outcome = Outcome::Failed;
    report.text = journal_->PendingJournal() + " Put it back before auditioning.";
    return true;
}

bool Audition::Save(const std::string& operation, const MemoryImage& originals, AuditionReport& report) {
    if (!journal_) return true;
    std::string error;
    if (!journal_->Begin(operation, model_.DeviceID(), originals, error)) {
        report.text = "The journal could not be saved (" + error + "); nothing more was written.";
        return false;
    }
    report.journalOpen = true;
    return true;
}

bool Audition::WriteVerified(const MemoryImage& image, AuditionReport& report) {
    Transfer t(model_, host_);  // no journal of its own: this audition keeps it
    const TransferReport r = t.Restore(image, true);
    if (!r.ok()) {
        report.outcome = r.outcome == Outcome::Done ? Outcome::Failed : r.outcome;
        report.text = r.text;
        return false;
    }
    return true;
}

AuditionReport Audition::Stop(AuditionReport report, Outcome outcome, const std::string& text) {
    if (report.outcome == Outcome::Done) report.outcome = outcome;
    std::string t = report.text.empty() ? text : text + " " + report.text;
    if (report.journalOpen) t += " The module's own memories wait in the journal to be put back.";
    report.text = t;
    return report;
}

AuditionReport Audition::Abandon(AuditionReport report, const MemoryImage& originals, const std::string& why) {
    if (!WriteVerified(originals, report))
        return Stop(report, Outcome::Failed, why + " Putting the module's own memories back failed.");
    if (journal_) {
        std::string error;
        if (!journal_->Close(error)) return Stop(report, Outcome::Failed, why + " The journal could not be closed (" + error + ").");
    }
    report.journalOpen = false;
    report.outcome = Outcome::Failed;
    report.text = why;
    return report;
}

AuditionReport Audition::Play(const AuditionSource& source, int scratch) {
    AuditionReport report;
    const Range place = MemoryRange(MemoryKind::Patch, scratch);
    if (place.size == 0 || static_cast<int>(source.patch.size()) != place.size) {
        report.outcome = Outcome::Failed;
        report.text = place.size == 0 ? "No patch memory " + std::to_string(scratch) + " to audition in."
                                      : "The library patch does not have the size of a patch memory; nothing was written.";
        return report;
    }
    if (Blocked(report)) return report;
    const std::string operation = "audition " + source.name + " in patch " + std::to_string(scratch);

    // 1. The scratch memory's own bytes, in the journal before anything is written.
    MemoryImage originals;
    if (!Read({place}, originals)) return Stop(report, Outcome::NoAnswer, "The U-220 did not answer; nothing was written.");
    if (!Save(operation, originals, report)) return Stop(report, Outcome::Failed, "");

    // 2. The library patch into the scratch memory, then into the working area.
    MemoryImage patch;
    patch.put(place.address, source.patch);
    if (!WriteVerified(patch, report)) return Stop(report, Outcome::Failed, "Writing the patch failed.");
    model_.ForgetPatchSent();
    const PatchChangeResult change = model_.PatchChange(static_cast<int16_t>(scratch));
    if (change == PatchChangeResult::NoAnswer)
        return Stop(report, Outcome::NoAnswer, "The U-220 did not switch to the auditioned patch.");
    if (change != PatchChangeResult::Done) {
        // It answers but plays another patch (its Rx control channel is Off, or
        // its Patch Change setting selects another memory): nothing more can be
        // heard, so the scratch memory gets its own bytes back at once.
        return Abandon(report, originals,
                       "The U-220 did not switch to the auditioned patch: " + model_.LastError() + " Patch " +
                           std::to_string(scratch) + " is as it was.");
    }
    // The working patch's blocks: the numbers it names, and the reading's start.
    if (!Read(RangesOf(RequestKind::PatchData), report.reading.working))
        return Stop(report, Outcome::NoAnswer, "The U-220 did not answer with its working patch.");
    if (!NumbersIn(report.reading.working, report)) return Abandon(report, originals, kBadNumbers);

    // 3. The source bank's timbres and rhythm setup under the numbers the patch names.
    std::vector<int> numbers(report.timbres.begin(), report.timbres.end());
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<Range> bankRanges;
    MemoryImage bank;
    for (int t : numbers) {
        const auto it = source.timbres.find(t);
        const Range r = MemoryRange(MemoryKind::Timbre, t);
        if (it == source.timbres.end() || static_cast<int>(it->second.size()) != r.size) continue;
        bankRanges.push_back(r);
        bank.put(r.address, it->second);
        report.timbresFromBank.push_back(t);
    }
    if (report.rhythmSetup) {
        const auto it = source.rhythms.find(report.rhythmSetup);
        const Range r = MemoryRange(MemoryKind::Rhythm, report.rhythmSetup);
        if (it != source.rhythms.end() && static_cast<int>(it->second.size()) == r.size) {
            bankRanges.push_back(r);
            bank.put(r.address, it->second);
            report.rhythmFromBank = true;
        }
    }
    if (!bank.empty()) {
        MemoryImage own;
        if (!Read(bankRanges, own))
            return Stop(report, Outcome::NoAnswer, "The U-220 stopped answering while its timbres were read.");
        for (const DataSet& d : own.dataSets()) originals.put(d.address, d.data);
        if (!Save(operation, originals, report)) return Stop(report, Outcome::Failed, "");
        if (!WriteVerified(bank, report)) return Stop(report, Outcome::Failed, "Writing the bank's timbres failed.");
        // Writing a number loads that memory into the working area.
        for (int part = 1; part <= kParts; ++part) {
            const int t = report.timbres[part - 1];
            if (std::find(report.timbresFromBank.begin(), report.timbresFromBank.end(), t) !=
                report.timbresFromBank.end())
                model_.let(Param::PatchPartTimbreNumber, part, static_cast<int16_t>(t - 1));
        }
        if (report.rhythmFromBank) model_.let(Param::PatchRhythmRhythmSetup, 0, static_cast<int16_t>(report.rhythmSetup - 1));
    }

    // 4. Every memory written gets its own bytes back, verified, and the journal closes.
    return PutBack(report, originals, source);
}

AuditionReport Audition::PlayOnPart(const AuditionSource& source, int part) {
    AuditionReport report;
    report.outcome = Outcome::Failed;
    const bool rhythm = source.type == SoundType::Rhythm;
    const MemoryKind kind = rhythm ? MemoryKind::Rhythm : MemoryKind::Timbre;
    if (source.type != SoundType::Timbre && !rhythm) {
        report.text = "Only a timbre or a rhythm setup plays on a part.";
        return report;
    }
    if (!rhythm && (part < 1 || part > kParts)) {
        report.text = "There is no part " + std::to_string(part) + ": the parts are 1..6.";
        return report;
    }
    if (static_cast<int>(source.patch.size()) != MemoryRange(kind, 1).size) {
        report.text = std::string("The library ") + MemoryWord(kind) + " does not have the size of its memory; nothing was written.";
        return report;
    }
    if (Blocked(report)) return report;
    report.outcome = Outcome::Done;

    // The number the part plays now: its memory is the one borrowed.
    if (!Read(RangesOf(RequestKind::PatchData), report.reading.working))
        return Stop(report, Outcome::NoAnswer, "The U-220 did not answer; nothing was written.");
    if (!NumbersIn(report.reading.working, report)) return Stop(report, Outcome::Failed, std::string(kBadNumbers) + " Nothing was written.");
    const int number = rhythm ? report.rhythmSetup : report.timbres[part - 1];
    const Range place = MemoryRange(kind, number);
    const std::string operation = "audition " + source.name + (rhythm ? " on the rhythm part" : " on part " + std::to_string(part)) +
                                  " through " + MemoryWord(kind) + " " + std::to_string(number);

    MemoryImage originals;
    if (!Read({place}, originals)) return Stop(report, Outcome::NoAnswer, "The U-220 did not answer; nothing was written.");
    if (!Save(operation, originals, report)) return Stop(report, Outcome::Failed, "");
    MemoryImage image;
    image.put(place.address, source.patch);
    if (!WriteVerified(image, report))
        return Stop(report, Outcome::Failed, std::string("Writing the ") + MemoryWord(kind) + " failed.");
    // Writing the number again loads the memory into the part.
    if (rhythm) {
        model_.let(Param::PatchRhythmRhythmSetup, 0, static_cast<int16_t>(number - 1));
        report.rhythmFromBank = true;
    } else {
        model_.let(Param::PatchPartTimbreNumber, part, static_cast<int16_t>(number - 1));
        report.timbresFromBank.push_back(number);
    }
    return PutBack(report, originals, source);
}

// Every memory written gets its own bytes back, verified, and the journal closes.
AuditionReport Audition::PutBack(AuditionReport report, const MemoryImage& originals, const AuditionSource& source) {
    if (!WriteVerified(originals, report))
        return Stop(report, Outcome::Failed, "Putting the module's own memories back failed.");
    if (journal_) {
        std::string error;
        if (!journal_->Close(error)) return Stop(report, Outcome::Failed, "The journal could not be closed (" + error + ").");
    }
    report.journalOpen = false;
    return Finish(report, source);
}

AuditionReport Audition::PlayWorking(const AuditionSource& source) {
    AuditionReport report;
    MemoryImage image;
    if (source.type != SoundType::Working || !PlaceSound(image, SoundType::Working, 1, source.patch)) {
        report.outcome = Outcome::Failed;
        report.text = "The library sound is not a whole working area; nothing was written.";
        return report;
    }
    // No memory is written, so nothing is journalled.
    Transfer t(model_, host_);
    const TransferReport written = t.Restore(image, true);
    if (!written.ok()) {
        report.outcome = written.outcome == Outcome::Done ? Outcome::Failed : written.outcome;
        report.text = "Writing the working area failed: " + written.text;
        return report;
    }
    // Read back equal: the reading is what was written.
    for (RequestKind k : {RequestKind::PatchData, RequestKind::TimbreData, RequestKind::RhythmCommon})
        for (const Range& r : RangesOf(k)) {
            Bytes b;
            image.get(r, b);
            report.reading.working.put(r.address, b);
        }
    model_.ForgetPatchSent();
    if (!NumbersIn(report.reading.working, report)) {
        report.outcome = Outcome::Failed;
        report.text = std::string(kBadNumbers) + " The working area was written as it is.";
        return report;
    }
    report.reading.itemId = source.itemId;
    report.text = "Auditioning " + source.name + " \xE2\x80\x94 not stored";
    return report;
}

AuditionReport Audition::Play(const AuditionSource& source, const AuditionOptions& options) {
    switch (source.type) {
        case SoundType::Patch: return Play(source, options.scratch);
        case SoundType::Timbre:
        case SoundType::Rhythm: return PlayOnPart(source, options.part);
        case SoundType::Working: return PlayWorking(source);
    }
    return {};
}

int Audition::CurrentPatch(Outcome& outcome, std::string& why) {
    if (model_.LastPatchSent() > 0 && !model_.WorkingAreaEdited()) return model_.LastPatchSent();
    // The working patch's name and every patch memory's name, in one request.
    const int name = static_cast<int>(sysex::kNameBytes);
    const int patches = AreaOf(MemoryKind::Patch).count;
    std::vector<Range> pieces{{BlockAddress(Block::PatchCommon), name}};
    for (int n = 1; n <= patches; ++n) pieces.push_back({MemoryAddress(MemoryKind::Patch, n), name});
    MemoryImage names;
    if (!Read(pieces, names)) {
        outcome = Outcome::NoAnswer;
        why = "The U-220 did not answer when its patch names were read.";
        return 0;
    }
    Bytes working, each;
    names.get(pieces[0], working);
    std::vector<int> found;
    for (int n = 1; n <= patches; ++n)
        if (names.get(pieces[static_cast<size_t>(n)], each) && each == working) found.push_back(n);
    if (found.size() == 1) return found[0];
    outcome = Outcome::Failed;
    const std::string shown = "\"" + SoundName(working) + "\"";
    if (found.empty()) {
        why = "The U-220's working patch " + shown + " is in no patch memory (it was edited or not stored), so which one it came from is unknown.";
    } else {
        why = "The U-220's working patch " + shown + " is in more than one patch memory (";
        for (size_t i = 0; i < found.size(); ++i) why += (i ? ", " : "") + std::to_string(found[i]);
        why += "), so which one it came from is unknown.";
    }
    return 0;
}

AuditionReport Audition::Finish(AuditionReport report, const AuditionSource& source) {
    // 5. What the module plays now, read from its working area. Its working
    // area no longer holds what a memory holds: a change to any patch is sent.
    model_.ForgetPatchSent();
    report.reading.itemId = source.itemId;
    if (!ReadWorking(report)) {
        report.outcome = Outcome::NoAnswer;
        report.text = "The U-220 played " + source.name + " but did not answer when its working area was read; its memory is as before.";
        return report;
    }
    report.text = "Auditioning " + source.name + " \xE2\x80\x94 not stored";
    return report;
}

}  // namespace quorvane::library
