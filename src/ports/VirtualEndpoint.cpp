// The simulator's virtual ports: on RtMidi, and on JACK through our own clients.
#include "ports/RtMidiSupport.h"

namespace quorvane::midi {

using namespace detail;

// ---------------------------------------------------------------------------
// Virtual endpoint

struct RtMidiVirtualEndpoint::Impl {
    Api api = RtMidi::UNSPECIFIED;
    ReceiveFn onReceive;
    SysExAssembler assembler;  // RtMidi's thread
    std::atomic<uint64_t> incomplete{0};
    ErrorRoute route;
    RtPtr<RtMidiIn> in;
    RtPtr<RtMidiOut> out;
#if QUORVANE_HAVE_JACK
    std::unique_ptr<JackVirtualEndpoint> jack;  // in place of `in` and `out` on JACK
#endif
    mutable std::mutex mutex;  // error text and sending
    std::string error;

    static void received(double, std::vector<unsigned char>* message, void* user) {
        auto* d = static_cast<Impl*>(user);
        if (!message || message->empty()) return;
        const uint64_t before = d->assembler.incomplete();
        d->assembler.feed(message->data(), message->size(), [d](const Bytes& m) {
            if (d->onReceive) d->onReceive(m);
        });
        d->incomplete += d->assembler.incomplete() - before;
    }

    bool start(Api which, const std::string& client, const std::string& inName, const std::string& outName) {
#if QUORVANE_HAVE_JACK
        if (which == RtMidi::UNIX_JACK) {
            jack = std::make_unique<JackVirtualEndpoint>(client, inName, outName, [this](const Bytes& m, double) {
                if (onReceive) onReceive(m);
            });
            if (!jack->ok()) {
                error = jack->error();
                jack.reset();
                return false;
            }
            api = which;
            error.clear();
            return true;
        }
#endif
        std::string why;
        in = makeRt<RtMidiIn>(which, client, &route, &why, kRtQueueLimit);
        if (in) out = makeRt<RtMidiOut>(which, client + "-out", &route, &why);
        if (!in || !out) {
            error = apiLabel(which) + ": " + (why.empty() ? "the MIDI system did not start." : why);
            in.reset();
            out.reset();
            return false;
        }
        CaptureErrors errors;
        try {
            in->setBufferSize(kRtBufferSize, kRtBufferCount);
            in->ignoreTypes(false, true, true);
            in->setCallback(&Impl::received, this);
            in->openVirtualPort(inName);
            out->openVirtualPort(outName);
        } catch (const std::exception& e) {
            errors.add(e.what());
        }
        if (!errors.empty() || !why.empty()) {
            // A warning while starting ("JACK server not running?") means no ports.
            error = apiLabel(which) + ": " + (errors.empty() ? why : errors.text());
            in.reset();
            out.reset();
            return false;
        }
        api = which;
        error.clear();
        return true;
    }
};

RtMidiVirtualEndpoint::RtMidiVirtualEndpoint(const std::string& api, const std::string& clientName,
                                             const std::string& inPortName, const std::string& outPortName,
                                             ReceiveFn onReceive)
    : d_(std::make_unique<Impl>()) {
    d_->onReceive = std::move(onReceive);
    d_->route.report = [d = d_.get()](const std::string& text) {
        std::lock_guard lock(d->mutex);
        d->error = text;
    };
    std::vector<Api> candidates;
    if (api.empty()) {
        for (Api a : usableApis())
            if (a != RtMidi::WINDOWS_MM && a != RtMidi::WEB_MIDI_API) candidates.push_back(a);
    } else {
        const Api a = RtMidi::getCompiledApiByName(api);
        if (a == RtMidi::UNSPECIFIED) {
            d_->error = "The MIDI API \"" + api + "\" is not compiled into RtMidi.";
            return;
        }
        candidates.push_back(a);
    }
    if (candidates.empty()) d_->error = "No MIDI API that can make virtual ports is available.";
    for (Api a : candidates)
        if (d_->start(a, clientName, inPortName, outPortName)) break;
}

RtMidiVirtualEndpoint::~RtMidiVirtualEndpoint() {
#if QUORVANE_HAVE_JACK
    d_->jack.reset();
#endif
    d_->in.reset();  // stops RtMidi's thread before the callback target goes
    d_->out.reset();
}

bool RtMidiVirtualEndpoint::ok() const {
#if QUORVANE_HAVE_JACK
    if (d_->jack) return true;
#endif
    return d_->in && d_->out;
}

std::string RtMidiVirtualEndpoint::error() const {
    std::lock_guard lock(d_->mutex);
    return d_->error;
}

std::string RtMidiVirtualEndpoint::apiName() const { return ok() ? apiLabel(d_->api) : std::string(); }

bool RtMidiVirtualEndpoint::send(const Bytes& message) {
    if (!ok() || message.empty()) return false;
    std::lock_guard lock(d_->mutex);
#if QUORVANE_HAVE_JACK
    if (d_->jack) {
        if (d_->jack->send(message)) return true;
        d_->error = "JACK: the message could not be queued (server stopped, or its queue is full).";
        return false;
    }
#endif
    CaptureErrors errors;
    try {
        d_->out->sendMessage(&message);
    } catch (const std::exception& e) {
        errors.add(e.what());
    }
    if (!errors.empty()) {
        d_->error = errors.text();
        return false;
    }
    return true;
}

uint64_t RtMidiVirtualEndpoint::incompleteCount() const {
#if QUORVANE_HAVE_JACK
    if (d_->jack) return d_->jack->incompleteCount();
#endif
    return d_->incomplete;
}


// ---------------------------------------------------------------------------
// The same on JACK, through clients of our own that stamp arrival frames

#if QUORVANE_HAVE_JACK
struct JackVirtualEndpoint::Impl {
    std::shared_ptr<JackMidiClient> in, out;
    ReceiveFn onReceive;
    SysExAssembler assembler;  // the input's reader thread
    std::atomic<uint64_t> incomplete{0};
    std::string error;
};

JackVirtualEndpoint::JackVirtualEndpoint(const std::string& clientName, const std::string& inPortName,
                                         const std::string& outPortName, ReceiveFn onReceive)
    : d_(std::make_unique<Impl>()) {
    d_->onReceive = std::move(onReceive);
    std::string why;
    d_->in = JackMidiClient::open(clientName, &why);
    if (d_->in) d_->out = JackMidiClient::open(clientName + "-out", &why);
    Impl* d = d_.get();
    auto received = [d](const uint8_t* data, size_t size, uint64_t frame) {
        const double atMs = d->in->frameMs(frame);
        const uint64_t before = d->assembler.incomplete();
        d->assembler.feed(data, size, [&](const Bytes& m) {
            if (m.size() == 1 && (m[0] == 0xF8 || m[0] == 0xFE)) return;  // timing clock, active sensing
            if (d->onReceive) d->onReceive(m, atMs);
        });
        d->incomplete += d->assembler.incomplete() - before;
    };
    if (!d_->in || !d_->out || !d_->in->addInput(inPortName, received, &why) || !d_->out->addOutput(outPortName, &why)) {
        d_->error = "JACK: " + (why.empty() ? std::string("the MIDI system did not start.") : why);
        d_->in.reset();
        d_->out.reset();
        return;
    }
    d_->out->setGapMs(0);
}

JackVirtualEndpoint::~JackVirtualEndpoint() {
    if (d_->out) d_->out->drain();
    d_->in.reset();  // stops the reader before the callback's target goes
    d_->out.reset();
}

bool JackVirtualEndpoint::ok() const { return d_->in && d_->out; }
std::string JackVirtualEndpoint::error() const { return d_->error; }
double JackVirtualEndpoint::nowMs() const { return ok() ? d_->out->frameMs(d_->out->frameNow()) : 0.0; }
double JackVirtualEndpoint::periodMs() const {
    return ok() ? 1000.0 * d_->out->periodFrames() / d_->out->sampleRate() : 0.0;
}

bool JackVirtualEndpoint::send(const Bytes& message, double atMs) {
    if (!ok() || d_->out->dead()) return false;
    return d_->out->push(message, d_->out->framesOf(atMs));
}

uint64_t JackVirtualEndpoint::incompleteCount() const { return d_->incomplete; }
#endif

}  // namespace quorvane::midi
