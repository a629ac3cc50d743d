#include "library/MemoryImage.h"

#include <algorithm>

#include "device/MemoryMap.h"

namespace quorvane::library {

namespace {

std::vector<Range> MakeAreas() {
    std::vector<Range> a{{BlockAddress(Block::MasterSetup), BlockSize(Block::MasterSetup)}};
    for (const MemoryArea& m : MemoryAreas()) a.push_back({{m.top, 0, 0}, m.size()});
    a.push_back({BlockAddress(Block::PatchCommon), BlockSize(Block::PatchCommon)});
    a.push_back({BlockAddress(Block::PatchRhythm), BlockSize(Block::PatchRhythm)});
    for (int p = 1; p <= kParts; ++p) a.push_back({BlockAddress(Block::PatchPart, p), BlockSize(Block::PatchPart)});
    for (int p = 1; p <= kParts; ++p) a.push_back({BlockAddress(Block::Timbre, p), BlockSize(Block::Timbre)});
    a.push_back({BlockAddress(Block::RhythmCommon), BlockSize(Block::RhythmCommon)});
    for (int i = 0; i < kRhythmInsts; ++i) a.push_back({BlockAddress(Block::RhythmInst, i), BlockSize(Block::RhythmInst)});
    return a;
}

// What an address belongs to: the master setup, a memory (number from 1), or
// the working area.
struct Place {
    enum Kind { Master, Memory, Working } kind = Working;
    MemoryKind memory = MemoryKind::Patch;
    int number = 0;
};
Place PlaceOf(uint32_t key) {
    const Address a = MemoryImage::FromKey(key);
    if (a.a1 == BlockAddress(Block::MasterSetup).a1) return {Place::Master};
    if (const MemoryArea* m = AreaAt(a.a1)) return {Place::Memory, m->kind, a.offset() / m->recordSize + 1};
    return {Place::Working};
}

std::string Plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string NumberList(const char* one, const char* many, std::vector<int> numbers) {
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::string s = numbers.size() == 1 ? one : many;
    for (size_t i = 0; i < numbers.size(); ++i) s += (i ? ", " : " ") + std::to_string(numbers[i]);
    return s;
}

}  // namespace

const std::vector<Range>& BackupAreas() {
    static const std::vector<Range> areas = MakeAreas();
    return areas;
}

std::vector<Range> Split(Range r, int most) {
    std::vector<Range> out;
    for (int done = 0; done < r.size; done += most) out.push_back({r.address.plus(done), std::min(most, r.size - done)});
    return out;
}

std::vector<Range> BackupPlan() {
    std::vector<Range> plan;
    for (const Range& r : BackupAreas())
        for (const Range& piece : Split(r)) plan.push_back(piece);
    return plan;
}

bool InsideAreas(Address a, int size) {
    if (size <= 0 || a.offset() + size > 0x4000) return false;
    for (const Range& r : BackupAreas())
        if (r.address.a1 == a.a1 && a.offset() >= r.address.offset() && a.offset() + size <= r.address.offset() + r.size)
            return true;
    return false;
}

// ---------------------------------------------------------------------------

void MemoryImage::put(Address a, const Bytes& data) {
    const uint32_t k = Key(a);
    for (size_t i = 0; i < data.size(); ++i) cells_[k + static_cast<uint32_t>(i)] = data[i];
}

bool MemoryImage::get(Range r, Bytes& out) const {
    out.clear();
    const uint32_t k = Key(r.address);
    auto it = cells_.find(k);
    for (int i = 0; i < r.size; ++i, ++it) {
        if (it == cells_.end() || it->first != k + static_cast<uint32_t>(i)) return false;
        out.push_back(it->second);
    }
    return true;
}

std::vector<Range> MemoryImage::runs() const {
    std::vector<Range> out;
    uint32_t start = 0, next = 0;
    for (const auto& [k, v] : cells_) {
        // A run ends at a gap, and at the end of a top byte's addresses.
        if (out.empty() || k != next || (k >> 14) != (start >> 14)) {
            out.push_back({FromKey(k), 0});
            start = k;
        }
        ++out.back().size;
        next = k + 1;
    }
    return out;
}

std::vector<DataSet> MemoryImage::dataSets() const {
    std::vector<DataSet> out;
    for (const Range& run : runs()) {
        for (const Range& piece : Split(run)) {
            DataSet d{piece.address, {}};
            get(piece, d.data);
            out.push_back(std::move(d));
        }
    }
    return out;
}

// ---------------------------------------------------------------------------

bool Contents::empty() const {
    return !masterSetup && !workingArea && patches.empty() && timbres.empty() && rhythms.empty() &&
           partPatches.empty() && partTimbres.empty() && partRhythms.empty();
}

Contents ContentsOf(const std::vector<Range>& ranges) {
    // Addresses held per memory, then whole or partial by the memory's size.
    std::map<std::pair<MemoryKind, int>, int> held;
    Contents c;
    for (const Range& r : ranges) {
        for (int i = 0; i < r.size; ++i) {
            const Place p = PlaceOf(MemoryImage::Key(r.address.plus(i)));
            if (p.kind == Place::Master) c.masterSetup = true;
            else if (p.kind == Place::Working) c.workingArea = true;
            else ++held[{p.memory, p.number}];
        }
    }
    for (const auto& [which, count] : held) {
        const auto [kind, number] = which;
        const bool whole = count == AreaOf(kind).recordSize;
        switch (kind) {
            case MemoryKind::Patch: (whole ? c.patches : c.partPatches).push_back(number); break;
            case MemoryKind::Timbre: (whole ? c.timbres : c.partTimbres).push_back(number); break;
            case MemoryKind::Rhythm: (whole ? c.rhythms : c.partRhythms).push_back(number); break;
        }
    }
    return c;
}

Contents ContentsOf(const MemoryImage& image) { return ContentsOf(image.runs()); }

std::string Describe(const Contents& c) {
    std::vector<std::string> parts;
    if (c.masterSetup) parts.push_back("master setup");
    if (!c.patches.empty()) parts.push_back(Plural(c.patches.size(), "patch", "patches"));
    if (!c.timbres.empty()) parts.push_back(Plural(c.timbres.size(), "timbre", "timbres"));
    if (!c.rhythms.empty()) parts.push_back(Plural(c.rhythms.size(), "rhythm setup", "rhythm setups"));
    if (!c.partPatches.empty()) parts.push_back("part of " + NumberList("patch", "patches", c.partPatches));
    if (!c.partTimbres.empty()) parts.push_back("part of " + NumberList("timbre", "timbres", c.partTimbres));
    if (!c.partRhythms.empty()) parts.push_back("part of " + NumberList("rhythm setup", "rhythm setups", c.partRhythms));
    if (c.workingArea) parts.push_back("working area");
    if (parts.empty()) return "nothing";
    std::string s;
    for (size_t i = 0; i < parts.size(); ++i) s += (i ? ", " : "") + parts[i];
    return s;
}

std::string NameMemories(const Contents& c) {
    auto both = [](std::vector<int> a, const std::vector<int>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    std::vector<std::string> parts;
    if (c.masterSetup) parts.push_back("master setup");
    if (auto n = both(c.patches, c.partPatches); !n.empty()) parts.push_back(NumberList("patch", "patches", n));
    if (auto n = both(c.timbres, c.partTimbres); !n.empty()) parts.push_back(NumberList("timbre", "timbres", n));
    if (auto n = both(c.rhythms, c.partRhythms); !n.empty())
        parts.push_back(NumberList("rhythm setup", "rhythm setups", n));
    if (c.workingArea) parts.push_back("working area");
    std::string s;
    for (size_t i = 0; i < parts.size(); ++i) s += (i ? "; " : "") + parts[i];
    return s;
}

std::vector<Range> Differences(const MemoryImage& want, const MemoryImage& have, const std::vector<Range>& plan) {
    std::vector<Range> out;
    Bytes a, b;
    for (const Range& r : plan) {
        if (!want.get(r, a)) continue;  // not part of what should be there
        if (!have.get(r, b) || a != b) out.push_back(r);
    }
    return out;
}

std::vector<Range> DifferingAddresses(const MemoryImage& want, const MemoryImage& have, const std::vector<Range>& ranges) {
    MemoryImage differ;
    Bytes a, b;
    for (const Range& r : ranges) {
        for (int i = 0; i < r.size; ++i) {
            const Range one{r.address.plus(i), 1};
            if (want.get(one, a) && (!have.get(one, b) || a != b)) differ.put(one.address, a);
        }
    }
    return differ.runs();
}

}  // namespace quorvane::library
