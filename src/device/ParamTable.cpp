#include "ParamTable.h"

#include <array>

#include "MemoryMap.h"

namespace quorvane {

namespace {
const std::array<ParamInfo, static_cast<size_t>(Param::Count)> kParams{{
#define QUORVANE_ROW(Name, Blk, Off, Bias, Size) {#Name, Block::Blk, Off, Bias, Size},
    QUORVANE_ALL_PARAMS(QUORVANE_ROW)
#undef QUORVANE_ROW
}};

struct MasterRow {
    const char* name;
    int size;
};
const std::array<MasterRow, static_cast<size_t>(MasterParam::Count)> kMaster{{
#define QUORVANE_ROW(Name, Size) {#Name, Size},
    QUORVANE_MASTER_INT_PARAMS(QUORVANE_ROW)
#undef QUORVANE_ROW
}};
}  // namespace

const ParamInfo& Info(Param p) { return kParams.at(static_cast<size_t>(p)); }

std::optional<Param> FindParam(const std::string& name) {
    for (size_t i = 0; i < kParams.size(); ++i)
        if (name == kParams[i].name) return static_cast<Param>(i);
    return std::nullopt;
}

const std::vector<Param>& AllParams() {
    static const std::vector<Param> all = [] {
        std::vector<Param> v;
        for (size_t i = 0; i < kParams.size(); ++i) v.push_back(static_cast<Param>(i));
        return v;
    }();
    return all;
}

IndexKind IndexOf(Block b) {
    switch (b) {
        case Block::PatchPart:
        case Block::Timbre: return IndexKind::PartNo;
        case Block::RhythmInst: return IndexKind::InstNo;
        default: return IndexKind::None;
    }
}

int IndexMin(Block b) { return IndexOf(b) == IndexKind::PartNo ? 1 : 0; }
int IndexMax(Block b) {
    switch (IndexOf(b)) {
        case IndexKind::PartNo: return kParts;
        case IndexKind::InstNo: return kRhythmInsts - 1;
        default: return 0;
    }
}

Address BlockAddress(Block b, int index) {
    switch (b) {
        case Block::MasterSetup: return {0x00, 0x00, 0x00};
        case Block::PatchCommon: return {0x10, 0x04, 0x00};
        case Block::PatchRhythm: return {0x10, 0x04, 0x60};
        case Block::PatchPart: return {0x10, 0x05, static_cast<uint8_t>(16 * (index - 1))};
        case Block::Timbre: return {0x10, static_cast<uint8_t>(0x0F + index), 0x00};
        case Block::RhythmCommon: return {0x11, 0x00, 0x00};
        case Block::RhythmInst: return {0x11, static_cast<uint8_t>(index + 35), 0x00};
    }
    return {};
}

Block BlockOf(NameParam n) {
    switch (n) {
        case NameParam::PatchCommonPatchName: return Block::PatchCommon;
        case NameParam::TimbreTimbreName: return Block::Timbre;
        case NameParam::RhythmSeupCommonSetupName: return Block::RhythmCommon;
    }
    return Block::PatchCommon;
}

const char* NameOf(NameParam n) {
    switch (n) {
        case NameParam::PatchCommonPatchName: return "PatchCommonPatchName";
        case NameParam::TimbreTimbreName: return "TimbreTimbreName";
        case NameParam::RhythmSeupCommonSetupName: return "RhythmSeupCommonSetupName";
    }
    return "";
}

const char* NameOf(MasterParam m) { return kMaster.at(static_cast<size_t>(m)).name; }
int ListSizeOf(MasterParam m) { return kMaster.at(static_cast<size_t>(m)).size; }

}  // namespace quorvane
