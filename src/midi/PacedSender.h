// A paced output queue: keeps a least gap between the end of one message on the
// MIDI wire and the start of the next, so that a slow module is not flooded.
//
// Rules:
// - With a gap of 0 and nothing waiting, enqueue() sends at once on the caller's
//   thread. Otherwise messages wait in a queue served by one sender thread.
// - The gap runs from the end of a message on the wire (its start plus
//   10 bits a byte at 31250 baud) to the start of the next message. A message
//   starts when sendNow has handed it over (so a sendNow that blocks does not
//   eat into the next gap). Where an output system passes messages on only at
//   intervals, that interval can be added to every gap (setGranularityMs): two
//   messages sent a gap apart may otherwise reach the module one interval
//   closer. JACK needs none: its output places each message at its own frame.
// - Latest value wins: a data set (F0 41 dev 2B 12 ...) for the same device and
//   address (same first eight bytes, same length) as one still waiting makes
//   the older one go. When the older one is the last message queued it is
//   replaced in place; when data sets for other addresses were queued after it,
//   the older one is dropped and the newer one queued at the end, so that a
//   data set never overtakes one for another address (a timbre number, then a
//   level, then another timbre number must not send the level last).
//   Only data sets queued after the last request or channel message are looked
//   at: requests and channel messages are never merged, dropped or overtaken.
// - flush() blocks until everything queued has been handed to sendNow; the
//   destructor sends what is queued (keeping the gap) and then stops the thread.
//
// sendNow runs on the caller's thread (gap 0) or on the sender thread; an
// exception it throws is caught and handed to the error handler (if any) on the
// thread that ran sendNow.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvane::midi {

class PacedSender {
public:
    using Bytes = std::vector<uint8_t>;
    using SendFn = std::function<void(const Bytes&)>;
    // Also told the moment the pacing counts as the message's start on the wire
    // (taken just before the call), for receivers that model the wire.
    using TimedSendFn = std::function<void(const Bytes&, std::chrono::steady_clock::time_point start)>;
    using ErrorFn = std::function<void(const std::string&)>;
    // A queued message that never reached the wire: replaced by a newer data set
    // for the same address (Merged), or thrown away by clear() or lost because
    // sendNow threw (Dropped, with the reason).
    enum class QueueEvent : uint8_t { Merged, Dropped };
    using QueueObserverFn = std::function<void(QueueEvent, const Bytes& message, const std::string& reason)>;

    explicit PacedSender(SendFn sendNow);
    explicit PacedSender(TimedSendFn sendNow);
    ~PacedSender();
    PacedSender(const PacedSender&) = delete;
    PacedSender& operator=(const PacedSender&) = delete;

    void setGapMs(int ms);  // negative counts as 0
    int gapMs() const;
    // Delivery interval of the output system (0: passes messages on at once),
    // added to the gap whenever the gap is not 0.
    void setGranularityMs(double ms);  // negative counts as 0
    double granularityMs() const;
    // No message leaves before `t` (e.g. while a new connection settles); the
    // first message's gap counts from when it really left.
    void holdUntil(std::chrono::steady_clock::time_point t);
    // Set before the first enqueue; called when sendNow throws.
    void setErrorHandler(ErrorFn onError);
    // Set before the first enqueue. Runs outside the lock, on the thread that
    // enqueued (merged), cleared, or sent (a send that threw).
    void setQueueObserver(QueueObserverFn observer);

    void enqueue(Bytes message);
    // Blocks until the queue is empty and no message is being handed over.
    void flush();
    // Drops every message still waiting (e.g. when the port closes).
    void clear();

    size_t pending() const;
    uint64_t coalesced() const;  // waiting data sets replaced or dropped for a newer one
    uint64_t sent() const;

    // True for a Roland data set of the U-220 (F0 41 dev 2B 12 a1 a2 a3 ...).
    static bool isDataSet(const Bytes& m);
    // Wire time of n bytes in ms (10 bits a byte, 31250 baud).
    static double wireMs(size_t bytes) { return bytes * 10.0 * 1000.0 / 31250.0; }

private:
    using Clock = std::chrono::steady_clock;
    void run();
    void sendOne(const Bytes& m);  // calls sendNow_, catches, updates the pacing clock
    void startThreadLocked();
    bool coalesceLocked(Bytes& message, Bytes& replaced);  // true when `message` was queued by replacing one

    TimedSendFn sendNow_;
    ErrorFn onError_;
    QueueObserverFn observer_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;   // sender thread: work, gap change or stop
    std::condition_variable idle_;   // flush(): queue empty and nothing in flight
    std::deque<Bytes> queue_;
    int gapMs_ = 0;
    Clock::duration granularity_{0};
    Clock::time_point holdUntil_{};
    bool inFlight_ = false;
    bool stopping_ = false;
    bool haveLast_ = false;
    Clock::time_point lastEnd_;      // end of the last message on the wire
    uint64_t coalesced_ = 0;
    uint64_t sent_ = 0;
    std::thread thread_;
};

}  // namespace quorvane::midi
