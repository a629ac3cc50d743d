// The model against the virtual module: every parameter round trip, pacing
// against a module that loses messages sent too close together, and reads that
// end with the module's exact values on a noisy line.
#include <gtest/gtest.h>

#include "device/clsU220.h"
#include "emulator/VirtualU220.h"

using namespace quorvane;
using namespace std::chrono_literals;

namespace {

class VirtualModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        vm = std::make_shared<midi::VirtualU220>();
        Connect();
    }
    void Connect() {
        auto post = [this](std::function<void()> f) { host.post(std::move(f)); };
        model = std::make_unique<clsU220>(host, vm->makeOutput(), vm->makeInput(post));
        ASSERT_TRUE(model->MIDIOutput1->open(-1));
        ASSERT_TRUE(model->MIDIInput1->open(0));
    }
    void TearDown() override { model.reset(); }

    uint8_t Peek(Address a) {
        return vm->withEmulator([&](emulator::U220Emulator& e) { return e.peek(a); });
    }
    int16_t ModuleValue(Param p, int index) { return Peek(ParamAddress(p, index)) - Info(p).bias; }

    SimpleHost host;
    std::shared_ptr<midi::VirtualU220> vm;
    std::unique_ptr<clsU220> model;
};

int Indexes(Param p, int& first) {
    Block b = Info(p).block;
    first = IndexMin(b);
    return IndexMax(b) - IndexMin(b) + 1;
}

}  // namespace

TEST_F(VirtualModuleTest, EveryParameterRoundTripsThroughTheModule) {
    for (Param p : AllParams()) {
        const ParamInfo& info = Info(p);
        int first;
        const int count = Indexes(p, first);
        for (int index = first; index < first + count; ++index) {
            // A value other than the one the module holds, inside the list.
            const int16_t old = model->get(p, index);
            const int16_t value = static_cast<int16_t>((old + 1 + index) % info.listSize);
            ASSERT_TRUE(model->let(p, index, value)) << info.name;
            EXPECT_EQ(Peek(ParamAddress(p, index)), value + info.bias) << info.name << "[" << index << "]";
            model->InvalidateAll();
            EXPECT_EQ(model->get(p, index), value) << info.name << "[" << index << "]";
        }
    }
    EXPECT_EQ(model->Stats().dropped(), 0u);
    // Every read after a forget asked the module again.
    EXPECT_GE(model->Stats().stored, 2u * AllParams().size());
}

TEST_F(VirtualModuleTest, NamesAndMasterSetupRoundTrip) {
    model->PatchCommonPatchName("New Patch");
    model->TimbreTimbreName(6, std::string("Bass \xB1\xB2", 7));
    model->RhythmSeupCommonSetupName("Kit 12345678901");
    model->InvalidateAll();
    EXPECT_EQ(model->PatchCommonPatchName(), "New Patch   ");
    EXPECT_EQ(model->TimbreTimbreName(6), std::string("Bass \xB1\xB2     ", 12));
    EXPECT_EQ(model->RhythmSeupCommonSetupName(), "Kit 12345678");

    ASSERT_TRUE(model->MasterSetupMTune(441.5f));
    model->MasterSetupLCD(9);
    model->MasterSetupChorus(0);
    model->MasterSetupReverb(1);
    model->MasterSetupMIDIRxCh(16);
    model->MasterSetupRInstCh(5);
    // A fresh model reads the module's master setup.
    model.reset();
    Connect();
    EXPECT_FLOAT_EQ(model->MasterSetupMTune(), 441.5f);
    EXPECT_EQ(model->MasterSetupLCD(), 9);
    EXPECT_EQ(model->MasterSetupChorus(), 0);
    EXPECT_EQ(model->MasterSetupReverb(), 1);
    EXPECT_EQ(model->MasterSetupMIDIRxCh(), 16);
    EXPECT_EQ(model->MasterSetupRInstCh(), 5);
    // The constant nibbles are written as the module expects them.
    EXPECT_EQ(Peek({0, 0, 5}), 14);
    EXPECT_EQ(Peek({0, 0, 7}), 11);
    EXPECT_EQ(Peek({0, 0, 0x0B}), 3);
}

TEST_F(VirtualModuleTest, PatchChangeLoadsThePatchIntoTheTemporaryArea) {
    const std::string name7 = model->MemoryPatchName(7);
    model->MasterSetupMIDIRxCh();
    model->PatchChange(7);
    EXPECT_EQ(model->PatchCommonPatchName(), name7);
    EXPECT_EQ(vm->withEmulator([](emulator::U220Emulator& e) { return e.currentPatch(); }), 7);
}

TEST_F(VirtualModuleTest, PacedWritesAllReachAModuleThatLosesCloseMessages) {
    vm->withEmulator([](emulator::U220Emulator& e) {
        emulator::WireModel w;
        w.enabled = true;
        w.minGapMs = 20;
        e.setWireModel(w);
        return 0;
    });
    model->MIDIOutput1->setSendGapMs(20);
    // 100 writes to one address: the latest value wins.
    for (int i = 0; i < 100; ++i) model->PatchPartLevel(3, static_cast<int16_t>(i));
    // 100 writes to 100 addresses.
    std::vector<std::pair<Param, int>> targets;
    for (int inst = 0; inst < 50; ++inst) {
        targets.push_back({Param::RhythmSetupInstInstLevel, inst});
        targets.push_back({Param::RhythmSetupInstPan, inst});
    }
    for (size_t i = 0; i < targets.size(); ++i)
        model->let(targets[i].first, targets[i].second, static_cast<int16_t>(i % 16));
    model->MIDIOutput1->flush();
    EXPECT_EQ(ModuleValue(Param::PatchPartLevel, 3), 99);
    for (size_t i = 0; i < targets.size(); ++i)
        EXPECT_EQ(ModuleValue(targets[i].first, targets[i].second), static_cast<int16_t>(i % 16)) << i;
    EXPECT_EQ(vm->withEmulator([](emulator::U220Emulator& e) { return e.stats().lostToGap; }), 0u);
}

TEST_F(VirtualModuleTest, ANoisyLineNeverStoresAWrongValue) {
    vm->withEmulator([](emulator::U220Emulator& e) {
        emulator::FaultModel f;
        f.drop = 0.05;
        f.damage = 0.05;
        f.foreign = 0.10;
        f.seed = 7;
        e.setFaults(f);
        return 0;
    });
    model->RequestTimeout = 100ms;
    model->OnNotResponding = [](RequestKind) { return true; };  // Retry
    for (Param p : AllParams()) {
        int first;
        const int count = Indexes(p, first);
        for (int index = first; index < first + count; ++index)
            EXPECT_EQ(model->get(p, index), ModuleValue(p, index)) << Info(p).name << "[" << index << "]";
    }
    for (int n = 1; n <= 128; ++n) {
        Bytes raw = vm->withEmulator([&](emulator::U220Emulator& e) { return e.read(TimbreMemoryAddress(n), 24); });
        EXPECT_EQ(model->MemoryTimbreName(static_cast<int16_t>(n)), DecodeName(raw.data())) << n;
    }
    EXPECT_GT(model->Stats().dropped(), 0u);
    EXPECT_GT(model->TimeoutCount(), 0u);
}

TEST_F(VirtualModuleTest, ASilentModuleEndsInTheCallbackWithinTheLimit) {
    vm->withEmulator([](emulator::U220Emulator& e) {
        e.setSilent(true);
        return 0;
    });
    bool asked = false;
    model->OnNotResponding = [&](RequestKind) {
        asked = true;
        return false;
    };
    const auto start = Clock::now();
    model->MemoryPatchName(1);
    EXPECT_TRUE(asked);
    EXPECT_LT(Clock::now() - start, 30s);  // ends (a hang would not): the figure is no test's business
    EXPECT_FALSE(model->MemoryPatchNameLoaded(1));
}

// Answers that come late (200 ms, well inside the time limit) arrive out of
// order: every part is still placed by its address, no read times out.
TEST_F(VirtualModuleTest, LateAnswersAreStillPlacedWithoutATimeOut) {
    vm->withEmulator([](emulator::U220Emulator& e) {
        emulator::FaultModel f;
        f.delay = 0.3;
        f.delayMs = 200;
        f.seed = 3;
        e.setFaults(f);
        return 0;
    });
    model->OnNotResponding = [](RequestKind) { return false; };
    for (int round = 0; round < 5; ++round) {
        model->InvalidateAll();
        for (Param p : AllParams()) {
            const Block b = Info(p).block;
            if (b != Block::PatchCommon && b != Block::PatchPart && b != Block::Timbre) continue;
            int first;
            const int count = Indexes(p, first);
            for (int index = first; index < first + count; ++index)
                ASSERT_EQ(model->get(p, index), ModuleValue(p, index)) << Info(p).name << "[" << index << "]";
        }
    }
    EXPECT_GT(vm->withEmulator([](emulator::U220Emulator& e) { return e.stats().delayed; }), 0u);
    EXPECT_EQ(model->TimeoutCount(), 0u);
}

