// The RtMidi input port (JACK through our own client): System Exclusive
// messages reassembled and queued for the GUI thread.
#include "ports/RtMidiSupport.h"

namespace quorvane::midi {

using namespace detail;

// ---------------------------------------------------------------------------
// Input

namespace {

// What RtMidi's thread shares with the GUI thread.
struct InputQueue {
    std::shared_ptr<Events<RtMidiInput>> events;
    std::mutex mutex;
    std::deque<Bytes> messages;
    size_t bytes = 0;
    std::atomic<uint64_t> overflow{0};
    std::atomic<uint64_t> incomplete{0};
    std::atomic<bool> wakePending{false};
    SysExAssembler assembler;  // RtMidi's thread only, while a port is open

    void push(const Bytes& m) {
        {
            std::lock_guard lock(mutex);
            if (messages.size() >= RtMidiInput::kMaxQueuedMessages || bytes + m.size() > RtMidiInput::kMaxQueuedBytes) {
                ++overflow;
                return;
            }
            messages.push_back(m);
            bytes += m.size();
        }
        // One wake-up at a time: the handler takes every waiting message.
        if (!wakePending.exchange(true)) {
            auto ev = events;
            ev->run([this, ev] {
                if (!ev->owner) return;  // `this` lives as long as the owner port
                wakePending = false;
                auto handler = ev->owner->onSysExReceived;
                if (handler) handler();
            });
        }
    }
    void clear() {
        std::lock_guard lock(mutex);
        messages.clear();
        bytes = 0;
    }
};

void onMidiIn(double, std::vector<unsigned char>* message, void* user) {
    auto* q = static_cast<InputQueue*>(user);
    if (!message || message->empty()) return;
    const uint64_t before = q->assembler.incomplete();
    q->assembler.feed(message->data(), message->size(), [q](const Bytes& m) {
        if (m.front() == 0xF0) q->push(m);  // other messages are of no use here
    });
    q->incomplete += q->assembler.incomplete() - before;
}

}  // namespace

struct RtMidiInput::Impl {
    Impl(PostFn post, std::string clientName)
        : client(clientName + "-in"), jackClient(clientName), devices(clientName + "-in-list", clientName) {
        queue = std::make_unique<InputQueue>();
        queue->events = std::make_shared<Events<RtMidiInput>>(std::move(post));
    }
    std::string client;
    std::string jackClient;  // on JACK both directions share the output's client
    DeviceList<RtMidiIn> devices;
    ErrorRoute route;
    std::unique_ptr<InputQueue> queue;  // outlives `port`
    RtPtr<RtMidiIn> port;
#if QUORVANE_HAVE_JACK
    std::shared_ptr<JackMidiClient> jack;
    // Whether the JACK client's input delivers to `queue`: the client may
    // outlive this port (the output holds it) and go on receiving.
    std::shared_ptr<std::atomic<bool>> jackLive;
#endif
};

RtMidiInput::RtMidiInput(PostFn post, std::string clientName)
    : d_(std::make_unique<Impl>(std::move(post), std::move(clientName))) {
    d_->queue->events->owner = this;
}

RtMidiInput::~RtMidiInput() {
    close();
    // A wake-up still posted finds no owner and touches nothing else.
    d_->queue->events->owner = nullptr;
}

int RtMidiInput::deviceCount() const { return d_->devices.count(); }

std::string RtMidiInput::deviceName(int index) const { return d_->devices.name(index); }

bool RtMidiInput::open(int index) {
    close();
    d_->queue->clear();
    d_->queue->assembler.reset();
    const PortEntry* listed = d_->devices.at(index);
    if (!listed)
        return openFailed(onError, kErrNoSuchDevice, "There is no MIDI In device number " + std::to_string(index) + ".");
    const PortEntry entry = *listed;

    auto events = d_->queue->events;
    d_->route.report = driverErrorsTo(events, "MIDI In", entry.label);
    OpenFailure failure;
    InputQueue* queue = d_->queue.get();
#if QUORVANE_HAVE_JACK
    if (entry.api == RtMidi::UNIX_JACK) {
        auto live = std::make_shared<std::atomic<bool>>(true);
        // Called on the JACK client's reader thread; a client that outlived this
        // port keeps the flag, not the queue.
        auto receive = [queue, live](const uint8_t* data, size_t size, uint64_t) {
            if (!live->load()) return;
            const uint64_t before = queue->assembler.incomplete();
            queue->assembler.feed(data, size, [queue](const Bytes& m) {
                if (m.front() == 0xF0) queue->push(m);
            });
            queue->incomplete += queue->assembler.incomplete() - before;
        };
        auto jack = openJack(entry, d_->jackClient, "MIDI In", false, receive, failure);
        if (!jack) return openFailed(onError, failure.code, failure.text);
        d_->jack = std::move(jack);
        d_->jackLive = live;
        d_->devices.setOpen(true);
        events->resetReported();
        return true;
    }
#endif
    auto rt = openRt<RtMidiIn>(
        entry, d_->client, &d_->route, "MIDI In", "in",
        [queue](RtMidiIn& in) {
            in.setBufferSize(kRtBufferSize, kRtBufferCount);
            in.ignoreTypes(false /*System Exclusive*/, true /*timing*/, true /*active sensing*/);
            in.setCallback(onMidiIn, queue);
        },
        failure, kRtQueueLimit);
    if (!rt) return openFailed(onError, failure.code, failure.text);
    d_->port = std::move(rt);
    d_->devices.setOpen(true);  // the listing clients go
    events->resetReported();
    return true;
}

void RtMidiInput::close() {
    d_->devices.setOpen(false);
    d_->port.reset();  // closes the port; after this RtMidi's thread no longer calls onMidiIn
#if QUORVANE_HAVE_JACK
    if (d_->jack) {
        d_->jackLive->store(false);
        d_->jack->disconnectInput();
        d_->jack.reset();
    }
#endif
}

bool RtMidiInput::isOpen() const {
#if QUORVANE_HAVE_JACK
    if (d_->jack) return true;
#endif
    return d_->port != nullptr;
}

int RtMidiInput::messageCount() const {
    std::lock_guard lock(d_->queue->mutex);
    return static_cast<int>(d_->queue->messages.size());
}

Bytes RtMidiInput::receivedMessage() const {
    std::lock_guard lock(d_->queue->mutex);
    return d_->queue->messages.empty() ? Bytes{} : d_->queue->messages.front();
}

void RtMidiInput::discard() {
    auto& q = *d_->queue;
    std::lock_guard lock(q.mutex);
    if (q.messages.empty()) return;
    q.bytes -= q.messages.front().size();
    q.messages.pop_front();
}

uint64_t RtMidiInput::droppedCount() const { return overflowCount() + incompleteCount(); }
uint64_t RtMidiInput::overflowCount() const {
#if QUORVANE_HAVE_JACK
    if (d_->jack) return d_->queue->overflow + d_->jack->inputOverflows();
#endif
    return d_->queue->overflow;
}
uint64_t RtMidiInput::incompleteCount() const { return d_->queue->incomplete; }

// Only JACK's clients lose their server while running (RtMidi's other APIs

}  // namespace quorvane::midi
