// The patch editor: edits the module's temporary patch (name, chorus, reverb,
// the three control parameters, six timbre part rows and the rhythm part row).
// Every value shown is read from the model at activation; every pick is written
// straight back through the model, which sends it as one data set.
//
// The window is created once and kept: "Done" only hides it, so the lists are
// filled once and each opening re-reads the values (Activate()).
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "ui/common/EditorDialog.h"
#include "ui/keyboard/KeyRangeTarget.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace quorvane::ui {

class frmTimbre;
struct TimbreSync;

class frmPatch : public EditorDialog, public KeyRangeTarget {
    Q_OBJECT
public:
    // Builds the window and fills every list (reading the timbre and rhythm
    // setup names from the model), showing progress on the main window.
    explicit frmPatch(MainContext& ctx, QWidget* parent = nullptr);

    // Re-reads every value from the model into the controls, with Updating set
    // so nothing is written back. Runs from the event queue each time the window
    // is shown, and again after each child window closes.
    void Activate() override;

    // Restores all seven voice reserve lists to "0".."30" with no selection.
    void ResetVoiceReserveLists();
    // Shortens or lengthens each voice reserve list that has a selection so it
    // offers exactly 0 .. (its own value + the voices nobody else reserves).
    void LimitVoiceReserveLists();

    // ---- common parameters ----
    QLineEdit* PatchNameText = nullptr;
    QLabel* PatchNoLabel = nullptr;
    QComboBox* ChorusTypeCombo = nullptr;
    QComboBox* ChorusOutModeCombo = nullptr;
    QComboBox* ChorusDelayCombo = nullptr;
    QComboBox* ChorusLevelCombo = nullptr;
    QComboBox* ChorusRateCombo = nullptr;
    QComboBox* ChorusDepthCombo = nullptr;
    QComboBox* ChorusFeedbackCombo = nullptr;
    QComboBox* ReverbTypeCombo = nullptr;
    QComboBox* ReverbTimeCombo = nullptr;
    QComboBox* ReverbLevelCombo = nullptr;
    QComboBox* ReverbDelayFeedbackCombo = nullptr;
    QComboBox* Param1Combo = nullptr;
    QComboBox* Param1ParamCombo = nullptr;
    QComboBox* Param2Combo = nullptr;
    QComboBox* Param2ParamCombo = nullptr;
    QComboBox* Param3Combo = nullptr;
    QComboBox* Param3ParamCombo = nullptr;

    // ---- part rows: index = part number 1..6, element 0 unused ----
    std::array<QComboBox*, 7> TimbreNumberCombo{};
    std::array<QComboBox*, 7> VoiceReserveCombo{};
    std::array<QComboBox*, 7> ReceiveChannelCombo{};
    std::array<QComboBox*, 7> KeyRangeLowCombo{};
    std::array<QComboBox*, 7> KeyRangeHiCombo{};
    std::array<QComboBox*, 7> VeloLevelCombo{};
    std::array<QComboBox*, 7> VeloThresholdCombo{};
    std::array<QComboBox*, 7> LevelCombo{};
    std::array<QComboBox*, 7> OutputAssignCombo{};
    std::array<QComboBox*, 7> PanCombo{};
    std::array<QComboBox*, 7> RxVolumeCombo{};
    std::array<QComboBox*, 7> RxPanCombo{};
    std::array<QComboBox*, 7> RxHoldCombo{};
    std::array<QPushButton*, 7> EditTimbreCommand{};
    // "Play": a short middle C on the part's receive channel (disabled for "Off").
    std::array<QPushButton*, 7> PlayCommand{};
    // A strip in the part's key range editor colour at the start of each row.
    std::array<QFrame*, 7> PartColorStrip{};
    QCheckBox* SyncPartCheck = nullptr;
    QPushButton* cmdShowKeyboard = nullptr;

    // ---- rhythm part row ----
    QComboBox* PatchRhythmRhythmSetupCombo = nullptr;
    QComboBox* PatchRhythmVoiceReserveCombo = nullptr;
    QComboBox* PatchRhythmReceiveChannelCombo = nullptr;
    QComboBox* PatchRhythmLevelCombo = nullptr;
    QComboBox* PatchRhythmLevelBoostSwCombo = nullptr;
    QComboBox* PatchRhythmRxVolumeCombo = nullptr;
    QComboBox* PatchRhythmRxHoldCombo = nullptr;
    QPushButton* EditRhythmCommand = nullptr;
    QPushButton* PlayRhythmCommand = nullptr;  // middle C on the rhythm part's channel

    QPushButton* EndCommand = nullptr;

    // The "Edit" menu undoes this window's edits, key range drags included.
    // KeyRangeTarget: the key range editor undoes this window's steps, brackets
    // each drag (every key a drag selects in the key range lists is one undo
    // step together) and selects the keys in this window's key range lists.
    EditHistory& KeyRangeHistory() override { return *history_; }
    void BeginKeyRangeDrag() override;
    void EndKeyRangeDrag() override;
    void SetKeyRange(int p, bool high, int key) override;

    // What the timbre editor opened from here reads for synchronized editing:
    // SyncPartCheck and the part rows' timbre lists.
    TimbreSync TimbreSyncSource() const;

    QSize sizeHint() const override;

protected:
    void ShowName(const EditTarget& target, const std::string& bytes) override;
    void ShowIndex(const EditTarget& target, int index) override;

private:
    void BuildUi();
    void ApplyTooltips();
    void FillCommonLists();
    void FillRhythmRow();
    void FillPartRow(int p);
    void RefreshPartRow(int p);
    void ConnectHandlers();
    void OnPatchNameEdited(const QString& text);
    void OnEditTimbre(int p);
    void OnEditRhythm();
    void OnShowKeyboard();
    // Enables each "Play" whose part receives on a channel.
    void UpdatePlayButtons();
    // Plays middle C on the receive channel of part p (1..6; 0 = the rhythm part).
    void OnPlay(int p);
    // The common lists and the rhythm part row's lists with their members,
    // in refresh order.
    std::vector<std::pair<QComboBox*, quorvane::Param>> CommonLists() const;
    std::vector<std::pair<QComboBox*, quorvane::Param>> RhythmRowLists() const;
    // Row p's lists with their members, in refresh order.
    std::vector<std::pair<QComboBox*, quorvane::Param>> PartLists(int p) const;
    // The seven voice reserve lists: part rows 1 to 6, then the rhythm part.
    std::array<QComboBox*, 7> ReserveLists() const;

    uint64_t dragBurst_ = 0;
    QScrollArea* scroll_ = nullptr;
    std::vector<QLabel*> columnHeadings_;  // above the part rows, left to right
    frmTimbre* timbreEditor_ = nullptr;  // kept between openings
    bool timbreRunning_ = false;  // the timbre editor is in exec()
    int timbrePending_ = 0;       // the part to open it for next, 0 for none
    QSize sizeHintContent_;
    bool limiting_ = false;
};

}  // namespace quorvane::ui
