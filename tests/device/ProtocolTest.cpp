// Byte-exact frames, checksums, addresses, biases and names.
#include <gtest/gtest.h>

#include "device/NameCodec.h"
#include "device/ParamTable.h"
#include "device/Protocol.h"

using namespace quorvane;

namespace {
Bytes Hex(const std::string& s) {
    Bytes b;
    for (size_t i = 0; i + 1 < s.size() + 1; i += 3) b.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return b;
}
}  // namespace

TEST(Protocol, ChecksumFollowsTheRolandSumRule) {
    EXPECT_EQ(Checksum({}), 0x00);
    EXPECT_EQ(Checksum({0x40, 0x40}), 0x00);  // a sum of exactly 128 gives 00h, never 80h
    EXPECT_EQ(Checksum({0x7F, 0x7F, 0x02}), 0x00);
    EXPECT_EQ(Checksum({0x10, 0x05, 0x17, 0x64}), 0x70);
}

TEST(Protocol, RequestAndDataSetFramesMatchTheModule) {
    EXPECT_EQ(HexBytes(BuildRQ1(16, {0, 0, 0}, 16)), "F0 41 10 2B 11 00 00 00 00 00 10 70 F7");
    EXPECT_EQ(HexBytes(BuildRQ1(16, {0x10, 0x04, 0x00}, 41)), "F0 41 10 2B 11 10 04 00 00 00 29 43 F7");
    EXPECT_EQ(HexBytes(BuildRQ1(16, PatchMemoryAddress(1), 24)), "F0 41 10 2B 11 03 00 00 00 00 18 65 F7");
    EXPECT_EQ(HexBytes(BuildDT1(16, ParamAddress(Param::PatchPartLevel, 2), {100})), "F0 41 10 2B 12 10 05 17 64 70 F7");
    // The device ID byte is sent unchanged, 0 included.
    EXPECT_EQ(BuildRQ1(0, {0, 0, 0}, 16)[2], 0x00);
}

TEST(Protocol, ParseAcceptsOnlyWellFormedFramesOfThisModel) {
    Bytes good = BuildDT1(16, {0x10, 0x04, 0x60}, {1, 2, 3});
    ParsedMessage p = ParseMessage(good);
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(p.address, (Address{0x10, 0x04, 0x60}));
    EXPECT_EQ(p.data, (Bytes{1, 2, 3}));

    Bytes badSum = good;
    badSum[9] ^= 1;
    EXPECT_FALSE(ParseMessage(badSum).valid);
    Bytes otherMaker = good;
    otherMaker[1] = 0x43;
    EXPECT_FALSE(ParseMessage(otherMaker).valid);
    Bytes statusInside = good;
    statusInside[8] = 0x90;
    EXPECT_FALSE(ParseMessage(statusInside).valid);
    EXPECT_FALSE(ParseMessage({0xF0, 0xF7}).valid);
    EXPECT_FALSE(ParseMessage(Hex("F0 41 10 2B 12 10 04 60 0C")).valid);  // cut short, no F7
    ParsedMessage rq = ParseMessage(BuildRQ1(16, {0x11, 0x24, 0x00}, 20));
    ASSERT_TRUE(rq.valid);
    EXPECT_EQ(rq.size, 20);
}

TEST(Protocol, MemoryAddressesUseNibblePairStrides) {
    EXPECT_EQ(PatchMemoryAddress(1).toString(), "03 00 00");
    EXPECT_EQ(PatchMemoryAddress(2).toString(), "03 01 20");
    EXPECT_EQ(PatchMemoryAddress(64).toString(), "03 4E 60");
    EXPECT_EQ(TimbreMemoryAddress(2).toString(), "02 00 40");
    EXPECT_EQ(TimbreMemoryAddress(128).toString(), "02 3F 40");
    EXPECT_EQ(RhythmMemoryAddress(1).toString(), "05 00 00");
    EXPECT_EQ(RhythmMemoryAddress(2).toString(), "05 0C 20");
    EXPECT_EQ(RhythmMemoryAddress(3).toString(), "05 18 40");
    EXPECT_EQ(RhythmMemoryAddress(4).toString(), "05 24 60");
}

TEST(ParamTable, AddressesAtTheEdgesOfEachBlock) {
    EXPECT_EQ(ParamAddress(Param::PatchPartOutputAssign, 6).toString(), "10 05 58");
    EXPECT_EQ(ParamAddress(Param::PatchPartRxHold, 6).toString(), "10 05 5C");
    EXPECT_EQ(ParamAddress(Param::TimbreVibratoPolyAfterSens, 1).toString(), "10 10 31");
    EXPECT_EQ(ParamAddress(Param::TimbreVibratoPolyAfterSens, 6).toString(), "10 15 31");
    EXPECT_EQ(ParamAddress(Param::RhythmSetupInstPan, 1).toString(), "11 24 13");
    EXPECT_EQ(ParamAddress(Param::PatchRhythmRxHold).toString(), "10 04 66");
    EXPECT_EQ(ParamAddress(Param::PatchCommonParam3Param).toString(), "10 04 28");
    EXPECT_EQ(ParamAddress(Param::RhythmSetupCommonBenderRangeHigher).toString(), "11 00 19");
}

TEST(ParamTable, EveryValueOfEveryListFitsSevenBits) {
    for (Param p : AllParams()) {
        const ParamInfo& i = Info(p);
        EXPECT_GT(i.listSize, 1) << i.name;
        EXPECT_LE(i.listSize - 1 + i.bias, 127) << i.name;
        EXPECT_LT(i.offset, BlockSize(i.block)) << i.name;
        EXPECT_EQ(FindParam(i.name), p);
    }
    EXPECT_FALSE(FindParam("PatchPartNothing"));
}

TEST(Names, EncodedAsTwelveNibblePairsPaddedWithSpaces) {
    EXPECT_EQ(HexBytes(BuildDT1(16, {0x10, 0x04, 0x00}, EncodeName("AB"))),
              "F0 41 10 2B 12 10 04 00 01 04 02 04 00 02 00 02 00 02 00 02 00 02 00 02 00 02 00 02 00 02 00 02 4D F7");
    Bytes thirteen = EncodeName("ABCDEFGHIJKLM");
    ASSERT_EQ(thirteen.size(), 24u);
    EXPECT_EQ(DecodeName(thirteen.data()), "ABCDEFGHIJKL");
    Bytes twelve = EncodeName("Piano 1     ");
    EXPECT_EQ(DecodeName(twelve.data()), "Piano 1     ");
}

TEST(Names, CodePageHoldsAsciiAndHalfWidthKatakanaOnly) {
    auto bytes = Utf8ToNameBytes("Aｱﾟ~");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, std::string("A\xB1\xDF~"));
    EXPECT_EQ(NameBytesToUtf8(*bytes), "Aｱﾟ~");
    std::string error;
    EXPECT_FALSE(Utf8ToNameBytes("Grüße", &error));
    EXPECT_NE(error.find("ü"), std::string::npos);
    EXPECT_FALSE(Utf8ToNameBytes("ア"));          // full-width katakana has no one-byte code
    EXPECT_FALSE(Utf8ToNameBytes("\xC3"));        // broken UTF-8
    EXPECT_EQ(NameBytesToUtf8(std::string("\x01", 1)), "\xEF\xBF\xBD");  // control byte shown as U+FFFD
}
