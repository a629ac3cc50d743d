// The RtMidi ports on a real JACK server: the test starts its own server with the
// dummy driver (no sound hardware needed), opens a pair of virtual ports as the
// far end, and checks what travels in each direction.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/Host.h"
#include "midi/PortSet.h"
#include "midi/RtMidiPorts.h"

using namespace quorvane;
using namespace quorvane::midi;
using namespace std::chrono_literals;

namespace {

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string full = dir + "/" + name;
        if (access(full.c_str(), X_OK) == 0) return full;
    }
    return {};
}

// One JACK server for the whole suite, named after this process so that
// parallel test runs do not meet.
class JackServer {
public:
    bool start(std::string& why) {
        jackd_ = findProgram("jackd");
        if (jackd_.empty()) return false;
        name_ = "quorvane-test-" + std::to_string(getpid());
        log_ = "/tmp/" + name_ + ".log";
        pid_ = fork();
        if (pid_ == 0) {
            setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
            freopen(log_.c_str(), "w", stdout);
            freopen(log_.c_str(), "a", stderr);
            execl(jackd_.c_str(), "jackd", "-n", name_.c_str(), "--no-realtime", "-d", "dummy", "-r", "48000", "-p",
                  "512", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) {
            why = "fork failed";
            return true;
        }
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        // Ready when a client can make ports on it.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            RtMidiVirtualEndpoint probe("jack", "quorvane-probe", "in", "out", nullptr);
            if (probe.ok()) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                why = "jackd exited: " + logText();
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        why = "jackd did not answer within 10 s: " + logText();
        return true;
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        unlink(log_.c_str());
    }
    std::string logText() const {
        std::ifstream f(log_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

private:
    std::string jackd_, name_, log_;
    pid_t pid_ = -1;
};

JackServer gServer;
bool gHaveJackd = false;
std::string gStartError;

class JackPorts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gHaveJackd = gServer.start(gStartError);
    }
    static void TearDownTestSuite() {
        if (::testing::UnitTest::GetInstance()->current_test_suite()->failed_test_count() > 0)
            std::cerr << "jackd said:\n" << gServer.logText() << "\n";
        gServer.stop();
    }

    void SetUp() override {
        if (!gHaveJackd) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(gStartError.empty()) << gStartError;
        static int serial = 0;
        tag_ = "qv" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        far_ = std::make_unique<RtMidiVirtualEndpoint>("jack", tag_, "in", "out", [this](const Bytes& m) {
            std::lock_guard lock(mutex_);
            farReceived_.push_back(m);
        });
        ASSERT_TRUE(far_->ok()) << far_->error();
    }

    // Device index whose name ends with `suffix`, or -100.
    template <class Port>
    static int find(const Port& port, int first, const std::string& suffix) {
        const int count = port.deviceCount();
        for (int i = first; i < count; ++i) {
            const std::string n = port.deviceName(i);
            if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) return i;
        }
        return -100;
    }
    std::vector<Bytes> farReceived(size_t atLeast) {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (farReceived_.size() >= atLeast || std::chrono::steady_clock::now() > deadline) return farReceived_;
            }
            std::this_thread::sleep_for(5ms);
        }
    }

    static Bytes sysex(size_t size, uint8_t seed) {
        Bytes m(size);
        m.front() = 0xF0;
        for (size_t i = 1; i + 1 < size; ++i) m[i] = static_cast<uint8_t>((i * 7 + seed) & 0x7F);
        m.back() = 0xF7;
        return m;
    }

    SimpleHost host;
    PostFn post = [this](std::function<void()> fn) { host.post(std::move(fn)); };
    std::string tag_;
    std::unique_ptr<RtMidiVirtualEndpoint> far_;
    std::mutex mutex_;
    std::vector<Bytes> farReceived_;
};

TEST_F(JackPorts, SendsAndReceivesIntactAndInOrder) {
    RtMidiOutput out(post);
    RtMidiInput in(post);
    std::vector<std::string> errors;
    out.onError = in.onError = [&](int, const std::string& t) { errors.push_back(t); };
    int wakeUps = 0;
    const auto guiThread = std::this_thread::get_id();
    in.onSysExReceived = [&] {
        EXPECT_EQ(std::this_thread::get_id(), guiThread) << "announced on the posting thread only";
        ++wakeUps;
    };

    const int o = find(out, 0, "JACK: " + tag_ + ":in");
    const int i = find(in, 0, "JACK: " + tag_ + "-out:out");
    ASSERT_GE(o, 0) << "far end's input not listed";
    ASSERT_GE(i, 0) << "far end's output not listed";
    ASSERT_TRUE(out.open(o)) << (errors.empty() ? "" : errors.back());
    ASSERT_TRUE(in.open(i)) << (errors.empty() ? "" : errors.back());
    EXPECT_EQ(out.sendGapMs(), RtMidiOutput::kDefaultGapMs);

    // Out: a long data set, then a program change, in that order.
    const Bytes big = sysex(300, 3);
    out.sendSysEx(big);
    out.sendShort(0xC1, 0x22);
    out.flush();
    auto got = farReceived(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], big);
    EXPECT_EQ(got[1], (Bytes{0xC1, 0x22}));

    // In: System Exclusive is queued and announced on the posting thread;
    // channel messages, clock and active sensing are not queued.
    const Bytes first = sysex(300, 9), second = sysex(12, 1);
    ASSERT_TRUE(far_->send(first));
    ASSERT_TRUE(far_->send({0xC0, 0x01}));
    ASSERT_TRUE(far_->send({0xF8}));
    ASSERT_TRUE(far_->send({0xFE}));
    ASSERT_TRUE(far_->send(second));
    EXPECT_TRUE(host.waitUntil([&] { return in.messageCount() >= 2; }, Clock::now() + 3s));
    ASSERT_EQ(in.messageCount(), 2);
    EXPECT_GE(wakeUps, 1);
    EXPECT_EQ(in.receivedMessage(), first);
    in.discard();
    EXPECT_EQ(in.receivedMessage(), second);
    in.discard();
    host.runFor(50ms);
    EXPECT_EQ(in.messageCount(), 0);
    EXPECT_EQ(in.droppedCount(), 0u);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

// JACK hands a message on at a later process cycle: closing the port right
// after the last send must not lose it, whatever the send gap.
TEST_F(JackPorts, CloseRightAfterASendStillDeliversTheLastMessage) {
    for (int gap : {RtMidiOutput::kDefaultGapMs, 0}) {
        {
            std::lock_guard lock(mutex_);
            farReceived_.clear();
        }
        RtMidiOutput out(post);
        const int o = find(out, 0, tag_ + ":in");
        ASSERT_GE(o, 0);
        ASSERT_TRUE(out.open(o));
        out.setSendGapMs(gap);
        out.sendShort(0xC2, 0x05);
        const Bytes last = sysex(20, static_cast<uint8_t>(gap));
        out.sendSysEx(last);
        out.close();
        EXPECT_EQ(farReceived(2), (std::vector<Bytes>{{0xC2, 0x05}, last})) << "gap " << gap;
    }
}

// Test notes: three-byte channel messages leave through the paced queue in
// order with the others; bytes that are no such message are refused, said.
TEST_F(JackPorts, NotesArriveInOrderAndMalformedOnesAreRefused) {
    RtMidiOutput out(post);
    std::vector<std::string> errors;
    out.onError = [&](int, const std::string& t) { errors.push_back(t); };
    const int o = find(out, 0, tag_ + ":in");
    ASSERT_GE(o, 0);
    ASSERT_TRUE(out.open(o));
    const Bytes bad[] = {{0xC0, 1, 2}, {0xF0, 1, 2}, {0x90, 0x80, 1}, {0x90, 60, 0x80}, {0x7F, 1, 1}};
    for (const Bytes& m : bad) out.sendChannel(m[0], m[1], m[2]);
    EXPECT_TRUE(host.waitUntil([&] { return errors.size() >= std::size(bad); }, Clock::now() + 3s));
    EXPECT_EQ(errors.size(), std::size(bad));
    out.sendChannel(0x93, 60, 100);
    out.sendShort(0xC3, 7);
    out.sendChannel(0x83, 60, 64);
    out.flush();
    EXPECT_EQ(farReceived(3), (std::vector<Bytes>{{0x93, 60, 100}, {0xC3, 7}, {0x83, 60, 64}}));
}

TEST_F(JackPorts, PortSetOffersTheVirtualModuleFirstAndRealPortsAfter) {
    auto ports = CreatePorts(post);
    MIDIOutput& out = *ports.output;
    MIDIInput& in = *ports.input;
    std::vector<std::string> errors;
    out.onError = in.onError = [&](int, const std::string& t) { errors.push_back(t); };
    Bytes received;
    in.onSysExReceived = [&] {
        while (in.messageCount() > 0) {
            received = in.receivedMessage();
            in.discard();
        }
    };

    EXPECT_EQ(out.deviceName(-1), VirtualU220::kDeviceName);
    EXPECT_EQ(in.deviceName(0), VirtualU220::kDeviceName);
    const int o = find(out, 0, tag_ + ":in");
    const int i = find(in, 1, tag_ + "-out:out");
    ASSERT_GE(o, 0);
    ASSERT_GE(i, 1);

    ASSERT_TRUE(out.open(-1));
    EXPECT_EQ(out.sendGapMs(), 0);
    ASSERT_TRUE(out.open(o));
    ASSERT_TRUE(in.open(i));
    EXPECT_EQ(out.sendGapMs(), 20);
    out.sendShort(0xC0, 3);
    out.flush();
    ASSERT_EQ(farReceived(1), (std::vector<Bytes>{{0xC0, 0x03}}));

    const Bytes reply = sysex(40, 5);
    ASSERT_TRUE(far_->send(reply));
    EXPECT_TRUE(host.waitUntil([&] { return !received.empty(); }, Clock::now() + 3s));
    EXPECT_EQ(received, reply);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(JackPorts, APortThatVanishedAfterListingIsReportedNotOpened) {
    RtMidiOutput out(post);
    RtMidiInput in(post);
    std::vector<std::pair<int, std::string>> errors;
    out.onError = in.onError = [&](int c, const std::string& t) { errors.emplace_back(c, t); };
    const int o = find(out, 0, tag_ + ":in");
    const int i = find(in, 0, tag_ + "-out:out");
    ASSERT_GE(o, 0);
    ASSERT_GE(i, 0);
    far_.reset();  // the far end goes away between listing and opening

    EXPECT_FALSE(out.open(o));
    EXPECT_FALSE(in.open(i));
    EXPECT_FALSE(out.isOpen());
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].first, kErrDeviceGone);
    EXPECT_NE(errors[0].second.find(tag_ + ":in"), std::string::npos) << errors[0].second;
    EXPECT_EQ(errors[1].first, kErrDeviceGone);
}

}  // namespace
