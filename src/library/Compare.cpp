#include "library/Compare.h"

#include <cstdio>
#include <optional>

#include "device/MemoryMap.h"
#include "device/ParamValueText.h"
#include "device/ValueLists.h"
#include "library/SoundLibrary.h"

namespace quorvane::library {

namespace {

std::optional<Bytes> BlockOf(const Reading& r, Block b, int index) {
    Bytes out;
    if (!r.working.get({BlockAddress(b, index), BlockSize(b)}, out)) return std::nullopt;
    return out;
}

// The list entry, or the byte itself when the list has no entry for it: a
// value the editors cannot show is never shown as another one.
std::string ValueText(Param p, int value, uint8_t byte) {
    if (auto t = ParamValueText(p, value)) return *t;
    char text[40];
    std::snprintf(text, sizeof text, "out of range (byte %02Xh)", byte);
    return text;
}

class Rows {
public:
    explicit Rows(bool onlyDifferences) : only_(onlyDifferences) {}

    // One block of each side (either may be missing) under `section`.
    void Add(const std::string& section, Block b, const std::optional<Bytes>& a, const std::optional<Bytes>& bb) {
        if (!a && !bb) return;
        if (HasName(b)) {
            const Bytes na = a ? Bytes(a->begin(), a->begin() + sysex::kNameBytes) : Bytes{};
            const Bytes nb = bb ? Bytes(bb->begin(), bb->begin() + sysex::kNameBytes) : Bytes{};
            Push({section, "Name", a ? SoundName(na) : "", bb ? SoundName(nb) : "", !a || !bb || na != nb});
        }
        BlockValues va{}, vb{};
        if (a) DecodeBlock(b, a->data(), va, nullptr);
        if (bb) DecodeBlock(b, bb->data(), vb, nullptr);
        for (Param p : AllParams()) {
            const ParamInfo& i = Info(p);
            if (i.block != b) continue;
            CompareRow row{section, ParamCaption(p), "", "", !a || !bb};
            if (a) row.a = ValueText(p, va[i.offset], (*a)[i.offset]);
            if (bb) row.b = ValueText(p, vb[i.offset], (*bb)[i.offset]);
            if (a && bb) row.differs = (*a)[i.offset] != (*bb)[i.offset];
            Push(std::move(row));
        }
    }

    std::vector<CompareRow> Take() { return std::move(rows_); }

private:
    void Push(CompareRow row) {
        if (!only_ || row.differs) rows_.push_back(std::move(row));
    }

    bool only_;
    std::vector<CompareRow> rows_;
};

std::vector<CompareRow> CompareBlocks(const Reading& a, const Reading& b, bool only) {
    Rows rows(only);
    auto both = [&](const std::string& section, Block block, int index) {
        rows.Add(section, block, BlockOf(a, block, index), BlockOf(b, block, index));
    };
    both("Common", Block::PatchCommon, 0);
    both("Rhythm part", Block::PatchRhythm, 0);
    for (int part = 1; part <= kParts; ++part) {
        both("Part " + std::to_string(part), Block::PatchPart, part);
        both("Timbre of part " + std::to_string(part), Block::Timbre, part);
    }
    both("Rhythm setup", Block::RhythmCommon, 0);
    // A patch's reading holds no rhythm keys: keys are compared only where both
    // sides read them, so a working-area sound (which holds all 64) does not
    // bury the rows under keys the other side never read.
    for (int inst = 0; inst < kRhythmInsts; ++inst) {
        auto ka = BlockOf(a, Block::RhythmInst, inst), kb = BlockOf(b, Block::RhythmInst, inst);
        if (ka && kb) rows.Add("Rhythm key " + values::NoteName(35 + inst), Block::RhythmInst, ka, kb);
    }
    return rows.Take();
}

std::vector<CompareRow> CompareTimbres(const Reading& a, const Reading& b, bool only) {
    Rows rows(only);
    rows.Add("Timbre", Block::Timbre, BlockOf(a, Block::Timbre, TimbrePart(a)), BlockOf(b, Block::Timbre, TimbrePart(b)));
    return rows.Take();
}

bool HoldsPatch(const Reading& r) { return BlockOf(r, Block::PatchCommon, 0).has_value(); }

enum class Kind { Patch, Timbre, Rhythm };

Kind KindOf(SoundType t) {
    return t == SoundType::Timbre ? Kind::Timbre : t == SoundType::Rhythm ? Kind::Rhythm : Kind::Patch;
}

const char* Word(SoundType t) {
    switch (t) {
        case SoundType::Timbre: return "a timbre";
        case SoundType::Rhythm: return "a rhythm setup";
        case SoundType::Working: return "a working-area sound";
        case SoundType::Patch: break;
    }
    return "a patch";
}

// The item's reading; a working-area sound's own blocks when it has none.
std::optional<Reading> ReadingOf(SoundLibrary& lib, const ItemDetails& d) {
    if (auto r = LoadReading(lib, d.row.id)) return r;
    if (d.row.type != SoundType::Working) return std::nullopt;
    Reading own;
    own.itemId = d.row.id;
    if (!PlaceSound(own.working, SoundType::Working, 1, d.bytes)) return std::nullopt;
    return own;
}

// True when the reading holds what a comparison of its kind needs.
bool Enough(const Reading& r, Kind k) {
    switch (k) {
        case Kind::Patch: return HoldsPatch(r);
        case Kind::Timbre: return TimbrePart(r) != 0;
        case Kind::Rhythm: return BlockOf(r, Block::RhythmCommon, 0).has_value();
    }
    return false;
}

}  // namespace

std::vector<Range> ReadingRanges(bool withRhythmSetup) {
    std::vector<Range> out;
    auto add = [&](Block b, int index) { out.push_back({BlockAddress(b, index), BlockSize(b)}); };
    add(Block::PatchCommon, 0);
    add(Block::PatchRhythm, 0);
    for (int part = 1; part <= kParts; ++part) add(Block::PatchPart, part);
    for (int part = 1; part <= kParts; ++part) add(Block::Timbre, part);
    if (withRhythmSetup) add(Block::RhythmCommon, 0);
    return out;
}

int TimbrePart(const Reading& r) {
    for (int part = 1; part <= kParts; ++part)
        if (BlockOf(r, Block::Timbre, part)) return part;
    return 0;
}

std::vector<CompareRow> CompareReadings(const Reading& a, const Reading& b, bool onlyDifferences) {
    if (!HoldsPatch(a) && !HoldsPatch(b) && TimbrePart(a) && TimbrePart(b)) return CompareTimbres(a, b, onlyDifferences);
    return CompareBlocks(a, b, onlyDifferences);
}

std::string NoReadingMessage(const std::string& name) {
    return "Audition " + name + " once so the module can tell its parameters; the library keeps what it reads";
}

Comparison CompareItems(SoundLibrary& lib, int64_t a, int64_t b, bool onlyDifferences) {
    Comparison c;
    const std::optional<ItemDetails> da = lib.Details(a), db = lib.Details(b);
    if (!da || !db) throw LibraryError(LibraryError::Input, "No item " + std::to_string(da ? b : a) + " in the library");
    c.nameA = da->row.name;
    c.nameB = db->row.name;
    const Kind kind = KindOf(da->row.type);
    if (kind != KindOf(db->row.type)) {
        c.message = c.nameA + " is " + Word(da->row.type) + " and " + c.nameB + " " + Word(db->row.type) +
                    ": compare two patches, two timbres or two rhythm setups.";
        return c;
    }
    const std::optional<Reading> ra = ReadingOf(lib, *da), rb = ReadingOf(lib, *db);
    if (!ra || !Enough(*ra, kind)) return c.message = NoReadingMessage(c.nameA), c;
    if (!rb || !Enough(*rb, kind)) return c.message = NoReadingMessage(c.nameB), c;
    c.rows = kind == Kind::Timbre ? CompareTimbres(*ra, *rb, onlyDifferences) : CompareBlocks(*ra, *rb, onlyDifferences);
    c.ok = true;
    return c;
}

}  // namespace quorvane::library
