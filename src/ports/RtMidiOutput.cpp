// The RtMidi output port (JACK through our own client), paced by a PacedSender.
#include "ports/RtMidiSupport.h"
#include "midi/PacedSender.h"

namespace quorvane::midi {

using namespace detail;

struct RtMidiOutput::Impl {
    Impl(PostFn post, std::string clientName)
        : events(std::make_shared<Events<RtMidiOutput>>(std::move(post))),
          client(clientName),
          devices(clientName + "-list", clientName) {}

    std::shared_ptr<Events<RtMidiOutput>> events;
    std::string client;
    DeviceList<RtMidiOut> devices;
    ErrorRoute route;
    RtPtr<RtMidiOut> port;
#if QUORVANE_HAVE_JACK
    // The open port on JACK: messages go to the client's output, which places
    // them at frames no closer than the gap.
    std::shared_ptr<JackMidiClient> jack;
#endif
    std::unique_ptr<PacedSender> sender;
    int gapMs = kDefaultGapMs;
    bool notOpenReported = false;
    std::atomic<uint64_t> sent{0};

    bool isOpen() const {
#if QUORVANE_HAVE_JACK
        if (jack) return true;
#endif
        return port != nullptr;
    }
    // True when a message can be queued; otherwise says so, once until the next open.
    bool canSend() {
        if (sender) return true;
        if (!notOpenReported) events->error(kErrNotOpen, "The MIDI Out port is not open: nothing can be sent.");
        notOpenReported = true;
        return false;
    }
};

RtMidiOutput::RtMidiOutput(PostFn post, std::string clientName)
    : d_(std::make_unique<Impl>(std::move(post), std::move(clientName))) {
    d_->events->owner = this;
}

RtMidiOutput::~RtMidiOutput() {
    close();
    d_->events->owner = nullptr;
}

int RtMidiOutput::deviceCount() const { return d_->devices.count(); }

std::string RtMidiOutput::deviceName(int index) const { return d_->devices.name(index); }

bool RtMidiOutput::open(int index) {
    close();
    const PortEntry* listed = d_->devices.at(index);
    if (!listed)
        return openFailed(onError, kErrNoSuchDevice, "There is no MIDI Out device number " + std::to_string(index) + ".");
    const PortEntry entry = *listed;

    auto events = d_->events;
    d_->route.report = driverErrorsTo(events, "MIDI Out", entry.label);
    OpenFailure failure;
    std::function<void(const Bytes&)> write;
#if QUORVANE_HAVE_JACK
    if (entry.api == RtMidi::UNIX_JACK) {
        auto jack = openJack(entry, d_->client, "MIDI Out", true, nullptr, failure);
        if (!jack) return openFailed(onError, failure.code, failure.text);
        d_->jack = jack;
        jack->setGapMs(d_->gapMs);
        write = [raw = jack.get()](const Bytes& m) {
            if (!raw->push(m))
                throw std::runtime_error(raw->dead() ? "the JACK server has stopped."
                                                     : "JACK's output queue is full; the message was not sent.");
        };
    }
#endif
    if (!write) {
        auto rt = openRt<RtMidiOut>(entry, d_->client, &d_->route, "MIDI Out", "out", nullptr, failure);
        if (!rt) return openFailed(onError, failure.code, failure.text);
        d_->port = std::move(rt);
        write = [out = d_->port.get()](const Bytes& m) { out->sendMessage(&m); };
    }
    d_->devices.setOpen(true);  // the listing clients go
    d_->events->resetReported();
    d_->notOpenReported = false;
    Impl* d = d_.get();
    d_->sender = std::make_unique<PacedSender>([write, d](const Bytes& m) {
        write(m);
        ++d->sent;
    });
    d_->sender->setErrorHandler(d_->route.report);
    d_->sender->setQueueObserver([events](PacedSender::QueueEvent ev, const Bytes& m, const std::string& why) {
        events->run([events, merged = ev == PacedSender::QueueEvent::Merged, m, why] {
            if (!events->owner) return;
            auto handler = events->owner->onNotSent;
            if (handler) handler(m, merged, why);
        });
    });
    // On JACK the client's output keeps the gap on the frame clock; the queue
    // here keeps it too, so that what waits can still be merged.
    d_->sender->setGapMs(d_->gapMs);
    return true;
}

void RtMidiOutput::close() {
    // The sender is stopped first: it sends what is queued, and then nothing
    // touches the port any more.
    d_->sender.reset();
#if QUORVANE_HAVE_JACK
    if (d_->jack) {
        // Until the cycle that carried the last message has ended.
        d_->jack->disconnectOutput();
        d_->jack.reset();
    }
#endif
    d_->devices.setOpen(false);
    d_->port.reset();  // closes the port, quietly
}

bool RtMidiOutput::isOpen() const { return d_->isOpen(); }

void RtMidiOutput::sendShort(uint8_t status, uint8_t data1) {
    if (status < 0xC0 || status > 0xDF || data1 >= 0x80) {
        d_->events->error(kErrBadMessage, "Refused to send an invalid two-byte MIDI message (" + hex2(status) + " " +
                                              hex2(data1) + ").");
        return;
    }
    if (!d_->canSend()) return;
    d_->sender->enqueue(Bytes{status, data1});
}

void RtMidiOutput::sendChannel(uint8_t status, uint8_t data1, uint8_t data2) {
    // Three-byte channel messages: note off/on, poly pressure, control change, pitch bend.
    const bool threeBytes = (status >= 0x80 && status <= 0xBF) || (status >= 0xE0 && status <= 0xEF);
    if (!threeBytes || data1 >= 0x80 || data2 >= 0x80) {
        d_->events->error(kErrBadMessage, "Refused to send an invalid three-byte MIDI message (" + hex2(status) + " " +
                                              hex2(data1) + " " + hex2(data2) + ").");
        return;
    }
    if (!d_->canSend()) return;
    d_->sender->enqueue(Bytes{status, data1, data2});
}

void RtMidiOutput::sendSysEx(const Bytes& frame) {
    if (!validSysEx(frame)) {
        d_->events->error(kErrBadMessage, "Refused to send a malformed System Exclusive message (" +
                                              std::to_string(frame.size()) + " bytes).");
        return;
    }
    if (!d_->canSend()) return;
    d_->sender->enqueue(frame);
}

void RtMidiOutput::setSendGapMs(int ms) {
    d_->gapMs = std::max(0, ms);
    if (d_->sender) d_->sender->setGapMs(d_->gapMs);
#if QUORVANE_HAVE_JACK
    if (d_->jack) d_->jack->setGapMs(d_->gapMs);
#endif
}

int RtMidiOutput::sendGapMs() const { return d_->gapMs; }

void RtMidiOutput::flush() {
    if (d_->sender) d_->sender->flush();
#if QUORVANE_HAVE_JACK
    if (d_->jack) d_->jack->drain();
#endif
}

uint64_t RtMidiOutput::sentCount() const { return d_->sent; }

double RtMidiOutput::deliveryGranularityMs() const { return 0.0; }

}  // namespace quorvane::midi
