// The rhythm setup editor: edits the rhythm setup the model addresses: its
// name and bender range, and the twenty parameters of one instrument key at a
// time ("B1" .. "D7"). Every pick is written straight back through the model.
//
// A new window for every opening: construction fills the lists; the first
// showing reads the common values and shows instrument "B1". The opener owns
// it (creates it, exec(), destroys it); "Done" closes it.
#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>
#include <vector>

#include "device/ParamTable.h"
#include "ui/common/EditHistory.h"
#include "ui/common/TestNotes.h"

class QComboBox;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QHideEvent;
class QShowEvent;

namespace quorvane {
class clsU220;
}
namespace quorvane::ui {
class MainContext;
}

namespace quorvane::ui {

class frmRhythm : public QDialog, public quorvane::ui::EditView {
    Q_OBJECT
public:
    explicit frmRhythm(quorvane::ui::MainContext& ctx, QWidget* parent = nullptr);
    ~frmRhythm() override;

    // Instrument shown, 0 ("B1", key 35) .. 63 ("D7", key 98); the selected
    // index of InstCombo.
    int16_t CurrentInstNo = 0;
    // True while the controls are filled from the model; the handlers (except
    // InstCombo's) write nothing while it is set.
    bool Updating = false;

    // "Setup"
    QLineEdit* SetupNameText = nullptr;
    QComboBox* BenderRangeLowerCombo = nullptr;
    QComboBox* BenderRangeHigherCombo = nullptr;
    // "Instrument"
    QComboBox* InstCombo = nullptr;
    QComboBox* ToneMediaCombo = nullptr;
    QComboBox* ToneNumberCombo = nullptr;
    QComboBox* SourceKeyCombo = nullptr;
    QComboBox* MuteInstCombo = nullptr;
    QComboBox* InstLevelCombo = nullptr;
    QComboBox* VelocitySensCombo = nullptr;
    QComboBox* EnvModeCombo = nullptr;
    QComboBox* EnvAttackRateCombo = nullptr;
    QComboBox* EnvDecayRateCombo = nullptr;
    QComboBox* EnvReleaseRateCombo = nullptr;
    QComboBox* PitchShiftCoarseCombo = nullptr;
    QComboBox* PitchShiftFineCombo = nullptr;
    QComboBox* ChannelAfterSensCombo = nullptr;
    QComboBox* PolyAfterSensCombo = nullptr;
    QComboBox* RandomCombo = nullptr;
    QComboBox* AutoBendDepthCombo = nullptr;
    QComboBox* AutoBendRateCombo = nullptr;
    QComboBox* DetuneDepthCombo = nullptr;
    QComboBox* OutputAssignCombo = nullptr;
    QComboBox* PanCombo = nullptr;

    QPushButton* EndButton = nullptr;
    // "Play": a short note of the instrument shown (its key, InstNo + 35) on
    // the rhythm part's receive channel (disabled for "Off").
    QPushButton* PlayButton = nullptr;
    quorvane::ui::TestNotes* Notes() const { return notes_; }

    // "Edit" menu: undo and redo of this window's edits. Undoing an edit of
    // another instrument shows that instrument.
    QMenuBar* MenuBar = nullptr;
    quorvane::ui::EditHistory* History() const { return history_; }

    // EditView
    void ShowEdit(const quorvane::ui::EditTarget& target, const quorvane::ui::EditValue& value) override;
    bool EditsBlocked() const override { return Updating; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct ParamCombo {
        QComboBox* combo;
        quorvane::Param param;
    };

    void BuildUi();
    void ConnectHandlers();
    // Reads the common values and instrument "B1" (first showing).
    void Open();
    // False when the module did not answer and the user gave up.
    bool ReadCommon();
    void OnInstChanged(int index);
    void OnInstParamChanged(quorvane::Param param, QComboBox* combo);
    void OnBenderChanged(quorvane::Param param, QComboBox* combo);
    void OnNameChanged(const QString& text);
    // The rhythm part's MIDI channel, when the patch is loaded and it has one.
    std::optional<int> RhythmChannel() const;

    quorvane::ui::MainContext& ctx_;
    quorvane::clsU220& u220_;
    std::vector<ParamCombo> instParams_;  // the twenty instrument lists, in reading order
    int updatingDepth_ = 0;
    quorvane::ui::EditHistory* history_ = nullptr;
    quorvane::ui::TestNotes* notes_ = nullptr;
    uint64_t nameBurst_ = 0;
    int16_t wantedInst_ = 0;   // the newest instrument picked
    bool instReading_ = false;  // an instrument's values are being read
    bool opened_ = false;
};

}  // namespace quorvane::ui
