// Messages in words for the MIDI monitor, and the hooks that feed it: the
// model's message observer with the inbound verdicts, and the send queue's
// merged and dropped messages.
#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "ModelFixture.h"
#include "device/MessageDecoder.h"
#include "midi/PacedSender.h"

using namespace quorvane;
using quorvane::test::ModelTest;

namespace {

Bytes Dt1(Address a, Bytes data) { return BuildDT1(16, a, data); }
Bytes Rq1(Address a, int size) { return BuildRQ1(16, a, size); }
Bytes Nibbles(const std::string& name, size_t total) {
    Bytes b = EncodeName(name);
    b.resize(total, 0);
    return b;
}
const Bytes kMasterBlock{0x0E, 0x07, 0x03, 0x00, 0x03, 0x0E, 0x00, 0x0B, 0x05, 0x00, 0x00, 0x03, 0x01, 0x02, 0x03, 0x0F};

}  // namespace

TEST(MessageDecoder, DescribesEveryKindOfMessage) {
    struct Case {
        Bytes message;
        MessageMeaning::Type type;
        std::string text;
    };
    using T = MessageMeaning::Type;
    const Case cases[] = {
        // One parameter of each block kind, the bias taken off.
        {Dt1(ParamAddress(Param::PatchPartPan, 2), {9}), T::ParamWrite, "Patch part 2 pan = 9"},
        {Dt1(ParamAddress(Param::PatchCommonChorusFeedback), {32}), T::ParamWrite, "Patch chorus feedback = 31"},
        {Dt1(ParamAddress(Param::PatchRhythmLevel), {100}), T::ParamWrite, "Patch rhythm part level = 100"},
        {Dt1(ParamAddress(Param::TimbreEnvAttackRate, 3), {8}), T::ParamWrite, "Timbre part 3 env attack rate = 7"},
        {Dt1(ParamAddress(Param::TimbrePitchShiftFine, 6), {64}), T::ParamWrite, "Timbre part 6 pitch shift fine = 50"},
        {Dt1(ParamAddress(Param::RhythmSetupCommonBenderRangeLower), {2}), T::ParamWrite,
         "Rhythm setup bender range lower = 2"},
        {Dt1(ParamAddress(Param::RhythmSetupInstMuteInst, 1), {34}), T::ParamWrite, "Rhythm setup key C2 mute inst = 0"},
        {Dt1(ParamAddress(Param::RhythmSetupInstPan, 63), {15}), T::ParamWrite, "Rhythm setup key D7 pan = 15"},
        {Dt1(ParamAddress(Param::PatchCommonParam2, 0), {3}), T::ParamWrite, "Patch param 2 = 3"},
        // A byte below the bias or past the list is shown as the byte.
        {Dt1(ParamAddress(Param::PatchPartVeloThreshold, 6), {0}), T::ParamWrite,
         "Patch part 6 velo threshold = byte 00 (outside the list)"},
        {Dt1(ParamAddress(Param::PatchPartPan, 1), {0x7F}), T::ParamWrite, "Patch part 1 pan = byte 7F (outside the list)"},
        // Names.
        {Dt1({0x10, 0x04, 0x00}, EncodeName("AB")), T::NameWrite, "Patch name = \"AB\""},
        {Dt1({0x10, 0x11, 0x00}, EncodeName("Piano 2")), T::NameWrite, "Timbre part 2 name = \"Piano 2\""},
        {Dt1({0x11, 0x00, 0x00}, EncodeName("Drums")), T::NameWrite, "Rhythm setup name = \"Drums\""},
        // The master setup block and block replies.
        {Dt1({0, 0, 0}, kMasterBlock), T::Data,
         "data: master setup 00 00 00, 16 bytes (tune 440.0 Hz, chorus off, reverb off, LCD 3, Rx channel 6)"},
        {Dt1({0x10, 0x04, 0x00}, Nibbles("Piano 1", 41)), T::Data, "data: patch data 10 04 00, 41 bytes: \"Piano 1\""},
        {Dt1({0x10, 0x04, 0x60}, Bytes(7, 1)), T::Data, "data: patch data (rhythm part) 10 04 60, 7 bytes"},
        {Dt1({0x10, 0x05, 0x50}, Bytes(13, 1)), T::Data, "data: patch data (part 6) 10 05 50, 13 bytes"},
        {Dt1({0x11, 0x23, 0x00}, Bytes(20, 1)), T::Data, "data: rhythm setup key B1 11 23 00, 20 bytes"},
        {Dt1(PatchMemoryAddress(2), EncodeName("Brass")), T::Data, "data: patch memory 2 name 03 01 20, 24 bytes: \"Brass\""},
        {Dt1({0x20, 0x00, 0x00}, {1}), T::Data, "data: address 20 00 00, 1 byte"},
        // Every request the model makes.
        {Rq1({0, 0, 0}, 16), T::Request, "request: master setup 00 00 00, 16 bytes"},
        {Rq1({0x10, 0x04, 0x00}, 41), T::Request, "request: patch data 10 04 00, 41 bytes"},
        {Rq1({0x10, 0x04, 0x60}, 7), T::Request, "request: patch data (rhythm part) 10 04 60, 7 bytes"},
        {Rq1({0x10, 0x05, 0x10}, 13), T::Request, "request: patch data (part 2) 10 05 10, 13 bytes"},
        {Rq1({0x10, 0x15, 0x00}, 50), T::Request, "request: timbre data (part 6) 10 15 00, 50 bytes"},
        {Rq1({0x11, 0x00, 0x00}, 26), T::Request, "request: rhythm setup common 11 00 00, 26 bytes"},
        {Rq1({0x11, 0x24, 0x00}, 20), T::Request, "request: rhythm setup key C2 11 24 00, 20 bytes"},
        {Rq1(PatchMemoryAddress(2), 24), T::Request, "request: patch memory 2 name 03 01 20, 24 bytes"},
        {Rq1(TimbreMemoryAddress(128), 24), T::Request, "request: timbre memory 128 name 02 3F 40, 24 bytes"},
        {Rq1(RhythmMemoryAddress(4), 24), T::Request, "request: rhythm setup memory 4 name 05 24 60, 24 bytes"},
        // Channel messages.
        {{0xC0, 4}, T::Channel, "program change 5 on channel 1"},
        {{0xCF, 0}, T::Channel, "program change 1 on channel 16"},
        {{0x91, 60, 100}, T::Channel, "note on C4 velocity 100 on channel 2"},
        {{0x91, 60, 0}, T::Channel, "note off C4 on channel 2"},
        {{0x80, 0, 64}, T::Channel, "note off C-1 on channel 1"},
        // Not for this module, or no message at all.
        {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7}, T::Other, "System Exclusive of another maker or model, 6 bytes"},
        {{0xF0, 0x41, 0x10, 0x2B, 0x12, 0xF7}, T::Other, "System Exclusive cut short, 6 bytes"},
        {{}, T::Other, "empty message"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(HexBytes(c.message));
        const MessageMeaning m = DescribeMessage(c.message);
        EXPECT_EQ(m.text, c.text);
        EXPECT_EQ(m.type, c.type);
    }
    // A parameter write carries what the window needs to show the list text.
    const MessageMeaning pan = DescribeMessage(Dt1(ParamAddress(Param::PatchPartPan, 2), {9}));
    ASSERT_TRUE(pan.param.has_value());
    EXPECT_EQ(*pan.param, Param::PatchPartPan);
    EXPECT_EQ(pan.index, 2);
    EXPECT_EQ(pan.value, 9);
    EXPECT_EQ(pan.subject, "Patch part 2 pan");
    // Every parameter of the table, at every index, is found again from its own address.
    for (Param p : AllParams()) {
        const ParamInfo& i = Info(p);
        for (int index = IndexMin(i.block); index <= IndexMax(i.block); ++index) {
            const MessageMeaning m = DescribeMessage(Dt1(ParamAddress(p, index), {i.bias}));
            ASSERT_TRUE(m.param.has_value()) << i.name << " " << index;
            EXPECT_EQ(*m.param, p) << i.name;
            EXPECT_EQ(m.index, index) << i.name;
            EXPECT_EQ(m.value, 0) << i.name;
        }
    }
}

TEST(MessageDecoder, EventsSayWhatBecameOfTheMessage) {
    using K = MonitorEvent::Kind;
    using V = MonitorEvent::Verdict;
    const Bytes pan = Dt1(ParamAddress(Param::PatchPartPan, 2), {9});
    const Bytes common = Dt1({0x11, 0x00, 0x00}, Nibbles("Kit", 26));
    Bytes damaged = common;
    damaged[damaged.size() - 2] ^= 0x01;
    Bytes otherDevice = common;
    otherDevice[2] = 0x11;
    otherDevice[otherDevice.size() - 2] = Checksum(Bytes(otherDevice.begin() + 5, otherDevice.end() - 2));
    Bytes wideNibble = Dt1(PatchMemoryAddress(1), Bytes(24, 0x20));
    struct Case {
        MonitorEvent event;
        std::string text;
    };
    const Case cases[] = {
        {{K::Sent, pan}, "Patch part 2 pan = <2"},
        {{K::Received, common, V::Stored}, "data: rhythm setup common 11 00 00, 26 bytes: \"Kit\""},
        {{K::Received, damaged, V::Malformed}, "dropped: checksum (data: rhythm setup common 11 00 00, 26 bytes: \"Kit\")"},
        {{K::Received, {0xF0, 0x41, 0x10, 0x2B, 0x12, 0xF7}, V::Malformed},
         "dropped: malformed, too short (System Exclusive cut short, 6 bytes)"},
        {{K::Received, wideNibble, V::Malformed},
         "dropped: a byte out of range (data: patch memory 1 name 03 00 00, 24 bytes)"},
        {{K::Received, otherDevice, V::Foreign},
         "dropped: foreign, device ID 18 (data: rhythm setup common 11 00 00, 26 bytes: \"Kit\")"},
        {{K::Received, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7}, V::Foreign},
         "dropped: foreign (System Exclusive of another maker or model, 6 bytes)"},
        {{K::Received, Rq1({0, 0, 0}, 16), V::Foreign}, "dropped: foreign, a request (request: master setup 00 00 00, 16 bytes)"},
        {{K::Received, pan, V::Unexpected}, "dropped: unexpected, not awaited (Patch part 2 pan = <2)"},
        {{K::Merged, pan}, "merged: Patch part 2 pan = <2 (replaced by a newer value before it left)"},
        {{K::Dropped, {0xC0, 0}, V::None, "port vanished"}, "dropped before sending: program change 1 on channel 1 (port vanished)"},
        {{K::Lost, {}, V::None, "1"}, "lost by the MIDI input: 1 message (cut short or malformed, or the input queue was full)"},
    };
    // Stands in for the window's value lists: only the pan list is known here.
    const ValueNamer namer = [](Param p, int value) -> std::optional<std::string> {
        if (p != Param::PatchPartPan) return std::nullopt;
        return value == 9 ? "<2" : "?";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DescribeEvent(c.event, namer), c.text);
    }
    EXPECT_EQ(DescribeEvent({K::Sent, pan}), "Patch part 2 pan = 9");  // no lists: the number
    EXPECT_STREQ(DirectionOf(K::Received), "in");
    EXPECT_STREQ(DirectionOf(K::Lost), "in");
    for (K k : {K::Sent, K::Merged, K::Dropped}) EXPECT_STREQ(DirectionOf(k), "out");
}

// The model reports what it sends and what it receives, with the inbound verdict.
TEST_F(ModelTest, MonitorSeesEveryMessageWithItsVerdict) {
    std::vector<MonitorEvent> seen;
    model->OnMessage = [&](const MonitorEvent& e) { seen.push_back(e); };
    Poke({0, 0, 0}, kMasterBlock);
    const Bytes name = EncodeName("Strings");
    Poke({0x03, 0x02, 0x40}, name);  // patch memory 3
    Poke({0x10, 0x04, 0x00}, name);  // the working patch, once the module has switched
    ASSERT_EQ(model->MasterSetupMIDIRxCh(), 5);
    model->PatchChange(3);
    const Bytes good = Dt1({0x10, 0x04, 0x60}, Bytes(7, 1));
    Bytes damaged = good;
    damaged[8] ^= 1;
    Bytes otherDevice = good;
    otherDevice[2] = 0x11;
    otherDevice[otherDevice.size() - 2] = Checksum(Bytes(otherDevice.begin() + 5, otherDevice.end() - 2));
    wire->deliver({damaged, otherDevice, good});
    host.processPending();

    using K = MonitorEvent::Kind;
    using V = MonitorEvent::Verdict;
    struct Expect {
        K kind;
        V verdict;
        std::string text;
    };
    const Expect expected[] = {
        {K::Sent, V::None, "request: master setup 00 00 00, 16 bytes"},
        {K::Received, V::Stored,
         "data: master setup 00 00 00, 16 bytes (tune 440.0 Hz, chorus off, reverb off, LCD 3, Rx channel 6)"},
        {K::Sent, V::None, "request: patch memory 3 name 03 02 40, 24 bytes"},
        {K::Received, V::Stored, "data: patch memory 3 name 03 02 40, 24 bytes: \"Strings\""},
        {K::Sent, V::None, "program change 3 on channel 6"},
        {K::Sent, V::None, "request: patch data 10 04 00, 24 bytes"},
        {K::Received, V::Stored, "Patch name = \"Strings\""},
        {K::Received, V::Malformed, "dropped: checksum (data: patch data (rhythm part) 10 04 60, 7 bytes)"},
        {K::Received, V::Foreign, "dropped: foreign, device ID 18 (data: patch data (rhythm part) 10 04 60, 7 bytes)"},
        {K::Received, V::Unexpected, "dropped: unexpected, not awaited (data: patch data (rhythm part) 10 04 60, 7 bytes)"},
    };
    ASSERT_EQ(seen.size(), std::size(expected));
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].kind, expected[i].kind);
        EXPECT_EQ(seen[i].verdict, expected[i].verdict);
        EXPECT_EQ(DescribeEvent(seen[i]), expected[i].text);
    }
    // What the model reported sending is what went out, byte for byte.
    const std::vector<Bytes> sent = TakeSent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(seen[0].message, sent[0]);
    EXPECT_EQ(seen[2].message, sent[1]);
    EXPECT_EQ(seen[4].message, sent[2]);
    EXPECT_EQ(seen[5].message, sent[3]);
}

// Messages the input port could not deliver are reported once, as many as there were.
TEST_F(ModelTest, MonitorHearsOfMessagesTheInputLost) {
    struct LossyInput : test::FakeInput {
        using FakeInput::FakeInput;
        uint64_t lost = 0;
        uint64_t droppedCount() const override { return lost; }
    };
    auto w = std::make_shared<test::FakeWire>();
    w->host = &host;
    auto input = std::make_unique<LossyInput>(w);
    LossyInput* lossy = input.get();
    clsU220 m(host, std::make_unique<test::FakeOutput>(w), std::move(input));
    std::vector<std::string> seen;
    m.OnMessage = [&](const MonitorEvent& e) { seen.push_back(DescribeEvent(e)); };
    const Bytes stray = Dt1(ParamAddress(Param::PatchPartPan, 1), {3});
    for (uint64_t lost : {3, 4, 4}) {
        lossy->lost = lost;
        w->deliver({stray});
        host.processPending();
    }
    const std::string strayLine = "dropped: unexpected, not awaited (Patch part 1 pan = 3)";
    const std::string note = " (cut short or malformed, or the input queue was full)";
    EXPECT_EQ(seen, (std::vector<std::string>{strayLine, "lost by the MIDI input: 3 messages" + note, strayLine,
                                              "lost by the MIDI input: 1 message" + note, strayLine}));
}

// The send queue tells which messages never left and why.
TEST(MessageDecoder, SendQueueReportsMergedAndDroppedMessages) {
    using midi::PacedSender;
    std::mutex m;
    std::vector<std::tuple<PacedSender::QueueEvent, Bytes, std::string>> events;
    std::vector<Bytes> wire;
    const Bytes first = Dt1(ParamAddress(Param::PatchPartPan, 2), {1});
    const Bytes second = Dt1(ParamAddress(Param::PatchPartPan, 2), {2});
    const Bytes request = Rq1({0, 0, 0}, 16);
    {
        PacedSender s([&](const Bytes& b) {
            std::lock_guard lock(m);
            if (b.size() == 2) throw std::runtime_error("port vanished");
            wire.push_back(b);
        });
        s.setQueueObserver([&](PacedSender::QueueEvent ev, const Bytes& b, const std::string& why) {
            std::lock_guard lock(m);
            events.emplace_back(ev, b, why);
        });
        s.setGapMs(10000);  // nothing leaves while the test fills the queue, after the first
        s.enqueue(request);
        // Once the request has left, the gap holds everything else in the queue.
        for (int i = 0; i < 500 && s.sent() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(s.sent(), 1u);
        s.enqueue(first);
        s.enqueue(second);  // replaces `first`, which is reported as merged
        s.clear();          // `second` never leaves
        s.setGapMs(0);
        s.enqueue({0xC0, 1});  // the port refuses it
        s.flush();
    }
    using E = PacedSender::QueueEvent;
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], std::make_tuple(E::Merged, first, std::string()));
    EXPECT_EQ(events[1], std::make_tuple(E::Dropped, second, std::string("send queue cleared")));
    EXPECT_EQ(events[2], std::make_tuple(E::Dropped, Bytes{0xC0, 1}, std::string("port vanished")));
    EXPECT_EQ(wire, std::vector<Bytes>{request});
}
