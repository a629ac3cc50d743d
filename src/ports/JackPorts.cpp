#include "ports/JackPorts.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "ports/JackWorkarounds.h"

#if QUORVANE_HAVE_JACK
#include <errno.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>
#endif

namespace quorvane::midi {

#if !QUORVANE_HAVE_JACK

bool JackBuiltIn() { return false; }
uint64_t JackServerFailures() { return 0; }
bool JackServerRunning() { return false; }

#else

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace jackfix;

// What travels through a ring buffer ahead of each message's bytes.
struct Header {
    uint64_t frame;  // output: not before this frame; input: when it arrived
    uint32_t size;
    uint32_t unused;
};

constexpr size_t kMaxMessage = 64 * 1024;
constexpr size_t kRingBytes = 256 * 1024;

}  // namespace

struct JackMidiClient::Impl {
    jack_client_t* client = nullptr;
    std::string name;
    uint32_t rate = 48000;
    uint32_t period = 0;
    std::atomic<bool> dead{false};
    bool active = false;  // under `setup`
    std::mutex setup;     // port and connection changes

    // Output.
    std::atomic<jack_port_t*> outPort{nullptr};
    jack_ringbuffer_t* outRing = nullptr;
    std::mutex pushMutex;
    std::atomic<uint32_t> gapFrames{0};
    std::atomic<double> gapMs{0};
    std::atomic<bool> awaitConnection{false};
    std::atomic<uint64_t> pushed{0}, placed{0};
    std::atomic<uint64_t> lastWriteCycle{0};
    // Real-time thread only.
    std::vector<uint8_t> scratch = std::vector<uint8_t>(kMaxMessage);
    Header pending{};
    bool havePending = false;
    bool havePrev = false;
    uint64_t prevEnd = 0;  // frame where the last message placed ends on the wire
    uint32_t lastRaw = 0;
    uint64_t high = 0;
    bool haveRaw = false;

    std::atomic<uint64_t> cycleStart{0};
    std::atomic<uint64_t> cycles{0};

    // Input.
    std::atomic<jack_port_t*> inPort{nullptr};
    jack_ringbuffer_t* inRing = nullptr;
    sem_t wake;
    std::thread reader;
    std::atomic<bool> stopping{false};
    std::mutex receiveMutex;  // the reader thread and a new receiver, never the real-time thread
    ReceiveFn onReceive;
    std::atomic<uint64_t> overflows{0};

    Impl() {
        sem_init(&wake, 0, 0);
        outRing = jack_ringbuffer_create(kRingBytes);
        inRing = jack_ringbuffer_create(kRingBytes);
    }
    ~Impl() {
        stopReader();
        jack_ringbuffer_free(outRing);
        jack_ringbuffer_free(inRing);
        sem_destroy(&wake);
    }

    void stopReader() {
        if (!reader.joinable()) return;
        stopping = true;
        sem_post(&wake);
        reader.join();
    }

    uint32_t wireFrames(uint32_t bytes) const {
        return static_cast<uint32_t>((static_cast<uint64_t>(bytes) * 10 * rate + 31249) / 31250);
    }

    static int process(jack_nframes_t frames, void* arg) {
        auto* d = static_cast<Impl*>(arg);
        const uint32_t raw = jack_last_frame_time(d->client);
        if (d->haveRaw && raw < d->lastRaw) d->high += uint64_t{1} << 32;
        d->haveRaw = true;
        d->lastRaw = raw;
        const uint64_t start = d->high + raw;
        d->cycleStart.store(start);
        const uint64_t cycle = d->cycles.load() + 1;
        if (jack_port_t* p = d->outPort.load()) d->processOutput(p, frames, start, cycle);
        if (jack_port_t* p = d->inPort.load()) d->processInput(p, frames, start);
        d->cycles.store(cycle);  // whoever sees it knows this cycle's work is done
        return 0;
    }

    // Places waiting messages in this cycle, each no sooner than its own frame
    // and the gap after the previous one; what does not fit waits for the next.
    void processOutput(jack_port_t* port, jack_nframes_t frames, uint64_t start, uint64_t cycle) {
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        if (awaitConnection.load()) {
            if (jack_port_connected(port) <= 0) return;
            awaitConnection.store(false);
        }
        const uint64_t end = start + frames;
        const uint32_t gap = gapFrames.load();
        for (;;) {
            if (!havePending) {
                const size_t readable = jack_ringbuffer_read_space(outRing);
                if (readable < sizeof(Header)) break;
                jack_ringbuffer_peek(outRing, reinterpret_cast<char*>(&pending), sizeof(Header));
                if (readable < sizeof(Header) + pending.size) break;
                jack_ringbuffer_read_advance(outRing, sizeof(Header));
                jack_ringbuffer_read(outRing, reinterpret_cast<char*>(scratch.data()), pending.size);
                havePending = true;
            }
            uint64_t at = std::max(start, pending.frame);
            if (havePrev) at = std::max(at, prevEnd + gap);
            if (at >= end) break;  // carried into a later cycle
            if (jack_midi_event_write(buffer, static_cast<jack_nframes_t>(at - start), scratch.data(), pending.size) != 0) {
                if (jack_midi_get_event_count(buffer) > 0) break;  // the buffer is full: next cycle
                // Larger than a whole cycle's buffer: it can never leave.
                havePending = false;
                placed.fetch_add(1);
                continue;
            }
            prevEnd = at + wireFrames(pending.size);
            havePrev = true;
            havePending = false;
            lastWriteCycle.store(cycle);
            placed.fetch_add(1);
        }
    }

    void processInput(jack_port_t* port, jack_nframes_t frames, uint64_t start) {
        void* buffer = jack_port_get_buffer(port, frames);
        const uint32_t count = jack_midi_get_event_count(buffer);
        bool any = false;
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) != 0 || e.size == 0) continue;
            const Header h{start + e.time, static_cast<uint32_t>(e.size), 0};
            if (jack_ringbuffer_write_space(inRing) < sizeof h + e.size) {
                overflows.fetch_add(1);
                continue;
            }
            jack_ringbuffer_write(inRing, reinterpret_cast<const char*>(&h), sizeof h);
            jack_ringbuffer_write(inRing, reinterpret_cast<const char*>(e.buffer), e.size);
            any = true;
        }
        if (any) sem_post(&wake);
    }

    void readLoop() {
        std::vector<uint8_t> data;
        for (;;) {
            while (sem_wait(&wake) != 0 && errno == EINTR) {
            }
            if (stopping.load()) return;
            for (;;) {
                const size_t readable = jack_ringbuffer_read_space(inRing);
                Header h{};
                if (readable < sizeof h) break;
                jack_ringbuffer_peek(inRing, reinterpret_cast<char*>(&h), sizeof h);
                if (readable < sizeof h + h.size) break;
                jack_ringbuffer_read_advance(inRing, sizeof h);
                data.resize(h.size);
                jack_ringbuffer_read(inRing, reinterpret_cast<char*>(data.data()), h.size);
                std::lock_guard lock(receiveMutex);
                if (onReceive) onReceive(data.data(), data.size(), h.frame);
            }
        }
    }

    static void shutdown(jack_status_t, const char*, void* arg) {
        auto* d = static_cast<Impl*>(arg);
        if (!d->dead.exchange(true)) countServerFailure();
    }

    // Under `setup`.
    bool activate(std::string* error) {
        if (active) return true;
        JackChange change;
        if (jack_activate(client) != 0) {
            if (error) *error = "the JACK server refused to run the client.";
            return false;
        }
        active = true;
        return true;
    }

    jack_port_t* registerPort(const std::string& portName, unsigned long flags, std::string* error) {
        JackChange change;
        jack_port_t* p = jack_port_register(client, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
        if (!p && error) *error = "the JACK server refused the port \"" + portName + "\".";
        return p;
    }

    // Waits until `n` more cycles have run (false when none ran for a while).
    bool waitCycles(uint64_t n) {
        const uint64_t target = cycles.load() + n;
        const auto deadline = Clock::now() + 1s;
        while (cycles.load() < target) {
            if (dead.load() || Clock::now() > deadline) return false;
            std::this_thread::sleep_for(500us);
        }
        return true;
    }
};

namespace {

std::mutex gRegistryMutex;
std::map<std::string, std::weak_ptr<JackMidiClient>>& registry() {
    static auto* r = new std::map<std::string, std::weak_ptr<JackMidiClient>>;
    return *r;
}

}  // namespace

JackMidiClient::JackMidiClient(std::unique_ptr<Impl> d) : d_(std::move(d)) {}

JackMidiClient::~JackMidiClient() {
    d_->stopReader();
    if (d_->client && !d_->dead.load()) {
        JackChange change;
        jack_client_close(d_->client);  // deactivates it first: no callback runs after this
    }
}

std::shared_ptr<JackMidiClient> JackMidiClient::open(const std::string& name, std::string* error) {
    quietJack();
    auto d = std::make_unique<Impl>();
    {
        JackChange change;
        jack_status_t status{};
        d->client = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!d->client) {
            change.nothingHappened();
            if (error) *error = "JACK server not running?";
            return nullptr;
        }
    }
    d->name = jack_get_client_name(d->client);
    d->rate = jack_get_sample_rate(d->client);
    d->period = jack_get_buffer_size(d->client);
    jack_set_process_callback(d->client, &Impl::process, d.get());
    jack_on_info_shutdown(d->client, &Impl::shutdown, d.get());
    auto* raw = new JackMidiClient(std::move(d));
    return std::shared_ptr<JackMidiClient>(raw, [](JackMidiClient* c) {
        if (c->dead()) {
            c->d_->stopReader();
            keepForever(c);
        } else {
            delete c;
        }
    });
}

std::shared_ptr<JackMidiClient> JackMidiClient::shared(const std::string& name, std::string* error) {
    std::lock_guard lock(gRegistryMutex);
    auto& slot = registry()[name];
    if (auto held = slot.lock(); held && !held->dead()) return held;
    auto fresh = open(name, error);
    if (fresh) slot = fresh;
    return fresh;
}

bool JackMidiClient::dead() const { return d_->dead.load(); }
std::string JackMidiClient::name() const { return d_->name; }
uint32_t JackMidiClient::sampleRate() const { return d_->rate; }
uint32_t JackMidiClient::periodFrames() const { return d_->period; }

uint64_t JackMidiClient::framesOf(double ms) const {
    return ms <= 0 ? 0 : static_cast<uint64_t>(ms * d_->rate / 1000.0 + 0.5);
}

uint64_t JackMidiClient::frameNow() const {
    const uint32_t raw = jack_frame_time(d_->client);
    if (d_->cycles.load() == 0) return raw;
    const uint64_t base = d_->cycleStart.load();
    const int64_t ahead = static_cast<int32_t>(raw - static_cast<uint32_t>(base));
    return static_cast<uint64_t>(static_cast<int64_t>(base) + ahead);
}

std::vector<std::string> JackMidiClient::ports(bool sendTargets) const {
    std::vector<std::string> out;
    if (dead()) return out;
    const char** names =
        jack_get_ports(d_->client, nullptr, JACK_DEFAULT_MIDI_TYPE, sendTargets ? JackPortIsInput : JackPortIsOutput);
    if (!names) return out;
    const std::string own = d_->name + ":";
    for (const char** n = names; *n; ++n)
        if (std::strncmp(*n, own.c_str(), own.size()) != 0) out.emplace_back(*n);
    jack_free(names);
    return out;
}

bool JackMidiClient::portExists(const std::string& fullName) const {
    return !dead() && jack_port_by_name(d_->client, fullName.c_str()) != nullptr;
}

bool JackMidiClient::addOutput(const std::string& portName, std::string* error) {
    std::lock_guard lock(d_->setup);
    if (d_->outPort.load()) return true;
    if (dead()) {
        if (error) *error = "the JACK server has stopped.";
        return false;
    }
    JackChange change;  // the port and the activation as one change
    jack_port_t* p = d_->registerPort(portName, JackPortIsOutput, error);
    if (!p) return false;
    d_->outPort.store(p);
    return d_->activate(error);
}

bool JackMidiClient::addInput(const std::string& portName, ReceiveFn onReceive, std::string* error) {
    std::lock_guard lock(d_->setup);
    {
        // Whoever opened the input last receives.
        std::lock_guard receiving(d_->receiveMutex);
        d_->onReceive = std::move(onReceive);
    }
    if (d_->inPort.load()) return true;
    if (dead()) {
        if (error) *error = "the JACK server has stopped.";
        return false;
    }
    JackChange change;  // the port and the activation as one change
    d_->reader = std::thread([d = d_.get()] { d->readLoop(); });
    jack_port_t* p = d_->registerPort(portName, JackPortIsInput, error);
    if (!p) return false;
    d_->inPort.store(p);
    return d_->activate(error);
}

bool JackMidiClient::connectOutput(const std::string& target, std::string* error) {
    std::lock_guard lock(d_->setup);
    jack_port_t* p = d_->outPort.load();
    if (!p || dead()) {
        if (error) *error = "the JACK server has stopped.";
        return false;
    }
    jack_port_disconnect(d_->client, p);
    d_->awaitConnection.store(true);
    const int rc = jack_connect(d_->client, jack_port_name(p), target.c_str());
    if (rc != 0 && rc != EEXIST) {
        d_->awaitConnection.store(false);
        if (error) *error = "JACK could not connect to it.";
        return false;
    }
    return true;
}

void JackMidiClient::disconnectOutput() {
    drain();
    std::lock_guard lock(d_->setup);
    d_->awaitConnection.store(false);
    if (jack_port_t* p = d_->outPort.load(); p && !dead()) jack_port_disconnect(d_->client, p);
}

bool JackMidiClient::connectInput(const std::string& source, std::string* error) {
    std::lock_guard lock(d_->setup);
    jack_port_t* p = d_->inPort.load();
    if (!p || dead()) {
        if (error) *error = "the JACK server has stopped.";
        return false;
    }
    jack_port_disconnect(d_->client, p);
    const int rc = jack_connect(d_->client, source.c_str(), jack_port_name(p));
    if (rc != 0 && rc != EEXIST) {
        if (error) *error = "JACK could not connect to it.";
        return false;
    }
    // The server puts the connection in place for the next cycle: once two have
    // run, whatever the source sends reaches the input.
    d_->waitCycles(2);
    return true;
}

void JackMidiClient::disconnectInput() {
    {
        // Waits for a delivery in progress: the receiver's target may go next.
        std::lock_guard receiving(d_->receiveMutex);
        d_->onReceive = nullptr;
    }
    std::lock_guard lock(d_->setup);
    if (jack_port_t* p = d_->inPort.load(); p && !dead()) jack_port_disconnect(d_->client, p);
}

void JackMidiClient::setGapMs(double ms) {
    d_->gapMs.store(std::max(0.0, ms));
    d_->gapFrames.store(static_cast<uint32_t>(std::ceil(std::max(0.0, ms) * d_->rate / 1000.0)));
}

bool JackMidiClient::push(const Bytes& message, uint64_t notBefore) {
    if (message.empty() || message.size() > kMaxMessage || dead()) return false;
    std::lock_guard lock(d_->pushMutex);
    const Header h{notBefore, static_cast<uint32_t>(message.size()), 0};
    if (jack_ringbuffer_write_space(d_->outRing) < sizeof h + message.size()) return false;
    d_->pushed.fetch_add(1);
    jack_ringbuffer_write(d_->outRing, reinterpret_cast<const char*>(&h), sizeof h);
    jack_ringbuffer_write(d_->outRing, reinterpret_cast<const char*>(message.data()), message.size());
    return true;
}

bool JackMidiClient::drain() {
    auto patience = [&] {
        return Clock::now() + 1s + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double, std::milli>(d_->gapMs.load()));
    };
    auto deadline = patience();
    uint64_t placedSeen = d_->placed.load();
    for (;;) {
        if (dead()) return false;
        const uint64_t placed = d_->placed.load();
        if (placed == d_->pushed.load()) {
            const uint64_t written = d_->lastWriteCycle.load();
            // The cycle after the one that carried the last message has ended too:
            // every client downstream has read it.
            if (written == 0 || d_->cycles.load() >= written + 2) return true;
        }
        if (placed != placedSeen) {
            placedSeen = placed;
            deadline = patience();
        }
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(500us);
    }
}

size_t JackMidiClient::pending() const { return d_->pushed.load() - d_->placed.load(); }

uint64_t JackMidiClient::inputOverflows() const { return d_->overflows.load(); }


#endif

}  // namespace quorvane::midi
