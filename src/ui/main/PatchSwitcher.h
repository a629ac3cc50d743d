// Switching the module between its 64 patches from the main window's list: a
// pick records the newest wish, one loop sends program changes until the
// module has the newest one (picks made while it waits only move the wish),
// asks before unsaved edits of the working patch are dropped, and keeps track
// of which patch the module is on and what the list and the Edit button show.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

namespace quorvane {
class clsU220;
enum class PatchChangeResult;
}  // namespace quorvane

namespace quorvane::ui {

class BackupUi;
class MasterSetupPanel;

class PatchSwitcher : public QObject {
    Q_OBJECT
public:
    // The list, button, status line, panel and back-up commands are the main
    // window's (`window` parents the question and this object); so are the
    // flags and the wait bookkeeping.
    PatchSwitcher(quorvane::clsU220& u220, QWidget* window, QListWidget* list, QPushButton* editButton, QLabel* status,
                  MasterSetupPanel* panel, BackupUi* backup, bool& updating, const bool& quitRequested,
                  std::function<void()> enterWait, std::function<void()> leaveWait,
                  std::function<void(const std::function<void()>&)> runBackupCommand);

    // The setting that turns off the question before a patch change drops
    // unsaved edits of the working patch ("Don't ask again").
    static constexpr const char* kDontAskBeforeDroppingEdits = "main/dontAskBeforeDroppingEdits";

    // The list's current row changed.
    void pnameListBox_Click();
    // Sends program changes until the module has been sent the newest pick.
    void RunPatchChanges();
    // Reads which patch the module is on (by its working patch's name) and puts
    // the list and the button there.
    void ShowModulePatch();
    // Puts the list and the button on a patch without sending anything (0: none).
    void ShowPatch(int patchNo);

    // True while a patch change waits for the module.
    bool Changing() const { return changeRuns_ > 0; }
    // Tells whether a back-up command (or an audition) is using the module: a
    // pick meanwhile waits for it to end (CommandEnded), so that no program
    // change lands between its writes and its reads.
    void SetCommandRunning(std::function<bool()> running) { commandRunning_ = std::move(running); }
    void CommandEnded();
    // A newer pick waiting behind a running patch change goes out now.
    void SendWaitingPick();
    // Puts the list on patch 1 after the names have loaded: the module is
    // switched there without the question about unsaved edits.
    void PickStartupPatch();
    // The module may be on another patch than the one known (a reconnect, F5):
    // ShowModulePatchIfStale reads it again once no patch change is running.
    void ModuleStale() { moduleStale_ = true; }
    void ShowModulePatchIfStale();
    // Another module: nothing is known about where it stands.
    void Forget();
    // After a back-up command wrote memories: the master setup (when not held)
    // and the patch the module is on. `unread`: some names written are still
    // missing; then nothing more is asked now.
    void MemoriesWritten(const std::vector<int>& patchesWritten, bool workingWritten, bool unread);
    // One line of news in the status line (replacing a patch change message);
    // empty hides it.
    void ShowStatus(const QString& text);
    // The patch the module is on (1..64), 0 when not known; after an audition
    // the patch it played in, until the module is switched.
    int CurrentModulePatch() { return auditionedIn_ > 0 ? auditionedIn_ : ModulePatch(); }
    // A library sound was auditioned: the working area plays no memory's
    // patch, so the list shows none and a pick of any patch (`patchNo`, the
    // one the audition played in, included) switches the module back; `text`
    // stays in the status line until then. Empty `text`: the sound was stored;
    // the line is cleared if it still says so.
    void Auditioned(const QString& text, int patchNo);

private:
    void PatchChangeDone(int patchNo, PatchChangeResult result);
    // Before a pick replaces edits of the working patch that were not saved:
    // Save Patch As..., Switch anyway or Cancel. True to go on with the change.
    bool MayDropWorkingEdits(int patchNo);
    // After the event that picked has finished: the highlighted row is the
    // current one (a mouse press selects its row only after a nested wait).
    void SyncListSelection();
    // The patch the module is on: the last one confirmed, else the one whose
    // memory name the working patch carries (0 when that is not clear).
    int ModulePatch();
    void ShowPatchStatus(const QString& text);

    QListWidget* pnameListBox;
    QPushButton* cmdEditPatch;
    QLabel* statusLabel_;
    MasterSetupPanel* masterPanel_;
    BackupUi* backup_;
    bool& Updating;
    const bool& quitRequested_;
    std::function<void()> EnterWait;
    std::function<void()> LeaveWait;
    std::function<void(const std::function<void()>&)> RunBackupCommand;
    QWidget* window_;
    quorvane::clsU220* u220_;
    int wantedPatch_ = 0;   // the newest pick, 1..64 (0 none)
    int modulePatch_ = 0;   // the patch the module is known to be on (0 unknown)
    int changeRuns_ = 0;    // RunPatchChanges calls running
    std::function<bool()> commandRunning_;
    bool pickAfterCommand_ = false;  // a pick waits for a command to end
    bool startupPick_ = false;   // the list is put on patch 1 after the names load
    bool moduleStale_ = false;   // read the master setup and the module's patch again
    bool patchStatus_ = false;  // the status line holds a patch change message
    bool auditionStatus_ = false;  // ... an audition's "not stored"
    int auditionedIn_ = 0;  // the patch the last audition played in, until a switch
    bool selectionSync_ = false; // a SyncListSelection is posted
};

}  // namespace quorvane::ui
