#include "midi/PacedSender.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

namespace quorvane::midi {

PacedSender::PacedSender(SendFn sendNow)
    : sendNow_([f = std::move(sendNow)](const Bytes& m, Clock::time_point) { f(m); }) {}

PacedSender::PacedSender(TimedSendFn sendNow) : sendNow_(std::move(sendNow)) {}

PacedSender::~PacedSender() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    // Without a thread (gap 0 all along) nothing can be waiting, except when a
    // direct send is still running on another thread: wait for it.
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !inFlight_; });
}

void PacedSender::setGapMs(int ms) {
    {
        std::lock_guard lock(mutex_);
        gapMs_ = ms < 0 ? 0 : ms;
    }
    wake_.notify_all();
}

int PacedSender::gapMs() const {
    std::lock_guard lock(mutex_);
    return gapMs_;
}

void PacedSender::setGranularityMs(double ms) {
    {
        std::lock_guard lock(mutex_);
        granularity_ = ms > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms))
                              : Clock::duration::zero();
    }
    wake_.notify_all();
}

double PacedSender::granularityMs() const {
    std::lock_guard lock(mutex_);
    return std::chrono::duration<double, std::milli>(granularity_).count();
}

void PacedSender::holdUntil(Clock::time_point t) {
    {
        std::lock_guard lock(mutex_);
        holdUntil_ = t;
    }
    wake_.notify_all();
}

void PacedSender::setErrorHandler(ErrorFn onError) {
    std::lock_guard lock(mutex_);
    onError_ = std::move(onError);
}

void PacedSender::setQueueObserver(QueueObserverFn observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

bool PacedSender::isDataSet(const Bytes& m) {
    return m.size() >= 10 && m[0] == 0xF0 && m[1] == 0x41 && m[3] == 0x2B && m[4] == 0x12;
}

void PacedSender::enqueue(Bytes message) {
    std::unique_lock lock(mutex_);
    if (gapMs_ == 0 && queue_.empty() && !inFlight_ && !stopping_ && Clock::now() >= holdUntil_) {
        // Nothing to keep order with and no pacing: send on the caller's thread.
        inFlight_ = true;
        lock.unlock();
        sendOne(message);
        lock.lock();
        inFlight_ = false;
        lock.unlock();
        idle_.notify_all();
        wake_.notify_all();
        return;
    }
    if (isDataSet(message)) {
        Bytes replaced;
        const bool merged = coalesceLocked(message, replaced);
        if (!replaced.empty()) {
            QueueObserverFn observer = observer_;
            if (merged) {
                lock.unlock();
                if (observer) observer(QueueEvent::Merged, replaced, {});
                return;
            }
            if (observer) {
                // Told outside the lock, after the newer one is queued.
                queue_.push_back(std::move(message));
                startThreadLocked();
                lock.unlock();
                wake_.notify_all();
                observer(QueueEvent::Merged, replaced, {});
                return;
            }
        }
    }
    queue_.push_back(std::move(message));
    startThreadLocked();
    lock.unlock();
    wake_.notify_all();
}

bool PacedSender::coalesceLocked(Bytes& message, Bytes& replaced) {
    // Only the data sets after the last request or channel message: an older
    // value a request may read back, or one a program change overwrites, stays.
    for (auto it = queue_.end(); it != queue_.begin();) {
        --it;
        if (!isDataSet(*it)) return false;
        if (it->size() != message.size() || !std::equal(it->begin(), it->begin() + 8, message.begin())) continue;
        ++coalesced_;
        if (std::next(it) == queue_.end()) {  // nothing for another address after it
            replaced = std::exchange(*it, std::move(message));
            return true;
        }
        // Data sets for other addresses follow: replacing in place would send the
        // newer value before them. The older one goes, the newer one is queued last.
        replaced = std::move(*it);
        queue_.erase(it);
        return false;
    }
    return false;
}

void PacedSender::startThreadLocked() {
    if (!thread_.joinable() && !stopping_) thread_ = std::thread([this] { run(); });
}

void PacedSender::flush() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !inFlight_; });
}

void PacedSender::clear() {
    std::deque<Bytes> dropped;
    QueueObserverFn observer;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(queue_);
        observer = observer_;
    }
    idle_.notify_all();
    if (observer)
        for (const Bytes& m : dropped) observer(QueueEvent::Dropped, m, "send queue cleared");
}

size_t PacedSender::pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

uint64_t PacedSender::coalesced() const {
    std::lock_guard lock(mutex_);
    return coalesced_;
}

uint64_t PacedSender::sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

void PacedSender::sendOne(const Bytes& m) {
    const auto start = Clock::now();
    std::string error;
    try {
        sendNow_(m, start);
    } catch (const std::exception& e) {
        error = e.what();
        if (error.empty()) error = "MIDI output error";
    } catch (...) {
        error = "MIDI output error";
    }
    // The message has left once sendNow has handed it over: a send that had to
    // wait (say, for a new connection) must not count the wait as part of the gap.
    const auto left = Clock::now();
    ErrorFn onError;
    QueueObserverFn observer;
    {
        std::lock_guard lock(mutex_);
        lastEnd_ = left + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double, std::milli>(wireMs(m.size())));
        haveLast_ = true;
        if (error.empty()) ++sent_;
        else {
            onError = onError_;
            observer = observer_;
        }
    }
    if (onError) onError(error);
    if (observer) observer(QueueEvent::Dropped, m, error);
}

void PacedSender::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || (!queue_.empty() && !inFlight_); });
        if (queue_.empty()) break;  // stopping, nothing left (the destructor waits for a direct send)
        if (inFlight_) {  // a direct send still running on another thread
            idle_.wait(lock, [&] { return !inFlight_; });
            continue;
        }
        auto due = holdUntil_;
        if (haveLast_ && gapMs_ > 0) due = std::max(due, lastEnd_ + std::chrono::milliseconds(gapMs_) + granularity_);
        if (Clock::now() < due) {
            // Woken early by a new message or a gap change: recompute. The
            // front message stays queued so a newer data set can replace it.
            wake_.wait_until(lock, due);
            continue;
        }
        Bytes m = std::move(queue_.front());
        queue_.pop_front();
        inFlight_ = true;
        lock.unlock();
        sendOne(m);
        lock.lock();
        inFlight_ = false;
        idle_.notify_all();
    }
}

}  // namespace quorvane::midi
