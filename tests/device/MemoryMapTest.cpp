// The memory map against the module's own bytes: the requests each read sends,
// the first and last address of every memory, the block slots, and the master
// setup block taken apart and put together again.
#include <gtest/gtest.h>

#include <set>

#include "device/MemoryMap.h"

using namespace quorvane;

namespace {
std::string Requests(RequestKind kind, int index) {
    std::string s;
    for (const Segment& seg : SegmentsOf(kind, index))
        s += (s.empty() ? "" : " | ") + HexBytes(BuildRQ1(16, seg.address, seg.size)) + " n" + std::to_string(seg.nibbles);
    return s;
}
}  // namespace

TEST(MemoryMap, EachReadAsksForTheModulesStretchesInOrder) {
    const struct {
        RequestKind kind;
        int index;
        std::string frames;  // the RQ1 of each segment, and how many leading bytes are nibbles
    } cases[] = {
        {RequestKind::MasterSetup, 0, "F0 41 10 2B 11 00 00 00 00 00 10 70 F7 n16"},
        {RequestKind::PatchChange, 7, "F0 41 10 2B 11 10 04 00 00 00 18 54 F7 n24"},
        {RequestKind::PatchData, 0,
         "F0 41 10 2B 11 10 04 00 00 00 29 43 F7 n24 | F0 41 10 2B 11 10 04 60 00 00 07 05 F7 n0 | "
         "F0 41 10 2B 11 10 05 00 00 00 0D 5E F7 n0 | F0 41 10 2B 11 10 05 10 00 00 0D 4E F7 n0 | "
         "F0 41 10 2B 11 10 05 20 00 00 0D 3E F7 n0 | F0 41 10 2B 11 10 05 30 00 00 0D 2E F7 n0 | "
         "F0 41 10 2B 11 10 05 40 00 00 0D 1E F7 n0 | F0 41 10 2B 11 10 05 50 00 00 0D 0E F7 n0"},
        {RequestKind::TimbreData, 0,
         "F0 41 10 2B 11 10 10 00 00 00 32 2E F7 n24 | F0 41 10 2B 11 10 11 00 00 00 32 2D F7 n24 | "
         "F0 41 10 2B 11 10 12 00 00 00 32 2C F7 n24 | F0 41 10 2B 11 10 13 00 00 00 32 2B F7 n24 | "
         "F0 41 10 2B 11 10 14 00 00 00 32 2A F7 n24 | F0 41 10 2B 11 10 15 00 00 00 32 29 F7 n24"},
        {RequestKind::RhythmCommon, 0, "F0 41 10 2B 11 11 00 00 00 00 1A 55 F7 n24"},
        {RequestKind::RhythmInst, 0, "F0 41 10 2B 11 11 23 00 00 00 14 38 F7 n0"},
        {RequestKind::RhythmInst, 63, "F0 41 10 2B 11 11 62 00 00 00 14 79 F7 n0"},
        {RequestKind::PatchName, 2, "F0 41 10 2B 11 03 01 20 00 00 18 44 F7 n24"},
        {RequestKind::TimbreName, 128, "F0 41 10 2B 11 02 3F 40 00 00 18 67 F7 n24"},
        {RequestKind::RhythmName, 4, "F0 41 10 2B 11 05 24 60 00 00 18 5F F7 n24"},
        {RequestKind::RawRange, 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Requests(c.kind, c.index), c.frames) << static_cast<int>(c.kind) << " " << c.index;
    // The working patch and timbre replies are the sums of their segments.
    EXPECT_EQ(kPatchDataBytes, 126);
    EXPECT_EQ(kTimbreDataBytes, 300);
}

TEST(MemoryMap, MemoriesSpanTheirAreasWithoutGaps) {
    const struct {
        MemoryKind kind;
        int count;
        std::string first, last;  // first address of memory 1, last address of the last memory
        const char* word;
    } cases[] = {
        {MemoryKind::Timbre, 128, "02 00 00", "02 3F 7F", "timbre"},
        {MemoryKind::Patch, 64, "03 00 00", "03 4F 7F", "patch"},
        {MemoryKind::Rhythm, 4, "05 00 00", "05 30 7F", "rhythm setup"},
    };
    for (const auto& c : cases) {
        const MemoryArea& area = AreaOf(c.kind);
        EXPECT_EQ(area.count, c.count);
        EXPECT_EQ(MemoryAddress(c.kind, 1).toString(), c.first);
        const Address last = MemoryAddress(c.kind, c.count).plus(area.recordSize - 1);
        EXPECT_EQ(last.toString(), c.last);
        EXPECT_STREQ(MemoryWord(c.kind), c.word);
        // Every memory's first and last address lie in that memory; one past the end in none.
        for (int n = 1; n <= c.count; ++n) {
            for (Address a : {MemoryAddress(c.kind, n), MemoryAddress(c.kind, n).plus(area.recordSize - 1)}) {
                const auto at = MemoryAt(a);
                ASSERT_TRUE(at) << a.toString();
                EXPECT_EQ(at->kind, c.kind);
                EXPECT_EQ(at->number, n) << a.toString();
            }
        }
        EXPECT_FALSE(MemoryAt(last.plus(1))) << last.plus(1).toString();
    }
    EXPECT_FALSE(MemoryAt({0x10, 0x04, 0x00}));  // the working area is no memory
}

TEST(MemoryMap, BlockSlotsAreDistinctAndCoverTheStore) {
    std::set<size_t> slots;
    for (Block b : {Block::PatchCommon, Block::PatchRhythm, Block::PatchPart, Block::Timbre, Block::RhythmCommon,
                    Block::RhythmInst}) {
        ASSERT_LE(BlockSize(b), static_cast<int>(kSlotValues));
        for (int i = IndexMin(b); i <= IndexMax(b); ++i) {
            const size_t slot = Slot(b, i);
            EXPECT_LT(slot, kSlots);
            EXPECT_TRUE(slots.insert(slot).second) << "slot " << slot << " twice";
        }
    }
    EXPECT_EQ(slots.size(), kSlots);
}

TEST(MemoryMap, MasterSetupBlockRoundTrips) {
    const struct {
        Bytes bytes;  // as the module sends the block
        int tune, lcd, reverb, chorus, rx, pa;
    } cases[] = {
        // 440.0 Hz, LCD 5, reverb on, chorus off, Rx channel 2, patch change Map 3
        {{0x0E, 0x07, 0x05, 0x0D, 0, 14, 0, 11, 0x01, 0x00, 0, 3, 2, 1, 0, 4}, 126, 5, 1, 0, 1, 2},
        // 427.4 Hz, chorus on, Rx channel Off (16), Dir
        {{0x00, 0x00, 0x0F, 0x0E, 0, 14, 0, 11, 0x00, 0x01, 0, 3, 4, 5, 0, 0}, 0, 15, 0, 1, 16, 4},
        // 452.9 Hz, both effects on, channel 16
        {{0x0F, 0x0F, 0x00, 0x0F, 0, 14, 0, 11, 0x0F, 0x00, 0, 3, 5, 5, 5, 5}, 255, 0, 1, 1, 15, 5},
    };
    for (const auto& c : cases) {
        MasterValues v{};
        EXPECT_EQ(DecodeMasterSetup(c.bytes.data(), v), c.tune);
        auto at = [&](MasterParam m) { return v[static_cast<size_t>(m)]; };
        EXPECT_EQ(at(MasterParam::MasterSetupLCD), c.lcd);
        EXPECT_EQ(at(MasterParam::MasterSetupReverb), c.reverb);
        EXPECT_EQ(at(MasterParam::MasterSetupChorus), c.chorus);
        EXPECT_EQ(at(MasterParam::MasterSetupMIDIRxCh), c.rx);
        EXPECT_EQ(at(MasterParam::MasterSetupPaCh), c.pa);
        EXPECT_EQ(HexBytes(EncodeMasterSetup(c.tune, v)), HexBytes(c.bytes));
    }
}
