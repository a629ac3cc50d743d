#include "ports/RtMidiPorts.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <type_traits>

#include "ports/JackPorts.h"
#include "midi/PacedSender.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace quorvane::midi {

namespace {

using Api = RtMidi::Api;

// ---------------------------------------------------------------------------
// Quiet MIDI libraries. ALSA prints to the console when its sequencer is
// missing (JackPorts.cpp quiets JACK), and RtMidi prints its warnings to
// std::cerr until an error callback is set (which is only possible after
// construction). A desktop program has no console worth writing to, and an API
// without a server just lists no ports.

#if !defined(_WIN32)
void silentAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

void quietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
#if !defined(_WIN32)
        // Looked up at run time: ALSA comes in with RtMidi when it was built
        // with it, and this file needs none of its headers.
        using AlsaFn = int (*)(void (*)(const char*, int, const char*, int, const char*, ...));
        if (auto f = reinterpret_cast<AlsaFn>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) f(silentAlsa);
#endif
    });
}

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \n\r\t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \n\r\t");
    return s.substr(b, e - b + 1);
}

// Errors that RtMidi reports on this thread while a scope is open are collected
// here instead of being routed to the port's error event.
thread_local std::vector<std::string>* tCapture = nullptr;

class CaptureErrors {
public:
    CaptureErrors() : prev_(tCapture) { tCapture = &items_; }
    ~CaptureErrors() { tCapture = prev_; }
    CaptureErrors(const CaptureErrors&) = delete;
    CaptureErrors& operator=(const CaptureErrors&) = delete;
    void add(const std::string& s) { items_.push_back(trimmed(s)); }
    bool empty() const { return items_.empty(); }
    std::string text() const {
        std::string out;
        for (const auto& s : items_) {
            if (s.empty() || out.find(s) != std::string::npos) continue;
            if (!out.empty()) out += " ";
            out += s;
        }
        return out;
    }

private:
    std::vector<std::string> items_;
    std::vector<std::string>* prev_;
};

// Events of one port that may be raised from another thread: they are posted
// to the GUI thread, where `owner` is checked (the port may be gone by then).
template <class Port>
struct Events : std::enable_shared_from_this<Events<Port>> {
    explicit Events(PostFn p) : post(std::move(p)) {}
    PostFn post;
    Port* owner = nullptr;  // GUI thread only
    std::mutex mutex;
    std::set<std::string> reported;  // driver texts already shown since the last open

    void run(std::function<void()> fn) {
        if (post) post(std::move(fn));
        else fn();  // no event loop to hand it to (tools without one)
    }
    void error(int code, const std::string& text) {
        auto self = this->shared_from_this();
        run([self, code, text] {
            if (!self->owner) return;
            auto handler = self->owner->onError;
            if (handler) handler(code, text);
        });
    }
    // A failure the MIDI system keeps repeating (say, for every message sent to a
    // vanished port) is shown once until the port is opened again.
    void driverError(const std::string& text) {
        {
            std::lock_guard lock(mutex);
            if (!reported.insert(text).second) return;
        }
        error(kErrDriver, text);
    }
    void resetReported() {
        std::lock_guard lock(mutex);
        reported.clear();
    }
};

// Where an open RtMidi object reports errors that are not captured.
struct ErrorRoute {
    std::function<void(const std::string&)> report;
};

void routeError(RtMidiError::Type type, const std::string& text, void* user) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    if (tCapture) {
        tCapture->push_back(trimmed(text));
        return;
    }
    auto* route = static_cast<ErrorRoute*>(user);
    if (route && route->report) route->report(trimmed(text));
}

std::vector<Api> usableApis() {
    std::vector<Api> apis;
    RtMidi::getCompiledApi(apis);
    apis.erase(std::remove(apis.begin(), apis.end(), RtMidi::RTMIDI_DUMMY), apis.end());
    // JACK is listed and opened through a client of our own (JackPorts.h), in
    // RtMidi's place among the APIs; never through RtMidi.
    if (!JackBuiltIn()) apis.erase(std::remove(apis.begin(), apis.end(), RtMidi::UNIX_JACK), apis.end());
    return apis;
}

std::string apiLabel(Api api) {
    switch (api) {
        case RtMidi::LINUX_ALSA: return "ALSA";
        case RtMidi::UNIX_JACK: return "JACK";
        case RtMidi::MACOSX_CORE: return "CoreMIDI";
        case RtMidi::WINDOWS_MM: return "WinMM";
        default: return RtMidi::getApiDisplayName(api);
    }
}

// Deletes an RtMidi object (closing its port and client) quietly.
struct RtDeleter {
    template <class T>
    void operator()(T* p) const {
        CaptureErrors quiet;
        delete p;
    }
};
template <class T>
using RtPtr = std::unique_ptr<T, RtDeleter>;

// Creates an RtMidi object without letting it print, with `routeError` as its
// error callback. Null (and `error` set) when the API cannot start.
template <class T, class... Extra>
RtPtr<T> makeRt(Api api, const std::string& client, void* route, std::string* error, Extra... extra) {
    quietLibraries();
    static std::mutex cerrMutex;
    RtPtr<T> rt;
    std::ostringstream said;
    {
        std::lock_guard lock(cerrMutex);
        auto* old = std::cerr.rdbuf(said.rdbuf());
        try {
            rt.reset(new T(api, client, extra...));
        } catch (const RtMidiError& e) {
            if (error) *error = trimmed(e.getMessage());
        } catch (const std::exception& e) {
            if (error) *error = trimmed(e.what());
        }
        std::cerr.rdbuf(old);
    }
    if (!rt) {
        if (error && error->empty()) *error = trimmed(said.str());
        return nullptr;
    }
    if (error) *error = trimmed(said.str());  // a warning, such as "JACK server not running?"
    rt->setErrorCallback(routeError, route);
    return rt;
}

struct PortEntry {
    Api api;
    unsigned index;     // RtMidi's port number when listed
    std::string name;   // RtMidi's port name
    std::string label;  // the name shown in device lists
};

// Lists the ports of every API. JACK's go through the program's own JACK
// client (shared by both directions and the open ports), held for the next
// listing while this direction has nothing open. Other listings go through an
// RtMidi object without ports per API, kept for the next listing only while
// nothing is open: opening a port drops them, and with a port open they last
// one listing.
template <class T>
class PortLister {
public:
    PortLister(std::string client, std::string jackClient)
        : client_(std::move(client)), jackClient_(std::move(jackClient)) {}

    // Whether this direction has a port open.
    void setOpen(bool open) {
        open_ = open;
        failuresSeen_ = MidiSystemFailures();
        if (open_) {
            probes_.clear();
            jackHeld_.reset();
        }
    }

    std::vector<PortEntry> list() {
        std::vector<PortEntry> out;
        // A client whose server went away goes on listing the ports it last saw:
        // start afresh, so the lists show what is there now (and a server that
        // comes back is found).
        if (const uint64_t failures = MidiSystemFailures(); failures != failuresSeen_) {
            probes_.clear();
            jackHeld_.reset();
            failuresSeen_ = failures;
        }
        const auto apis = usableApis();
        const bool tagged = apis.size() > 1;
        auto add = [&](Api api, unsigned i, const std::string& name) {
            if (!name.empty()) out.push_back({api, i, name, tagged ? apiLabel(api) + ": " + name : name});
        };
        for (Api api : apis) {
#if QUORVANE_HAVE_JACK
            if (api == RtMidi::UNIX_JACK) {
                auto jack = jackHeld_ && !jackHeld_->dead() ? jackHeld_ : JackMidiClient::shared(jackClient_);
                if (!jack) continue;
                const auto names = jack->ports(std::is_same_v<T, RtMidiOut>);
                for (unsigned i = 0; i < names.size(); ++i) add(api, i, names[i]);
                if (!open_) jackHeld_ = jack;
                continue;
            }
#endif
            auto& probe = probes_[api];
            if (!probe) probe = makeRt<T>(api, client_, nullptr, nullptr);
            T* rt = probe.get();
            if (!rt) continue;
            CaptureErrors quiet;
            try {
                const unsigned n = rt->getPortCount();
                for (unsigned i = 0; i < n; ++i) add(api, i, rt->getPortName(i));  // "" went away while listing
            } catch (const std::exception&) {
                // An API that fails while listing contributes what it listed.
            }
        }
        if (open_) probes_.clear();
        return out;
    }

private:
    std::string client_;
    std::string jackClient_;
    std::map<Api, RtPtr<T>> probes_;
#if QUORVANE_HAVE_JACK
    std::shared_ptr<JackMidiClient> jackHeld_;
#else
    struct None {
        void reset() {}
    } jackHeld_;
#endif
    uint64_t failuresSeen_ = MidiSystemFailures();
    bool open_ = false;
};

// The port number of `entry` on `rt` now: ports come and go, so the listed
// number is checked against the name and the name searched for otherwise.
template <class T>
std::optional<unsigned> findPort(T& rt, const PortEntry& entry) {
    const unsigned n = rt.getPortCount();
    if (entry.index < n && rt.getPortName(entry.index) == entry.name) return entry.index;
    for (unsigned i = 0; i < n; ++i)
        if (rt.getPortName(i) == entry.name) return i;
    return std::nullopt;
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

struct OpenFailure {
    int code = 0;
    std::string text;
};

// Opens the port `entry` stands for on a new RtMidi object of its API. On
// failure returns null and fills `failure`; the caller reports it once every
// error capture here has ended (the report may run a nested event loop).
template <class T, class... Extra>
RtPtr<T> openRt(const PortEntry& entry, const std::string& client, ErrorRoute* route, const std::string& kind,
                const std::string& portName, const std::function<void(T&)>& prepare, OpenFailure& failure,
                Extra... extra) {
    const std::string device = "The " + kind + " device " + quoted(entry.label);
    std::string startError;
    auto rt = makeRt<T>(entry.api, client, route, &startError, extra...);
    if (!rt) {
        failure = {kErrOpenFailed, device + " could not be opened: " +
                                       (startError.empty() ? "the MIDI system did not start." : startError)};
        return nullptr;
    }
    CaptureErrors errors;
    std::optional<unsigned> number;
    try {
        number = findPort(*rt, entry);
    } catch (const std::exception& e) {
        errors.add(e.what());
    }
    if (!number) {
        const std::string why = errors.empty() ? startError : errors.text();
        failure = {kErrDeviceGone, device + " is no longer available." + (why.empty() ? "" : " " + why)};
        return nullptr;
    }
    try {
        if (prepare) prepare(*rt);
        rt->openPort(*number, portName);
    } catch (const std::exception& e) {
        errors.add(e.what());
    }
    if (!rt->isPortOpen() || !errors.empty()) {
        failure = {kErrOpenFailed,
                   device + " could not be opened: " + (errors.empty() ? std::string("the MIDI system refused.") : errors.text())};
        return nullptr;
    }
    return rt;
}

bool validSysEx(const Bytes& m) {
    if (m.size() < 2 || m.front() != 0xF0 || m.back() != 0xF7) return false;
    return std::all_of(m.begin() + 1, m.end() - 1, [](uint8_t b) { return b < 0x80; });
}

std::string hex2(uint8_t b) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", b);
    return buf;
}

// The ports of one direction as last listed; deviceCount() lists them again,
// unless the last listing is only moments old (a dialog that asks for the count
// at every step of a loop should not open and close a listing client each time).
template <class T>
class DeviceList {
public:
    DeviceList(std::string listClient, std::string jackClient) : lister_(std::move(listClient), std::move(jackClient)) {}
    int count() {
        if (!listed_ || std::chrono::steady_clock::now() - listedAt_ > kFresh) refresh();
        return static_cast<int>(devices_.size());
    }
    void setOpen(bool open) { lister_.setOpen(open); }
    // The entry of `index`, or null outside the list (listed first if never listed).
    const PortEntry* at(int index) {
        if (!listed_) refresh();
        if (index < 0 || index >= static_cast<int>(devices_.size())) return nullptr;
        return &devices_[index];
    }
    std::string name(int index) {
        const PortEntry* e = at(index);
        return e ? e->label : std::string();
    }

private:
    static constexpr auto kFresh = std::chrono::milliseconds(300);
    void refresh() {
        devices_ = lister_.list();
        listed_ = true;
        listedAt_ = std::chrono::steady_clock::now();
    }
    PortLister<T> lister_;
    std::vector<PortEntry> devices_;
    bool listed_ = false;
    std::chrono::steady_clock::time_point listedAt_;
};

// Failures the MIDI system reports while the port `label` is open, for the
// port's error event, prefixed with the port's kind and name.
template <class Port>
std::function<void(const std::string&)> driverErrorsTo(std::shared_ptr<Events<Port>> events, const std::string& kind,
                                                       const std::string& label) {
    return [events, prefix = kind + " " + quoted(label) + ": "](const std::string& text) {
        events->driverError(prefix + text);
    };
}

bool openFailed(const ErrorHandler& onError, int code, const std::string& text) {
    if (onError) onError(code, text);
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Output

#if QUORVANE_HAVE_JACK
namespace {

// Opens the JACK port `entry` stands for through the program's JACK client
// `client`, registering the client's port `portName` on first use. Null and
// `failure` filled when it cannot.
std::shared_ptr<JackMidiClient> openJack(const PortEntry& entry, const std::string& client, const std::string& kind,
                                         bool output, const JackMidiClient::ReceiveFn& onReceive, OpenFailure& failure) {
    const std::string device = "The " + kind + " device " + quoted(entry.label);
    std::string why;
    auto jack = JackMidiClient::shared(client, &why);
    if (!jack) {
        failure = {kErrOpenFailed, device + " could not be opened: " + why};
        return nullptr;
    }
    if (!jack->portExists(entry.name)) {
        failure = {kErrDeviceGone, device + " is no longer available."};
        return nullptr;
    }
    const bool done = output ? jack->addOutput("out", &why) && jack->connectOutput(entry.name, &why)
                             : jack->addInput("in", onReceive, &why) && jack->connectInput(entry.name, &why);
    if (!done) {
        failure = {kErrOpenFailed, device + " could not be opened: " + why};
        return nullptr;
    }
    return jack;
}

}  // namespace
#endif

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
    std::atomic<bool> donePending{false};
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
    d_->sender = std::make_unique<PacedSender>([write, d, events](const Bytes& m) {
        write(m);
        ++d->sent;
        if (!d->donePending.exchange(true)) {
            events->run([events, d] {
                // `d` lives as long as the port: checked through `owner` first.
                if (!events->owner) return;
                d->donePending = false;
                auto handler = events->owner->onOutputDone;
                if (handler) handler();
            });
        }
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

constexpr unsigned kRtQueueLimit = 1024;    // RtMidi's own queue (unused with a callback)
constexpr unsigned kRtBufferSize = 16384;   // per System Exclusive buffer, where the API has them
constexpr unsigned kRtBufferCount = 8;

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
// report failures per message).
uint64_t MidiSystemFailures() { return JackServerFailures(); }

namespace {

// The API whose device list shows `deviceLabel`: named by its prefix when
// several APIs are compiled in, else the only one.
std::optional<Api> apiOfLabel(const std::string& deviceLabel) {
    const auto apis = usableApis();
    if (apis.size() == 1) return apis.front();
    for (Api api : apis)
        if (deviceLabel.rfind(apiLabel(api) + ": ", 0) == 0) return api;
    return std::nullopt;
}

}  // namespace

std::string MidiSystemName(const std::string& deviceLabel) {
    const auto api = apiOfLabel(deviceLabel);
    return api ? apiLabel(*api) : std::string();
}

bool MidiSystemRunning(const std::string& deviceLabel) {
    const auto api = apiOfLabel(deviceLabel);
    if (!api) return true;  // not a port of ours to judge
    if (*api == RtMidi::UNIX_JACK) return JackServerRunning();
    std::string warning;
    auto probe = makeRt<RtMidiOut>(*api, "Quorvane-check", nullptr, &warning);
    return probe && warning.empty();
}

std::vector<std::string> RtMidiApiNames() {
    std::vector<std::string> names;
    for (Api api : usableApis()) names.push_back(apiLabel(api));
    return names;
}

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

}  // namespace quorvane::midi
