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

#include "ui/common/EditorDialog.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace quorvane::ui {

class frmRhythm : public EditorDialog {
    Q_OBJECT
public:
    explicit frmRhythm(MainContext& ctx, QWidget* parent = nullptr);

    // Reads the common values and instrument "B1"; runs after the first showing
    // only. Updating holds back every handler but InstCombo's.
    void Activate() override;

    // Instrument shown, 0 ("B1", key 35) .. 63 ("D7", key 98); the selected
    // index of InstCombo.
    int16_t CurrentInstNo = 0;

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

protected:
    void ShowName(const EditTarget& target, const std::string& bytes) override;
    // Undoing an edit of another instrument shows that instrument.
    void ShowIndex(const EditTarget& target, int index) override;

private:
    void BuildUi();
    void ConnectHandlers();
    // False when the module did not answer and the user gave up.
    bool ReadCommon();
    void OnInstChanged(int index);
    void OnInstParamChanged(quorvane::Param param, QComboBox* combo);
    void OnBenderChanged(quorvane::Param param, QComboBox* combo);
    void OnNameChanged(const QString& text);
    // The rhythm part's MIDI channel, when the patch is loaded and it has one.
    std::optional<int> RhythmChannel() const;

    std::vector<ParamCombo> instParams_;  // the twenty instrument lists, in reading order
    int16_t wantedInst_ = 0;   // the newest instrument picked
    bool instReading_ = false;  // an instrument's values are being read
};

}  // namespace quorvane::ui
