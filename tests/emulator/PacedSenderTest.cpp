// The paced output queue: order, replacing waiting data sets, and the gap.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "device/Protocol.h"
#include "midi/PacedSender.h"

using namespace quorvane;
using quorvane::midi::PacedSender;
using Clock = std::chrono::steady_clock;

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

TEST(PacedSender, ReplacesAWaitingDataSetOnlyUpToTheLastOtherMessage) {
    Recorder r;
    r.holdFirst = true;
    PacedSender s([&](const Bytes& b) { r(b); });
    s.setGapMs(1);
    s.enqueue(Req(0));  // taken by the sender thread and held there
    r.waitFirstStarted();
    s.enqueue(Set(7, {1}));
    s.enqueue(Set(9, {1}));
    s.enqueue(Set(7, {2}));     // replaces Set(7,{1}) in its place
    s.enqueue(Set(7, {3, 4}));  // same address, other length: kept apart
    s.enqueue(Req(16));
    s.enqueue(Set(9, {2}));     // a request lies between: appended
    s.enqueue({0xC0, 3});
    s.enqueue(Set(9, {3}));     // a program change lies between: appended
    s.enqueue(Set(9, {4}));     // replaces Set(9,{3})
    EXPECT_EQ(s.coalesced(), 2u);
    r.release();
    s.flush();
    const std::vector<Bytes> expected = {Req(0), Set(7, {2}), Set(9, {1}), Set(7, {3, 4}), Req(16),
                                         Set(9, {2}), {0xC0, 3}, Set(9, {4})};
    EXPECT_EQ(r.sent, expected);
}

TEST(PacedSender, KeepsTheGapAfterEachMessageOnTheWire) {
    Recorder r;
    const int gap = 15;
    Bytes big(100, 0x10);
    big.front() = 0xF0;
    big.back() = 0xF7;
    {
        PacedSender s([&](const Bytes& b) { r(b); });
        s.setGapMs(gap);
        for (int i = 0; i < 5; ++i) s.enqueue(big);  // not data sets: never merged
    }  // the destructor sends what is queued
    ASSERT_EQ(r.sent.size(), 5u);
    for (size_t i = 1; i < r.times.size(); ++i) {
        const double ms = std::chrono::duration<double, std::milli>(r.times[i] - r.times[i - 1]).count();
        EXPECT_GE(ms, gap + PacedSender::wireMs(big.size()) - 0.5) << i;
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
