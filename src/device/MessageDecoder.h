// Puts a MIDI message into words, for the MIDI monitor and the console log:
// "Patch part 2 pan = 9", "request: patch data 10 04 00, 41 bytes",
// "program change 5 on channel 1", "dropped: checksum (...)".
//
// Parameters are found through the one parameter table (ParamTable.h): an
// address is matched against each block's first address and size, and the
// offset within the block against the table's rows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "MonitorEvent.h"
#include "ParamTable.h"
#include "Protocol.h"

namespace quorvane {

struct MessageMeaning {
    enum class Type : uint8_t {
        ParamWrite,  // one data byte at a parameter's address
        NameWrite,   // a name (24 nibbles) at a name's address
        Data,        // any other data set
        Request,     // a data request
        Channel,     // a channel message (program change, note, ...)
        Other,       // System Exclusive of another maker or model, or bytes that are no message
    };
    Type type = Type::Other;
    // The meaning in words; a parameter's value as its model value (the editor's list index).
    std::string text;

    // ParamWrite only.
    std::optional<Param> param;
    int index = 0;       // PartNo 1..6, InstNo 0..63, or 0
    int byte = 0;        // the data byte
    int value = 0;       // the model value: byte minus the parameter's bias
    std::string subject;  // "Patch part 2 pan"
};

// Decodes one message. A U-220 frame with a wrong checksum or a stray byte is
// still described from its header; whether it was taken is not this function's
// business (see DescribeEvent).
MessageMeaning DescribeMessage(const Bytes& message);

// The parameter in words: "Patch part 2 pan", "Timbre part 1 env attack rate",
// "Rhythm setup key B1 pan".
std::string ParamSubject(Param p, int index);

// The name of MIDI note n: "C4" for 60, "C-1" for 0.
std::string NoteName(int note);

// Turns a parameter's model value (already checked to lie in its list) into the
// text the editor's list shows; nullopt shows the number.
using ValueNamer = std::function<std::optional<std::string>(Param p, int value)>;

// The whole line for one monitored message, without time and direction:
// the meaning, and for a received message that was not stored, why it was dropped.
std::string DescribeEvent(const MonitorEvent& e, const ValueNamer& namer = {});

// "out" for what the program sends (merged and dropped included), "in" for what it receives (or lost).
const char* DirectionOf(MonitorEvent::Kind k);

}  // namespace quorvane
