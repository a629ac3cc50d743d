// Quick writes to different addresses through a real MIDI output, as an editor
// makes them when several controls change at once: COUNT data sets for
// different parameters handed to the paced queue at once, then flushed. Run it
// against quorvane-u220sim started with --wire --min-gap-ms 20 and read the lost
// count in the simulator's stop report (SIGINT).
//
//   burst_writes PORT [--count 198] [--gap-ms 20] [--device-id 17]
//
// PORT is a case-insensitive part of the output's name (e.g. the simulator's
// client name). Prints how many were sent and how long the queue took.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/ParamTable.h"
#include "device/Protocol.h"
#include "ports/RtMidiPorts.h"

using namespace quorvane;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: burst_writes PORT [--count N] [--gap-ms MS] [--device-id N]\n");
        return 2;
    }
    const std::string part = lower(argv[1]);
    int count = 198, gap = midi::RtMidiOutput::kDefaultGapMs, deviceId = 17;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--count")) count = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--gap-ms")) gap = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--device-id")) deviceId = std::atoi(argv[i + 1]);
    }

    midi::RtMidiOutput out(nullptr, "quorvane-burst");
    out.onError = [](int, const std::string& text) { std::fprintf(stderr, "burst_writes: %s\n", text.c_str()); };
    int index = -1;
    for (int i = 0; i < out.deviceCount(); ++i)
        if (lower(out.deviceName(i)).find(part) != std::string::npos) index = i;
    if (index < 0 || !out.open(index)) {
        std::fprintf(stderr, "burst_writes: no output port matching \"%s\"\n", argv[1]);
        return 1;
    }
    out.setSendGapMs(gap);

    // Every parameter of every part and of part 1's timbre in turn: all different addresses.
    std::vector<Address> targets;
    for (Param p : AllParams()) {
        const Block b = Info(p).block;
        if (b != Block::PatchPart && b != Block::Timbre && b != Block::PatchCommon) continue;
        for (int index = IndexMin(b); index <= IndexMax(b); ++index) targets.push_back(ParamAddress(p, index));
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const Address a = targets[static_cast<size_t>(i) % targets.size()];
        out.sendSysEx(BuildDT1(static_cast<uint8_t>(deviceId - 1), a, {static_cast<uint8_t>(i & 0x0F)}));
    }
    out.flush();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    out.close();
    std::printf("sent %llu data sets to %zu addresses in %.0f ms (%.1f ms each)\n",
                static_cast<unsigned long long>(out.sentCount()), std::min(targets.size(), static_cast<size_t>(count)), ms,
                ms / std::max(1, count));
    return 0;
}
