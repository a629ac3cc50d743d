// JACK in RtMidi's place: ports opened through the program's own JACK client.
#include "ports/RtMidiSupport.h"

namespace quorvane::midi::detail {

#if QUORVANE_HAVE_JACK
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
#endif

}  // namespace quorvane::midi::detail
