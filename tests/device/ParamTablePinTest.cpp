// Pins every one-byte parameter of the module against a table written out by hand
// from the module's memory map and the editors' lists. The model, the virtual module
// and the simulator all share one parameter table, so their round trips would pass a
// wrong row; this table is the independent reference. It is checked twice: against
// the code's table, and against what the model really sends and decodes.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ModelFixture.h"
#include "ParamPins.h"
#include "device/ParamTable.h"

using namespace quorvane;
using namespace quorvane::test;
using namespace quorvane::test::pins;

// The code's table holds exactly these rows, each with this address at every index,
// this bias, this list size and this index range; the master fields' lists agree.
TEST(ParamTablePin, CodeTableEqualsTheHandWrittenMap) {
    std::set<std::string> listed;
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.name);
        listed.insert(r.name);
        const Param p = ParamOf(r);
        ASSERT_NE(p, Param::Count) << "missing from the code's table";
        const ParamInfo& info = Info(p);
        EXPECT_EQ(info.bias, r.bias);
        EXPECT_EQ(info.listSize, r.size);
        EXPECT_EQ(IndexMin(info.block), FirstIndex(r.area));
        EXPECT_EQ(IndexMax(info.block), LastIndex(r.area));
        for (int i = FirstIndex(r.area); i <= LastIndex(r.area); ++i)
            EXPECT_EQ(ParamAddress(p, i).toString(), Expected(r, i).toString()) << "index " << i;
        EXPECT_LE(r.size - 1 + r.bias, 127);  // the hand table itself stays in seven bits
    }
    EXPECT_EQ(listed.size(), std::size(kRows)) << "a row is written twice";
    EXPECT_EQ(AllParams().size(), std::size(kRows));
    for (Param p : AllParams()) EXPECT_TRUE(listed.count(Info(p).name)) << Info(p).name << " is not in the map";

    ASSERT_EQ(static_cast<size_t>(MasterParam::Count), std::size(kMasterRows));
    for (const auto& m : kMasterRows) {
        EXPECT_STREQ(NameOf(m.m), m.name);
        EXPECT_EQ(ListSizeOf(m.m), m.size) << m.name;
    }
}

// What the model really does with each row: the lowest and highest list entries go
// out as one data set at the mapped address with the biased byte, one past the list
// is refused, and a reply holding a distinct byte at every mapped address decodes to
// the right value in the right parameter at every index.
TEST_F(ModelTest, EveryParameterIsSentAndDecodedAtItsMappedAddress) {
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.name);
        const Param p = ParamOf(r);
        ASSERT_NE(p, Param::Count);
        for (int i : {FirstIndex(r.area), LastIndex(r.area)}) {
            for (int v : {0, r.size - 1}) {
                ASSERT_TRUE(model->let(p, i, static_cast<int16_t>(v)));
                auto sent = TakeSent();
                ASSERT_EQ(sent.size(), 1u);
                ParsedMessage m = ParseMessage(sent[0]);
                ASSERT_TRUE(m.valid);
                EXPECT_EQ(m.command, sysex::kDT1);
                EXPECT_EQ(m.address.toString(), Expected(r, i).toString()) << "index " << i;
                ASSERT_EQ(m.data.size(), 1u);
                EXPECT_EQ(m.data[0], v + r.bias) << "index " << i << " value " << v;
            }
            EXPECT_FALSE(model->let(p, i, static_cast<int16_t>(r.size))) << "index " << i;
            EXPECT_TRUE(TakeSent().empty());
        }
    }

    // A distinct in-range value per row and index, placed at the mapped address.
    auto valueFor = [](size_t row, int i, const Row& r) { return static_cast<int>((row * 7 + i * 3 + 1) % r.size); };
    for (size_t k = 0; k < std::size(kRows); ++k)
        for (int i = FirstIndex(kRows[k].area); i <= LastIndex(kRows[k].area); ++i)
            Poke(Expected(kRows[k], i), {static_cast<uint8_t>(valueFor(k, i, kRows[k]) + kRows[k].bias)});
    for (size_t k = 0; k < std::size(kRows); ++k) {
        const Row& r = kRows[k];
        for (int i = FirstIndex(r.area); i <= LastIndex(r.area); ++i)
            EXPECT_EQ(model->get(ParamOf(r), i), valueFor(k, i, r)) << r.name << " index " << i;
    }
}
