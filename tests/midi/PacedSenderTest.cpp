// The paced output queue: order, replacing waiting data sets, and the gap.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#include "device/ParamTable.h"
#include "device/Protocol.h"
#include "emulator/U220Emulator.h"
#include "midi/PacedSender.h"

using namespace quorvane;
using quorvane::midi::PacedSender;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// Records what is sent; the first send can be held until release() so that the
// test fills the queue behind it without racing the sender thread.
struct Recorder {
    std::mutex m;
    std::condition_variable cv;
    std::vector<Bytes> sent;
    std::vector<Clock::time_point> times;
    bool holdFirst = false, released = false, firstStarted = false;

    void operator()(const Bytes& b) {
        std::unique_lock lock(m);
        if (holdFirst && sent.empty()) {
            firstStarted = true;
            cv.notify_all();
            cv.wait(lock, [&] { return released; });
        }
        sent.push_back(b);
        times.push_back(Clock::now());
    }
    void waitFirstStarted() {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return firstStarted; });
    }
    void release() {
        std::lock_guard lock(m);
        released = true;
        cv.notify_all();
    }
};

Bytes Set(uint8_t a3, Bytes data) { return BuildDT1(0x10, {0x10, 0x05, a3}, data); }
Bytes Req(uint8_t a3) { return BuildRQ1(0x10, {0x10, 0x05, a3}, 13); }

}  // namespace

TEST(PacedSender, LatestValueWinsWithoutOvertakingAnotherAddress) {
    const Address number = ParamAddress(Param::PatchPartTimbreNumber, 1);
    const Address level = ParamAddress(Param::TimbreTimbreLevel, 1);
    auto num = [&](uint8_t v) { return BuildDT1(0x10, number, {v}); };
    auto lvl = [&](uint8_t v) { return BuildDT1(0x10, level, {v}); };
    const Bytes pc{0xC0, 3};
    struct Case {
        const char* name;
        std::vector<Bytes> queued;    // behind a request the sender is holding
        std::vector<Bytes> expected;  // what leaves after that request
        uint64_t coalesced;
    };
    const std::vector<Case> cases = {
        {"the last one queued is replaced in place", {num(5), num(7)}, {num(7)}, 1},
        {"another address between: the older goes, the newer is queued last",
         {num(5), lvl(3), num(7)}, {lvl(3), num(7)}, 1},
        {"several addresses, each keeps its order against the others",
         {Set(7, {1}), Set(9, {1}), Set(7, {2}), Set(9, {2}), Set(7, {3})}, {Set(9, {2}), Set(7, {3})}, 3},
        {"same address, other length: another target", {Set(7, {1}), Set(7, {3, 4}), Set(7, {2})},
         {Set(7, {3, 4}), Set(7, {2})}, 1},
        {"other device ID: another target", {Set(7, {1}), BuildDT1(0x11, {0x10, 0x05, 7}, {2})},
         {Set(7, {1}), BuildDT1(0x11, {0x10, 0x05, 7}, {2})}, 0},
        {"a request between is never passed", {Set(7, {1}), Req(16), Set(7, {2})}, {Set(7, {1}), Req(16), Set(7, {2})}, 0},
        {"a program change between is never passed", {Set(9, {3}), pc, Set(9, {4}), Set(9, {5})},
         {Set(9, {3}), pc, Set(9, {5})}, 1},
        {"requests and channel messages are never merged", {Req(0), Req(0), pc, pc}, {Req(0), Req(0), pc, pc}, 0},
    };
    for (const Case& c : cases) {
        Recorder r;
        r.holdFirst = true;
        PacedSender s([&](const Bytes& b) { r(b); });
        s.setGapMs(1);
        s.enqueue(Req(0x40));  // taken by the sender thread and held there
        r.waitFirstStarted();
        for (const Bytes& m : c.queued) s.enqueue(m);
        EXPECT_EQ(s.coalesced(), c.coalesced) << c.name;
        r.release();
        s.flush();
        std::vector<Bytes> expected{Req(0x40)};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(r.sent, expected) << c.name;
    }
}

// Random mixes of data sets, requests and program changes, sent while the queue
// is partly drained at random moments: what leaves must be the queued sequence
// less some superseded data sets, and a module fed with it must end in the same
// state, and answer every request the same, as one fed with everything.
TEST(PacedSender, MergedStreamLeavesTheModuleAsTheFullStreamWould) {
    // Lets the sender thread through one message per permit.
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        int permits = 0;
        bool waiting = false;
        std::vector<Bytes> got;
        void operator()(const Bytes& b) {
            std::unique_lock lock(m);
            waiting = true;
            cv.notify_all();
            cv.wait(lock, [&] { return permits > 0; });
            --permits;
            waiting = false;
            got.push_back(b);
            cv.notify_all();
        }
    };
    // Parameters of part 1 and its timbre, including the timbre number (which
    // loads a timbre over the timbre's parameters) and one written two bytes wide.
    const std::vector<Address> targets = {
        ParamAddress(Param::PatchPartTimbreNumber, 1), ParamAddress(Param::PatchPartLevel, 1),
        ParamAddress(Param::PatchPartLevel, 2),        ParamAddress(Param::TimbreTimbreLevel, 1),
        ParamAddress(Param::TimbreTimbreLevel, 2),
    };
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
        std::vector<Bytes> queued;
        Gate gate;
        {
            PacedSender s([&](const Bytes& b) { gate(b); });
            s.setGapMs(1);  // every message through the sender thread
            for (int step = 0; step < 120; ++step) {
                const int what = pick(20);
                Bytes m;
                if (what < 14) {
                    const Address a = targets[pick(static_cast<int>(targets.size()))];
                    m = what == 0 ? BuildDT1(0x10, a, {static_cast<uint8_t>(pick(8)), static_cast<uint8_t>(pick(8))})
                                  : BuildDT1(0x10, a, {static_cast<uint8_t>(pick(a == targets[0] ? 4 : 128))});
                } else if (what < 16) {
                    m = BuildRQ1(0x10, BlockAddress(Block::PatchPart, 1), 32);
                } else if (what < 17) {
                    m = {0xC0, static_cast<uint8_t>(pick(3))};
                } else {
                    std::unique_lock lock(gate.m);  // let a few through, and wait for them
                    gate.permits += 1 + pick(3);
                    gate.cv.notify_all();
                    gate.cv.wait_for(lock, 2s, [&] { return gate.permits == 0 || (!gate.waiting && s.pending() == 0); });
                    continue;
                }
                queued.push_back(m);
                s.enqueue(m);
            }
            {
                std::lock_guard lock(gate.m);
                gate.permits = 1 << 20;
                gate.cv.notify_all();
            }
            s.flush();
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::vector<Bytes>& sent = gate.got;
        // A subsequence of what was queued: nothing overtook anything.
        size_t at = 0;
        for (const Bytes& m : sent) {
            while (at < queued.size() && queued[at] != m) ++at;
            ASSERT_LT(at, queued.size()) << "sent out of order: " << HexBytes(m);
            ++at;
        }
        // Only data sets went missing.
        auto others = [](const std::vector<Bytes>& v) {
            return std::count_if(v.begin(), v.end(), [](const Bytes& m) { return !PacedSender::isDataSet(m); });
        };
        EXPECT_EQ(others(sent), others(queued));
        EXPECT_LT(sent.size(), queued.size()) << "the mix should have given something to merge";
        // The module ends as it would with every message, and answers alike.
        emulator::U220Emulator merged, full;
        std::vector<Bytes> mergedAnswers, fullAnswers;
        for (const Bytes& m : sent)
            for (auto& o : merged.receive(m)) mergedAnswers.push_back(o.message);
        for (const Bytes& m : queued)
            for (auto& o : full.receive(m)) fullAnswers.push_back(o.message);
        EXPECT_EQ(mergedAnswers, fullAnswers);
        EXPECT_EQ(merged.read({0x10, 0x04, 0}, 0x12 * 128), full.read({0x10, 0x04, 0}, 0x12 * 128));
        EXPECT_EQ(merged.currentPatch(), full.currentPatch());
    }
}

// The gap holds between a message leaving (sendNow has handed it over) and the
// next one starting, with the output system's delivery interval added, and a
// hold or a slow first hand-over never eats into it. Lower bounds only: a slow
// machine makes gaps longer, never shorter.
TEST(PacedSender, KeepsTheGapAsTheReceiverSeesIt) {
    struct Case {
        const char* name;
        int gapMs;
        double granularityMs;
        int holdMs;             // holdUntil(now + holdMs) before the first message
        int firstHandOverMs;    // the first sendNow takes this long (a connection settling)
        double expectedGapMs;   // least time from one hand-over's end to the next start, less the wire time
    };
    const std::vector<Case> cases = {
        {"gap alone", 15, 0, 0, 0, 15},
        {"delivery interval added", 15, 10.7, 0, 0, 25.7},
        {"gap 0: no pacing, no interval", 0, 10.7, 0, 0, 0},
        {"a hold does not shorten the gap after the first message", 15, 0, 60, 0, 15},
        {"a slow first hand-over does not count as gap", 15, 5, 0, 60, 20},
    };
    Bytes big(100, 0x10);
    big.front() = 0xF0;
    big.back() = 0xF7;
    for (const Case& c : cases) {
        std::vector<Clock::time_point> starts, ends;
        const auto t0 = Clock::now();
        {
            PacedSender s([&](const Bytes&) {
                starts.push_back(Clock::now());
                if (starts.size() == 1 && c.firstHandOverMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(c.firstHandOverMs));
                ends.push_back(Clock::now());
            });
            s.setGapMs(c.gapMs);
            s.setGranularityMs(c.granularityMs);
            EXPECT_DOUBLE_EQ(s.granularityMs(), c.granularityMs) << c.name;
            if (c.holdMs > 0) s.holdUntil(t0 + std::chrono::milliseconds(c.holdMs));
            for (int i = 0; i < 4; ++i) s.enqueue(big);  // not data sets: never merged
        }  // the destructor sends what is queued
        ASSERT_EQ(starts.size(), 4u) << c.name;
        EXPECT_GE(starts[0] - t0, std::chrono::milliseconds(c.holdMs)) << c.name;
        for (size_t i = 1; i < starts.size(); ++i) {
            const double ms = std::chrono::duration<double, std::milli>(starts[i] - ends[i - 1]).count();
            EXPECT_GE(ms, c.expectedGapMs + (c.gapMs > 0 ? PacedSender::wireMs(big.size()) : 0) - 0.5) << c.name << ", message " << i;
        }
    }
}

TEST(PacedSender, ASendErrorIsReportedAndTheQueueGoesOn) {
    std::vector<std::string> errors;
    int calls = 0;
    PacedSender s([&](const Bytes& b) {
        ++calls;
        if (b[1] == 0) throw std::runtime_error("port vanished");
    });
    s.setErrorHandler([&](const std::string& e) { errors.push_back(e); });
    s.setGapMs(1);
    s.enqueue({0xC0, 0});
    s.enqueue({0xC0, 1});
    s.flush();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(errors, std::vector<std::string>{"port vanished"});
    EXPECT_EQ(s.sent(), 1u);
}
