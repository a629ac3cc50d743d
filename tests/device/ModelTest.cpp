// The model: lazy reads, write-through, invalidation, patch change, probe, and
// the inbound handler's rules for what it stores.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

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
    EXPECT_EQ(model->PatchChange(1), PatchChangeResult::NoAnswer);
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][0], 0xF0);
    silent = false;

    // The channel is the module's: with the master setup unread it is read first,
    // then the memory name of the patch, then the program change goes out and
    // the working patch's name is read to confirm it.
    Poke({0, 0, 0}, {0x0E, 0x07, 0, 0, 0, 0, 0, 0, 0x05, 0x00});
    EXPECT_EQ(model->PatchChange(1), PatchChangeResult::Done);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(HexBytes(sent[0]), "F0 41 10 2B 11 00 00 00 00 00 10 70 F7");
    EXPECT_EQ(HexBytes(sent[1]), HexBytes(BuildRQ1(16, PatchMemoryAddress(1), 24)));
    EXPECT_EQ(HexBytes(sent[2]), "C5 00");
    EXPECT_EQ(HexBytes(sent[3]), "F0 41 10 2B 11 10 04 00 00 00 18 54 F7");
    EXPECT_EQ(model->PatchChange(1), PatchChangeResult::Done);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(HexBytes(sent[0]), "C5 00");
    EXPECT_EQ(HexBytes(sent[1]), "F0 41 10 2B 11 10 04 00 00 00 18 54 F7");
    model->PatchChange(64);
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 3u);  // patch 64's name first
    EXPECT_EQ(HexBytes(sent[1]), "C5 3F");

    // Rx control channel "Off": the module takes no program change; nothing is sent.
    model->MasterSetupMIDIRxCh(16);
    TakeSent();
    EXPECT_EQ(model->PatchChange(2), PatchChangeResult::RxChannelOff);
    EXPECT_NE(model->LastError().find("Off"), std::string::npos);
    EXPECT_EQ(model->PatchChange(0), PatchChangeResult::Refused);
    EXPECT_EQ(model->PatchChange(65), PatchChangeResult::Refused);
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
    model->OnNotResponding = [](RequestKind) { return false; };
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
        if (ParseMessage(answers[0]).address == Address{0x10, 0x04, 0x00}) {
            out.push_back(BuildDT1(16, {0x10, 0x04, 0x00}, Bytes(41, 0x20)));  // names are nibbles
            // The whole patch common block at the same offset under another top
            // byte (inside a patch memory): well formed, but not what was asked.
            Bytes elsewhere = ParseMessage(answers[0]).data;
            const Bytes wrong = EncodeName("Elsewhere");
            std::copy(wrong.begin(), wrong.end(), elsewhere.begin());
            out.push_back(BuildDT1(16, {0x03, 0x04, 0x00}, elsewhere));
        }
        out.push_back(answers[0]);
        return out;
    };
    EXPECT_EQ(model->PatchCommonPatchName(), "Real        ");
    const InboundStats& s = model->Stats();
    // The stray three bytes at 10 04 60 are placed as the start of the rhythm part
    // (twice, before its answer) until the real answer, a whole segment, replaces
    // them; once the segment is complete the later strays are dropped.
    EXPECT_EQ(s.stored, 8u + 2u);
    EXPECT_EQ(s.malformed, 8u + 1u);
    EXPECT_EQ(s.foreign, 16u);
    EXPECT_EQ(s.unexpected, 6u + 1u);
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
    model->OnNotResponding = [&](RequestKind what) {
        EXPECT_EQ(what, RequestKind::PatchData);
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

    // A silent module: false once the 3 s are up. Only a hang is caught here; the
    // figure itself is not a test's business.
    silent = true;
    auto start = Clock::now();
    EXPECT_FALSE(model->Responding());
    EXPECT_LT(Clock::now() - start, 30s);
}

// ---- placement by address, order of waits, patch change -------------------

namespace {
// The answer to one data request, cut into data sets of `chunk` bytes that
// start every `stride` bytes (stride < chunk: the parts overlap).
std::vector<Bytes> Parts(const std::function<uint8_t(Address)>& peek, const ParsedMessage& rq, int chunk, int stride) {
    std::vector<Bytes> out;
    for (int off = 0; off < rq.size; off += stride) {
        Bytes d;
        for (int i = off; i < std::min(rq.size, off + chunk); ++i) d.push_back(peek(rq.address.plus(i)));
        out.push_back(BuildDT1(16, rq.address.plus(off), d));
    }
    return out;
}
}  // namespace

TEST_F(ModelTest, ReplyPartsArePlacedByAddressInAnyOrder) {
    // The patch area: a name, then values that differ from address to address.
    Poke({0x10, 0x04, 0x00}, EncodeName("Late Parts"));
    for (int i = 24; i < 41; ++i) Poke(Address{0x10, 0x04, 0x00}.plus(i), {static_cast<uint8_t>(i)});
    for (int i = 0; i < 7; ++i) Poke(Address{0x10, 0x04, 0x60}.plus(i), {static_cast<uint8_t>(1 + i)});
    for (int p = 1; p <= 6; ++p)
        for (int i = 0; i < 13; ++i) Poke(BlockAddress(Block::PatchPart, p).plus(i), {static_cast<uint8_t>(10 * p + i)});
    auto peek = [this](Address a) { return Peek(a); };

    using Answers = std::vector<std::vector<Bytes>>;  // per request, in the order asked
    struct Case {
        const char* what;
        // Turns the answers into the events delivered (each a list of messages).
        std::function<std::vector<std::vector<Bytes>>(Answers)> order;
        bool loaded;
    };
    auto flat = [](const Answers& a) {
        std::vector<Bytes> all;
        for (const auto& r : a) all.insert(all.end(), r.begin(), r.end());
        return all;
    };
    auto oneEach = [](const std::vector<Bytes>& ms) {
        std::vector<std::vector<Bytes>> ev;
        for (const auto& m : ms) ev.push_back({m});
        return ev;
    };
    const Case cases[] = {
        {"segments in reverse order", [&](Answers a) { std::reverse(a.begin(), a.end()); return oneEach(flat(a)); }, true},
        {"each segment's parts last first", [&](Answers a) {
             for (auto& r : a) std::reverse(r.begin(), r.end());
             return oneEach(flat(a));
         }, true},
        {"all parts shuffled, several to an event", [&](Answers a) {
             std::vector<Bytes> all = flat(a);
             std::mt19937 rng(5);
             std::shuffle(all.begin(), all.end(), rng);
             std::vector<std::vector<Bytes>> ev(1);
             for (size_t i = 0; i < all.size(); ++i) {
                 if (i % 3 == 0) ev.emplace_back();
                 ev.back().push_back(all[i]);
             }
             return ev;
         }, true},
        {"one part comes after every other", [&](Answers a) {
             Bytes late = a[0][1];
             a[0].erase(a[0].begin() + 1);
             auto ev = oneEach(flat(a));
             ev.push_back({late});
             return ev;
         }, true},
        {"a stray part, then the whole segment", [&](Answers a) {
             auto ev = oneEach(flat(a));
             ev.insert(ev.begin(), {BuildDT1(16, {0x10, 0x05, 0x00}, {99, 99})});
             return ev;
         }, true},
        {"a part runs past its segment", [&](Answers a) {
             Bytes& last = a[7].back();
             ParsedMessage p = ParseMessage(last);
             p.data.push_back(0);
             last = BuildDT1(16, p.address, p.data);
             return oneEach(flat(a));
         }, false},
        {"a name part with a byte above 0F", [&](Answers a) {
             ParsedMessage p = ParseMessage(a[0][0]);
             p.data[0] = 0x41;
             a[0][0] = BuildDT1(16, p.address, p.data);
             return oneEach(flat(a));
         }, false},
    };
    for (int chunk : {5, 7}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", parts of " + std::to_string(chunk));
            model = std::make_unique<clsU220>(host, std::make_unique<FakeOutput>(wire), std::make_unique<FakeInput>(wire));
            model->RequestTimeout = 300ms;
            Answers held;
            // Parts of 7 bytes every 5: they overlap.
            wire->responder = [&](const Bytes& m) {
                held.push_back(Parts(peek, ParseMessage(m), chunk, 5));
                if (held.size() == 8)
                    for (auto& ev : c.order(held))
                        wire->deliver(ev);
                return std::vector<Bytes>{};
            };
            model->PatchCommonChorusType();
            ASSERT_EQ(held.size(), 8u);
            EXPECT_EQ(model->PatchDataLoaded(), c.loaded);
            EXPECT_EQ(model->TimeoutCount(), c.loaded ? 0u : 1u);
            EXPECT_GT(model->Stats().stored, 8u);
            if (!c.loaded) {
                EXPECT_GE(model->Stats().dropped(), 1u);
                wire->responder = nullptr;
                EXPECT_EQ(model->PatchCommonPatchName(), "");  // nothing of it was stored
                continue;
            }
            EXPECT_EQ(model->PatchCommonPatchName(), "Late Parts  ");
            for (Param p : AllParams()) {
                const ParamInfo& i = Info(p);
                if (i.block != Block::PatchCommon && i.block != Block::PatchRhythm && i.block != Block::PatchPart) continue;
                for (int index = IndexMin(i.block); index <= IndexMax(i.block); ++index)
                    EXPECT_EQ(model->get(p, index), Peek(ParamAddress(p, index)) - i.bias) << i.name << "[" << index << "]";
            }
        }
    }
}

TEST_F(ModelTest, NestedRequestsAreServedInTheOrderMadeAndEachKnowsItsOwnAnswer) {
    Poke({0x10, 0x05, 0x07}, {11});
    Poke(PatchMemoryAddress(1), EncodeName("First"));
    Poke(PatchMemoryAddress(2), EncodeName("Second"));
    auto normal = wire->responder;
    struct Case {
        const char* what;
        bool outerAnswered;  // the outer request gets its answer (else it is lost)
    };
    for (const Case c : {Case{"every answer comes", true}, Case{"the outer answer is lost", false}}) {
        SCOPED_TRACE(c.what);
        model = std::make_unique<clsU220>(host, std::make_unique<FakeOutput>(wire), std::make_unique<FakeInput>(wire));
        model->RequestTimeout = 300ms;
        std::vector<RequestKind> asked;
        model->OnNotResponding = [&](RequestKind what) {
            asked.push_back(what);
            return false;
        };
        TakeSent();
        // The outer read's answers are held back; while it waits a second read
        // starts, and while that one waits a third (clicks during a wait).
        std::vector<Bytes> held;
        wire->responder = [&](const Bytes& m) {
            auto a = normal(m);
            held.insert(held.end(), a.begin(), a.end());
            return std::vector<Bytes>{};
        };
        std::string second, third;
        bool secondLoaded = false;
        host.post([&] {
            wire->responder = normal;
            host.post([&] {
                if (c.outerAnswered) host.post([&] { wire->deliver(held); });
                third = model->MemoryPatchName(2);
            });
            second = model->MemoryPatchName(1);
            secondLoaded = model->MemoryPatchNameLoaded(1);
        });
        const int16_t level = model->PatchPartLevel(1);
        EXPECT_EQ(second, "First       ");
        EXPECT_TRUE(secondLoaded);
        EXPECT_EQ(third, "Second      ");
        // Sent in the order made: the outer read, then the second, then the third.
        std::vector<std::string> order;
        for (const Bytes& m : TakeSent()) order.push_back(ParseMessage(m).address.toString());
        ASSERT_EQ(order.size(), 10u);
        EXPECT_EQ(order[0], "10 04 00");
        EXPECT_EQ(order[8], PatchMemoryAddress(1).toString());
        EXPECT_EQ(order[9], PatchMemoryAddress(2).toString());
        // Only a request whose own answer did not come counts as unanswered.
        EXPECT_EQ(model->PatchDataLoaded(), c.outerAnswered);
        EXPECT_EQ(level, c.outerAnswered ? 11 : 0);
        EXPECT_EQ(asked, c.outerAnswered ? std::vector<RequestKind>{} : std::vector<RequestKind>{RequestKind::PatchData});
        EXPECT_EQ(model->TimeoutCount(), c.outerAnswered ? 0u : 1u);
        EXPECT_FALSE(model->RequestOpen());
    }
}

// A module whose program change 1 loads patch `loads` (0: it ignores program
// changes), the working patch then carrying that patch's memory name. A read
// made while the change waits is served after it, from the new patch.
TEST_F(ModelTest, PatchChangeForgetsOnSendAndIsConfirmedByTheWorkingName) {
    const char* names[] = {"", "Piano 1", "Strings", "Brass"};
    for (int n = 1; n <= 3; ++n) Poke(PatchMemoryAddress(n), EncodeName(names[n]));
    auto load = [&](int n) {
        Poke({0x10, 0x04, 0x00}, EncodeName(names[n]));
        Poke({0x10, 0x05, 0x07}, {static_cast<uint8_t>(10 * n)});  // part 1 level
    };
    struct Case {
        const char* what;
        int loads;
        bool answersAfterChange;
        int rx;  // Rx control channel, 16 = Off
        PatchChangeResult result;
        const char* errorHas;
    };
    const Case cases[] = {
        {"direct", 2, true, 0, PatchChangeResult::Done, ""},
        {"mapped elsewhere", 3, true, 0, PatchChangeResult::OtherPatch, "\"Brass       \", not patch 2 \"Strings     \""},
        {"ignored", 0, true, 0, PatchChangeResult::OtherPatch, "(Map 2)"},
        {"silent after the change", 2, false, 0, PatchChangeResult::NoAnswer, "did not answer"},
        {"Rx channel Off", 2, true, 16, PatchChangeResult::RxChannelOff, "Off"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        model = std::make_unique<clsU220>(host, std::make_unique<FakeOutput>(wire), std::make_unique<FakeInput>(wire));
        model->RequestTimeout = 300ms;
        std::vector<RequestKind> asked;
        model->OnNotResponding = [&](RequestKind what) {
            asked.push_back(what);
            return false;
        };
        // Master setup: the Rx channel, Patch Change "Map 2".
        Poke({0, 0, 0}, {0x0E, 0x07, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(c.rx % 16), static_cast<uint8_t>(c.rx / 16), 0, 0, 1});
        load(1);
        bool changed = false;
        wire->responder = [&](const Bytes& m) {
            if (m.size() == 2 && m[0] == 0xC0) {
                changed = true;
                if (c.loads) load(c.loads);
                return std::vector<Bytes>{};
            }
            if (changed && !c.answersAfterChange) return std::vector<Bytes>{};
            return Answer(m);
        };
        EXPECT_EQ(model->PatchPartLevel(1), 10);
        EXPECT_EQ(model->MemoryPatchName(2), "Strings     ");
        model->MasterSetupLCD();
        TakeSent();
        int16_t levelDuringWait = -1;
        bool forgottenBeforeTheAnswer = false;
        host.post([&] {
            forgottenBeforeTheAnswer = changed && !model->PatchDataLoaded();
            levelDuringWait = model->PatchPartLevel(1);
        });
        EXPECT_EQ(model->PatchChange(2), c.result);
        if (c.result != PatchChangeResult::Done) {
            EXPECT_NE(model->LastError().find(c.errorHas), std::string::npos) << model->LastError();
        }
        // Silent after the change: the change and the read behind it are each
        // reported once (the read, waiting innermost, asks first).
        const std::vector<RequestKind> expectAsked =
            c.answersAfterChange ? std::vector<RequestKind>{}
                                 : std::vector<RequestKind>{RequestKind::PatchData, RequestKind::PatchChange};
        EXPECT_EQ(asked, expectAsked);
        const auto sent = TakeSent();
        if (c.result == PatchChangeResult::RxChannelOff) {
            EXPECT_TRUE(sent.empty());
            host.processPending();
            continue;
        }
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(HexBytes(sent[0]), "C0 01");
        EXPECT_EQ(ParseMessage(sent[1]).address, (Address{0x10, 0x04, 0x00}));
        EXPECT_TRUE(forgottenBeforeTheAnswer);
        if (c.answersAfterChange) {
            EXPECT_EQ(levelDuringWait, 10 * (c.loads ? c.loads : 1));
            EXPECT_EQ(sent.size(), 2u + 8u);  // the change, then the read
        }
    }
}
