// What the main window is built on, made by the program's composition root
// (src/app) and handed over whole: the host that runs the model's callbacks on
// the GUI thread, the built-in virtual module behind output -1 / input 0, the
// model on its ports (closed), the MIDI system as far as the windows know it,
// and the keeper of the connection.
#pragma once

#include <memory>

#include "device/clsU220.h"
#include "emulator/VirtualU220.h"
#include "ports/MidiSystem.h"
#include "ui/common/QtHost.h"
#include "ui/main/Connection.h"

namespace quorvane::ui {

struct MainParts {
    std::unique_ptr<QtHost> host;
    std::shared_ptr<midi::VirtualU220> virtualModule;
    std::unique_ptr<midi::MidiSystem> system;
    std::unique_ptr<quorvane::clsU220> model;  // over `host`
    // Over `model` and `system`; the main window takes it as a child.
    std::unique_ptr<ConnectionKeeper> keeper;
};

}  // namespace quorvane::ui
