// Which ports and device ID the model talks through, held by the names the
// device lists show (indexes change when ports come and go), and the settings
// that remember the last choice that worked.
#pragma once

#include <QString>
#include <string>

#include "device/RequestKind.h"

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

struct PortChoice {
    QString in;               // MIDI In device as listed
    QString out;              // MIDI Out device as listed
    bool virtualIn = true;    // the built-in module (input device 0)
    bool virtualOut = true;   // the built-in module (output device -1)
    int deviceId = 16;        // device ID byte 0..31 ("17" on the module)
    int sendGapMs = 20;       // least pause between messages on a real port

    // True when a port of the MIDI system is in use.
    bool real() const { return !virtualIn || !virtualOut; }
    bool samePorts(const PortChoice& o) const {
        return in == o.in && out == o.out && virtualIn == o.virtualIn && virtualOut == o.virtualOut;
    }
};

inline constexpr int kDefaultSendGapMs = 20;
inline constexpr int kMaxSendGapMs = 200;

// Device numbers of the choice's ports on the model's lists now (input 0 and
// output -1 are the built-in module); -2 when a port is not listed.
int InputIndexOf(quorvane::clsU220& model, const PortChoice& c);
int OutputIndexOf(quorvane::clsU220& model, const PortChoice& c);

// Opens the choice's ports through the model's ports (each closes what it had
// open), sets the device ID and, on a real output, the send gap. Failures are
// collected in `error` instead of being shown; false when a port did not open.
bool OpenChoice(quorvane::clsU220& model, const PortChoice& c, QString* error = nullptr, bool openIn = true,
                bool openOut = true);

// The main window's title for the connection in use: it says when the
// built-in module is the one connected ("Quorvane — virtual U-220").
QString MainWindowTitle(const PortChoice& c);

// The last choice with which the module answered (defaults when none).
PortChoice LoadLastChoice();
void SaveLastChoice(const PortChoice& c);

// Under the "not responding" box's first line: which request got no answer
// (the setup dialog's check asks for the patch data) and what to check.
QString NotRespondingAdvice(const PortChoice& c, RequestKind what = RequestKind::PatchData);
// What a request asked for, as a user reads it: "a patch name".
QString RequestWords(RequestKind what);

}  // namespace quorvane::ui
