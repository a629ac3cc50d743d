// quorvane-u220sim: the software module on virtual MIDI ports, so that the
// editor, the command-line tool or any other MIDI program can talk to it as to a
// module on a cable. The ports are made on JACK and, where the ALSA sequencer is
// present, on ALSA. Answers leave at the times the wire model gives them.
//
// On JACK the module's clock is the server's frame clock: a message arrives at
// the frame JACK stamps it with (its cycle's first frame plus its offset), and
// an answer leaves at the frame its time falls on, so gaps are judged as a
// module on a cable would see them, however late this program's threads run.
//
// Prints "ready" on stdout once the ports exist; stops cleanly on SIGINT/SIGTERM.

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <iomanip>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/Protocol.h"
#include "emulator/U220Emulator.h"
#include "ports/JackPorts.h"
#include "ports/RtMidiPorts.h"

using namespace quorvane;

namespace {

const char* const kUsage =
    "usage: quorvane-u220sim [OPTIONS]\n"
    "\n"
    "Plays the U-220 on a pair of virtual MIDI ports until SIGINT or SIGTERM.\n"
    "\n"
    "Ports:\n"
    "  --name NAME            client name (default u220sim)\n"
    "  --in-port NAME         the port that takes requests (default in)\n"
    "  --out-port NAME        the port that sends answers (default out)\n"
    "  --api jack|alsa|all    MIDI system(s) to appear on (default all that work)\n"
    "Module:\n"
    "  --device-id N          device ID 1..32 as the module shows it (default 17)\n"
    "  --silent               take messages in, never answer\n"
    "  --packing-seed N       keep memory records in another packing (0, the default packing)\n"
    "Wire model (on when any of these is given):\n"
    "  --wire                 31250 baud timing of the answers\n"
    "  --answer-delay-ms MS   between the end of a request and its answer\n"
    "  --min-gap-ms MS        a message closer than this to the previous one is lost\n"
    "Faults on the answers (probabilities 0..1):\n"
    "  --drop P  --delay P  --delay-ms MS  --damage P  --foreign P  --seed N\n"
    "Other:\n"
    "  --verbose              log every message to stderr\n"
    "  --version              print the version and end\n"
    "  -h, --help             this text\n";

[[noreturn]] void Usage(const std::string& message) {
    std::cerr << "quorvane-u220sim: " << message << " (see --help)\n";
    std::exit(2);
}

// Plain decimal text only ("17", "0.25"): strtod alone would also take blanks,
// hex ("0x11" as 17), exponents and "inf".
bool PlainDecimal(const std::string& text) {
    size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    size_t digits = 0, points = 0;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') ++digits;
        else if (text[i] == '.' && points == 0) ++points;
        else return false;
    }
    return digits > 0;
}

double ParseDouble(const std::string& option, const std::string& text, double min, double max) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (!PlainDecimal(text) || end != text.c_str() + text.size() || !std::isfinite(v) || v < min || v > max)
    {
        std::ostringstream range;
        range << std::fixed << std::setprecision(min == std::floor(min) && max == std::floor(max) ? 0 : 1) << min << ".." << max;
        Usage(option + " takes a number " + range.str() + ", not '" + text + "'");
    }
    return v;
}

// A client or port name: other programs list it and pick it by name, so it must
// not be empty, nor hold control characters that would break those lists.
std::string PortName(const std::string& option, const std::string& text) {
    if (text.empty() || text.find_first_not_of(' ') == std::string::npos)
        Usage(option + " takes a name that is not empty");
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) Usage(option + " takes a name without control characters");
    return text;
}

struct Options {
    std::string name = "u220sim", inPort = "in", outPort = "out", api = "all";
    int deviceId = 17;
    uint32_t packingSeed = 0;
    bool silent = false, verbose = false;
    emulator::WireModel wire;
    emulator::FaultModel faults;
};

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else if (a == "--version") {
            std::cout << "quorvane-u220sim " QUORVANE_VERSION "\n";
            std::exit(0);
        } else if (a == "--name") o.name = PortName(a, value());
        else if (a == "--in-port") o.inPort = PortName(a, value());
        else if (a == "--out-port") o.outPort = PortName(a, value());
        else if (a == "--api") {
            o.api = value();
            if (o.api != "jack" && o.api != "alsa" && o.api != "all") Usage("--api takes jack, alsa or all");
        } else if (a == "--device-id") {
            const double id = ParseDouble(a, value(), 1, 32);
            if (id != std::floor(id)) Usage("--device-id takes a whole number");
            o.deviceId = static_cast<int>(id);
        }
        else if (a == "--silent") o.silent = true;
        else if (a == "--packing-seed") {
            const double seed = ParseDouble(a, value(), 0, 4294967295.0);
            if (seed != std::floor(seed)) Usage("--packing-seed takes a whole number");
            o.packingSeed = static_cast<uint32_t>(seed);
        }
        else if (a == "--verbose") o.verbose = true;
        else if (a == "--wire") o.wire.enabled = true;
        else if (a == "--answer-delay-ms") {
            o.wire.answerDelayMs = ParseDouble(a, value(), 0, 60000);
            o.wire.enabled = true;
        } else if (a == "--min-gap-ms") {
            o.wire.minGapMs = ParseDouble(a, value(), 0, 60000);
            o.wire.enabled = true;
        } else if (a == "--drop") o.faults.drop = ParseDouble(a, value(), 0, 1);
        else if (a == "--delay") o.faults.delay = ParseDouble(a, value(), 0, 1);
        else if (a == "--delay-ms") o.faults.delayMs = ParseDouble(a, value(), 0, 60000);
        else if (a == "--damage") o.faults.damage = ParseDouble(a, value(), 0, 1);
        else if (a == "--foreign") o.faults.foreign = ParseDouble(a, value(), 0, 1);
        else if (a == "--seed") {
            const double seed = ParseDouble(a, value(), 0, 4294967295.0);
            if (seed != std::floor(seed)) Usage("--seed takes a whole number");
            o.faults.seed = static_cast<uint32_t>(seed);
        }
        else Usage("unknown option '" + a + "'");
    }
    return o;
}

using SteadyClock = std::chrono::steady_clock;

double SteadyMs() {
    static const SteadyClock::time_point start = SteadyClock::now();
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// One pair of virtual ports and the clock the module keeps on them. The
// receive callback may run before the ports are stored, so answers find their
// way back through this slot.
struct Route {
    std::string api;
    std::atomic<midi::RtMidiVirtualEndpoint*> endpoint{nullptr};
#if QUORVANE_HAVE_JACK
    std::atomic<midi::JackVirtualEndpoint*> jack{nullptr};
    // The frame clock read in ms, moved to start where SteadyMs stood when the
    // ports were made, so that both routes keep about the same time.
    double jackOffsetMs = 0;
#endif
    // Answers are handed to the port this long before their time: JACK places
    // each at its own frame, so it must have it before that frame's cycle runs.
    double lookaheadMs = 0;

    double NowMs() const {
#if QUORVANE_HAVE_JACK
        if (auto* j = jack.load()) return j->nowMs() + jackOffsetMs;
#endif
        return SteadyMs();
    }
    bool Send(const Bytes& message, double atMs, std::string& error) {
#if QUORVANE_HAVE_JACK
        if (auto* j = jack.load()) {
            if (j->send(message, atMs - jackOffsetMs)) return true;
            error = "the JACK server has stopped, or the answers' queue is full";
            return false;
        }
#endif
        midi::RtMidiVirtualEndpoint* ep = endpoint.load();
        if (ep && ep->send(message)) return true;
        error = ep ? ep->error() : "the ports are closed";
        return false;
    }
};

// Sends the module's answers of one route at the times the emulator gave them.
class Scheduler {
public:
    explicit Scheduler(Route* route) : route_(route), thread_([this] { Run(); }) {}
    ~Scheduler() { Stop(); }

    void Push(double atMs, Bytes message) {
        {
            std::lock_guard lock(mutex_);
            queue_.push({atMs, serial_++, std::move(message)});
        }
        wake_.notify_one();
    }

    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

    uint64_t SendFailures() const { return failures_.load(); }

private:
    struct Item {
        double atMs;
        uint64_t serial;  // keeps answers of equal time in order
        Bytes message;
        bool operator>(const Item& o) const { return atMs != o.atMs ? atMs > o.atMs : serial > o.serial; }
    };

    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (stopping_) return;
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const double due = queue_.top().atMs - route_->lookaheadMs;
            const double now = route_->NowMs();
            if (due > now) {
                wake_.wait_for(lock, std::chrono::duration<double, std::milli>(due - now));
                continue;
            }
            Item item = queue_.top();
            queue_.pop();
            lock.unlock();
            std::string error;
            if (!route_->Send(item.message, item.atMs, error)) {
                ++failures_;
                std::cerr << "quorvane-u220sim: send failed: " << error << "\n";
            }
            lock.lock();
        }
    }

    Route* route_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue_;
    uint64_t serial_ = 0;
    bool stopping_ = false;
    std::atomic<uint64_t> failures_{0};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);

    // SIGINT and SIGTERM are taken by sigwait below; every thread started from
    // here on inherits the blocked mask, so none of them is interrupted.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    emulator::U220Emulator emu(static_cast<uint8_t>(o.deviceId - 1), o.packingSeed);
    emu.setWireModel(o.wire);
    emu.setFaults(o.faults);
    emu.setSilent(o.silent);
    std::mutex emuMutex;
    SteadyMs();  // starts the clock

    std::vector<std::string> apis;
    if (o.api == "all") apis = {"jack", "alsa"};
    else apis = {o.api};

    // Declared in this order so that the schedulers stop before the ports go,
    // and the ports before the routes they call back into.
    std::vector<std::unique_ptr<Route>> routes;
    std::vector<std::unique_ptr<midi::RtMidiVirtualEndpoint>> endpoints;
#if QUORVANE_HAVE_JACK
    std::vector<std::unique_ptr<midi::JackVirtualEndpoint>> jackEndpoints;
#endif
    std::vector<std::unique_ptr<Scheduler>> schedulers;
    std::vector<std::string> failures;
    for (const std::string& api : apis) {
        auto route = std::make_unique<Route>();
        route->api = api;
        Route* r = route.get();
        auto scheduler = std::make_unique<Scheduler>(r);
        Scheduler* sched = scheduler.get();
        // `now` on the route's clock: when the message began to arrive.
        auto receive = [&, r, sched](const Bytes& message, double now) {
            std::vector<emulator::Outgoing> answers;
            {
                std::lock_guard lock(emuMutex);
                answers = emu.receive(message, now);
            }
            if (o.verbose)
                std::cerr << "[" << r->api << " " << std::fixed << std::setprecision(2) << now << " ms] in  "
                          << HexBytes(message) << "\n";
            for (emulator::Outgoing& a : answers) {
                if (o.verbose)
                    std::cerr << "[" << r->api << "] out at " << std::fixed << std::setprecision(2) << a.atMs << " ms  "
                              << HexBytes(a.message) << "\n";
                sched->Push(a.atMs, std::move(a.message));
            }
        };
        std::string apiName, error;
#if QUORVANE_HAVE_JACK
        if (api == "jack") {
            auto ep = std::make_unique<midi::JackVirtualEndpoint>(o.name, o.inPort, o.outPort,
                                                                  [r, receive](const Bytes& m, double atMs) {
                                                                      // Stamped on the frame clock.
                                                                      receive(m, atMs + r->jackOffsetMs);
                                                                  });
            if (ep->ok()) {
                r->jackOffsetMs = SteadyMs() - ep->nowMs();
                r->lookaheadMs = 2 * ep->periodMs();
                r->jack.store(ep.get());
                apiName = "JACK";
                jackEndpoints.push_back(std::move(ep));
            } else {
                error = ep->error();
            }
        } else
#endif
        {
            auto ep = std::make_unique<midi::RtMidiVirtualEndpoint>(
                api, o.name, o.inPort, o.outPort, [receive](const Bytes& m) { receive(m, SteadyMs()); });
            if (ep->ok()) {
                r->endpoint.store(ep.get());
                apiName = ep->apiName();
                endpoints.push_back(std::move(ep));
            } else {
                error = ep->error();
            }
        }
        if (apiName.empty()) {
            failures.push_back(api + ": " + error);
            continue;
        }
        std::cerr << "quorvane-u220sim: " << apiName << ": ports " << o.name << ":" << o.inPort << " (requests in) and "
                  << o.name << "-out:" << o.outPort << " (answers out), device ID " << o.deviceId
                  << (o.silent ? ", silent" : "") << "\n";
        routes.push_back(std::move(route));
        schedulers.push_back(std::move(scheduler));
    }
    for (const std::string& f : failures)
        std::cerr << "quorvane-u220sim: no virtual ports on " << f << "\n";
    if (routes.empty()) {
        std::cerr << "quorvane-u220sim: could not make virtual MIDI ports on any MIDI system "
                     "(is a JACK server running, or the ALSA sequencer present?)\n";
        return 1;
    }

    std::cout << "ready" << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);

    // Stop the answers still scheduled first: the scheduler's thread may be in
    // the middle of a send through an endpoint. Then stop taking messages (what
    // arrives meanwhile is queued to a scheduler that no longer sends).
    for (auto& sched : schedulers) sched->Stop();
    for (auto& r : routes) {
        r->endpoint.store(nullptr);
#if QUORVANE_HAVE_JACK
        r->jack.store(nullptr);
#endif
    }
    endpoints.clear();
#if QUORVANE_HAVE_JACK
    jackEndpoints.clear();
#endif
    {
        std::lock_guard lock(emuMutex);
        const emulator::EmulatorStats& s = emu.stats();
        std::cerr << "quorvane-u220sim: stopped by " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << "; received "
                  << s.received << ", requests " << s.requests << ", data sets " << s.dataSets << ", program changes "
                  << s.programChanges << ", ignored " << s.ignored << ", lost to gap " << s.lostToGap
                  << "; faults: dropped " << s.dropped << ", delayed " << s.delayed << ", damaged " << s.damaged
                  << ", foreign " << s.foreign << std::endl;
    }
    return 0;
}
