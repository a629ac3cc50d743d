// The MIDI ports on a real JACK server (our own JACK client in RtMidi's place):
// the test starts its own server with the dummy driver (no sound hardware
// needed), opens a pair of virtual ports as the far end, and checks what
// travels in each direction.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
#include "device/Protocol.h"
#include "emulator/U220Emulator.h"
#include "ports/JackPorts.h"
#include "ports/PortSet.h"
#include "ports/RtMidiPorts.h"

#if QUORVANE_TEST_JACK_CLIENT
#include <jack/jack.h>
#include <jack/midiport.h>
#endif

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
// parallel test runs do not meet. Synchronous (-S): in its default asynchronous
// mode the server goes on without a client whose process cycle has not ended,
// and what that client had to send in the cycle is lost; on a busy machine
// (no realtime scheduling) that dropped a message now and then and failed the
// cases here. A client is given 5 s (-t) before it counts as gone.
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
            execl(jackd_.c_str(), "jackd", "-n", name_.c_str(), "--no-realtime", "-S", "-t", "5000", "-d", "dummy", "-r",
                  "48000", "-p", "512", static_cast<char*>(nullptr));
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

#if QUORVANE_TEST_JACK_CLIENT
// A MIDI input of our own on the server, stamping each message with the frame
// time of the cycle that brought it: the time a MIDI interface would put it on
// the cable, whatever the scheduling of the processes around it.
class FrameStampedInput {
public:
    explicit FrameStampedInput(const std::string& name) {
        client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
        if (!client_) return;
        port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!port_ || jack_set_process_callback(client_, &FrameStampedInput::process, this) != 0 ||
            jack_set_xrun_callback(client_, &FrameStampedInput::xrun, this) != 0 || jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
            return;
        }
        rate_ = jack_get_sample_rate(client_);
        periodMs_ = 1000.0 * jack_get_buffer_size(client_) / rate_;
    }
    ~FrameStampedInput() {
        if (!client_) return;
        std::this_thread::sleep_for(100ms);  // lets the server's notifications of the last change settle
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    bool ok() const { return client_ != nullptr; }
    double periodMs() const { return periodMs_; }
    // Whether a client of that name is on the server (ports or not).
    // Takes what `port` sends too (beside its other connections).
    bool listenTo(const std::string& port) {
        return jack_connect(client_, port.c_str(), jack_port_name(port_)) == 0;
    }
    bool hasClient(const std::string& name) const {
        char* uuid = jack_get_uuid_for_client_name(client_, name.c_str());
        if (!uuid) return false;
        jack_free(uuid);
        return true;
    }
    // Cycles the server ran late since the last clear(): the messages of such a
    // cycle reach the far end later than their turn, and the next ones catch up.
    int xruns() const { return xruns_; }
    void clear() {
        std::lock_guard lock(mutex_);
        got_.clear();
        xruns_ = 0;
    }
    // (arrival in ms on the server's clock, message) in order.
    std::vector<std::pair<double, Bytes>> received(size_t atLeast) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (got_.size() >= atLeast || std::chrono::steady_clock::now() > deadline) return got_;
            }
            std::this_thread::sleep_for(5ms);
        }
    }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<FrameStampedInput*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        const jack_nframes_t cycle = jack_last_frame_time(self->client_);
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) != 0) continue;
            const double ms = 1000.0 * (static_cast<double>(cycle) + e.time) / self->rate_;
            std::lock_guard lock(self->mutex_);
            self->got_.emplace_back(ms, Bytes(e.buffer, e.buffer + e.size));
        }
        return 0;
    }

    static int xrun(void* arg) {
        ++static_cast<FrameStampedInput*>(arg)->xruns_;
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::atomic<int> xruns_{0};
    double rate_ = 48000, periodMs_ = 0;
    std::mutex mutex_;
    std::vector<std::pair<double, Bytes>> got_;
};

// Two processes spinning for as long as this lives: a busy machine, on which
// JACK's process cycles run late (the server has no realtime scheduling).
class BusyLoops {
public:
    explicit BusyLoops(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;) spin = spin + 1;
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~BusyLoops() {
        for (pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::vector<pid_t> pids_;
};

// The output places every message on the server's frame clock no closer than
// the gap (counted from the end of the previous one on the wire) to the one
// before, however late its cycles run: a burst of data sets, requests and
// program changes sent right after opening reaches a client of the test's own
// whole, in order, and spaced so on the frame clock, with two busy loops
// running. The simulator's ports stamp each message with the same frames (not
// when its own thread ran), and a module judging gaps on them loses nothing;
// with no gap the same burst arrives bunched and that module loses most of it,
// so the judgement cannot pass everything.
TEST_F(JackPorts, PacingHoldsOnTheFrameClock) {
    struct Case {
        const char* name;
        int gapMs;
        int busyLoops;
        bool expectLoss;
    } cases[] = {
        {"default gap, two busy loops", RtMidiOutput::kDefaultGapMs, 2, false},
        {"longer gap", 35, 0, false},
        {"no gap: bunched", 0, 0, true},
    };
    std::vector<Bytes> burst;
    for (int i = 0; i < 24; ++i) {
        const Address a = Address::linear(0x10, 0x04 * 128 + 5 * i);
        if (i % 5 == 4) burst.push_back(BuildRQ1(0x10, a, 8));
        else if (i % 7 == 6) burst.push_back({0xC0, static_cast<uint8_t>(i)});
        else burst.push_back(BuildDT1(0x10, a, {static_cast<uint8_t>(i), static_cast<uint8_t>(2 * i)}));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameStampedInput watch(tag_ + "-frames");
        ASSERT_TRUE(watch.ok());
        std::mutex mutex;
        std::vector<std::pair<double, Bytes>> stamped;  // as the simulator's ports saw them
        JackVirtualEndpoint sim(tag_ + "-sim", "in", "out", [&](const Bytes& m, double atMs) {
            std::lock_guard lock(mutex);
            stamped.emplace_back(atMs, m);
        });
        ASSERT_TRUE(sim.ok()) << sim.error();
        std::vector<std::pair<double, Bytes>> got;
        {
            const std::string name = "qvp" + tag_;
            RtMidiOutput out(post, name);
            const int o = find(out, 0, tag_ + "-sim:in");
            ASSERT_GE(o, 0);
            ASSERT_TRUE(out.open(o));
            ASSERT_TRUE(watch.listenTo(name + ":out"));
            std::this_thread::sleep_for(100ms);  // the second connection in place
            out.setSendGapMs(c.gapMs);
            BusyLoops busy(c.busyLoops);
            for (const Bytes& m : burst) m[0] == 0xF0 ? out.sendSysEx(m) : out.sendShort(m[0], m[1]);
            out.flush();
            got = watch.received(burst.size());
        }
        std::vector<Bytes> messages;
        for (const auto& g : got) messages.push_back(g.second);
        ASSERT_EQ(messages, burst) << "all sent, whole and in order";
        {
            std::lock_guard lock(mutex);
            ASSERT_EQ(stamped.size(), got.size());
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(stamped[i].second, got[i].second);
                EXPECT_NEAR(stamped[i].first, got[i].first, 0.001) << "message " << i << ": the simulator's stamp is its frame";
            }
        }
        // Spacing on the frame clock (a frame is 1/48 ms).
        const double frameMs = 1000.0 / 48000;
        for (size_t i = 1; i < got.size(); ++i) {
            const double gap = got[i].first - got[i - 1].first - emulator::U220Emulator::wireMs(got[i - 1].second.size());
            if (!c.expectLoss) EXPECT_GE(gap, c.gapMs - frameMs) << "message " << i;
            else EXPECT_LT(gap, RtMidiOutput::kDefaultGapMs) << "message " << i;
        }
        auto lost = [](const std::vector<std::pair<double, Bytes>>& arrivals) {
            emulator::U220Emulator module;
            emulator::WireModel wire;
            wire.enabled = true;
            wire.minGapMs = RtMidiOutput::kDefaultGapMs;
            module.setWireModel(wire);
            for (const auto& [ms, m] : arrivals) module.receive(m, ms);
            return module.stats().lostToGap;
        };
        std::lock_guard lock(mutex);
        const uint64_t lostAtSim = lost(stamped);
        EXPECT_EQ(lostAtSim, lost(got)) << "judged alike on both clients' stamps";
        // Bunched: every message lost until one starts the gap after the last one taken.
        if (c.expectLoss) EXPECT_GE(lostAtSim, burst.size() / 2);
        else EXPECT_EQ(lostAtSim, 0u);
    }
}

// One JACK client for both directions: it lists the ports while nothing is
// open, carries both ports while they are open, and goes when both close.
TEST_F(JackPorts, OneClientForBothDirections) {
    FrameStampedInput server(tag_ + "-watch");
    ASSERT_TRUE(server.ok());
    const std::string name = "qvc" + tag_;
    RtMidiOutput out(post, name);
    RtMidiInput in(post, name);
    const int o = find(out, 0, tag_ + ":in");
    const int i = find(in, 0, tag_ + "-out:out");
    ASSERT_GE(o, 0);
    ASSERT_GE(i, 0);
    struct Expect {
        const char* when;
        bool client;
    };
    auto check = [&](const Expect& e) {
        EXPECT_EQ(server.hasClient(name), e.client) << e.when;
        for (const char* other : {"-list", "-in-list", "-in", "-period", "-out"})
            EXPECT_FALSE(server.hasClient(name + other)) << e.when << ": " << other;
    };
    check({"listed, nothing open", true});
    ASSERT_TRUE(out.open(o));
    ASSERT_TRUE(in.open(i));
    check({"both open", true});
    std::this_thread::sleep_for(400ms);  // past the reuse of the last listing
    EXPECT_EQ(find(out, 0, tag_ + ":in"), o) << "listed through the open ports' client";
    EXPECT_EQ(find(in, 0, tag_ + "-out:out"), i);
    EXPECT_LT(find(out, 0, name + ":in"), 0) << "our own ports are not offered";
    check({"listed again while open", true});
    // Messages still go both ways through the one client.
    out.sendShort(0xC4, 9);
    out.flush();
    EXPECT_EQ(farReceived(1), (std::vector<Bytes>{{0xC4, 9}}));
    const Bytes reply = sysex(30, 2);
    ASSERT_TRUE(far_->send(reply));
    EXPECT_TRUE(host.waitUntil([&] { return in.messageCount() >= 1; }, Clock::now() + 3s));
    EXPECT_EQ(in.receivedMessage(), reply);
    out.close();
    in.close();
    check({"closed", false});
}
#endif
// A fast run of data sets for one address: the ones merged in the send queue
// are reported on the posting thread, and every other one reaches the far end.
TEST_F(JackPorts, MergedDataSetsAreReportedAndTheRestArrive) {
    auto ports = CreatePorts(post);
    MIDIOutput& out = *ports.output;
    const int o = find(out, 0, tag_ + ":in");
    ASSERT_GE(o, 0);
    ASSERT_TRUE(out.open(o));
    out.setSendGapMs(1000);  // the run surely meets in the queue, however loaded the machine
    const auto guiThread = std::this_thread::get_id();
    std::vector<Bytes> merged;
    out.onNotSent = [&](const Bytes& m, bool isMerged, const std::string&) {
        EXPECT_EQ(std::this_thread::get_id(), guiThread);
        EXPECT_TRUE(isMerged);
        merged.push_back(m);
    };
    std::vector<Bytes> sent;
    for (uint8_t v = 1; v <= 5; ++v) {
        sent.push_back({0xF0, 0x41, 0x10, 0x2B, 0x12, 0x10, 0x05, 0x19, v, static_cast<uint8_t>((128 - (0x2E + v) % 128) % 128), 0xF7});
        out.sendSysEx(sent.back());
    }
    out.flush();
    host.runFor(100ms);
    ASSERT_GE(merged.size(), 1u);
    const std::vector<Bytes> got = farReceived(5 - merged.size());
    ASSERT_EQ(got.size() + merged.size(), 5u);
    EXPECT_EQ(got.back(), sent.back());  // the last value always arrives
    for (const Bytes& m : merged) EXPECT_EQ(std::count(got.begin(), got.end(), m), 0);
}

// The JACK server goes away under open ports: it is counted, what is sent then
// is refused with a reason instead of queued, closing returns at once, and
// nothing crashes (the dead client is held, never closed). A server of the same
// name started again is found through a fresh client and carries messages.
// (The suite's own server: JACK's client library serves one server a process.)
TEST_F(JackPorts, AServerThatGoesAwayIsCountedAndNothingHangs) {
    const std::string name = "qvg" + tag_;
    RtMidiOutput out(post, name);
    RtMidiInput in(post, name);
    std::vector<std::pair<int, std::string>> errors;
    out.onError = in.onError = [&](int c, const std::string& t) { errors.emplace_back(c, t); };
    const int o = find(out, 0, tag_ + ":in");
    const int i = find(in, 0, tag_ + "-out:out");
    ASSERT_GE(o, 0);
    ASSERT_GE(i, 0);
    ASSERT_TRUE(out.open(o));
    ASSERT_TRUE(in.open(i));
    const std::string label = out.deviceName(o);
    EXPECT_TRUE(MidiSystemRunning(label));
    const uint64_t failures = MidiSystemFailures();

    far_.reset();
    gServer.stop();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (MidiSystemFailures() == failures && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_GT(MidiSystemFailures(), failures) << "the lost server is counted";
    EXPECT_FALSE(MidiSystemRunning(label));

    out.sendSysEx(sysex(20, 1));
    out.flush();
    EXPECT_TRUE(host.waitUntil([&] { return !errors.empty(); }, Clock::now() + 3s));
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front().first, kErrDriver);
    EXPECT_NE(errors.front().second.find("stopped"), std::string::npos) << errors.front().second;
    const auto closing = std::chrono::steady_clock::now();
    out.close();
    in.close();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 2s) << "closing does not wait for a dead server";
    EXPECT_EQ(find(out, 0, tag_ + ":in"), -100) << "nothing listed without a server";

    // The server again, under the same name.
    std::string why;
    gServer.start(why);
    ASSERT_TRUE(why.empty()) << why;
    far_ = std::make_unique<RtMidiVirtualEndpoint>("jack", tag_, "in", "out", [this](const Bytes& m) {
        std::lock_guard lock(mutex_);
        farReceived_.push_back(m);
    });
    ASSERT_TRUE(far_->ok()) << far_->error();
    const int again = find(out, 0, tag_ + ":in");
    ASSERT_GE(again, 0);
    ASSERT_TRUE(out.open(again)) << (errors.empty() ? "" : errors.back().second);
    out.sendShort(0xC5, 1);
    out.flush();
    EXPECT_EQ(farReceived(1), (std::vector<Bytes>{{0xC5, 1}}));
}

}  // namespace
