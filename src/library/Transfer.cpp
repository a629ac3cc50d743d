#include "library/Transfer.h"

#include <algorithm>

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

bool InWorkingArea(const Range& r) { return r.address.a1 >= 0x10; }

}  // namespace

void LoadIntoVirtualModule(midi::VirtualU220& module, const MemoryImage& image) {
    module.withEmulator([&](emulator::U220Emulator& e) {
        for (const DataSet& d : image.dataSets()) e.load(d.address, d.data);
    });
}

Range MemoryRange(MemoryKind kind, int number) {
    switch (kind) {
        case MemoryKind::Patch: return number >= 1 && number <= 64 ? Range{PatchMemoryAddress(number), 160} : Range{};
        case MemoryKind::Timbre: return number >= 1 && number <= 128 ? Range{TimbreMemoryAddress(number), 64} : Range{};
        case MemoryKind::Rhythm: return number >= 1 && number <= 4 ? Range{RhythmMemoryAddress(number), 1568} : Range{};
    }
    return {};
}

const char* MemoryWord(MemoryKind kind) {
    switch (kind) {
        case MemoryKind::Patch: return "patch";
        case MemoryKind::Timbre: return "timbre";
        case MemoryKind::Rhythm: return "rhythm setup";
    }
    return "";
}

bool Transfer::Tell(const std::string& stage) {
    progress_.stage = stage;
    return !onProgress || onProgress(progress_);
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
        if (!model_.ReadRanges(request, bytes, quietRetries))
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

bool Transfer::Write(const std::vector<DataSet>& sets) {
    for (const DataSet& d : sets) {
        // Let the wire catch up: only a short lead stays queued.
        host_.waitUntil([] { return false; }, model_.OutputBusyUntil() - kWriteLead);
        model_.WriteRange(d.address, d.data);
        progress_.done += d.data.size();
        if (!Tell("Writing")) return false;
    }
    return true;
}

TransferReport Transfer::BackUp(const std::string& path, const std::vector<Range>& areas) {
    TransferReport report;
    std::vector<Range> plan;
    for (const Range& area : areas)
        for (const Range& piece : Split(area)) plan.push_back(piece);
    progress_ = {};
    for (const Range& r : plan) progress_.total += r.size;
    progress_.stage = "Reading";
    MemoryImage image;
    report.outcome = Read(plan, image);
    if (report.outcome == Outcome::Cancelled) {
        report.text = "Back-up cancelled; no file was written.";
        return report;
    }
    if (report.outcome == Outcome::NoAnswer) {
        report.text = "The U-220 stopped answering; no file was written.";
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

TransferReport Transfer::WriteVerified(const MemoryImage& image, bool verify) {
    TransferReport report;
    std::vector<DataSet> sets = image.dataSets();
    if (!Write(sets)) {
        report.outcome = Outcome::Cancelled;
        return report;
    }
    if (!verify) return report;
    std::vector<Range> plan = RangesOf(sets);
    for (int round = 0;; ++round) {
        MemoryImage have;
        progress_.stage = "Verifying";
        report.outcome = Read(plan, have);
        if (report.outcome != Outcome::Done) return report;
        std::vector<Range> differ = Differences(image, have, plan);
        if (differ.empty()) return report;
        if (round == maxResends) {
            report.unverified = DifferingAddresses(image, have, differ);
            return report;
        }
        // A part's timbre number or the rhythm setup number written again makes
        // the module load a timbre or rhythm setup over the working area behind
        // it, so everything of the working area after the first differing range
        // goes again too.
        auto firstWorking = std::find_if(differ.begin(), differ.end(), InWorkingArea);
        if (firstWorking != differ.end()) {
            const uint32_t from = MemoryImage::Key(firstWorking->address);
            differ.erase(firstWorking, differ.end());
            for (const Range& r : RangesOf(sets))
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
        if (!Write(again)) {
            report.outcome = Outcome::Cancelled;
            return report;
        }
        plan = RangesOf(again);
    }
}

TransferReport Transfer::Restore(const MemoryImage& image, bool verify) {
    progress_ = {};
    progress_.total = image.size() * (verify ? 2 : 1);
    TransferReport report = WriteVerified(image, verify);
    const std::string what = Describe(ContentsOf(image));
    switch (report.outcome) {
        case Outcome::Cancelled:
            report.text = "Restore cancelled; the U-220 holds part of the file.";
            break;
        case Outcome::NoAnswer:
            report.text = "Restored " + what + "; the U-220 stopped answering, so nothing was verified.";
            break;
        case Outcome::Failed:
        case Outcome::Done:
            if (!verify) report.text = "Restored " + what + "; not verified.";
            else if (report.unverified.empty()) report.text = "Restored " + what + "; all verified.";
            else report.text = "Restored " + what + "; could not verify " + NameMemories(ContentsOf(report.unverified)) + ".";
            break;
    }
    return report;
}

TransferReport Transfer::Copy(MemoryKind kind, int from, int to) {
    TransferReport report;
    const Range src = MemoryRange(kind, from), dst = MemoryRange(kind, to);
    const std::string name = MemoryWord(kind);
    if (src.size == 0 || dst.size == 0 || from == to) {
        report.outcome = Outcome::Failed;
        report.text = "Cannot copy " + name + " " + std::to_string(from) + " to " + std::to_string(to) + ".";
        return report;
    }
    progress_ = {};
    progress_.total = 3 * static_cast<size_t>(src.size);
    progress_.stage = "Reading";
    MemoryImage read;
    report.outcome = Read(Split(src), read);
    MemoryImage image;
    Bytes bytes;
    if (report.outcome == Outcome::Done && read.get(src, bytes)) {
        image.put(dst.address, bytes);
        report = WriteVerified(image, true);
    }
    const std::string what = name + " " + std::to_string(from) + " to " + name + " " + std::to_string(to);
    if (report.outcome == Outcome::Cancelled) report.text = "Copy cancelled.";
    else if (report.outcome == Outcome::NoAnswer) report.text = "The U-220 stopped answering while copying " + what + ".";
    else if (!report.unverified.empty()) report.text = "Copied " + what + "; could not verify it.";
    else report.text = "Copied " + what + "; verified.";
    return report;
}

TransferReport Transfer::Swap(MemoryKind kind, int a, int b) {
    TransferReport report;
    const Range ra = MemoryRange(kind, a), rb = MemoryRange(kind, b);
    const std::string name = MemoryWord(kind);
    if (ra.size == 0 || rb.size == 0 || a == b) {
        report.outcome = Outcome::Failed;
        report.text = "Cannot swap " + name + " " + std::to_string(a) + " with " + std::to_string(b) + ".";
        return report;
    }
    progress_ = {};
    progress_.total = 6 * static_cast<size_t>(ra.size);
    progress_.stage = "Reading";
    std::vector<Range> plan = Split(ra);
    for (const Range& r : Split(rb)) plan.push_back(r);
    MemoryImage read;
    report.outcome = Read(plan, read);
    Bytes bytesA, bytesB;
    if (report.outcome == Outcome::Done && read.get(ra, bytesA) && read.get(rb, bytesB)) {
        MemoryImage image;
        image.put(ra.address, bytesB);
        image.put(rb.address, bytesA);
        report = WriteVerified(image, true);
    }
    const std::string what = name + " " + std::to_string(a) + " with " + name + " " + std::to_string(b);
    if (report.outcome == Outcome::Cancelled) report.text = "Swap cancelled.";
    else if (report.outcome == Outcome::NoAnswer) report.text = "The U-220 stopped answering while swapping " + what + ".";
    else if (!report.unverified.empty()) report.text = "Swapped " + what + "; could not verify it.";
    else report.text = "Swapped " + what + "; verified.";
    return report;
}

}  // namespace quorvane::library
