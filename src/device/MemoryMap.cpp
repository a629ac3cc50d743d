// Where things are in the module's memory.
#include "clsU220.h"

namespace quorvane {

std::vector<clsU220::Segment> clsU220::SegmentsOf(Kind k, int index) const {
    using sysex::kNameBytes;
    constexpr int kName = static_cast<int>(kNameBytes);
    switch (k) {
        case Kind::MasterSetup: return {{BlockAddress(Block::MasterSetup), 16, 16}};
        // After the program change: the working patch's name, to compare with the
        // memory name of the patch asked for.
        case Kind::PatchChange: return {{BlockAddress(Block::PatchCommon), kName, kName}};
        case Kind::PatchData: {
            std::vector<Segment> s{{BlockAddress(Block::PatchCommon), 41, kName}, {BlockAddress(Block::PatchRhythm), 7, 0}};
            for (int p = 1; p <= 6; ++p) s.push_back({BlockAddress(Block::PatchPart, p), 13, 0});
            return s;
        }
        case Kind::TimbreData: {
            std::vector<Segment> s;
            for (int p = 1; p <= 6; ++p) s.push_back({BlockAddress(Block::Timbre, p), 50, kName});
            return s;
        }
        case Kind::RhythmCommon: return {{BlockAddress(Block::RhythmCommon), 26, kName}};
        case Kind::RhythmInst: return {{BlockAddress(Block::RhythmInst, index), 20, 0}};
        case Kind::PatchName: return {{PatchMemoryAddress(index), kName, kName}};
        case Kind::TimbreName: return {{TimbreMemoryAddress(index), kName, kName}};
        case Kind::RhythmName: return {{RhythmMemoryAddress(index), kName, kName}};
        case Kind::RawRange: return {};  // given by the caller
    }
    return {};
}

size_t clsU220::Slot(Block b, int index) {
    switch (b) {
        case Block::PatchCommon: return 0;
        case Block::PatchRhythm: return 1;
        case Block::PatchPart: return 1 + index;
        case Block::Timbre: return 7 + index;
        case Block::RhythmCommon: return 14;
        case Block::RhythmInst: return 15 + index;
        case Block::MasterSetup: break;
    }
    return 0;
}

}  // namespace quorvane
