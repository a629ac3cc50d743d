// The timbre editor: edits the timbre one part (1..6) of the temporary patch
// plays: its name, the tone it sounds and 24 level, pitch and vibrato
// parameters. Each showing re-reads every value for gintPartNo; each pick is
// written straight back through the model. With synchronized editing on (the
// patch editor's "Synchronized editing" box, handed over as TimbreSync), a
// change is also written to every part whose timbre list in the patch editor
// shows the same timbre.
//
// Created once and kept: "Done" (and the close box, and Escape) only hide it,
// so the lists are filled once. The opener sets gintPartNo and the caption,
// then calls exec().
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "ui/common/EditorDialog.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace quorvane::ui {

// What the timbre editor asks of its opener for synchronized editing: whether
// it is on, and the timbre each part (1..6) plays as the opener shows it (-1
// when it shows none). Either may be empty: off, and no timbre shown.
struct TimbreSync {
    std::function<bool()> on;
    std::function<int(int p)> timbreOf;
};

class frmTimbre : public EditorDialog {
    Q_OBJECT
public:
    frmTimbre(MainContext& ctx, TimbreSync sync, QWidget* parent = nullptr);

    // The patch part (1..6) whose timbre is edited. Set by the opener.
    int16_t gintPartNo = 1;

    // Reads every value for gintPartNo into the controls (Updating set, so
    // nothing is written back). Runs each time the window is shown, as soon as
    // events are processed after the showing. Updating is also set while a
    // synchronized write runs. The "Edit" menu's steps belong to the part
    // shown: opening for another part (or reading afresh) forgets them.
    void Activate() override;

    QLineEdit* TimbreTimbreNameText = nullptr;
    QComboBox* ToneMediaCombo = nullptr;
    QComboBox* ToneNumberCombo = nullptr;
    QLineEdit* ToneNameText = nullptr;  // display only

    // "Level"
    QComboBox* TimbreLevelCombo = nullptr;
    QComboBox* VelocitySensCombo = nullptr;
    QComboBox* ChannelPressSensCombo = nullptr;
    QComboBox* EnvAttackRateCombo = nullptr;
    QComboBox* EnvDecayRateCombo = nullptr;
    QComboBox* EnvSustainLevelCombo = nullptr;
    QComboBox* EnvReleaseRateCombo = nullptr;
    // "Pitch"
    QComboBox* PitchShiftCoarseCombo = nullptr;
    QComboBox* PitchShiftFineCombo = nullptr;
    QComboBox* BendRangeLowerCombo = nullptr;
    QComboBox* BendRangeUpperCombo = nullptr;
    QComboBox* PitchChAfterSensCombo = nullptr;
    QComboBox* PitchPolyAfterSensCombo = nullptr;
    QComboBox* AutoBendDepthCombo = nullptr;
    QComboBox* AutoBendRateCombo = nullptr;
    QComboBox* DetuneDepthCombo = nullptr;
    // "Vib"
    QComboBox* RateCombo = nullptr;
    QComboBox* WaveformCombo = nullptr;
    QComboBox* DepthCombo = nullptr;
    QComboBox* DelayCombo = nullptr;
    QComboBox* RiseTimeCombo = nullptr;
    QComboBox* ModulationDepthCombo = nullptr;
    QComboBox* VibratoChAfterSensCombo = nullptr;
    QComboBox* VibratoPolyAfterSensCombo = nullptr;

    QPushButton* EndButton = nullptr;
    // "Play": a short middle C on the part's receive channel (disabled for "Off").
    QPushButton* PlayButton = nullptr;

protected:
    // Only the part shown; a part written along by a synchronized edit is not.
    void ShowName(const EditTarget& target, const std::string& bytes) override;
    void ShowIndex(const EditTarget& target, int index) override;

private:
    void BuildUi();
    void ConnectHandlers();
    void OnParamChanged(quorvane::Param param, QComboBox* combo);
    void OnToneMediaChanged(int index);
    void OnToneNumberChanged(int index);
    void OnNameChanged(const QString& text);
    // Runs write(gintPartNo), then, with synchronized editing on, write(p) for
    // every part whose timbre is shown as the same as gintPartNo's (the edited
    // part included, so it is written a second time).
    // All of it is one undo step named `what`.
    void Sync(const QString& what, const std::function<void(int16_t)>& write,
              Burst burst = {});
    void ShowToneName(int media, int number);
    // Empties the name boxes and every list (the Updating flag must be set).
    void ClearControls();
    // The MIDI channel part gintPartNo receives on, when the patch is loaded and it has one.
    std::optional<int> PartChannel() const;

    TimbreSync sync_;
    std::vector<ParamCombo> params_;  // tone media, tone number, then the 24 parameters
    int16_t historyPart_ = 0;  // the part the recorded steps belong to
};

}  // namespace quorvane::ui
