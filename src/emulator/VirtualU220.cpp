#include "emulator/VirtualU220.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <thread>
#include <utility>

#include "midi/PacedSender.h"

namespace quorvane::midi {

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t kInputQueueLimit = 4096;

// What an input port shares with the module's delivery side and with the
// wake-ups it has posted: the queue, whether the port is open, and the port
// itself (cleared when the port goes, so a late wake-up does nothing).
struct InputState {
    // Held while a wake-up is handed to `post`, and by close(): once the port is
    // closed no call into the owner's event loop is still running, so the owner
    // may take its loop down. Recursive: a PostFn that runs the wake-up at once
    // may send (and be answered) or close the port from inside it.
    std::recursive_mutex postMutex;
    std::mutex mutex;
    std::deque<Bytes> queue;
    bool open = false;
    uint64_t dropped = 0;
    PostFn post;
    MIDIInput* port = nullptr;  // touched on the GUI thread only
};
}  // namespace

// Answers on their way to the input ports, and the thread that hands over the
// ones that arrive later (wire model, late faults).
struct VirtualU220::Delivery {
    const Clock::time_point epoch = Clock::now();
    double hostWireEnd = 0;  // end on the wire of the host's last message (ms since epoch)

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::multimap<Clock::time_point, Bytes> scheduled;  // equal times keep their order
    std::vector<std::weak_ptr<InputState>> inputs;
    std::thread thread;

    ~Delivery() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            scheduled.clear();
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
    }

    double nowMs() const { return std::chrono::duration<double, std::milli>(Clock::now() - epoch).count(); }
    Clock::time_point at(double ms) const {
        return epoch + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
    }

    void addInput(const std::shared_ptr<InputState>& s) {
        std::lock_guard lock(mutex);
        std::erase_if(inputs, [](const std::weak_ptr<InputState>& w) { return w.expired(); });
        inputs.push_back(s);
    }

    // Hands one message to every open input: queue it and post a wake-up.
    void deliver(const Bytes& m) {
        std::vector<std::shared_ptr<InputState>> targets;
        {
            std::lock_guard lock(mutex);
            for (const auto& w : inputs)
                if (auto s = w.lock()) targets.push_back(std::move(s));
        }
        for (const auto& s : targets) {
            std::lock_guard postLock(s->postMutex);
            PostFn post;
            {
                std::lock_guard lock(s->mutex);
                if (!s->open) continue;
                if (s->queue.size() >= kInputQueueLimit) {
                    ++s->dropped;
                    continue;
                }
                s->queue.push_back(m);
                post = s->post;
            }
            if (post) {
                post([s] {
                    MIDIInput* port = s->port;
                    if (!port) return;  // the port has gone
                    {
                        std::lock_guard lock(s->mutex);
                        if (!s->open) return;
                    }
                    auto handler = port->onSysExReceived;  // a copy: the handler may close the port
                    if (handler) handler();
                });
            }
        }
    }

    void schedule(Clock::time_point when, Bytes m) {
        {
            std::lock_guard lock(mutex);
            if (stopping) return;
            scheduled.emplace(when, std::move(m));
            if (!thread.joinable()) thread = std::thread([this] { run(); });
        }
        wake.notify_all();
    }

    void run() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (scheduled.empty()) {
                wake.wait(lock, [&] { return stopping || !scheduled.empty(); });
                continue;
            }
            const auto due = scheduled.begin()->first;
            if (Clock::now() < due) {
                wake.wait_until(lock, due);  // a new, earlier answer or stop wakes us sooner
                continue;
            }
            std::vector<Bytes> ready;
            const auto now = Clock::now();
            while (!scheduled.empty() && scheduled.begin()->first <= now) {
                ready.push_back(std::move(scheduled.begin()->second));
                scheduled.erase(scheduled.begin());
            }
            lock.unlock();
            for (const Bytes& m : ready) deliver(m);
            lock.lock();
        }
    }
};

// ---------------------------------------------------------------- output port

class VirtualOutputPort : public MIDIOutput {
public:
    explicit VirtualOutputPort(std::shared_ptr<VirtualU220> module)
        : module_(std::move(module)), sender_(PacedSender::TimedSendFn([m = module_.get()](const Bytes& b, Clock::time_point start) {
              m->fromHost(b, start);
          })) {
        // Merges and clears happen on the caller's (GUI) thread; the emulator
        // never makes a send fail.
        sender_.setQueueObserver([this](PacedSender::QueueEvent ev, const Bytes& m, const std::string& why) {
            if (onNotSent) onNotSent(m, ev == PacedSender::QueueEvent::Merged, why);
        });
    }
    ~VirtualOutputPort() override { sender_.flush(); }

    int deviceCount() const override { return 0; }  // only device -1
    std::string deviceName(int index) const override { return index == -1 ? VirtualU220::kDeviceName : ""; }
    bool open(int index) override {
        if (index != -1) {
            if (onError) onError(1, "The virtual U-220 is output device -1; there is no output device " + std::to_string(index) + ".");
            return false;
        }
        open_ = true;
        return true;
    }
    void close() override {
        sender_.flush();
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    void sendShort(uint8_t status, uint8_t data1) override { send(Bytes{status, data1}); }
    void sendChannel(uint8_t status, uint8_t data1, uint8_t data2) override { send(Bytes{status, data1, data2}); }
    void sendSysEx(const Bytes& frame) override { send(frame); }
    void setSendGapMs(int ms) override { sender_.setGapMs(ms); }
    int sendGapMs() const override { return sender_.gapMs(); }
    void flush() override { sender_.flush(); }

private:
    void send(Bytes m) {
        if (!open_) {
            if (onError) onError(2, "The MIDI output is not open.");
            return;
        }
        sender_.enqueue(std::move(m));
    }

    std::shared_ptr<VirtualU220> module_;
    PacedSender sender_;  // declared after module_: it is flushed and stopped first
    bool open_ = false;
};

// ----------------------------------------------------------------- input port

class VirtualInputPort : public MIDIInput {
public:
    VirtualInputPort(std::shared_ptr<VirtualU220::Delivery> delivery, PostFn post)
        : delivery_(std::move(delivery)), state_(std::make_shared<InputState>()) {
        state_->post = std::move(post);
        state_->port = this;
        delivery_->addInput(state_);
    }
    ~VirtualInputPort() override {
        VirtualInputPort::close();
        state_->port = nullptr;  // on the GUI thread, where the wake-ups read it
    }

    int deviceCount() const override { return 1; }
    std::string deviceName(int index) const override { return index == 0 ? VirtualU220::kDeviceName : ""; }
    bool open(int index) override {
        if (index != 0) {
            if (onError) onError(1, "The virtual U-220 is input device 0; there is no input device " + std::to_string(index) + ".");
            return false;
        }
        std::lock_guard lock(state_->mutex);
        state_->open = true;
        return true;
    }
    void close() override {
        std::lock_guard postLock(state_->postMutex);
        std::lock_guard lock(state_->mutex);
        state_->open = false;
        state_->queue.clear();
    }
    bool isOpen() const override {
        std::lock_guard lock(state_->mutex);
        return state_->open;
    }
    int messageCount() const override {
        std::lock_guard lock(state_->mutex);
        return static_cast<int>(state_->queue.size());
    }
    Bytes receivedMessage() const override {
        std::lock_guard lock(state_->mutex);
        return state_->queue.empty() ? Bytes{} : state_->queue.front();
    }
    void discard() override {
        std::lock_guard lock(state_->mutex);
        if (!state_->queue.empty()) state_->queue.pop_front();
    }
    uint64_t droppedCount() const override {
        std::lock_guard lock(state_->mutex);
        return state_->dropped;
    }

private:
    std::shared_ptr<VirtualU220::Delivery> delivery_;
    std::shared_ptr<InputState> state_;
};

// --------------------------------------------------------------------- module

VirtualU220::VirtualU220(uint8_t deviceId) : emulator_(deviceId), delivery_(std::make_shared<Delivery>()) {}

VirtualU220::~VirtualU220() = default;

void VirtualU220::setRealistic(double answerDelayMs, double minGapMs) {
    std::lock_guard lock(mutex_);
    emulator::WireModel w;
    w.enabled = answerDelayMs > 0 || minGapMs > 0;
    w.answerDelayMs = std::max(0.0, answerDelayMs);
    w.minGapMs = std::max(0.0, minGapMs);
    emulator_.setWireModel(w);
}

bool VirtualU220::realistic() const {
    std::lock_guard lock(mutex_);
    return emulator_.wireModel().enabled;
}

uint64_t VirtualU220::lostToGap() const {
    std::lock_guard lock(mutex_);
    return emulator_.stats().lostToGap;
}

std::vector<Bytes> VirtualU220::received() const {
    std::lock_guard lock(mutex_);
    return emulator_.log();
}

void VirtualU220::clearReceived() {
    std::lock_guard lock(mutex_);
    emulator_.clearLog();
}

std::unique_ptr<MIDIOutput> VirtualU220::makeOutput() {
    return std::make_unique<VirtualOutputPort>(shared_from_this());
}

std::unique_ptr<MIDIInput> VirtualU220::makeInput(PostFn post) {
    return std::make_unique<VirtualInputPort>(delivery_, std::move(post));
}

void VirtualU220::fromHost(const Bytes& message) { fromHost(message, Clock::now()); }

void VirtualU220::fromHost(const Bytes& message, Clock::time_point sentAt) {
    std::vector<emulator::Outgoing> answers;
    double now = 0;
    {
        std::lock_guard lock(mutex_);
        now = delivery_->nowMs();
        // The sender's own time stamp: pacing it kept is not eaten up by the
        // time the message took to get here.
        double start = std::min(now, std::chrono::duration<double, std::milli>(sentAt - delivery_->epoch).count());
        if (emulator_.wireModel().enabled) {
            // One wire: a message starts when the previous one has left. The
            // sender's stamp, not the time it got here: a sender thread held up
            // on a busy machine must not make well-paced messages look too close.
            start = std::max(start, delivery_->hostWireEnd);
            delivery_->hostWireEnd = start + emulator::U220Emulator::wireMs(message.size());
        }
        answers = emulator_.receive(message, start);
    }
    for (auto& a : answers) {
        if (a.atMs <= now) delivery_->deliver(a.message);
        else delivery_->schedule(delivery_->at(a.atMs), std::move(a.message));
    }
}

}  // namespace quorvane::midi
