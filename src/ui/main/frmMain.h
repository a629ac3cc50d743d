// The main window: owns the one model of the module (handed over with its ports
// by the composition root, src/app), builds the window and its
// menus, runs the MIDI setup dialog, and loads what the module holds each time
// it is activated, keeping count of the stretches that wait for the module (a
// close during one ends the program once it has unwound). The parts live in
// their own classes: MasterSetupPanel (the "Master Setup" frame), NameLoader
// (the names with their progress), PatchSwitcher (the patch list switching the
// module), BackupMenus (the back-up commands) and ModuleQuestions (the boxes
// shown when the module does not answer or a port fails).
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "device/RequestKind.h"
#include "ui/backup/BackupPrompts.h"
#include "ui/common/EditHistory.h"
#include "ui/common/MainContext.h"
#include "ui/main/MasterSetupPanel.h"
#include "ui/main/PatchSwitcher.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;

namespace quorvane {
class clsU220;
}
namespace quorvane::library {
class Journal;
}
namespace quorvane::midi {
class MidiSystem;
class VirtualU220;
}

namespace quorvane::ui {

class BackupMenus;
class BackupUi;
class QtHost;
class UpDown;
class frmMIDISetupForm;
class ConnectionKeeper;
struct MainParts;
struct PortChoice;
class frmMonitor;
class ModuleQuestions;
class MonitorLog;
class NameLoader;

// How the main window starts; the defaults are what the program uses.
struct frmMainOptions {
    // Runs the setup dialog and returns its result (QDialog::Accepted to go on).
    // Default: shown modally. Tests press its buttons instead.
    std::function<int(frmMIDISetupForm&)> runSetup;
    // The same for File > MIDI Setup... later on (a start-up hook may connect
    // without showing the dialog; the menu always asks). Default: shown modally.
    std::function<int(frmMIDISetupForm&)> runSetupAgain;
    // What the back-up commands ask; empty members show the standard dialogs.
    BackupPrompts backupPrompts;
    // Where the journal of overwritten memories is kept. Empty: in the user's
    // data folder, and only for real ports (the built-in virtual module starts
    // afresh each run). Set: in that folder, whatever the ports (tests).
    QString journalFolder;
};

class frmMain : public QMainWindow, public MainContext {
    Q_OBJECT
public:
    // Takes over the model (ports closed) and what goes with it (made by the
    // composition root, src/app) and builds the window with its lists filled.
    explicit frmMain(MainParts parts, frmMainOptions options = {}, QWidget* parent = nullptr);
    ~frmMain() override;  // destroys the model, which closes both ports

    // Start-up: runs the setup dialog, then centres the window. False when the
    // user cancelled; the caller then ends the program.
    bool Load();

    // Fills the master setup panel from the model and, the first time, loads the
    // names and fills the patch list. Runs when the window is shown and after
    // each modal window it opened has closed. A call while an earlier one is
    // still waiting for the module returns at once.
    void Activate();

    // MainContext
    quorvane::clsU220& U220() override { return *u220_; }
    QLabel* StatusLabel() override { return statusLabel_; }
    QProgressBar* ProgressBar() override { return progressBar_; }
    int SelectedPatchIndex() const override;

    QtHost& Host() { return *host_; }
    frmMIDISetupForm* SetupDialog() const;
    // Watches the ports in use and reopens them when they come back.
    ConnectionKeeper& Connection() { return *keeper_; }
    // Tells the window which ports the model has just opened (a start that
    // connects without the setup dialog calls it too).
    void ConnectionOpened(const PortChoice& c);
    // True while Activate is running (waiting for the module included).
    bool Activating() const { return activating_; }
    // Number of Activate runs that got past the guard.
    int ActivationCount() const { return activations_; }
    // True while a patch change waits for the module; picks made meanwhile only
    // record the newest target.
    bool PatchChanging() const { return switcher_->Changing(); }

    // True while the controls are being filled from the model; the handlers
    // write nothing while it is set.
    bool Updating = false;

    QListWidget* pnameListBox = nullptr;
    QPushButton* cmdEditPatch = nullptr;
    QLabel* lblAbout = nullptr;
    QAction* mnuFileReload = nullptr;     // F5: loads what is missing
    QAction* mnuFileMIDISetup = nullptr;  // the setup dialog again: other ports or device ID
    QAction* mnuFileExit = nullptr;
    QAction* mnuHelpAbout = nullptr;
    QAction* mnuHelpAboutMIDIIO = nullptr;
    QAction* mnuViewMIDIMonitor = nullptr;
    // View > Library, its toolbar button and File > Import into Library...
    class LibraryMenus* libraryMenus_ = nullptr;
    // Every message sent and received since start-up; the MIDI monitor shows it.
    MonitorLog* MIDIMonitorLog = nullptr;
    // The MIDI monitor window once opened (kept), else null.
    frmMonitor* MIDIMonitor() const;
    void mnuViewMIDIMonitor_Click();
    // Back-up commands (File menu; Edit menu and the patch list's context menu).
    QAction* mnuFileBackUp = nullptr;
    QAction* mnuFileRestore = nullptr;
    QAction* mnuEditCopyPatch = nullptr;
    QAction* mnuEditSwapPatch = nullptr;
    QAction* mnuEditPutBack = nullptr;  // what the last Copy Patch overwrote, written back
    BackupUi* Backup() const { return backup_; }
    // File > Back Up Module... to `path` without asking for a name (the command
    // line's --back-up).
    void BackUpModuleTo(const QString& path);

    // Called after a connection was made and before the names load: when an
    // interrupted copy, swap or restore left originals in the journal, asks
    // whether to put them back now, leave them for later (the library then
    // refuses other overwrites) or discard them.
    void OfferUnfinishedWork();
    // The journal the transfers keep for this connection; null when none.
    library::Journal* Journal() const { return journal_.get(); }

    // The setting that turns off the question before a patch change drops
    // unsaved edits of the working patch ("Don't ask again").
    static constexpr const char* kDontAskBeforeDroppingEdits = PatchSwitcher::kDontAskBeforeDroppingEdits;

    // Master setup panel (the controls live in MasterSetupPanel; these point at them).
    QGroupBox* MasterSetupFrame = nullptr;
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

    // Undo and redo of the master setup panel's edits (Edit menu).
    EditHistory* MasterHistory() const;

    static constexpr int kTuneMin = MasterSetupPanel::kTuneMin;
    static constexpr int kTuneMax = MasterSetupPanel::kTuneMax;

    void pnameListBox_Click();
    void cmdEditPatch_Click();
    void mnuFileReload_Click();
    void mnuFileMIDISetup_Click();
    void mnuFileExit_Click();
    void mnuHelpAbout_Click();
    void mnuHelpAboutMIDIIO_Click();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void BuildWindow();
    // One line of news in the status line; empty hides it.
    void ShowStatus(const QString& text);
    // The ports came back: what was read may be stale, read it again.
    void Reconnected();
    void MidiSystemStopped(const QString& text);
    // Another module (or the same anew): forget what was read and load again.
    void StartOver();
    bool Busy() const;
    // After a back-up command wrote memories (their names are read again): the
    // list's names, the master setup, and the patch the module is on.
    void MemoriesChanged(const std::vector<int>& patchesWritten, bool workingWritten);
    void RunModal(QDialog& dialog);
    // Enters / leaves a stretch that may wait for the module. Closing the window
    // in such a stretch ends the program as soon as the outermost one has left.
    void EnterWait();
    void LeaveWait();

    frmMainOptions options_;
    BackupMenus* backupMenus_ = nullptr;
    BackupUi* backup_ = nullptr;  // the menus' BackupUi
    std::unique_ptr<QtHost> host_;
    std::unique_ptr<library::Journal> journal_;  // for the connection in use; null when none
    std::shared_ptr<midi::VirtualU220> virtualModule_;
    std::unique_ptr<midi::MidiSystem> system_;  // read by the keeper (a child) while the window lives
    // Before the model: its callbacks go to these until the model is gone.
    std::unique_ptr<NameLoader> names_;
    std::unique_ptr<ModuleQuestions> questions_;
    std::unique_ptr<quorvane::clsU220> u220_;

    QLabel* statusLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPointer<frmMIDISetupForm> setup_;
    ConnectionKeeper* keeper_ = nullptr;
    QPointer<QDialog> patchEditor_;
    QPointer<frmMonitor> monitor_;
    MasterSetupPanel* masterPanel_ = nullptr;
    PatchSwitcher* switcher_ = nullptr;
    bool activating_ = false;
    bool editorOpening_ = false;  // the patch editor is being built or shown
    bool editorShown_ = false;    // ... and in exec()
    bool editorAgain_ = false;    // Edit clicked after it closed, before exec() returned
    int activations_ = 0;
    int waits_ = 0;
    bool quitRequested_ = false;
};

}  // namespace quorvane::ui
