// What the windows may know of the machine's MIDI system beyond the model's own
// ports (which list and open the devices): how often a client of ours lost its
// server, whether the system behind a listed port runs and what it is called,
// and the text of the "About MIDI I/O Control" box. The one header of this room
// that the windows include; the program's composition root hands them an
// implementation (MachineMidiSystem() in PortSet.h, or a stand-in in tests).
#pragma once

#include <cstdint>
#include <string>

namespace quorvane::midi {

class MidiSystem {
public:
    virtual ~MidiSystem() = default;
    // Times a client of ours lost its server (JACK stopped, or threw it out).
    // Only grows; any thread.
    virtual uint64_t failures() const = 0;
    // Whether the system behind the port listed as `deviceLabel` runs now
    // (true for a port of no system of ours, such as the virtual module).
    virtual bool running(const std::string& deviceLabel) const = 0;
    // Its name ("JACK"), "" when unknown.
    virtual std::string name(const std::string& deviceLabel) const = 0;
    // The MIDI library, its version and the systems compiled in.
    virtual std::string aboutText() const = 0;
};

}  // namespace quorvane::midi
