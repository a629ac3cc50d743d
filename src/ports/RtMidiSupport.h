// The pieces the RtMidi back ends share (not a public header): quiet MIDI
// libraries, errors captured while a call runs, events posted to the GUI
// thread, RtMidi objects made and opened safely, and the port lists.
#pragma once

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

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "ports/JackPorts.h"
#include "ports/RtMidiPorts.h"

namespace quorvane::midi::detail {

using Api = RtMidi::Api;

// ---------------------------------------------------------------------------
// Quiet MIDI libraries. ALSA prints to the console when its sequencer is
// missing (JackPorts.cpp quiets JACK), and RtMidi prints its warnings to
// std::cerr until an error callback is set (which is only possible after
// construction). A desktop program has no console worth writing to, and an API
// without a server just lists no ports.

#if !defined(_WIN32)
inline void silentAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

inline void quietLibraries() {
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

inline std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \n\r\t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \n\r\t");
    return s.substr(b, e - b + 1);
}

// Errors that RtMidi reports on this thread while a scope is open are collected
// here instead of being routed to the port's error event.
inline thread_local std::vector<std::string>* tCapture = nullptr;

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

inline void routeError(RtMidiError::Type type, const std::string& text, void* user) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    if (tCapture) {
        tCapture->push_back(trimmed(text));
        return;
    }
    auto* route = static_cast<ErrorRoute*>(user);
    if (route && route->report) route->report(trimmed(text));
}

inline std::vector<Api> usableApis() {
    std::vector<Api> apis;
    RtMidi::getCompiledApi(apis);
    apis.erase(std::remove(apis.begin(), apis.end(), RtMidi::RTMIDI_DUMMY), apis.end());
    // JACK is listed and opened through a client of our own (JackPorts.h), in
    // RtMidi's place among the APIs; never through RtMidi.
    if (!JackBuiltIn()) apis.erase(std::remove(apis.begin(), apis.end(), RtMidi::UNIX_JACK), apis.end());
    return apis;
}

inline std::string apiLabel(Api api) {
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

inline std::string quoted(const std::string& s) { return "\"" + s + "\""; }

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

inline bool validSysEx(const Bytes& m) {
    if (m.size() < 2 || m.front() != 0xF0 || m.back() != 0xF7) return false;
    return std::all_of(m.begin() + 1, m.end() - 1, [](uint8_t b) { return b < 0x80; });
}

inline std::string hex2(uint8_t b) {
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

inline bool openFailed(const ErrorHandler& onError, int code, const std::string& text) {
    if (onError) onError(code, text);
    return false;
}


// Input buffers of RtMidi objects that receive.
constexpr unsigned kRtQueueLimit = 1024;    // RtMidi's own queue (unused with a callback)
constexpr unsigned kRtBufferSize = 16384;   // per System Exclusive buffer, where the API has them
constexpr unsigned kRtBufferCount = 8;

#if QUORVANE_HAVE_JACK
// Opens the JACK port `entry` stands for through the program's JACK client
// `client`, registering the client's port `portName` on first use. Null and
// `failure` filled when it cannot.
std::shared_ptr<JackMidiClient> openJack(const PortEntry& entry, const std::string& client, const std::string& kind,
                                         bool output, const JackMidiClient::ReceiveFn& onReceive, OpenFailure& failure);
#endif

}  // namespace quorvane::midi::detail
