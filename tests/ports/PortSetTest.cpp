// The composite port set (virtual module first, real ports after it) and the
// RtMidi ports' handling of bad requests when no MIDI server is reachable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "device/Host.h"
#include "ports/PortSet.h"
#include "ports/RtMidiPorts.h"

using namespace quorvane;
using namespace quorvane::midi;

#ifdef _WIN32
// The C runtime's names for the environment calls below.
static int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
static int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace {

// Stand-in back ends that record what they are asked to do. Tag "V" numbers its
// devices like the virtual module (-1 out, 0 in), tag "R" from 0.
using Log = std::vector<std::string>;

template <class Base>
class Fake : public Base {
public:
    Fake(std::string tag, int count, Log& log) : tag_(std::move(tag)), count_(count), log_(log) {}
    int deviceCount() const override { return count_; }
    std::string deviceName(int i) const override {
        const int first = tag_ == "V" && std::is_same_v<Base, MIDIOutput> ? -1 : 0;
        return i >= first && i < count_ ? tag_ + std::to_string(i) : std::string();
    }
    bool open(int i) override {
        log_.push_back(tag_ + " open " + std::to_string(i));
        return open_ = !deviceName(i).empty();
    }
    void close() override {
        if (open_) log_.push_back(tag_ + " close");
        open_ = false;
    }
    bool isOpen() const override { return open_; }

protected:
    std::string tag_;
    int count_;
    Log& log_;
    bool open_ = false;
};

struct FakeOutput : Fake<MIDIOutput> {
    using Fake::Fake;
    void sendShort(uint8_t s, uint8_t) override { log_.push_back(tag_ + " short " + std::to_string(s)); }
    void sendSysEx(const Bytes& f) override { log_.push_back(tag_ + " sysex " + std::to_string(f.size())); }
    void setSendGapMs(int ms) override { gap = ms; }
    int sendGapMs() const override { return gap; }
    int gap = -100;
};

struct FakeInput : Fake<MIDIInput> {
    using Fake::Fake;
    int messageCount() const override { return static_cast<int>(queue.size()); }
    Bytes receivedMessage() const override { return queue.empty() ? Bytes{} : queue.front(); }
    void discard() override { queue.erase(queue.begin()); }
    std::vector<Bytes> queue;
};

struct Composite {
    Log log;
    FakeOutput *vOut, *rOut;
    FakeInput *vIn, *rIn;
    Ports ports;
    std::vector<std::pair<int, std::string>> errors;

    Composite(int realOutputs, int realInputs) {
        auto vo = std::make_unique<FakeOutput>("V", 0, log);
        auto ro = std::make_unique<FakeOutput>("R", realOutputs, log);
        auto vi = std::make_unique<FakeInput>("V", 1, log);
        auto ri = std::make_unique<FakeInput>("R", realInputs, log);
        vOut = vo.get(), rOut = ro.get(), vIn = vi.get(), rIn = ri.get();
        ports = CombinePorts(std::move(vo), std::move(vi), std::move(ro), std::move(ri));
        ports.output->onError = ports.input->onError = [this](int c, const std::string& t) { errors.emplace_back(c, t); };
    }
};

TEST(PortSet, ListsTheVirtualModuleFirstAndMapsIndexesWhenOpening) {
    Composite c(2, 3);
    MIDIOutput& out = *c.ports.output;
    MIDIInput& in = *c.ports.input;
    // Output: -1 is the virtual module, 0..count-1 the real ports unshifted.
    ASSERT_EQ(out.deviceCount(), 2);
    EXPECT_EQ(out.deviceName(-1), "V-1");
    EXPECT_EQ(out.deviceName(1), "R1");
    EXPECT_EQ(out.deviceName(2), "");
    // Input: 0 is the virtual module, real port i is device i+1.
    ASSERT_EQ(in.deviceCount(), 4);
    EXPECT_EQ(in.deviceName(0), "V0");
    EXPECT_EQ(in.deviceName(1), "R0");
    EXPECT_EQ(in.deviceName(3), "R2");
    EXPECT_EQ(in.deviceName(4), "");

    ASSERT_TRUE(out.open(-1));
    ASSERT_TRUE(in.open(0));
    out.sendShort(0xC0, 5);
    ASSERT_TRUE(out.open(1));  // closes the virtual one, opens real port 1
    ASSERT_TRUE(in.open(3));   // real input 2
    out.sendSysEx({0xF0, 0x7F, 0xF7});
    EXPECT_EQ(c.log, (Log{"V open -1", "V open 0", "V short 192", "V close", "R open 1", "V close", "R open 2",
                          "R sysex 3"}));
    EXPECT_TRUE(out.isOpen() && c.rOut->isOpen() && !c.vOut->isOpen());

    // Received events and errors of the inner ports pass through.
    int received = 0;
    in.onSysExReceived = [&] { ++received; };
    c.rIn->queue.push_back({0xF0, 0x01, 0xF7});
    c.rIn->onSysExReceived();
    EXPECT_EQ(received, 1);
    EXPECT_EQ(in.receivedMessage(), (Bytes{0xF0, 0x01, 0xF7}));
    in.discard();
    EXPECT_EQ(in.messageCount(), 0);
    c.rOut->onError(42, "port broke");
    EXPECT_EQ(c.errors, (std::vector<std::pair<int, std::string>>{{42, "port broke"}}));

    out.close();
    in.close();
    EXPECT_FALSE(out.isOpen() || in.isOpen());
}

TEST(PortSet, RefusesIndexesOutsideTheListsWithAnErrorNumberTheModelShows) {
    Composite c(2, 1);
    EXPECT_FALSE(c.ports.output->open(2));
    EXPECT_FALSE(c.ports.output->open(-2));
    EXPECT_FALSE(c.ports.input->open(2));
    EXPECT_FALSE(c.ports.input->open(-1));
    ASSERT_EQ(c.errors.size(), 4u);
    for (const auto& [code, text] : c.errors) {
        EXPECT_TRUE(code != 0 && code != 8) << code;
        EXPECT_NE(text.find("no MIDI"), std::string::npos) << text;
    }
    EXPECT_NE(c.errors[2].second.find("number 2"), std::string::npos) << "composite numbering in the text";
    EXPECT_FALSE(c.ports.output->isOpen() || c.ports.input->isOpen());
}

TEST(PortSet, SendGapIsZeroForTheVirtualModuleAndTwentyForRealPortsUnlessSet) {
    Composite c(2, 1);
    MIDIOutput& out = *c.ports.output;
    out.open(-1);
    EXPECT_EQ(c.vOut->gap, 0);
    out.open(0);
    EXPECT_EQ(c.rOut->gap, 20);
    EXPECT_EQ(out.sendGapMs(), 20);
    out.setSendGapMs(7);
    EXPECT_EQ(c.rOut->gap, 7);
    out.open(-1);
    EXPECT_EQ(c.vOut->gap, 7) << "a gap set by the caller applies to either back end";
}

// ---------------------------------------------------------------------------
// RtMidi ports with no MIDI server to talk to: nothing printed, nothing thrown,
// every refusal reported through onError on the posting thread.

TEST(RtMidiNoServer, ListsQuietlyAndRefusesBadRequestsThroughOnError) {
    const char* old = std::getenv("JACK_DEFAULT_SERVER");
    const std::string saved = old ? old : "";
    setenv("JACK_DEFAULT_SERVER", "quorvane-no-such-server", 1);
    SimpleHost host;
    PostFn post = [&](std::function<void()> fn) { host.post(std::move(fn)); };
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    std::vector<int> errors;
    {
        RtMidiOutput out(post);
        RtMidiInput in(post);
        out.onError = in.onError = [&](int c, const std::string& t) {
            EXPECT_FALSE(t.empty());
            errors.push_back(c);
        };
        EXPECT_FALSE(out.open(out.deviceCount()));  // one past the end: reported at once
        EXPECT_FALSE(in.open(-1));
        EXPECT_EQ(errors, (std::vector<int>{kErrNoSuchDevice, kErrNoSuchDevice}));
        EXPECT_FALSE(out.isOpen() || in.isOpen());

        // Sends on a closed port: one report, not one per message; malformed
        // messages are refused before they reach any port. Reports are posted.
        out.sendSysEx({0xF0, 0x41, 0xF7});
        out.sendShort(0xC0, 1);
        out.sendSysEx({0xF0, 0x41, 0x90, 0xF7});
        out.sendShort(0x90, 60);
        EXPECT_EQ(errors.size(), 2u);
        host.processPending();
        EXPECT_EQ(errors, (std::vector<int>{kErrNoSuchDevice, kErrNoSuchDevice, kErrNotOpen, kErrBadMessage, kErrBadMessage}));
        EXPECT_EQ(in.messageCount(), 0);
        in.discard();  // on an empty queue: nothing happens
    }
    const std::string said = testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout();
    EXPECT_EQ(said, "") << "MIDI libraries must not print";
    if (old) setenv("JACK_DEFAULT_SERVER", saved.c_str(), 1);
    else unsetenv("JACK_DEFAULT_SERVER");
}

}  // namespace
