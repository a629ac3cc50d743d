// One table describing every parameter of the module that the model reads and
// writes: its block, address offset, bias and the value range of its editor list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ParamList.h"
#include "Protocol.h"

namespace quorvane {

// The blocks the module is read in.
enum class Block : uint8_t {
    MasterSetup,   // 00 00 00, 16 nibbles
    PatchCommon,   // 10 04 00, 41
    PatchRhythm,   // 10 04 60, 7
    PatchPart,     // 10 05 (16*(PartNo-1)), 13          index PartNo 1..6
    Timbre,        // 10 (0F+PartNo) 00, 50              index PartNo 1..6
    RhythmCommon,  // 11 00 00, 26
    RhythmInst,    // 11 (InstNo+35) 00, 20              index InstNo 0..63
};

// What the index argument of a parameter means.
enum class IndexKind : uint8_t { None, PartNo, InstNo };

enum class Param : uint16_t {
#define QUORVANE_ENUM(Name, Blk, Off, Bias, Size) Name,
    QUORVANE_ALL_PARAMS(QUORVANE_ENUM)
#undef QUORVANE_ENUM
        Count
};

struct ParamInfo {
    const char* name;
    Block block;
    uint8_t offset;    // address offset within the block
    uint8_t bias;      // device byte = value + bias
    int16_t listSize;  // valid values 0 .. listSize-1
};

const ParamInfo& Info(Param p);
std::optional<Param> FindParam(const std::string& name);
const std::vector<Param>& AllParams();

IndexKind IndexOf(Block b);
// Valid index range of a block's index (1..6 for parts, 0..63 for instruments, 0..0 for none).
int IndexMin(Block b);
int IndexMax(Block b);

// First address of a block; `index` is PartNo or InstNo where the block has one.
Address BlockAddress(Block b, int index = 0);
constexpr int BlockSize(Block b) {
    switch (b) {
        case Block::MasterSetup: return 16;
        case Block::PatchCommon: return 41;
        case Block::PatchRhythm: return 7;
        case Block::PatchPart: return 13;
        case Block::Timbre: return 50;
        case Block::RhythmCommon: return 26;
        case Block::RhythmInst: return 20;
    }
    return 0;
}

// Address of one parameter.
inline Address ParamAddress(Param p, int index = 0) {
    const ParamInfo& i = Info(p);
    return BlockAddress(i.block, index).plus(i.offset);
}

// The three names in the temporary areas (12 characters at the block's first address).
enum class NameParam : uint8_t { PatchCommonPatchName, TimbreTimbreName, RhythmSeupCommonSetupName };
Block BlockOf(NameParam n);
const char* NameOf(NameParam n);

// Master setup fields.
enum class MasterParam : uint8_t {
#define QUORVANE_ENUM(Name, Size) Name,
    QUORVANE_MASTER_INT_PARAMS(QUORVANE_ENUM)
#undef QUORVANE_ENUM
        Count
};
const char* NameOf(MasterParam m);
int ListSizeOf(MasterParam m);

// Master tune limits: T = round((Hz - 427.4) * 10), 0..255.
constexpr double kMasterTuneMinHz = 427.4;
constexpr double kMasterTuneMaxHz = 452.9;

}  // namespace quorvane
