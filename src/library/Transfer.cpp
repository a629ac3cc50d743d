#include "library/Transfer.h"

#include <algorithm>
#include <utility>

#include "library/Journal.h"
#include "library/SysexFile.h"

namespace quorvane::library {

namespace {

using namespace std::chrono_literals;

// How far ahead of the wire the writes are queued: enough to keep it busy.
constexpr auto kWriteLead = 100ms;

std::vector<Range> RangesOf(const std::vector<DataSet>& sets) {
    std::vector<Range> r;
    for (const DataSet& d : sets) r.push_back({d.address, static_cast<int>(d.data.size())});
    return r;
}

bool InWorkingArea(const Range& r) { return r.address.a1 >= BlockAddress(Block::PatchCommon).a1; }

// The widest gap losses may widen the send gap to.
constexpr int kWidestGapMs = 160;

std::string Names(const std::vector<Range>& ranges) { return NameMemories(ContentsOf(ranges)); }

// Every address of `r` is held by `image`.
bool Holds(const MemoryImage& image, const Range& r) {
    Bytes unused;
    return image.get(r, unused);
}

// `image` restricted to the addresses of `ranges`.
MemoryImage Within(const MemoryImage& image, const std::vector<Range>& ranges) {
    MemoryImage out;
    MemoryImage cover;
    for (const Range& r : ranges) cover.put(r.address, Bytes(static_cast<size_t>(r.size), 0));
    for (const Range& run : image.runs())
        for (int i = 0; i < run.size; ++i) {
            const Range one{run.address.plus(i), 1};
            Bytes b;
            if (Holds(cover, one) && image.get(one, b)) out.put(one.address, b);
        }
    return out;
}

// The memories of `a` that `b` does not touch at all.
Contents Without(Contents a, const Contents& b) {
    auto drop = [](std::vector<int>& from, const std::vector<int>& whole, const std::vector<int>& part) {
        std::erase_if(from, [&](int n) {
            return std::find(whole.begin(), whole.end(), n) != whole.end() ||
                   std::find(part.begin(), part.end(), n) != part.end();
        });
    };
    for (auto* v : {&a.patches, &a.partPatches}) drop(*v, b.patches, b.partPatches);
    for (auto* v : {&a.timbres, &a.partTimbres}) drop(*v, b.timbres, b.partTimbres);
    for (auto* v : {&a.rhythms, &a.partRhythms}) drop(*v, b.rhythms, b.partRhythms);
    a.masterSetup = a.masterSetup && !b.masterSetup;
    a.workingArea = a.workingArea && !b.workingArea;
    return a;
}

void Overlay(MemoryImage& onto, const MemoryImage& from) {
    for (const DataSet& d : from.dataSets()) onto.put(d.address, d.data);
}

std::string MemoryText(MemoryKind kind, int n) { return std::string(MemoryWord(kind)) + " " + std::to_string(n); }

// "; patch 3 did not take what was sent; patch 4 was written but not read back"
std::string Faults(const TransferReport& r) {
    std::string s;
    auto add = [&](const std::vector<Range>& ranges, const char* what) {
        if (!ranges.empty()) s += (s.empty() ? "" : "; ") + Names(ranges) + " " + what;
    };
    add(r.unverified, "did not take what was sent");
    add(r.unchecked, "written but not read back");
    add(r.unwritten, "not written");
    return s;
}

// The port's send gap is set back when an operation ends, however it ends.
class GapGuard {
public:
    GapGuard(clsU220& model, int& portGap, int& widenedTo) : model_(model), portGap_(portGap), widenedTo_(widenedTo) {
        portGap_ = -1;
        widenedTo_ = -1;
    }
    ~GapGuard() {
        if (portGap_ >= 0 && model_.MIDIOutput1) model_.MIDIOutput1->setSendGapMs(portGap_);
        portGap_ = -1;
    }

private:
    clsU220& model_;
    int& portGap_;
    int& widenedTo_;
};

}  // namespace

Range MemoryRange(MemoryKind kind, int number) {
    const MemoryArea& area = AreaOf(kind);
    if (number < 1 || number > area.count) return {};
    return {MemoryAddress(kind, number), area.recordSize};
}

bool Transfer::Tell(const std::string& stage) {
    progress_.stage = stage;
    const bool go = !onProgress || onProgress(progress_);
    return puttingBack_ ? !(mustStop && mustStop()) : go;
}

bool Transfer::Widen(TransferReport* report) {
    if (!model_.MIDIOutput1) return false;
    // Without a gap the port delivers at once (the virtual module): nothing is
    // lost to closeness there.
    const int gap = model_.MIDIOutput1->sendGapMs();
    if (gap <= 0 || gap >= kWidestGapMs) return false;
    if (portGap_ < 0) portGap_ = gap;
    const int wider = std::min(kWidestGapMs, gap * 2);
    model_.MIDIOutput1->setSendGapMs(wider);
    widenedTo_ = wider;
    if (report) report->gapMs = wider;
    return true;
}

bool Transfer::ReadWindow(const std::vector<std::pair<Address, int>>& request, Bytes& bytes) {
    auto stopped = [this] { return model_.StopRawReads && model_.StopRawReads(); };
    for (int round = 0;; ++round) {
        // The model asks the user only after the quiet retries here have failed.
        auto ask = std::exchange(model_.OnNotResponding, nullptr);
        const uint64_t timeouts = model_.TimeoutCount();
        bool ok = model_.ReadRanges(request, bytes, 0);
        bool answers = ok;
        for (int quiet = 0; !answers && quiet < quietRetries && !stopped(); ++quiet) {
            Bytes one;
            answers = model_.ReadRanges({request.front()}, one, 0);
        }
        model_.OnNotResponding = std::move(ask);
        // One request timing out is an answer lost on the way; several in one
        // window, or a window lost whole while one piece alone is answered, are
        // requests the module lost for following too closely.
        const bool widened = (model_.TimeoutCount() >= timeouts + 2 || (!ok && answers)) && Widen(nullptr);
        if (ok) return true;
        if (stopped()) return false;
        // It answers a short request again: the window once more (a few times,
        // and as long as the gap still widens), then the user decides.
        if (answers && (round < quietRetries || widened)) continue;
        if (!model_.OnNotResponding || !model_.OnNotResponding(RequestKind::RawRange)) return false;
        round = -1;
    }
}

// One request asks for a window of pieces; the module answers them one after
// the other while the later requests are still going out. A short answer takes
// less time on the wire than the request that asks for it (its 13 bytes plus the
// send gap), so a window of short pieces alone would leave the answers waiting
// for requests: each window takes long and short pieces in the proportion of the
// whole plan, the long ones first, so the short ones' requests go out while the
// long answers still fill the wire. The image is kept by address, so the order
// of reading changes nothing in it.
Outcome Transfer::Read(const std::vector<Range>& plan, MemoryImage& out) {
    // The first request of an operation asks for one piece: a module that is
    // not there (another port, another device ID) is given up after three short
    // requests rather than three whole windows.
    if (progress_.done == 0 && plan.size() > 1) {
        const Outcome first = Read({plan.front()}, out);
        if (first != Outcome::Done) return first;
        return Read(std::vector<Range>(plan.begin() + 1, plan.end()), out);
    }
    const int gapMs = model_.MIDIOutput1 ? std::max(0, model_.MIDIOutput1->sendGapMs()) : 0;
    const double slotMs = 13 * 0.32 + gapMs;  // 0.32 ms a byte at 31250 baud
    std::vector<Range> longPieces, shortPieces;
    for (const Range& r : plan) ((r.size + 10) * 0.32 >= slotMs ? longPieces : shortPieces).push_back(r);
    const size_t perWindow = static_cast<size_t>(std::max(1, window));
    const size_t windows = (plan.size() + perWindow - 1) / perWindow;
    size_t nextLong = 0, nextShort = 0;
    for (size_t w = 0; w < windows; ++w) {
        // Short pieces due by the end of this window, spread evenly.
        const size_t shortDue = shortPieces.size() * (w + 1) / windows;
        std::vector<Range> pieces;
        while (pieces.size() < perWindow && nextLong < longPieces.size() &&
               pieces.size() + (shortDue - nextShort) < perWindow)
            pieces.push_back(longPieces[nextLong++]);
        while (pieces.size() < perWindow && nextShort < shortPieces.size()) pieces.push_back(shortPieces[nextShort++]);
        while (pieces.size() < perWindow && nextLong < longPieces.size()) pieces.push_back(longPieces[nextLong++]);
        if (w + 1 == windows) {  // whatever rounding left over
            while (nextLong < longPieces.size()) pieces.push_back(longPieces[nextLong++]);
            while (nextShort < shortPieces.size()) pieces.push_back(shortPieces[nextShort++]);
        }
        std::vector<std::pair<Address, int>> request;
        for (const Range& r : pieces) request.push_back({r.address, r.size});
        Bytes bytes;
        if (!ReadWindow(request, bytes))
            // Given up: by the user (Cancel while the module was silent) or after the question.
            return Tell(progress_.stage.empty() ? "Reading" : progress_.stage) ? Outcome::NoAnswer : Outcome::Cancelled;
        size_t at = 0;
        for (const Range& r : pieces) {
            out.put(r.address, Bytes(bytes.begin() + at, bytes.begin() + at + r.size));
            at += r.size;
            progress_.done += r.size;
        }
        if (!Tell(progress_.stage.empty() ? "Reading" : progress_.stage)) return Outcome::Cancelled;
    }
    return Outcome::Done;
}

bool Transfer::Write(const std::vector<DataSet>& sets, size_t& sent) {
    sent = 0;
    for (const DataSet& d : sets) {
        // Let the wire catch up: only a short lead stays queued.
        host_.waitUntil([] { return false; }, model_.OutputBusyUntil() - kWriteLead);
        model_.WriteRange(d.address, d.data);
        ++sent;
        progress_.done += d.data.size();
        if (!Tell("Writing")) return false;
    }
    return true;
}

TransferReport Transfer::BackUp(const std::string& path, const std::vector<Range>& areas) {
    GapGuard gapGuard(model_, portGap_, widenedTo_);
    TransferReport report;
    std::vector<Range> plan;
    for (const Range& area : areas)
        for (const Range& piece : Split(area)) plan.push_back(piece);
    progress_ = {};
    for (const Range& r : plan) progress_.total += r.size;
    progress_.stage = "Reading";
    MemoryImage image;
    report.outcome = Read(plan, image);
    report.gapMs = widenedTo_;
    if (report.outcome == Outcome::Cancelled) {
        report.text = "Back-up cancelled; no file was written.";
        return report;
    }
    if (report.outcome == Outcome::NoAnswer) {
        report.text = "The U-220 stopped answering (no answer to a request and " + std::to_string(quietRetries) +
                      " quiet retries); no file was written.";
        return report;
    }
    std::string error;
    if (!SaveBackup(path, image, static_cast<uint8_t>(model_.DeviceID()), error)) {
        report.outcome = Outcome::Failed;
        report.text = "The back-up could not be saved: " + error;
        return report;
    }
    report.text = "Backed up " + Describe(ContentsOf(image)) + ".";
    return report;
}

// The data sets go out in batches of `window`, each read back before the next
// is written; what differs is sent again, at most maxResends times.
TransferReport Transfer::WriteVerified(const MemoryImage& image, bool verify) {
    TransferReport report;
    const std::vector<DataSet> sets = image.dataSets();
    const size_t perBatch = static_cast<size_t>(std::max(1, window));
    auto rest = [&](size_t from) {
        std::vector<Range> r;
        for (size_t i = from; i < sets.size(); ++i) r.push_back({sets[i].address, static_cast<int>(sets[i].data.size())});
        return r;
    };
    for (size_t first = 0; first < sets.size(); first += perBatch) {
        const std::vector<DataSet> batch(sets.begin() + static_cast<long>(first),
                                         sets.begin() + static_cast<long>(std::min(sets.size(), first + perBatch)));
        size_t sent = 0;
        if (!Write(batch, sent)) {
            report.outcome = Outcome::Cancelled;
            report.unchecked = RangesOf(std::vector<DataSet>(batch.begin(), batch.begin() + static_cast<long>(sent)));
            report.unwritten = rest(first + sent);
            return report;
        }
        if (!verify) continue;
        std::vector<Range> plan = RangesOf(batch);
        for (int round = 0;; ++round) {
            MemoryImage have;
            progress_.stage = "Verifying";
            const Outcome read = Read(plan, have);
            if (read != Outcome::Done) {
                // Stop at the first request that got no answer: nothing more is written.
                report.outcome = read;
                report.unchecked = plan;
                report.unwritten = rest(first + batch.size());
                return report;
            }
            std::vector<Range> differ = Differences(image, have, plan);
            if (differ.empty()) break;
            if (round == maxResends) {
                report.unverified = DifferingAddresses(image, have, differ);
                report.unwritten = rest(first + batch.size());
                return report;
            }
            Widen(&report);
            // A part's timbre number or the rhythm setup number written again makes
            // the module load a timbre or rhythm setup over the working area behind
            // it, so everything of the working area after the first differing range
            // goes again too.
            auto firstWorking = std::find_if(differ.begin(), differ.end(), InWorkingArea);
            if (firstWorking != differ.end()) {
                const uint32_t from = MemoryImage::Key(firstWorking->address);
                differ.erase(firstWorking, differ.end());
                for (const Range& r : RangesOf(batch))
                    if (InWorkingArea(r) && MemoryImage::Key(r.address) >= from) differ.push_back(r);
            }
            std::vector<DataSet> again;
            for (const Range& r : differ) {
                DataSet d{r.address, {}};
                image.get(r, d.data);
                again.push_back(std::move(d));
                progress_.total += 2 * static_cast<size_t>(r.size);
            }
            report.resent += static_cast<int>(again.size());
            if (!Write(again, sent)) {
                report.outcome = Outcome::Cancelled;
                report.unchecked = plan;
                report.unwritten = rest(first + batch.size());
                return report;
            }
            plan = RangesOf(again);
        }
    }
    report.gapMs = widenedTo_;
    return report;
}

Outcome Transfer::ReadLogical(const std::vector<Range>& ranges, const MemoryImage& pending, MemoryImage& out) {
    std::vector<Range> plan;
    for (const Range& r : ranges)
        for (const Range& piece : Split(r))
            if (!Holds(pending, piece)) plan.push_back(piece);
    const Outcome o = plan.empty() ? Outcome::Done : Read(plan, out);
    Overlay(out, Within(pending, ranges));
    return o;
}

bool Transfer::CheckPending(const std::vector<Range>& targets, MemoryImage& pending, TransferReport& report) {
    pending = {};
    if (!journal || !journal->Pending()) return true;
    const JournalState s = journal->Load();
    report.outcome = Outcome::Failed;
    report.journalOpen = true;
    if (!s.error.empty()) {
        report.text = journal->PendingJournal() + " Discard it before anything else is written.";
        return false;
    }
    bool covered = s.deviceId == model_.DeviceID();
    MemoryImage cover;
    for (const Range& r : targets) cover.put(r.address, Bytes(static_cast<size_t>(r.size), 0));
    for (const Range& run : s.originals.runs()) covered = covered && Holds(cover, run);
    if (!covered) {
        report.text = journal->PendingJournal() + " Put them back (or discard the journal) before anything else is written.";
        return false;
    }
    report.outcome = Outcome::Done;
    report.journalOpen = false;
    pending = s.originals;
    return true;
}

TransferReport Transfer::Overwrite(const std::string& operation, const MemoryImage& image, const MemoryImage& originals,
                                   bool verify, bool putBackOnFailure) {
    if (journal) {
        std::string error;
        if (!journal->Begin(operation, model_.DeviceID(), originals, error)) {
            TransferReport report;
            report.outcome = Outcome::Failed;
            report.unwritten = image.runs();
            report.text = "Nothing was written: the journal of what " + operation + " overwrites could not be saved (" +
                          error + ").";
            return report;
        }
    }
    TransferReport report = WriteVerified(image, verify);
    std::string error;
    if (report.ok()) {
        if (journal && !journal->Close(error)) report.text = "(the journal could not be closed: " + error + ")";
        return report;
    }
    if (putBackOnFailure && report.outcome != Outcome::NoAnswer) {
        // It still answers: put the originals back now, verified. A Cancel that
        // stopped the overwrite does not stop this (nor the reads under it); only
        // `mustStop` does, and the journal then keeps the originals.
        progress_.total += 2 * originals.size();
        const int resent = report.resent;
        puttingBack_ = true;
        std::function<bool()> stopReads = std::exchange(model_.StopRawReads, mustStop);
        const TransferReport back = WriteVerified(originals, true);
        model_.StopRawReads = std::move(stopReads);
        puttingBack_ = false;
        report.resent = resent + back.resent;
        if (back.ok()) {
            report.putBack = true;
            if (journal) journal->Discard(error);
            return report;
        }
        // From here on the lists say which memories do not hold their originals.
        report.failedPutBack = Faults(report);
        report.unverified = back.unverified;
        report.unchecked = back.unchecked;
        report.unchecked.insert(report.unchecked.end(), back.unwritten.begin(), back.unwritten.end());
        report.unwritten.clear();
        if (back.outcome == Outcome::NoAnswer) report.outcome = Outcome::NoAnswer;
    }
    report.journalOpen = journal != nullptr;
    return report;
}

// How an overwrite that did not finish ends, in words: what is wrong, and where
// the originals are. "Swap patch 10 with patch 20 failed: patch 10 did not take
// what was sent; put back the originals of patches 10, 20, verified."
static std::string Unfinished(const std::string& operation, const TransferReport& r, const std::vector<Range>& targets) {
    std::string s = std::string(r.outcome == Outcome::NoAnswer ? "The U-220 stopped answering: " : "") + operation +
                    (r.outcome == Outcome::Cancelled ? " cancelled" : " failed");
    if (!r.failedPutBack.empty()) s += ": " + r.failedPutBack + "; putting the originals back failed too: " + Faults(r);
    else if (!Faults(r).empty()) s += ": " + Faults(r);
    if (r.putBack) s += "; put back the originals of " + Names(targets) + ", verified.";
    else if (r.journalOpen) s += "; the originals are kept in the journal, to be put back when the U-220 answers again.";
    else s += ".";
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s;
}

TransferReport Transfer::Restore(const MemoryImage& image, bool verify, const MemoryImage* originals) {
    GapGuard gapGuard(model_, portGap_, widenedTo_);
    const std::string what = Describe(ContentsOf(image));
    const std::vector<Range> targets = image.runs();
    TransferReport report;
    MemoryImage pending;
    if (!CheckPending(targets, pending, report)) return report;
    progress_ = {};
    progress_.total = image.size() * (verify ? 2 : 1);
    MemoryImage before;
    if (journal) {
        // What the module holds now: from the back-up just made where it has it,
        // read from the module for the rest.
        MemoryImage known = pending;
        if (originals) {
            MemoryImage fromBackup = Within(*originals, targets);
            Overlay(fromBackup, pending);
            known = fromBackup;
        }
        for (const Range& r : targets)
            for (const Range& piece : Split(r))
                if (!Holds(known, piece)) progress_.total += piece.size;
        progress_.stage = "Reading";
        const Outcome o = ReadLogical(targets, known, before);
        if (o != Outcome::Done) {
            report.outcome = o;
            report.unwritten = targets;
            report.text = o == Outcome::Cancelled ? "Restore cancelled; nothing was written."
                                                  : "The U-220 stopped answering while its memories were read for the "
                                                    "journal; nothing was written.";
            return report;
        }
    }
    report = Overwrite("restore of " + what, image, before, verify, false);
    if (report.outcome == Outcome::Failed) return report;
    if (report.ok()) {
        report.text = verify ? "Restored " + what + "; all verified." : "Sent " + what + " to the U-220; not verified.";
        return report;
    }
    if (report.outcome == Outcome::Cancelled) {
        report.text = "Restore cancelled; the U-220 holds part of the file.";
        if (report.journalOpen) report.text += " What it overwrote is kept in the journal, to be put back.";
        return report;
    }
    const char* why = report.outcome == Outcome::NoAnswer ? "the U-220 stopped answering"
                                                             : "memories did not take what was sent";
    std::vector<Range> bad;
    for (const auto* list : {&report.unverified, &report.unchecked, &report.unwritten})
        bad.insert(bad.end(), list->begin(), list->end());
    const Contents verified = Without(ContentsOf(targets), ContentsOf(bad));
    report.text = std::string("The restore did not finish (") + why + "): " +
                  (verified.empty() ? std::string("nothing verified") : NameMemories(verified) + " verified") + "; " +
                  Faults(report) + ". Restore the file again to finish it" +
                  (report.journalOpen ? ", or put back what it overwrote from the journal." : ".");
    return report;
}

TransferReport Transfer::Copy(MemoryKind kind, int from, int to) {
    GapGuard gapGuard(model_, portGap_, widenedTo_);
    TransferReport report;
    const Range src = MemoryRange(kind, from), dst = MemoryRange(kind, to);
    const std::string what = MemoryText(kind, from) + " to " + MemoryText(kind, to);
    if (src.size == 0 || dst.size == 0 || from == to) {
        report.outcome = Outcome::Failed;
        report.text = std::string("Cannot copy ") + MemoryWord(kind) + " " + std::to_string(from) + " to " + std::to_string(to) + ".";
        return report;
    }
    MemoryImage pending;
    if (!CheckPending({dst}, pending, report)) return report;
    progress_ = {};
    progress_.total = 4 * static_cast<size_t>(src.size);
    progress_.stage = "Reading";
    MemoryImage read;
    report.outcome = ReadLogical({src, dst}, pending, read);
    Bytes bytes, old;
    if (report.outcome == Outcome::Done && read.get(src, bytes) && read.get(dst, old)) {
        MemoryImage image, originals;
        image.put(dst.address, bytes);
        originals.put(dst.address, old);
        report = Overwrite("copy " + what, image, originals, true, true);
        if (report.outcome == Outcome::Failed) return report;
    } else {
        report.unwritten = {dst};
    }
    if (report.ok()) report.text = "Copied " + what + "; verified.";
    else if (report.outcome == Outcome::Cancelled && report.unchecked.empty() && report.unverified.empty())
        report.text = "Copy cancelled.";
    else report.text = Unfinished("copy " + what, report, {dst});
    return report;
}

TransferReport Transfer::Swap(MemoryKind kind, int a, int b) {
    GapGuard gapGuard(model_, portGap_, widenedTo_);
    TransferReport report;
    const Range ra = MemoryRange(kind, a), rb = MemoryRange(kind, b);
    const std::string what = MemoryText(kind, a) + " with " + MemoryText(kind, b);
    if (ra.size == 0 || rb.size == 0 || a == b) {
        report.outcome = Outcome::Failed;
        report.text = std::string("Cannot swap ") + MemoryWord(kind) + " " + std::to_string(a) + " with " + std::to_string(b) + ".";
        return report;
    }
    MemoryImage pending;
    if (!CheckPending({ra, rb}, pending, report)) return report;
    progress_ = {};
    progress_.total = 6 * static_cast<size_t>(ra.size);
    progress_.stage = "Reading";
    MemoryImage read;
    report.outcome = ReadLogical({ra, rb}, pending, read);
    Bytes bytesA, bytesB;
    if (report.outcome == Outcome::Done && read.get(ra, bytesA) && read.get(rb, bytesB)) {
        MemoryImage image, originals;
        image.put(ra.address, bytesB);
        image.put(rb.address, bytesA);
        originals.put(ra.address, bytesA);
        originals.put(rb.address, bytesB);
        report = Overwrite("swap " + what, image, originals, true, true);
        if (report.outcome == Outcome::Failed) return report;
    } else {
        report.unwritten = {ra, rb};
    }
    if (report.ok()) report.text = "Swapped " + what + "; verified.";
    else if (report.outcome == Outcome::Cancelled && report.unchecked.empty() && report.unverified.empty() &&
             report.unwritten.size() == 2)
        report.text = "Swap cancelled.";
    else report.text = Unfinished("swap " + what, report, {ra, rb});
    return report;
}

TransferReport Transfer::PutBack() {
    GapGuard gapGuard(model_, portGap_, widenedTo_);
    TransferReport report;
    report.outcome = Outcome::Failed;
    const JournalState s = journal ? journal->Load() : JournalState{};
    if (!s.exists || !s.error.empty() || s.originals.empty()) {
        report.text = s.error.empty() ? "There is nothing to put back." : "Cannot put back: " + s.error + ".";
        return report;
    }
    if (s.open) return Recover(*journal);
    if (s.deviceId != model_.DeviceID()) {
        report.text = "Cannot put back: the journal is for the U-220 with device ID " + std::to_string(s.deviceId + 1) +
                      ", not " + std::to_string(model_.DeviceID() + 1) + ".";
        return report;
    }
    const std::vector<Range> targets = s.originals.runs();
    progress_ = {};
    progress_.total = 3 * s.originals.size();
    progress_.stage = "Reading";
    MemoryImage now;
    report.outcome = ReadLogical(targets, {}, now);
    if (report.outcome != Outcome::Done) {
        report.text = "Nothing was put back: the U-220 stopped answering.";
        return report;
    }
    const std::string what = "put back of " + s.operation;
    report = Overwrite(what.rfind("put back of put back of ", 0) == 0 ? s.operation.substr(12) : what, s.originals, now,
                       true, true);
    if (report.outcome == Outcome::Failed) return report;
    const std::string memories = Names(targets);
    if (report.ok()) report.text = "Put back " + memories + " as they were before the " + s.operation + "; verified.";
    else report.text = Unfinished("putting back " + memories, report, targets);
    return report;
}

TransferReport Transfer::Recover(Journal& j) {
    GapGuard gapGuard(model_, portGap_, widenedTo_);
    TransferReport report;
    const JournalState s = j.Load();
    if (!s.exists || !s.open) {
        report.text = "No interrupted operation waits to be finished.";
        return report;
    }
    report.outcome = Outcome::Failed;
    report.journalOpen = true;
    if (!s.error.empty()) {
        report.text = "Cannot put back: " + s.error + ".";
        return report;
    }
    if (s.deviceId != model_.DeviceID()) {
        report.text = "Cannot put back: the journal is for the U-220 with device ID " + std::to_string(s.deviceId + 1) +
                      ", not " + std::to_string(model_.DeviceID() + 1) + ".";
        return report;
    }
    const std::string memories = Names(s.originals.runs());
    progress_ = {};
    progress_.total = 2 * s.originals.size();
    report = WriteVerified(s.originals, true);
    std::string error;
    if (report.ok()) {
        if (!j.Discard(error)) report.text = "(" + error + ") ";
        report.text += "Put back " + memories + " as they were before the interrupted " + s.operation + "; verified.";
        return report;
    }
    report.journalOpen = true;
    report.text = Unfinished("putting back " + memories, report, s.originals.runs());
    return report;
}

}  // namespace quorvane::library
