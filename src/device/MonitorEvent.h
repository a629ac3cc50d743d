// One message seen by the model, for watching what goes over the wire: every
// message sent, every message received with what the inbound handler did with
// it, and the send queue's merged and dropped messages.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

struct MonitorEvent {
    enum class Kind : uint8_t {
        Sent,      // handed to the output port
        Received,  // taken off the input port; `verdict` says what became of it
        Merged,    // a queued data set replaced by a newer one for the same address: never sent
        Dropped,   // a queued message that never left (queue cleared, port failure); `reason` says why
        Lost,      // messages the input port could not deliver (cut short, or its queue full); `reason` is how many
    };
    // What the inbound handler did with a received message.
    enum class Verdict : uint8_t {
        None,        // not a received message
        Stored,      // part of the reply to the open request
        Malformed,   // not a well-formed frame, wrong checksum, or a name byte out of range
        Foreign,     // another manufacturer, model, device ID, or not a data set
        Unexpected,  // no request open, or not the stretch awaited next
    };

    MonitorEvent() = default;
    MonitorEvent(Kind k, std::vector<uint8_t> m, Verdict v = Verdict::None, std::string why = {})
        : kind(k), message(std::move(m)), verdict(v), reason(std::move(why)) {}

    Kind kind = Kind::Sent;
    std::vector<uint8_t> message;
    Verdict verdict = Verdict::None;
    std::string reason;  // Dropped only
};

}  // namespace quorvane
