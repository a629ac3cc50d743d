// The MIDI setup dialog shown at start-up (and again from the main window's
// File menu): the user picks the MIDI input and output devices, the module's
// device ID and the pause between messages; Ok opens both ports and checks that
// the module answers, and remembers the choice for the next start. At start-up
// Cancel (or closing the dialog) ends the program.
#pragma once

#include <QDialog>

#include "ui/setup/PortChoice.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

// Shown when the module does not answer (two blanks after the first full stop).
inline constexpr const char* kNotRespondingText = "U-220 is not responding.  Pls check the setup.";

class frmMIDISetupForm : public QDialog {
    Q_OBJECT
public:
    // Fills the device lists from the model's ports and selects the ports (by
    // name) and device ID of the last start with which the module answered; a
    // port no longer listed falls back to the built-in module, and with nothing
    // remembered device ID 17 (byte 16) is chosen. Selecting the device ID
    // writes the model's DeviceID.
    explicit frmMIDISetupForm(quorvane::clsU220& u220, QWidget* parent = nullptr);
    ~frmMIDISetupForm() override;

    QComboBox* ComboMidiIn = nullptr;    // entry i: input device i
    QComboBox* ComboMidiOut = nullptr;   // entry i: output device i - 1
    QComboBox* comboDeviceID = nullptr;  // "1".."32": entry i is device ID byte i
    QSpinBox* spinSendGap = nullptr;     // pause between messages on a real port, ms
    QLabel* lblStatus = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* CmdCancel = nullptr;

    // True while Ok is waiting for the module's answer.
    bool Probing() const { return probing_; }

    // Lists the devices again (ports come and go) and selects `c` by name,
    // falling back to the built-in module for a port that is not listed. The
    // status line names the remembered ports that are not listed now; they
    // stay remembered (Ok keeps them) until the user picks in that list.
    void ShowChoice(const PortChoice& c);
    // What the lists, the device ID and the pause say now.
    PortChoice Chosen() const;
    // True when Ok has opened ports since the choice was last shown.
    bool PortsOpened() const { return opened_; }

    void cmdOK_Click();
    void CmdCancel_Click();

protected:
    void done(int r) override;

private:
    void comboDeviceID_Click(int index);
    void FillDevices();
    void MIDIInOpen();
    void MIDIOutOpen();

    // What Ok remembers: the choice, with a remembered real port in place of
    // the built-in module shown for it but not picked by the user.
    PortChoice ToRemember() const;

    quorvane::clsU220& U220;
    PortChoice remembered_;   // the last choice that worked, as ShowChoice found it
    QString note_;            // what the status line says of it
    bool pickedIn_ = false;   // the user picked in the MIDI In list since ShowChoice
    bool pickedOut_ = false;
    bool probing_ = false;
    bool rejected_ = false;
    bool opened_ = false;
};

}  // namespace quorvane::ui
