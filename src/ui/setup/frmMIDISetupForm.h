// The MIDI setup dialog shown once at start-up: the user picks the MIDI input
// and output devices and the module's device ID; Ok opens both ports and checks
// that the module answers. Only then does start-up go on; Cancel (or closing the
// dialog) ends the program.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

// Shown when the module does not answer (two blanks after the first full stop).
inline constexpr const char* kNotRespondingText = "U-220 is not responding.  Pls check the setup.";

class frmMIDISetupForm : public QDialog {
    Q_OBJECT
public:
    // Fills the device lists from the model's ports and selects device ID 17
    // (byte 16), which writes the model's DeviceID.
    explicit frmMIDISetupForm(quorvane::clsU220& u220, QWidget* parent = nullptr);
    ~frmMIDISetupForm() override;

    QComboBox* ComboMidiIn = nullptr;    // entry i: input device i
    QComboBox* ComboMidiOut = nullptr;   // entry i: output device i - 1
    QComboBox* comboDeviceID = nullptr;  // "1".."32": entry i is device ID byte i
    QLabel* lblStatus = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* CmdCancel = nullptr;

    // True while Ok is waiting for the module's answer.
    bool Probing() const { return probing_; }

    void cmdOK_Click();
    void CmdCancel_Click();

protected:
    void done(int r) override;

private:
    void comboDeviceID_Click(int index);
    void MIDIInOpen();
    void MIDIOutOpen();

    quorvane::clsU220& U220;
    bool probing_ = false;
    bool rejected_ = false;
};

}  // namespace quorvane::ui
