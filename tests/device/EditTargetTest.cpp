// The one table of what can be edited, as the undo history and the command-line
// tool use it: names that find their target, index ranges, and values read
// without waiting only from loaded blocks.
#include <gtest/gtest.h>

#include <set>

#include "device/EditTarget.h"
#include "device/ModelFixture.h"

using namespace quorvane;

TEST(EditTarget, EveryNameFindsItsOwnTargetInAnyCase) {
    std::set<std::string> lower;
    for (const EditTarget& t : AllEditTargets()) {
        const std::string name = NameOf(t);
        ASSERT_FALSE(name.empty());
        std::string folded;
        for (char c : name) folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(lower.insert(folded).second) << name << " twice";
        EXPECT_EQ(FindEditTarget(name), t) << name;
        EXPECT_EQ(FindEditTarget(folded), t) << folded;
    }
    EXPECT_FALSE(FindEditTarget("PatchPartPanX"));
    const struct {
        const char* name;
        bool needed;
        int min, max;
        std::string what;
    } cases[] = {
        {"MasterSetupMTune", false, 0, 0, ""},         {"MasterSetupMIDIRxCh", false, 0, 0, ""},
        {"PatchCommonPatchName", false, 0, 0, ""},     {"PatchPartPan", true, 1, 6, "part number"},
        {"TimbreTimbreName", true, 1, 6, "part number"}, {"RhythmSetupInstPan", true, 0, 63, "instrument number"},
        {"MemoryPatchName", true, 1, 64, "patch number"}, {"MemoryTimbreName", true, 1, 128, "timbre number"},
        {"MemoryRhythmName", true, 1, 4, "rhythm setup number"},
    };
    for (const auto& c : cases) {
        const auto t = FindEditTarget(c.name);
        ASSERT_TRUE(t) << c.name;
        const IndexRange r = IndexRangeOf(*t);
        EXPECT_EQ(r.needed, c.needed) << c.name;
        EXPECT_EQ(r.min, c.min) << c.name;
        EXPECT_EQ(r.max, c.max) << c.name;
        EXPECT_EQ(r.what, c.what) << c.name;
    }
}

class EditTargetModel : public test::ModelTest {};

// An edit's "before" value must never wait for the module: what is not loaded
// is unknown (nothing sent); once loaded it reads as the model holds it, and a
// write through the target reaches the module.
TEST_F(EditTargetModel, LoadedValueNeverAsksTheModule) {
    const EditTarget targets[] = {EditTarget::Of(Param::PatchPartPan, 2), EditTarget::Of(NameParam::TimbreTimbreName, 3),
                                  EditTarget::Of(Param::RhythmSetupInstPan, 40),
                                  EditTarget::Tune(), EditTarget::Of(MemoryKind::Timbre, 5)};
    for (const EditTarget& t : targets) {
        EXPECT_FALSE(LoadedValue(*model, t)) << NameOf(t);
        EXPECT_TRUE(TakeSent().empty()) << NameOf(t);
        const EditValue read = ReadTarget(*model, t);  // this one waits for the module
        EXPECT_FALSE(TakeSent().empty()) << NameOf(t);
        const auto held = LoadedValue(*model, t);
        ASSERT_TRUE(held) << NameOf(t);
        EXPECT_EQ(*held, read) << NameOf(t);
        EXPECT_TRUE(TakeSent().empty()) << NameOf(t);
    }
    EXPECT_TRUE(WriteTarget(*model, EditTarget::Of(Param::PatchPartPan, 2), EditValue{3}));
    EXPECT_EQ(TakeSent().size(), 1u);
    EXPECT_FALSE(WriteTarget(*model, EditTarget::Of(MemoryKind::Timbre, 5), EditValue{std::string("x")}));
    EXPECT_FALSE(WriteTarget(*model, EditTarget::Of(Param::PatchPartPan, 2), EditValue{std::string("x")}));
    EXPECT_TRUE(TakeSent().empty());
}
