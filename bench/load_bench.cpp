// Start-up load against the virtual module with its wire model on: what the main
// window and the first editors read (master setup, 64 patch, 128 timbre and 4
// rhythm setup names, a patch change, the patch data, the six timbres, the rhythm
// setup common and its 64 instruments), with the real ports' send gap.
//
// Prints the least time that exchange can take on a 31250-baud wire (request and
// answer in turn, plus the send gaps the pacing requires and the module's answer
// delay), the time it took, their ratio, and the CPU the process used meanwhile.
//
//   load_bench [--gap-ms 20] [--answer-delay-ms 1] [--runs 1]

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/Host.h"
#include "device/clsU220.h"
#include "emulator/U220Emulator.h"
#include "ports/PortSet.h"
#include "emulator/VirtualU220.h"

using namespace quorvane;

namespace {

constexpr size_t kRQ1Bytes = 13;  // F0 41 dev 2B 11 a1 a2 a3 s1 s2 s3 sum F7
constexpr size_t kProgramChangeBytes = 2;
constexpr int kMaxAnswerData = static_cast<int>(emulator::U220Emulator::kMaxAnswerData);

double WireMs(size_t bytes) { return emulator::U220Emulator::wireMs(bytes); }

// One message the editor sends and the data sizes of the module's answers to it.
struct Sent {
    size_t bytes;
    std::vector<int> answers;
};
// Messages sent back to back; the next exchange starts when every answer is in.
using Exchange = std::vector<Sent>;

Sent Request(int size) {
    Sent s{kRQ1Bytes, {}};
    for (int done = 0; done < size; done += kMaxAnswerData) s.answers.push_back(std::min(kMaxAnswerData, size - done));
    return s;
}

std::vector<Exchange> StartupLoad() {
    std::vector<Exchange> load;
    load.push_back({Request(16)});                                // master setup
    for (int i = 0; i < 64 + 128 + 4; ++i) load.push_back({Request(24)});  // memory names
    load.push_back({Sent{kProgramChangeBytes, {}}, Request(16)});  // patch change and its confirmation
    Exchange patch{Request(41), Request(7)};
    for (int p = 0; p < 6; ++p) patch.push_back(Request(13));
    load.push_back(patch);
    Exchange timbres;
    for (int p = 0; p < 6; ++p) timbres.push_back(Request(50));
    load.push_back(timbres);
    load.push_back({Request(26)});                       // rhythm setup common
    for (int i = 0; i < 64; ++i) load.push_back({Request(20)});  // instruments
    return load;
}

// The least time of the whole load: one wire each way; a message of the editor
// starts no sooner than `gapMs` after the end of its previous one; an answer
// starts `answerDelayMs` after the end of its request, and not before the
// module's previous answer has left.
double WireTimeMs(const std::vector<Exchange>& load, double gapMs, double answerDelayMs) {
    double t = 0;              // when the next exchange may begin
    double hostEnd = -1e9;     // end of the editor's last message on the wire
    for (const Exchange& e : load) {
        double ready = t;
        double moduleFree = t;
        for (const Sent& s : e) {
            const double start = std::max(ready, hostEnd + gapMs);
            const double end = start + WireMs(s.bytes);
            hostEnd = ready = end;
            for (int data : s.answers) {
                const double answerStart = std::max(end + answerDelayMs, moduleFree);
                moduleFree = answerStart + WireMs(static_cast<size_t>(data) + 10);
            }
        }
        t = std::max(moduleFree, hostEnd);
    }
    return t;
}

double CpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& tv) { return tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

struct Result {
    double elapsedMs, cpuMs;
    uint64_t timeouts, dropped;
};

Result RunOnce(int gapMs, double answerDelayMs) {
    SimpleHost host;
    auto module = std::make_shared<midi::VirtualU220>(0x10);
    module->withEmulator([&](emulator::U220Emulator& e) {
        e.setWireModel({true, answerDelayMs, 0});
        return 0;
    });
    midi::Ports ports = midi::CreatePorts([&host](std::function<void()> fn) { host.post(std::move(fn)); }, module);
    clsU220 u(host, std::move(ports.output), std::move(ports.input));
    u.RequestTimeout = std::chrono::milliseconds(10000);
    u.OnNotResponding = [](quorvane::RequestKind what) {
        std::fprintf(stderr, "no answer to request kind %d\n", static_cast<int>(what));
        return false;
    };
    if (!u.MIDIOutput1->open(-1) || !u.MIDIInput1->open(0)) {
        std::fprintf(stderr, "cannot open the virtual module's ports\n");
        std::exit(1);
    }
    u.MIDIOutput1->setSendGapMs(gapMs);

    const double cpu0 = CpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    u.MasterSetupMTune();
    for (int n = 1; n <= 64; ++n) u.MemoryPatchName(static_cast<int16_t>(n));
    for (int n = 1; n <= 128; ++n) u.MemoryTimbreName(static_cast<int16_t>(n));
    for (int n = 1; n <= 4; ++n) u.MemoryRhythmName(static_cast<int16_t>(n));
    u.PatchChange(1);
    u.PatchCommonPatchName();
    u.TimbreTimbreName(1);
    u.RhythmSeupCommonSetupName();
    for (int i = 0; i < 64; ++i) u.RhythmSetupInstToneMedia(static_cast<int16_t>(i));
    const auto t1 = std::chrono::steady_clock::now();
    const double cpu1 = CpuMs();
    return {std::chrono::duration<double, std::milli>(t1 - t0).count(), cpu1 - cpu0, u.TimeoutCount(),
            u.Stats().dropped()};
}

}  // namespace

int main(int argc, char** argv) {
    int gapMs = 20;
    double answerDelayMs = 1.0;
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--gap-ms" && i + 1 < argc) gapMs = std::atoi(argv[++i]);
        else if (a == "--answer-delay-ms" && i + 1 < argc) answerDelayMs = std::atof(argv[++i]);
        else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: load_bench [--gap-ms MS] [--answer-delay-ms MS] [--runs N]\n");
            return 2;
        }
    }
    const std::vector<Exchange> load = StartupLoad();
    size_t messages = 0;
    for (const Exchange& e : load) messages += e.size();
    const double wire = WireTimeMs(load, gapMs, answerDelayMs);
    std::printf("load: %zu exchanges, %zu messages sent, send gap %d ms, answer delay %.1f ms\n", load.size(), messages,
                gapMs, answerDelayMs);
    Result best{};
    for (int r = 0; r < runs; ++r) {
        const Result res = RunOnce(gapMs, answerDelayMs);
        std::printf("run %d: elapsed_ms=%.1f cpu_ms=%.1f timeouts=%llu dropped=%llu\n", r + 1, res.elapsedMs, res.cpuMs,
                    static_cast<unsigned long long>(res.timeouts), static_cast<unsigned long long>(res.dropped));
        if (r == 0 || res.elapsedMs < best.elapsedMs) best = res;
    }
    std::printf("load: wire_ms=%.1f elapsed_ms=%.1f ratio=%.3f cpu_pct=%.2f\n", wire, best.elapsedMs,
                best.elapsedMs / wire, 100.0 * best.cpuMs / best.elapsedMs);
    return best.timeouts == 0 ? 0 : 1;
}
