// Where things are in the module's memory.
#include "MemoryMap.h"

#include <algorithm>

namespace quorvane {

namespace {
constexpr int kName = static_cast<int>(sysex::kNameBytes);

constexpr std::array<MemoryArea, 3> kAreas{{
    {MemoryKind::Timbre, 0x02, 64, 128, "timbre"},
    {MemoryKind::Patch, 0x03, 160, 64, "patch"},
    {MemoryKind::Rhythm, 0x05, 1568, 4, "rhythm setup"},
}};
}  // namespace

const std::array<MemoryArea, 3>& MemoryAreas() { return kAreas; }

const MemoryArea& AreaOf(MemoryKind kind) {
    for (const MemoryArea& a : kAreas)
        if (a.kind == kind) return a;
    return kAreas[0];
}

const MemoryArea* AreaAt(uint8_t top) {
    for (const MemoryArea& a : kAreas)
        if (a.top == top) return &a;
    return nullptr;
}

Address MemoryAddress(MemoryKind kind, int number) {
    const MemoryArea& a = AreaOf(kind);
    return Address::linear(a.top, (number - 1) * a.recordSize);
}

const char* MemoryWord(MemoryKind kind) { return AreaOf(kind).word; }

std::optional<MemoryRef> MemoryAt(Address address) {
    const MemoryArea* a = AreaAt(address.a1);
    if (!a || address.offset() >= a->size()) return std::nullopt;
    return MemoryRef{a->kind, address.offset() / a->recordSize + 1};
}

MemoryNameStore::MemoryNameStore() {
    for (const MemoryArea& a : kAreas) {
        ListOf(a.kind).names.assign(static_cast<size_t>(a.count) + 1, std::string());
        ListOf(a.kind).loaded.assign(static_cast<size_t>(a.count) + 1, false);
    }
}

bool MemoryNameStore::Loaded(MemoryKind kind, int number) const {
    const List& l = ListOf(kind);
    return number >= 1 && number < static_cast<int>(l.loaded.size()) && l.loaded[number];
}

const std::string& MemoryNameStore::Name(MemoryKind kind, int number) const {
    static const std::string kNone;
    const List& l = ListOf(kind);
    return number >= 1 && number < static_cast<int>(l.names.size()) ? l.names[number] : kNone;
}

void MemoryNameStore::Set(MemoryKind kind, int number, std::string name) {
    List& l = ListOf(kind);
    if (number < 1 || number >= static_cast<int>(l.names.size())) return;
    l.names[number] = std::move(name);
    l.loaded[number] = true;
}

void MemoryNameStore::ForgetAll() {
    for (List& l : lists_) std::fill(l.loaded.begin(), l.loaded.end(), false);
}

bool MemoryNameStore::Forget(Address address, int size) {
    const MemoryArea* area = AreaAt(address.a1);
    if (!area) return false;
    std::vector<bool>& loaded = ListOf(area->kind).loaded;
    const int first = address.offset(), end = first + size;
    for (int n = first / area->recordSize + 1; n <= (end - 1) / area->recordSize + 1 && n < static_cast<int>(loaded.size()); ++n)
        loaded[n] = false;
    return true;
}

void MemoryNameStore::Learn(Address address, const Bytes& data) {
    const MemoryArea* area = AreaAt(address.a1);
    if (!area) return;
    const int first = address.offset(), end = first + static_cast<int>(data.size());
    for (int n = first / area->recordSize + 1; n <= area->count; ++n) {
        const int at = (n - 1) * area->recordSize;
        if (at + kName > end) break;
        if (at < first) continue;
        Set(area->kind, n, DecodeName(data.data() + (at - first)));
    }
}

bool HasName(Block b) { return b == Block::PatchCommon || b == Block::Timbre || b == Block::RhythmCommon; }

size_t Slot(Block b, int index) {
    switch (b) {
        case Block::PatchCommon: return 0;
        case Block::PatchRhythm: return 1;
        case Block::PatchPart: return 1 + index;
        case Block::Timbre: return 1 + kParts + index;
        case Block::RhythmCommon: return 2 + 2 * kParts;
        case Block::RhythmInst: return 3 + 2 * kParts + index;
        case Block::MasterSetup: break;
    }
    return 0;
}

void DecodeBlock(Block b, const uint8_t* bytes, BlockValues& values, std::string* name) {
    const bool named = HasName(b);
    if (named && name) *name = DecodeName(bytes);
    for (int off = named ? kName : 0; off < BlockSize(b); ++off) values[off] = bytes[off];
    for (Param p : AllParams()) {
        const ParamInfo& i = Info(p);
        if (i.block == b) values[i.offset] -= i.bias;
    }
}

bool DecodeReply(RequestKind kind, int index, const Bytes& bytes, SlotValues& values, SlotNames& names) {
    const auto blocks = BlocksOf(kind, index);
    int size = 0;
    for (auto [block, i] : blocks) size += BlockSize(block);
    if (blocks.empty() || static_cast<int>(bytes.size()) != size) return false;
    size_t at = 0;
    for (auto [block, i] : blocks) {
        const size_t slot = Slot(block, i);
        DecodeBlock(block, &bytes[at], values[slot], &names[slot]);
        at += static_cast<size_t>(BlockSize(block));
    }
    return true;
}

// Master setup bytes: tune as a nibble pair, LCD contrast, reverb and chorus as
// bits over 12, four fixed bytes, the Rx control channel as a nibble pair (16 =
// Off), two fixed bytes, then the four patch/timbre/rhythm change modes.
int DecodeMasterSetup(const uint8_t* b, MasterValues& values) {
    auto set = [&](MasterParam m, int v) { values[static_cast<size_t>(m)] = static_cast<int16_t>(v); };
    set(MasterParam::MasterSetupLCD, b[2]);
    set(MasterParam::MasterSetupReverb, b[3] & 1);
    set(MasterParam::MasterSetupChorus, (b[3] >> 1) & 1);
    set(MasterParam::MasterSetupMIDIRxCh, b[8] + 16 * (b[9] & 1));
    set(MasterParam::MasterSetupPaCh, b[12] & 7);
    set(MasterParam::MasterSetupTiCh, b[13] & 7);
    set(MasterParam::MasterSetupRhCh, b[14] & 7);
    set(MasterParam::MasterSetupRInstCh, b[15] & 7);
    return NibblePair(b[0], b[1]);
}

Bytes EncodeMasterSetup(int tuneSteps, const MasterValues& values) {
    auto m = [&](MasterParam p) { return static_cast<uint8_t>(values[static_cast<size_t>(p)]); };
    const uint8_t tune = static_cast<uint8_t>(std::clamp(tuneSteps, 0, 255));
    const uint8_t rx = m(MasterParam::MasterSetupMIDIRxCh);
    return {static_cast<uint8_t>(tune & 0x0F),
            static_cast<uint8_t>(tune >> 4),
            static_cast<uint8_t>(m(MasterParam::MasterSetupLCD) & 0x0F),
            static_cast<uint8_t>(12 + 2 * (m(MasterParam::MasterSetupChorus) & 1) + (m(MasterParam::MasterSetupReverb) & 1)),
            0, 14, 0, 11,
            static_cast<uint8_t>(rx % 16),
            static_cast<uint8_t>(rx / 16),
            0, 3,
            m(MasterParam::MasterSetupPaCh), m(MasterParam::MasterSetupTiCh),
            m(MasterParam::MasterSetupRhCh), m(MasterParam::MasterSetupRInstCh)};
}

std::vector<std::pair<Block, int>> BlocksOf(RequestKind kind, int index) {
    std::vector<std::pair<Block, int>> blocks;
    switch (kind) {
        case RequestKind::PatchData:
            blocks = {{Block::PatchCommon, 0}, {Block::PatchRhythm, 0}};
            for (int p = 1; p <= kParts; ++p) blocks.push_back({Block::PatchPart, p});
            break;
        case RequestKind::TimbreData:
            for (int p = 1; p <= kParts; ++p) blocks.push_back({Block::Timbre, p});
            break;
        case RequestKind::RhythmCommon: blocks = {{Block::RhythmCommon, 0}}; break;
        case RequestKind::RhythmInst: blocks = {{Block::RhythmInst, index}}; break;
        default: break;
    }
    return blocks;
}

std::vector<Segment> SegmentsOf(RequestKind kind, int index) {
    switch (kind) {
        case RequestKind::MasterSetup: {
            const int size = BlockSize(Block::MasterSetup);
            return {{BlockAddress(Block::MasterSetup), size, size}};
        }
        // After the program change: the working patch's name, to compare with the
        // memory name of the patch asked for.
        case RequestKind::PatchChange: return {{BlockAddress(Block::PatchCommon), kName, kName}};
        case RequestKind::PatchName: return {{MemoryAddress(MemoryKind::Patch, index), kName, kName}};
        case RequestKind::TimbreName: return {{MemoryAddress(MemoryKind::Timbre, index), kName, kName}};
        case RequestKind::RhythmName: return {{MemoryAddress(MemoryKind::Rhythm, index), kName, kName}};
        case RequestKind::RawRange: return {};  // given by the caller
        default: break;
    }
    std::vector<Segment> s;
    for (auto [b, i] : BlocksOf(kind, index)) s.push_back({BlockAddress(b, i), BlockSize(b), HasName(b) ? kName : 0});
    return s;
}

}  // namespace quorvane
