// The model: lazy reads, write-through, invalidation, patch change, probe, and
// the inbound handler's rules for what it stores.
#include <gtest/gtest.h>

#include "ModelFixture.h"

using namespace quorvane;
using namespace quorvane::test;
using namespace std::chrono_literals;

namespace {
Bytes MasterReply() { return {0x0E, 0x07, 0x03, 0x00, 0x03, 0x0E, 0x00, 0x0B, 0x05, 0x00, 0x00, 0x03, 0x01, 0x02, 0x03, 0x0F}; }
}  // namespace

TEST_F(ModelTest, MasterSetupIsReadOnceAndDecoded) {
    Poke({0, 0, 0}, MasterReply());
    EXPECT_FLOAT_EQ(model->MasterSetupMTune(), 440.0f);
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(HexBytes(sent[0]), "F0 41 10 2B 11 00 00 00 00 00 10 70 F7");
    EXPECT_EQ(model->MasterSetupLCD(), 3);
    EXPECT_EQ(model->MasterSetupReverb(), 0);
    EXPECT_EQ(model->MasterSetupChorus(), 0);
    EXPECT_EQ(model->MasterSetupMIDIRxCh(), 5);
    EXPECT_EQ(model->MasterSetupPaCh(), 1);
    EXPECT_EQ(model->MasterSetupTiCh(), 2);
    EXPECT_EQ(model->MasterSetupRhCh(), 3);
    EXPECT_EQ(model->MasterSetupRInstCh(), 7);  // 15 & 7
    EXPECT_TRUE(TakeSent().empty());

    // Offset 03 = 3: both switches on.
    model = nullptr;
    SetUp();
    Bytes both = MasterReply();
    both[3] = 0x03;
    Poke({0, 0, 0}, both);
    EXPECT_EQ(model->MasterSetupChorus(), 1);
    EXPECT_EQ(model->MasterSetupReverb(), 1);
}

TEST_F(ModelTest, MasterSetupWriteSendsTheWholeBlock) {
    // Tune 440.0, LCD 3, chorus 1, reverb 1, Rx ch 0, PaCh 1, TiCh 2, RhCh 3, RInstCh 4.
    Poke({0, 0, 0}, {0x0E, 0x07, 0x03, 0x0F, 0, 0, 0, 0, 0x00, 0x00, 0, 0, 1, 2, 3, 4});
    model->MasterSetupLCD(3);
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 2u);  // the read of the block, then the block
    EXPECT_EQ(HexBytes(sent[1]), "F0 41 10 2B 12 00 00 00 0E 07 03 0F 00 0E 00 0B 00 00 00 03 01 02 03 04 33 F7");

    ASSERT_TRUE(model->MasterSetupMTune(435.4f));
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][8], 0x00);
    EXPECT_EQ(sent[0][9], 0x05);
    ASSERT_TRUE(model->MasterSetupMTune(427.4f));
    sent = TakeSent();
    EXPECT_EQ(sent[0][8], 0x00);
    EXPECT_EQ(sent[0][9], 0x00);
    model->MasterSetupChorus(1);
    model->MasterSetupReverb(0);
    EXPECT_EQ(TakeSent().back()[11], 0x0E);
    // Off (16) is split over two nibbles.
    model->MasterSetupMIDIRxCh(16);
    sent = TakeSent();
    EXPECT_EQ(sent[0][16], 0x00);
    EXPECT_EQ(sent[0][17], 0x01);
    // The model holds the tune the module holds: tenths of a hertz.
    ASSERT_TRUE(model->MasterSetupMTune(441.53f));
    EXPECT_FLOAT_EQ(model->MasterSetupMTune(), 441.5f);
    TakeSent();
    // Out of range: refused, nothing sent.
    EXPECT_FALSE(model->MasterSetupMTune(453.0f));
    model->MasterSetupLCD(16);
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_EQ(model->MasterSetupLCD(), 3);
}

TEST_F(ModelTest, PatchDataIsEightRequestsAndOneBlock) {
    Poke({0x10, 0x04, 0x00}, EncodeName("Piano 1"));
    Poke({0x10, 0x04, 0x1E}, {0x01});  // chorus feedback byte 1 -> 0
    Poke({0x10, 0x05, 0x17}, {100});   // part 2 level
    Poke({0x10, 0x05, 0x56}, {0x7F});  // part 6 velocity threshold 127 -> 126
    Poke({0x10, 0x04, 0x66}, {1});     // rhythm Rx hold
    EXPECT_EQ(model->PatchCommonPatchName(), "Piano 1     ");
    auto sent = TakeSent();
    std::vector<std::string> expected = {
        "F0 41 10 2B 11 10 04 00 00 00 29 43 F7", "F0 41 10 2B 11 10 04 60 00 00 07 05 F7",
        "F0 41 10 2B 11 10 05 00 00 00 0D 5E F7", "F0 41 10 2B 11 10 05 10 00 00 0D 4E F7",
        "F0 41 10 2B 11 10 05 20 00 00 0D 3E F7", "F0 41 10 2B 11 10 05 30 00 00 0D 2E F7",
        "F0 41 10 2B 11 10 05 40 00 00 0D 1E F7", "F0 41 10 2B 11 10 05 50 00 00 0D 0E F7"};
    ASSERT_EQ(sent.size(), expected.size());
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(HexBytes(sent[i]), expected[i]) << i;
    EXPECT_EQ(model->PatchCommonChorusFeedback(), 0);
    EXPECT_EQ(model->PatchPartLevel(2), 100);
    EXPECT_EQ(model->PatchPartVeloThreshold(6), 126);
    EXPECT_EQ(model->PatchRhythmRxHold(), 1);
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(ModelTest, TimbreAndRhythmRequestsFollowTheTable) {
    model->TimbreTimbreLevel(1);
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        ParsedMessage p = ParseMessage(sent[i]);
        EXPECT_EQ(p.address, (Address{0x10, static_cast<uint8_t>(0x10 + i), 0x00}));
        EXPECT_EQ(p.size, 50);
    }
    model->RhythmSetupCommonBenderRangeLower();
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(ParseMessage(sent[0]).size, 26);
    Poke({0x11, 0x24, 0x00}, {1, 2, 3, 35 + 4});
    EXPECT_EQ(model->RhythmSetupInstMuteInst(1), 5);  // reply at 11 24 00 fills InstNo 1
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(HexBytes(sent[0]), HexBytes(BuildRQ1(16, {0x11, 0x24, 0x00}, 20)));
    EXPECT_TRUE(model->RhythmInstLoaded(1));
    EXPECT_FALSE(model->RhythmInstLoaded(0));
}

TEST_F(ModelTest, MemoryNamesAreReadOneByOneAndRaiseTheirEvent) {
    Poke(PatchMemoryAddress(2), EncodeName("Strings"));
    int events = 0;
    model->MemoryPatchNameOneReceived = [&] { ++events; };
    EXPECT_EQ(model->MemoryPatchName(2), "Strings     ");
    EXPECT_EQ(model->MemoryPatchName(2), "Strings     ");
    EXPECT_EQ(events, 1);
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(HexBytes(sent[0]), "F0 41 10 2B 11 03 01 20 00 00 18 44 F7");
    EXPECT_TRUE(model->MemoryPatchNameLoaded(2));
    model->MemoryPatchName(6);
    EXPECT_EQ(TakeSent().size(), 1u);
    model->MemoryTimbreName(128);
    EXPECT_EQ(ParseMessage(TakeSent()[0]).address, TimbreMemoryAddress(128));
    model->MemoryRhythmName(4);
    EXPECT_EQ(ParseMessage(TakeSent()[0]).address, RhythmMemoryAddress(4));
}

TEST_F(ModelTest, LetsSendOneDataSetWithTheBias) {
    struct Case {
        Param p;
        int index;
        int16_t value;
        const char* frame;
    } cases[] = {
        {Param::PatchCommonChorusFeedback, 0, 0, "F0 41 10 2B 12 10 04 1E 01 4D F7"},
        {Param::PatchCommonChorusFeedback, 0, 31, "F0 41 10 2B 12 10 04 1E 20 2E F7"},
        {Param::TimbrePitchShiftCoarse, 1, 24, "F0 41 10 2B 12 10 10 21 20 1F F7"},
        {Param::TimbrePitchShiftFine, 1, 50, "F0 41 10 2B 12 10 10 22 40 7E F7"},
        {Param::RhythmSetupInstPitchShiftCoarse, 0, 0, "F0 41 10 2B 12 11 23 0A 00 42 F7"},
        {Param::RhythmSetupInstPitchShiftFine, 0, 0, "F0 41 10 2B 12 11 23 0B 0E 33 F7"},
        {Param::RhythmSetupInstMuteInst, 0, 0, "F0 41 10 2B 12 11 23 03 22 27 F7"},
        {Param::RhythmSetupInstMuteInst, 0, 1, "F0 41 10 2B 12 11 23 03 23 26 F7"},
        {Param::PatchPartPan, 2, 9, "F0 41 10 2B 12 10 05 19 09 49 F7"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(model->let(c.p, c.index, c.value));
        auto sent = TakeSent();
        ASSERT_EQ(sent.size(), 1u) << Info(c.p).name;
        EXPECT_EQ(HexBytes(sent[0]), c.frame) << Info(c.p).name;
    }
    // A let never reads.
    EXPECT_FALSE(model->PatchDataLoaded());
    // Out of list range or index: refused and counted, nothing sent.
    EXPECT_FALSE(model->let(Param::PatchPartPan, 2, 16));
    EXPECT_FALSE(model->let(Param::PatchPartPan, 7, 1));
    EXPECT_FALSE(model->let(Param::PatchPartPan, 0, 1));
    EXPECT_FALSE(model->let(Param::RhythmSetupInstPan, 64, 1));
    EXPECT_EQ(model->RejectedWrites(), 4u);
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(ModelTest, NameLetsCutToTwelveAndPad) {
    model->PatchCommonPatchName("PIANO");
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 8u + 24u + 2u);
    EXPECT_EQ(DecodeName(&sent[0][8]), "PIANO       ");
    model->TimbreTimbreName(3, "ABCDEFGHIJKLMNO");
    sent = TakeSent();
    EXPECT_EQ(ParseMessage(sent[0]).address, (Address{0x10, 0x12, 0x00}));
    EXPECT_EQ(DecodeName(&sent[0][8]), "ABCDEFGHIJKL");
    // Stored as the first 12; read back after the module has it.
    Poke({0x10, 0x12, 0x00}, EncodeName("ABCDEFGHIJKL"));
    EXPECT_EQ(model->TimbreTimbreName(3), "ABCDEFGHIJKL");
}

TEST_F(ModelTest, InvalidationsMakeTheNextReadAskAgain) {
    model->PatchPartLevel(1);
    model->TimbreDepth(1);
    model->RhythmSetupCommonBenderRangeLower();
    model->RhythmSetupInstPan(0);
    model->MasterSetupLCD();
    TakeSent();
    model->PatchPartTimbreNumber(2, 5);
    EXPECT_EQ(TakeSent().size(), 1u);
    model->TimbreDepth(1);
    EXPECT_EQ(TakeSent().size(), 6u);
    model->PatchRhythmRhythmSetup(1);
    TakeSent();
    model->RhythmSetupCommonBenderRangeLower();
    model->RhythmSetupInstPan(0);
    EXPECT_EQ(TakeSent().size(), 2u);
    EXPECT_TRUE(model->PatchDataLoaded());

    // A patch change forgets patch, timbre and rhythm data, not the master setup.
    model->PatchChange(3);
    TakeSent();
    model->PatchPartLevel(1);
    EXPECT_EQ(TakeSent().size(), 8u);
    model->TimbreDepth(1);
    EXPECT_EQ(TakeSent().size(), 6u);
    model->RhythmSetupInstPan(0);
    EXPECT_EQ(TakeSent().size(), 1u);
    model->MasterSetupLCD();
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(ModelTest, PatchChangeSendsProgramChangeOnTheRxChannel) {
    // A silent module: the Rx channel cannot be known, so no program change is guessed.
    silent = true;
    model->PatchChange(1);
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][0], 0xF0);
    silent = false;

    // The channel is the module's: with the master setup unread it is read first.
    Poke({0, 0, 0}, {0x0E, 0x07, 0, 0, 0, 0, 0, 0, 0x05, 0x00});
    model->PatchChange(1);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(HexBytes(sent[0]), "F0 41 10 2B 11 00 00 00 00 00 10 70 F7");
    EXPECT_EQ(HexBytes(sent[1]), "C5 00");
    EXPECT_EQ(HexBytes(sent[2]), "F0 41 10 2B 11 00 00 00 00 00 10 70 F7");
    model->PatchChange(1);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(HexBytes(sent[0]), "C5 00");
    EXPECT_EQ(HexBytes(sent[1]), "F0 41 10 2B 11 00 00 00 00 00 10 70 F7");
    EXPECT_FALSE(model->PatchChangeAcknowledged());
    model->PatchChange(64);
    EXPECT_EQ(HexBytes(TakeSent()[0]), "C5 3F");

    // Rx control channel "Off": no channel message at all, the rest as usual.
    model->MasterSetupMIDIRxCh(16);
    TakeSent();
    model->PatchChange(2);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][0], 0xF0);
    model->PatchChange(0);
    model->PatchChange(65);
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(ModelTest, DeviceIdChangesTheNextMessageOnly) {
    model->DeviceID(0);
    EXPECT_TRUE(TakeSent().empty());
    model->PatchPartLevel(1, 5);
    EXPECT_EQ(TakeSent()[0][2], 0x00);
    model->DeviceID(200);  // not a data byte: refused
    EXPECT_EQ(model->DeviceID(), 0);
}

TEST_F(ModelTest, ToneNames) {
    EXPECT_EQ(model->ToneName(0, 0), "A.PIANO 1");
    EXPECT_EQ(model->ToneName(0, 127), "DRUMS");
    EXPECT_EQ(model->ToneName(1, 19), "CHURCH RVB");
    EXPECT_EQ(model->ToneName(1, 20), "");
    EXPECT_EQ(model->ToneName(2, 0), "");
    EXPECT_EQ(model->ToneName(0, 128), "");
}

// ---- what the inbound handler stores ------------------------------------

TEST_F(ModelTest, PatchDataCompletesOnlyWithTheEighthReply) {
    wire->responder = nullptr;  // replies are fed by hand
    Poke({0x10, 0x05, 0x57}, {42});
    model->RequestTimeout = 2000ms;
    std::vector<Bytes> replies;
    int fed = 0;
    model->OnNotResponding = [](const std::string&) { return false; };
    // Feed the replies one event at a time from inside the wait.
    wire->responder = [&](const Bytes& m) {
        replies.push_back(Answer(m)[0]);
        if (replies.size() == 8) {
            for (auto& r : replies) {
                host.post([&, r] {
                    EXPECT_FALSE(model->PatchDataLoaded());
                    wire->inbox.push_back(r);
                    ++fed;
                    wire->notifyInput();
                });
            }
        }
        return std::vector<Bytes>{};
    };
    EXPECT_EQ(model->PatchPartLevel(6), 42);
    EXPECT_EQ(fed, 8);
    EXPECT_TRUE(model->PatchDataLoaded());
    EXPECT_EQ(model->Stats().stored, 8u);
}

TEST_F(ModelTest, MessagesOutsideARequestChangeNothing) {
    wire->deliver({BuildDT1(16, {0x10, 0x04, 0x00}, EncodeName("Intruder"))});
    host.processPending();
    EXPECT_FALSE(model->PatchDataLoaded());
    EXPECT_EQ(model->Stats().unexpected, 1u);
    EXPECT_EQ(model->ExpectedReply(), "");
}

TEST_F(ModelTest, ForeignDamagedAndMisplacedMessagesAreDroppedAndCounted) {
    Poke({0x10, 0x04, 0x00}, EncodeName("Real"));
    auto normal = wire->responder;
    wire->responder = [&](const Bytes& m) {
        auto answers = normal(m);
        if (answers.empty()) return answers;
        Bytes damaged = answers[0];
        damaged[9] ^= 0x01;  // checksum no longer matches
        Bytes otherDevice = answers[0];
        otherDevice[2] = 0x11;
        Bytes otherMaker = answers[0];
        otherMaker[1] = 0x43;
        Bytes misplaced = BuildDT1(16, {0x10, 0x04, 0x60}, {9, 9, 9});  // not the address awaited next
        std::vector<Bytes> out{damaged, otherDevice, otherMaker, misplaced};
        if (ParseMessage(answers[0]).address == Address{0x10, 0x04, 0x00})
            out.push_back(BuildDT1(16, {0x10, 0x04, 0x00}, Bytes(41, 0x20)));  // names are nibbles
        out.push_back(answers[0]);
        return out;
    };
    EXPECT_EQ(model->PatchCommonPatchName(), "Real        ");
    const InboundStats& s = model->Stats();
    // The stray three bytes at 10 04 60 are taken for the start of the rhythm part
    // until the real answer at the same address begins it again.
    EXPECT_EQ(s.stored, 9u);
    EXPECT_EQ(s.malformed, 8u + 1u);
    EXPECT_EQ(s.foreign, 16u);
    EXPECT_EQ(s.unexpected, 7u);
    EXPECT_EQ(model->PatchRhythmRhythmSetup(), 0);
}

TEST_F(ModelTest, AReplySplitOverSeveralMessagesIsJoinedByAddress) {
    Poke({0x10, 0x10, 0x00}, EncodeName("Split"));
    wire->responder = [&](const Bytes& m) {
        ParsedMessage p = ParseMessage(m);
        std::vector<Bytes> out;
        for (int off = 0; off < p.size; off += 20) {
            Bytes d;
            for (int i = off; i < std::min(p.size, off + 20); ++i) d.push_back(Peek(p.address.plus(i)));
            out.push_back(BuildDT1(16, p.address.plus(off), d));
        }
        return out;
    };
    EXPECT_EQ(model->TimbreTimbreName(1), "Split       ");
}

TEST_F(ModelTest, ASilentModuleEndsInTheTimeoutCallbackAndCancelKeepsTheBlockUnread) {
    silent = true;
    int asked = 0;
    model->RequestTimeout = 3000ms;
    model->OnNotResponding = [&](const std::string& what) {
        EXPECT_EQ(what, "Patch Data");
        return ++asked < 2;  // Retry once, then Cancel
    };
    auto start = Clock::now();
    EXPECT_EQ(model->PatchPartLevel(1), 0);
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(asked, 2);
    EXPECT_LT(elapsed, 7s);
    EXPECT_FALSE(model->PatchDataLoaded());
    EXPECT_EQ(model->TimeoutCount(), 2u);
    EXPECT_EQ(model->ExpectedReply(), "");
    // The next read asks again, and succeeds once the module answers.
    silent = false;
    Poke({0x10, 0x05, 0x07}, {77});
    TakeSent();
    EXPECT_EQ(model->PatchPartLevel(1), 77);
    EXPECT_EQ(TakeSent().size(), 8u);
}

TEST_F(ModelTest, ARequestStartedDuringAWaitQueuesBehindIt) {
    Poke({0x10, 0x05, 0x07}, {11});
    Poke(PatchMemoryAddress(1), EncodeName("First"));
    // The first answer is held back; while the patch data request waits, a name
    // read starts (as a click during loading would).
    std::vector<Bytes> held;
    auto normal = wire->responder;
    wire->responder = [&](const Bytes& m) {
        auto a = normal(m);
        held.insert(held.end(), a.begin(), a.end());
        return std::vector<Bytes>{};
    };
    std::string nameDuringWait;
    bool nestedDone = false;
    host.post([&] {
        wire->responder = normal;
        // Still waiting for patch data: this read must not overwrite the open request.
        EXPECT_EQ(model->ExpectedReply(), "Patch Data");
        host.post([&] { wire->deliver(held); });
        nameDuringWait = model->MemoryPatchName(1);
        nestedDone = true;
    });
    EXPECT_EQ(model->PatchPartLevel(1), 11);
    EXPECT_TRUE(nestedDone);
    EXPECT_EQ(nameDuringWait, "First       ");
    EXPECT_EQ(model->Stats().unexpected, 0u);
}

TEST_F(ModelTest, RespondingProbesWithThePatchRequest) {
    EXPECT_TRUE(model->Responding());
    EXPECT_TRUE(model->PatchDataLoaded());
    EXPECT_EQ(TakeSent().size(), 8u);
    model->PatchPartLevel(1);
    EXPECT_TRUE(TakeSent().empty());

    silent = true;
    auto start = Clock::now();
    EXPECT_FALSE(model->Responding());
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 2900ms);
    EXPECT_LT(elapsed, 3500ms);
}
