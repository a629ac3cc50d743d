// The event-loop services the model needs from its owner: waiting without
// spinning while pending events (port messages, user input) keep running, and a
// way to hand work to the owner's thread from another thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace quorvane {

using Clock = std::chrono::steady_clock;

class Host {
public:
    virtual ~Host() = default;
    // Runs pending events until done() holds or the deadline passes; returns done().
    // Must not busy-wait: it sleeps until an event arrives or the deadline.
    virtual bool waitUntil(const std::function<bool()>& done, Clock::time_point deadline) = 0;
    // Schedules fn to run on the owner's thread. Callable from any thread.
    virtual void post(std::function<void()> fn) = 0;
    // Tells running waits that the model's state changed, so they test again.
    virtual void notify() {}
};

// A host without a GUI: a queue of posted functions run by waitUntil.
// Used by the command-line tool, the benchmarks and the device tests.
class SimpleHost : public Host {
public:
    bool waitUntil(const std::function<bool()>& done, Clock::time_point deadline) override {
        while (!done()) {
            std::function<void()> fn;
            {
                std::unique_lock lock(mutex_);
                if (!cv_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return done();
                fn = std::move(queue_.front());
                queue_.pop_front();
            }
            fn();
        }
        return true;
    }
    void post(std::function<void()> fn) override {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(fn));
        }
        cv_.notify_one();
    }
    // Runs whatever is queued now, without waiting.
    void processPending() {
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) return;
                fn = std::move(queue_.front());
                queue_.pop_front();
            }
            fn();
        }
    }
    // Runs posted functions for `d` (e.g. to let delayed replies arrive).
    void runFor(std::chrono::milliseconds d) {
        waitUntil([] { return false; }, Clock::now() + d);
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace quorvane
