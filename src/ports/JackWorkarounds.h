// Workarounds for JACK's client library, shared by our JACK client: its
// console messages silenced, the server failures it reports counted, client and
// port changes kept apart in time, and broken clients never closed.
#pragma once

#if QUORVANE_HAVE_JACK

#include <chrono>
#include <mutex>
#include <thread>

namespace quorvane::midi {
class JackMidiClient;
}

namespace quorvane::midi::jackfix {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// One more time a client of ours lost its server (JackServerFailures counts them).
void countServerFailure();
// Routes JACK's console messages to us (once per process).
void quietJack();
// Keeps `c` for the rest of the run instead of closing it.
void keepForever(JackMidiClient* c);

// jackd2's client library walks a client's port list on its notification thread
// (latency updates after any change in the graph) without a lock, while
// registering or unregistering a port changes that list on the calling thread.
// Changes of our own made in quick succession (a client closing while another
// one registers its port) then crash the process now and then. Every client and
// port change made here is kept apart from the previous one long enough for the
// server's notifications about it to have been handled.
constexpr auto kChangeGap = 50ms;

class JackChange {
public:
    JackChange() {
        mutex().lock();
        const auto due = last() + kChangeGap;
        if (Clock::now() < due) std::this_thread::sleep_until(due);
    }
    ~JackChange() {
        if (happened_) last() = Clock::now();
        mutex().unlock();
    }
    // Nothing reached the server (it is not running): the next change need not wait.
    void nothingHappened() { happened_ = false; }
    JackChange(const JackChange&) = delete;
    JackChange& operator=(const JackChange&) = delete;

private:
    static std::recursive_mutex& mutex() {
        static std::recursive_mutex m;
        return m;
    }
    static Clock::time_point& last() {
        static Clock::time_point t;
        return t;
    }
    bool happened_ = true;
};

}  // namespace quorvane::midi::jackfix

#endif
