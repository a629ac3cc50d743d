// The composite port set (virtual module first, real ports after it), the
// reassembly of chunked System Exclusive input, and the RtMidi ports' handling
// of bad requests when no MIDI server is reachable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "device/Host.h"
#include "midi/PortSet.h"
#include "midi/RtMidiPorts.h"

using namespace quorvane;
using namespace quorvane::midi;

namespace {

// A stand-in back end that records what it is asked to do.
struct Log {
    std::vector<std::string> events;
};

class FakeOutput : public MIDIOutput {
public:
    FakeOutput(std::string tag, int count, Log& log) : tag_(std::move(tag)), count_(count), log_(log) {}
    int deviceCount() const override { return count_; }
    std::string deviceName(int i) const override {
        return i >= firstDevice() && i < count_ ? tag_ + std::to_string(i) : std::string();
    }
    bool open(int i) override {
        log_.events.push_back(tag_ + " open " + std::to_string(i));
        if (deviceName(i).empty()) return false;
        open_ = true;
        return true;
    }
    void close() override {
        if (open_) log_.events.push_back(tag_ + " close");
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    void sendShort(uint8_t s, uint8_t d) override { log_.events.push_back(tag_ + " short " + std::to_string(s) + " " + std::to_string(d)); }
    void sendSysEx(const Bytes& f) override { log_.events.push_back(tag_ + " sysex " + std::to_string(f.size())); }
    void setSendGapMs(int ms) override { gap_ = ms; }
    int sendGapMs() const override { return gap_; }
    int firstDevice() const { return tag_ == "V" ? -1 : 0; }

private:
    std::string tag_;
    int count_;
    Log& log_;
    bool open_ = false;
    int gap_ = -100;
};

class FakeInput : public MIDIInput {
public:
    FakeInput(std::string tag, int count, Log& log) : tag_(std::move(tag)), count_(count), log_(log) {}
    int deviceCount() const override { return count_; }
    std::string deviceName(int i) const override { return i >= 0 && i < count_ ? tag_ + std::to_string(i) : std::string(); }
    bool open(int i) override {
        log_.events.push_back(tag_ + " open " + std::to_string(i));
        open_ = !deviceName(i).empty();
        return open_;
    }
    void close() override {
        if (open_) log_.events.push_back(tag_ + " close");
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    int messageCount() const override { return static_cast<int>(queue.size()); }
    Bytes receivedMessage() const override { return queue.empty() ? Bytes{} : queue.front(); }
    void discard() override {
        if (!queue.empty()) queue.erase(queue.begin());
    }
    std::vector<Bytes> queue;

private:
    std::string tag_;
    int count_;
    Log& log_;
    bool open_ = false;
};

struct Composite {
    Log log;
    FakeOutput* vOut;
    FakeOutput* rOut;
    FakeInput* vIn;
    FakeInput* rIn;
    Ports ports;
    std::vector<std::pair<int, std::string>> errors;

    explicit Composite(int realOutputs = 2, int realInputs = 3) {
        auto vo = std::make_unique<FakeOutput>("V", 0, log);
        auto ro = std::make_unique<FakeOutput>("R", realOutputs, log);
        auto vi = std::make_unique<FakeInput>("V", 1, log);
        auto ri = std::make_unique<FakeInput>("R", realInputs, log);
        vOut = vo.get();
        rOut = ro.get();
        vIn = vi.get();
        rIn = ri.get();
        ports = CombinePorts(std::move(vo), std::move(vi), std::move(ro), std::move(ri));
        ports.output->onError = [this](int c, const std::string& t) { errors.emplace_back(c, t); };
        ports.input->onError = [this](int c, const std::string& t) { errors.emplace_back(c, t); };
    }
};

TEST(PortSet, ListsTheVirtualModuleFirstInBothLists) {
    Composite c(2, 3);
    MIDIOutput& out = *c.ports.output;
    MIDIInput& in = *c.ports.input;
    // Output: -1 is the virtual module, 0..count-1 the real ports unshifted.
    ASSERT_EQ(out.deviceCount(), 2);
    EXPECT_EQ(out.deviceName(-1), "V-1");
    EXPECT_EQ(out.deviceName(0), "R0");
    EXPECT_EQ(out.deviceName(1), "R1");
    EXPECT_EQ(out.deviceName(2), "");
    // Input: 0 is the virtual module, real port i is device i+1.
    ASSERT_EQ(in.deviceCount(), 4);
    EXPECT_EQ(in.deviceName(0), "V0");
    EXPECT_EQ(in.deviceName(1), "R0");
    EXPECT_EQ(in.deviceName(3), "R2");
    EXPECT_EQ(in.deviceName(4), "");
    EXPECT_EQ(in.deviceName(-1), "");
}

TEST(PortSet, OpeningSwitchesBackEndsAndMapsIndexes) {
    Composite c;
    MIDIOutput& out = *c.ports.output;
    MIDIInput& in = *c.ports.input;

    ASSERT_TRUE(out.open(-1));
    ASSERT_TRUE(in.open(0));
    out.sendShort(0xC0, 5);
    ASSERT_TRUE(out.open(1));  // closes the virtual one, opens real port 1
    ASSERT_TRUE(in.open(3));   // real input 2
    out.sendSysEx({0xF0, 0x7F, 0xF7});
    EXPECT_EQ(c.log.events, (std::vector<std::string>{"V open -1", "V open 0", "V short 192 5", "V close", "R open 1",
                                                      "V close", "R open 2", "R sysex 3"}));
    EXPECT_TRUE(out.isOpen());
    EXPECT_TRUE(c.rOut->isOpen());
    EXPECT_FALSE(c.vOut->isOpen());

    out.close();
    in.close();
    EXPECT_FALSE(out.isOpen());
    EXPECT_FALSE(in.isOpen());
    EXPECT_TRUE(c.errors.empty());
}

TEST(PortSet, RefusesIndexesOutsideTheListsWithAnErrorNumberTheModelShows) {
    Composite c(2, 1);
    EXPECT_FALSE(c.ports.output->open(2));
    EXPECT_FALSE(c.ports.output->open(-2));
    EXPECT_FALSE(c.ports.input->open(2));
    EXPECT_FALSE(c.ports.input->open(-1));
    ASSERT_EQ(c.errors.size(), 4u);
    for (const auto& [code, text] : c.errors) {
        EXPECT_NE(code, 0);
        EXPECT_NE(code, 8);
        EXPECT_NE(text.find("no MIDI"), std::string::npos) << text;
    }
    EXPECT_NE(c.errors[2].second.find("number 2"), std::string::npos) << "composite numbering in the text";
    EXPECT_FALSE(c.ports.output->isOpen());
    EXPECT_FALSE(c.ports.input->isOpen());
}

TEST(PortSet, SendGapIsZeroForTheVirtualModuleAndTwentyForRealPortsUnlessSet) {
    Composite c;
    MIDIOutput& out = *c.ports.output;
    out.open(-1);
    EXPECT_EQ(c.vOut->sendGapMs(), 0);
    out.open(0);
    EXPECT_EQ(c.rOut->sendGapMs(), 20);
    EXPECT_EQ(out.sendGapMs(), 20);
    out.setSendGapMs(7);
    EXPECT_EQ(c.rOut->sendGapMs(), 7);
    out.open(-1);
    EXPECT_EQ(c.vOut->sendGapMs(), 7) << "a gap set by the caller applies to either back end";
}

TEST(PortSet, PassesErrorsAndReceivedEventsThrough) {
    Composite c;
    MIDIInput& in = *c.ports.input;
    int received = 0;
    in.onSysExReceived = [&] { ++received; };
    ASSERT_TRUE(in.open(1));
    c.rIn->queue.push_back({0xF0, 0x01, 0xF7});
    c.rIn->onSysExReceived();
    EXPECT_EQ(received, 1);
    EXPECT_EQ(in.messageCount(), 1);
    EXPECT_EQ(in.receivedMessage(), (Bytes{0xF0, 0x01, 0xF7}));
    in.discard();
    EXPECT_EQ(in.messageCount(), 0);

    c.rOut->onError(42, "port broke");
    c.vIn->onError(43, "virtual broke");
    ASSERT_EQ(c.errors.size(), 2u);
    EXPECT_EQ(c.errors[0], std::make_pair(42, std::string("port broke")));
    EXPECT_EQ(c.errors[1], std::make_pair(43, std::string("virtual broke")));
}

// ---------------------------------------------------------------------------

std::vector<Bytes> feedAll(SysExAssembler& a, const std::vector<Bytes>& chunks) {
    std::vector<Bytes> out;
    for (const auto& c : chunks) a.feed(c.data(), c.size(), [&](const Bytes& m) { out.push_back(m); });
    return out;
}

TEST(SysExAssembler, JoinsChunksAndPassesOtherMessages) {
    SysExAssembler a;
    auto out = feedAll(a, {{0xF0, 0x41, 0x10}, {0x2B, 0x12}, {0xF8}, {0x00, 0xF7}, {0xC0, 0x05}, {0xF0, 0x7E, 0xF7}});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], (Bytes{0xF8}));  // real time inside a System Exclusive passes through
    EXPECT_EQ(out[1], (Bytes{0xF0, 0x41, 0x10, 0x2B, 0x12, 0x00, 0xF7}));
    EXPECT_EQ(out[2], (Bytes{0xC0, 0x05}));
    EXPECT_EQ(out[3], (Bytes{0xF0, 0x7E, 0xF7}));
    EXPECT_EQ(a.incomplete(), 0u);
}

TEST(SysExAssembler, DropsAndCountsMessagesThatAreCutShortOrMalformed) {
    SysExAssembler a(16);
    auto out = feedAll(a, {
                              {0xF0, 0x41, 0x10},        // cut short by the program change below
                              {0xC0, 0x02},              //
                              {0x12, 0x34, 0xF7},        // continuation of nothing
                              {0xF0, 0x01, 0xF0, 0xF7},  // a new start inside: first one dropped
                              Bytes(40, 0x11),           // orphan data
                          });
    EXPECT_EQ(out, (std::vector<Bytes>{{0xC0, 0x02}, {0xF0, 0xF7}}));
    EXPECT_EQ(a.incomplete(), 4u);

    Bytes longOne(1, 0xF0);
    longOne.insert(longOne.end(), 30, 0x22);
    longOne.push_back(0xF7);
    out = feedAll(a, {longOne, {0xF0, 0x01, 0xF7}});
    EXPECT_EQ(out, (std::vector<Bytes>{{0xF0, 0x01, 0xF7}})) << "over the size limit: dropped, next one intact";
    EXPECT_EQ(a.incomplete(), 5u);
}

// ---------------------------------------------------------------------------
// RtMidi ports with no MIDI server to talk to: nothing printed, nothing thrown,
// every refusal reported through onError on the posting thread.

class RtMidiNoServer : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("JACK_DEFAULT_SERVER");
        saved_ = old ? old : "";
        hadOld_ = old != nullptr;
        setenv("JACK_DEFAULT_SERVER", "quorvane-no-such-server", 1);
    }
    void TearDown() override {
        if (hadOld_) setenv("JACK_DEFAULT_SERVER", saved_.c_str(), 1);
        else unsetenv("JACK_DEFAULT_SERVER");
    }
    SimpleHost host;
    PostFn post = [this](std::function<void()> fn) { host.post(std::move(fn)); };
    std::string saved_;
    bool hadOld_ = false;
};

TEST_F(RtMidiNoServer, ListsQuietlyAndRefusesBadRequestsThroughOnError) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    std::vector<std::pair<int, std::string>> errors;
    {
        RtMidiOutput out(post);
        RtMidiInput in(post);
        out.onError = in.onError = [&](int c, const std::string& t) { errors.emplace_back(c, t); };
        const int outs = out.deviceCount();
        const int ins = in.deviceCount();

        EXPECT_FALSE(out.open(outs));  // one past the end: reported at once
        EXPECT_FALSE(in.open(-1));
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_EQ(errors[0].first, kErrNoSuchDevice);
        EXPECT_EQ(errors[1].first, kErrNoSuchDevice);
        EXPECT_FALSE(out.isOpen());
        EXPECT_FALSE(in.isOpen());
        (void)ins;

        // Sends on a closed port: one report, not one per message; malformed
        // messages are refused before they reach any port.
        out.sendSysEx({0xF0, 0x41, 0xF7});
        out.sendShort(0xC0, 1);
        out.sendSysEx({0xF0, 0x41, 0x90, 0xF7});
        out.sendShort(0x90, 60);
        host.processPending();
        ASSERT_EQ(errors.size(), 5u);
        EXPECT_EQ(errors[2].first, kErrNotOpen);
        EXPECT_EQ(errors[3].first, kErrBadMessage);
        EXPECT_EQ(errors[4].first, kErrBadMessage);
        EXPECT_EQ(in.messageCount(), 0);
        EXPECT_TRUE(in.receivedMessage().empty());
        in.discard();  // on an empty queue: nothing happens
    }
    const std::string said = testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout();
    EXPECT_EQ(said, "") << "MIDI libraries must not print";
    for (const auto& [code, text] : errors) {
        EXPECT_NE(code, 0);
        EXPECT_NE(code, 8);
        EXPECT_FALSE(text.empty());
    }
}

TEST(AboutMidi, NamesTheLibraryItsApisAndTheVirtualModule) {
    const std::string text = AboutMidiText();
    EXPECT_EQ(text.rfind("RtMidi ", 0), 0u) << text;
    EXPECT_NE(text.find(VirtualU220::kDeviceName), std::string::npos) << text;
    EXPECT_EQ(text.find("Dummy"), std::string::npos) << text;
}

}  // namespace
