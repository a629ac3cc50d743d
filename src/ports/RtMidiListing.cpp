// What the MIDI system is: its failures, whether it runs, its name, the APIs
// compiled in, and the "about" text.
#include "ports/RtMidiSupport.h"

#include "emulator/VirtualU220.h"
#include "ports/PortSet.h"

namespace quorvane::midi {

using namespace detail;

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


std::string AboutMidiText() {
    std::string apis;
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    for (RtMidi::Api api : compiled) {
        if (api == RtMidi::RTMIDI_DUMMY) continue;
        if (!apis.empty()) apis += ", ";
        apis += RtMidi::getApiDisplayName(api);
    }
    if (apis.empty()) apis = "none";
    const std::string jack = JackBuiltIn() ? "JACK ports through libjack, each message placed at its own frame.\n" : "";
    return "RtMidi " + RtMidi::getVersion() + "\n" + "MIDI APIs compiled in: " + apis + "\n" + jack +
           "The built-in virtual U-220 (\"" + VirtualU220::kDeviceName + "\") is offered as well.";
}

namespace {

class MachineSystem : public MidiSystem {
public:
    uint64_t failures() const override { return MidiSystemFailures(); }
    bool running(const std::string& deviceLabel) const override { return MidiSystemRunning(deviceLabel); }
    std::string name(const std::string& deviceLabel) const override { return MidiSystemName(deviceLabel); }
    std::string aboutText() const override { return AboutMidiText(); }
};

}  // namespace

std::unique_ptr<MidiSystem> MachineMidiSystem() { return std::make_unique<MachineSystem>(); }

}  // namespace quorvane::midi
