// The virtual module behind its ports, with a simple thread-safe PostFn queue
// standing in for the GUI thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "emulator/VirtualU220.h"

using namespace quorvane;
using namespace quorvane::midi;
using Clock = std::chrono::steady_clock;

namespace {

struct PostQueue {
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::function<void()>> q;

    PostFn fn() {
        return [this](std::function<void()> f) {
            std::lock_guard lock(m);
            q.push_back(std::move(f));
            cv.notify_all();
        };
    }
    // Runs posted functions until pred() holds or the time is up.
    bool runUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
        const auto deadline = Clock::now() + limit;
        while (!pred()) {
            std::function<void()> f;
            {
                std::unique_lock lock(m);
                if (!cv.wait_until(lock, deadline, [&] { return !q.empty(); })) return pred();
                f = std::move(q.front());
                q.pop_front();
            }
            f();
        }
        return true;
    }
    size_t size() {
        std::lock_guard lock(m);
        return q.size();
    }
};

struct Rig {
    PostQueue posts;
    std::shared_ptr<VirtualU220> module = std::make_shared<VirtualU220>();
    std::unique_ptr<MIDIOutput> out = module->makeOutput();
    std::unique_ptr<MIDIInput> in = module->makeInput(posts.fn());
    std::vector<Bytes> got;

    Rig() {
        EXPECT_TRUE(out->open(-1));
        EXPECT_TRUE(in->open(0));
        in->onSysExReceived = [this] {
            while (in->messageCount() > 0) {
                got.push_back(in->receivedMessage());
                in->discard();
            }
        };
    }
};

}  // namespace

TEST(VirtualU220, ListsOneDeviceOnEachSide) {
    Rig r;
    EXPECT_EQ(r.out->deviceCount(), 0);
    EXPECT_EQ(r.out->deviceName(-1), VirtualU220::kDeviceName);
    EXPECT_EQ(r.in->deviceCount(), 1);
    EXPECT_EQ(r.in->deviceName(0), VirtualU220::kDeviceName);
    std::string error;
    r.out->onError = [&](int, const std::string& e) { error = e; };
    EXPECT_FALSE(r.out->open(0));
    EXPECT_FALSE(error.empty());
}

TEST(VirtualU220, RequestIsAnsweredThroughThePorts) {
    Rig r;
    r.out->sendShort(0xC0, 5);
    const Bytes rq = BuildRQ1(0x10, {0x10, 0x04, 0x00}, 41);
    r.out->sendSysEx(rq);
    // Wire model off: the answer is queued and posted before sendSysEx returns.
    EXPECT_EQ(r.in->messageCount(), 1);
    EXPECT_EQ(r.posts.size(), 1u);
    ASSERT_TRUE(r.posts.runUntil([&] { return r.got.size() == 1; }));
    const ParsedMessage p = ParseMessage(r.got[0]);
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(DecodeName(p.data.data()), "Fantasia    ");
    EXPECT_EQ(r.module->received(), (std::vector<Bytes>{{0xC0, 5}, rq}));
    EXPECT_EQ(r.module->withEmulator([](auto& e) { return e.currentPatch(); }), 6);
}

TEST(VirtualU220, WireModelDeliversLaterFromTheDeliveryThread) {
    Rig r;
    r.module->withEmulator([](auto& e) { e.setWireModel({true, 30.0, 0.0}); });
    const auto start = Clock::now();
    r.out->sendSysEx(BuildRQ1(0x10, {0x10, 0x10, 0x00}, 50));
    EXPECT_EQ(r.in->messageCount(), 0);
    ASSERT_TRUE(r.posts.runUntil([&] { return r.got.size() == 1; }));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_GE(ms, 30.0 + (13 + 60) * 0.32 - 1.0);
    EXPECT_TRUE(ParseMessage(r.got[0]).valid);
}

TEST(VirtualU220, ClosedOrDestroyedInputTakesNoDeliveries) {
    Rig r;
    r.out->sendSysEx(BuildRQ1(0x10, {0, 0, 0}, 16));
    r.in.reset();  // a wake-up for it is still queued
    r.posts.runUntil([] { return false; }, std::chrono::milliseconds(20));

    r.in = r.module->makeInput(r.posts.fn());
    r.in->onSysExReceived = [&] { r.got.push_back({}); };
    r.out->sendSysEx(BuildRQ1(0x10, {0, 0, 0}, 16));  // not open yet
    EXPECT_EQ(r.in->messageCount(), 0);
    ASSERT_TRUE(r.in->open(0));
    r.out->sendSysEx(BuildRQ1(0x10, {0, 0, 0}, 16));
    r.in->close();
    EXPECT_EQ(r.in->messageCount(), 0);
    r.posts.runUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_TRUE(r.got.empty());
}

TEST(VirtualU220, ModuleGoesAwayWhileADeliveryIsPending) {
    PostQueue posts;
    {
        auto module = std::make_shared<VirtualU220>();
        module->withEmulator([](auto& e) { e.setWireModel({true, 200.0, 0.0}); });
        auto out = module->makeOutput();
        auto in = module->makeInput(posts.fn());
        out->open(-1);
        in->open(0);
        out->sendSysEx(BuildRQ1(0x10, {0, 0, 0}, 16));
    }  // ports and module gone before the answer is due
    posts.runUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(posts.size(), 0u);
}

TEST(VirtualU220, FullInputQueueDropsAndCounts) {
    Rig r;
    for (int i = 0; i < 4100; ++i) r.out->sendSysEx(BuildRQ1(0x10, {0, 0, 0}, 16));
    EXPECT_EQ(r.in->messageCount(), 4096);
    EXPECT_EQ(r.in->droppedCount(), 4u);
}

// The owner may destroy its event loop as soon as the input is closed: a
// delivery thread still handing a wake-up to the PostFn must be done by then.
TEST(VirtualU220, ClosingWaitsForAWakeUpBeingPosted) {
    std::mutex m;
    std::condition_variable cv;
    bool inside = false, returned = false;
    auto module = std::make_shared<VirtualU220>();
    module->withEmulator([](auto& e) { e.setWireModel({true, 5.0, 0.0}); });
    auto out = module->makeOutput();
    auto in = module->makeInput([&](std::function<void()>) {
        {
            std::lock_guard lock(m);
            inside = true;
        }
        cv.notify_all();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a slow hand-over
        std::lock_guard lock(m);
        returned = true;
    });
    ASSERT_TRUE(out->open(-1));
    ASSERT_TRUE(in->open(0));
    out->sendSysEx(BuildRQ1(0x10, {0, 0, 0}, 16));  // answered later, from the delivery thread
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(3), [&] { return inside; }));
    }
    in->close();
    std::lock_guard lock(m);
    EXPECT_TRUE(returned) << "close() returned while the port was still posting";
}
