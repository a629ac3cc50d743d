// What the MIDI monitor's decoding costs: the messages of a start-up load
// (master setup, 64 patch, 128 timbre and 4 rhythm setup names, requests and
// answers) and of a fast edit (one data set per parameter of every block),
// each put into words. Prints the time per message and how much of a 31250-baud
// wire's time that is (the wire carries one 13-byte request in 4.2 ms).
//
//   monitor_bench [--rounds 200]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/MessageDecoder.h"

using namespace quorvane;

int main(int argc, char** argv) {
    int rounds = 200;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));

    std::vector<MonitorEvent> events;
    auto exchange = [&](Address a, int size) {
        events.push_back({MonitorEvent::Kind::Sent, BuildRQ1(16, a, size)});
        Bytes data = EncodeName("Name " + std::to_string(events.size()));
        data.resize(static_cast<size_t>(size), 1);
        events.push_back({MonitorEvent::Kind::Received, BuildDT1(16, a, data), MonitorEvent::Verdict::Stored});
    };
    exchange({0, 0, 0}, 16);
    for (int n = 1; n <= 64; ++n) exchange(PatchMemoryAddress(n), 24);
    for (int n = 1; n <= 128; ++n) exchange(TimbreMemoryAddress(n), 24);
    for (int n = 1; n <= 4; ++n) exchange(RhythmMemoryAddress(n), 24);
    const size_t loadMessages = events.size();
    for (Param p : AllParams()) {
        const ParamInfo& i = Info(p);
        events.push_back({MonitorEvent::Kind::Sent, BuildDT1(16, ParamAddress(p, IndexMax(i.block)), {i.bias})});
    }
    // A stand-in for the window's list lookup, so the bench measures the decoder.
    const ValueNamer namer = [](Param, int value) -> std::optional<std::string> { return std::to_string(value); };

    size_t chars = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r)
        for (const MonitorEvent& e : events) chars += DescribeEvent(e, namer).size();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double perMessageUs = ms * 1000.0 / (static_cast<double>(rounds) * static_cast<double>(events.size()));
    std::printf("messages per round: %zu (%zu of the start-up load, %zu data sets)\n", events.size(), loadMessages,
                events.size() - loadMessages);
    std::printf("rounds: %d, total %.1f ms, %.2f us per message (%zu characters)\n", rounds, ms, perMessageUs, chars);
    std::printf("share of the wire time of a 13-byte request (4.16 ms): %.3f %%\n", perMessageUs / 4160.0 * 100.0);
    return 0;
}
