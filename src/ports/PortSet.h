// The ports the model owns: one output and one input, each able to open either
// the built-in virtual U-220 (output device -1, input device 0) or any port that
// RtMidi lists on the APIs compiled in (ALSA, CoreMIDI, WinMM) or our own JACK
// client lists.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "midi/MidiPorts.h"
#include "emulator/VirtualU220.h"
#include "ports/MidiSystem.h"

namespace quorvane::midi {

struct Ports {
    std::unique_ptr<MIDIOutput> output;
    std::unique_ptr<MIDIInput> input;
};

// `virtualModule` may be shared with a test that inspects it; null makes a new one.
// Real ports use a 20 ms send gap by default, the virtual module none.
Ports CreatePorts(PostFn post, std::shared_ptr<VirtualU220> virtualModule = nullptr);

// The same composition over any two back ends: output device -1 and input
// device 0 open the virtual ones, the others are the real ones' devices shifted
// by one (input) or unchanged (output). CreatePorts uses it; tests use it with
// stand-ins.
Ports CombinePorts(std::unique_ptr<MIDIOutput> virtualOutput, std::unique_ptr<MIDIInput> virtualInput,
                   std::unique_ptr<MIDIOutput> realOutput, std::unique_ptr<MIDIInput> realInput);

// For the "About MIDI I/O Control" box: the MIDI library, its version and the APIs
// compiled in.
std::string AboutMidiText();

// The machine's MIDI system as the windows see it (MidiSystem.h), over the
// functions of RtMidiPorts.h and AboutMidiText.
std::unique_ptr<MidiSystem> MachineMidiSystem();

}  // namespace quorvane::midi
