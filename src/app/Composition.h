// The composition root: what the main window is built on, put together here so
// that the windows know nothing of the MIDI back ends. The virtual module and
// the machine's ports (RtMidi and our JACK client) through midi::CreatePorts,
// the model on them, the machine's MIDI system, and the connection keeper.
#pragma once

#include <functional>
#include <memory>

#include "midi/MidiPorts.h"
#include "ports/PortSet.h"
#include "ui/main/MainParts.h"

namespace quorvane::app {

// Makes the model's ports from the virtual module and the wake-up poster.
using PortFactory = std::function<midi::Ports(std::shared_ptr<midi::VirtualU220>, midi::PostFn)>;

// `virtualModule`: the built-in module behind output -1 / input 0; null makes a
// new one (tests share one to inspect what it received). `makePorts`: empty
// for the machine's ports beside it (midi::CreatePorts); tests put stand-ins
// there. `system`: null for the machine's MIDI system.
ui::MainParts BuildMainParts(std::shared_ptr<midi::VirtualU220> virtualModule = nullptr, PortFactory makePorts = {},
                             std::unique_ptr<midi::MidiSystem> system = nullptr);

}  // namespace quorvane::app
