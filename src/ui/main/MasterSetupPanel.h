// The main window's "Master Setup" frame: master tune with its arrows, chorus
// and reverb, LCD contrast, the control channel and the four program change
// modes. It fills itself from the model, writes each edit to the module and
// keeps the undo history of those edits.
#pragma once

#include <QGroupBox>
#include <cstdint>
#include <memory>

#include "ui/common/EditHistory.h"

class QCheckBox;
class QComboBox;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

class UpDown;

class MasterSetupPanel : public QGroupBox {
    Q_OBJECT
public:
    // `updating` is the main window's flag: while it is set the controls are
    // being filled and the handlers write nothing.
    MasterSetupPanel(quorvane::clsU220& u220, bool& updating, QWidget* parent);

    QComboBox* MTuneCombo = nullptr;
    quorvane::ui::UpDown* UpDown = nullptr;  // position 4274..4529 = tune x 10
    QCheckBox* ChorusCheck = nullptr;
    QCheckBox* ReverbCheck = nullptr;
    QComboBox* LCDCombo = nullptr;
    QComboBox* MIDIRxChCombo = nullptr;
    QComboBox* PaChCombo = nullptr;
    QComboBox* TiChCombo = nullptr;
    QComboBox* RhChCombo = nullptr;
    QComboBox* RInstChCombo = nullptr;

    // Undo and redo of the panel's edits (the main window's Edit menu).
    EditHistory* History() const { return masterHistory_; }

    static constexpr int kTuneMin = 4274;  // 427.4 Hz
    static constexpr int kTuneMax = 4529;  // 452.9 Hz

    // Fills the lists, clears the values and disables the panel until the
    // module's master setup has been read.
    void FillMasterSetupLists();
    // Writes the nine master setup values into the panel (Updating set). False
    // when the module did not answer: the panel is then cleared and disabled.
    bool ShowMasterSetup();
    void ClearMasterSetup();

private:
    void MasterCheck_Click(QCheckBox* box);
    void MasterCombo_Click(QComboBox* combo, int index);
    void UpDown_Change(int position);
    void ShowMasterEdit(const EditTarget& target, const EditValue& value);

    bool& Updating;
    quorvane::clsU220* u220_;
    std::unique_ptr<EditViewFunctions> masterView_;
    EditHistory* masterHistory_ = nullptr;
    uint64_t tuneBurst_ = 0;
};

}  // namespace quorvane::ui
