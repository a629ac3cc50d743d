#include "library/Audition.h"

#include <algorithm>

namespace quorvane::library {

namespace {

// Pieces of at most 128 addresses, as the module answers them.
std::vector<Range> Pieces(const std::vector<Range>& ranges) {
    std::vector<Range> out;
    for (const Range& r : ranges)
        for (int done = 0; done < r.size; done += 128)
            out.push_back({r.address.plus(done), std::min(128, r.size - done)});
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
    if (journal_ && journal_->Pending()) {
        report.outcome = Outcome::Failed;
        report.text = journal_->PendingJournal() + " Put it back before auditioning.";
        return report;
    }
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
    if (!WriteVerified(originals, report))
        return Stop(report, Outcome::Failed, "Putting the module's own memories back failed.");
    if (journal_) {
        std::string error;
        if (!journal_->Close(error)) return Stop(report, Outcome::Failed, "The journal could not be closed (" + error + ").");
    }
    report.journalOpen = false;
    return Finish(report, source);
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
