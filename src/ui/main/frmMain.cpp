#include "ui/main/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include "ui/main/BackupMenus.h"
#include "ui/main/Connection.h"
#include "ui/main/MasterSetupPanel.h"
#include "ui/main/ModuleQuestions.h"
#include "ui/main/NameLoader.h"
#include "ui/main/PatchSwitcher.h"
#include "ui/main/UpDown.h"
#include "ui/main/WindowPlacement.h"
#include "device/clsU220.h"
#include "library/Journal.h"
#include "ui/main/MainParts.h"
#include "emulator/VirtualU220.h"
#include "ports/MidiSystem.h"
#include "ui/about/frmAbout.h"
#include "ui/backup/BackupUi.h"
#include "ui/common/EditorControls.h"
#include "ui/common/QtHost.h"
#include "ui/monitor/MonitorLog.h"
#include "ui/monitor/frmMonitor.h"
#include "ui/patch/frmPatch.h"
#include "ui/setup/frmMIDISetupForm.h"

namespace quorvane::ui {

frmMain::frmMain(MainParts parts, frmMainOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      host_(std::move(parts.host)),
      virtualModule_(std::move(parts.virtualModule)),
      system_(std::move(parts.system)),
      u220_(std::move(parts.model)) {
    // A child: destroyed after the model, which reports to it until then.
    MIDIMonitorLog = new MonitorLog(this);
    MIDIMonitorLog->attach(*u220_);

    u220_->OnNotResponding = [this](RequestKind what) { return questions_->AskRetry(what); };
    u220_->OnPortError = [this](const std::string& text) { questions_->ShowPortError(text); };

    BuildWindow();
    switcher_ = new PatchSwitcher(
        *u220_, this, pnameListBox, cmdEditPatch, statusLabel_, masterPanel_, backup_, Updating, quitRequested_,
        [this] { EnterWait(); }, [this] { LeaveWait(); },
        [this](const std::function<void()>& command) { backupMenus_->RunBackupCommand(command); });
    switcher_->SetCommandRunning([this] { return backupMenus_->CommandRunning(); });
    backupMenus_->CommandEnded = [this] { switcher_->CommandEnded(); };
    names_ = std::make_unique<NameLoader>(*u220_, pnameListBox, statusLabel_, progressBar_, Updating, quitRequested_,
                                          activating_, [this] { switcher_->PickStartupPatch(); },
                                          [this](const QString& text) { ShowStatus(text); });
    masterPanel_->FillMasterSetupLists();

    WindowPlacement::Install();  // this window and the editors open where they were

    keeper_ = parts.keeper.release();
    keeper_->setParent(this);
    connect(keeper_, &ConnectionKeeper::news, this, [this](const QString& text) { ShowStatus(text); });
    connect(keeper_, &ConnectionKeeper::reconnected, this, [this] { Reconnected(); });
    connect(keeper_, &ConnectionKeeper::midiSystemStopped, this, [this](const QString& text) { MidiSystemStopped(text); });
    questions_ = std::make_unique<ModuleQuestions>(this, *u220_, *keeper_, statusLabel_, quitRequested_, setup_);
}

frmMain::~frmMain() {
    // The windows opened from here hold references to the model: they go first.
    delete patchEditor_;
    delete setup_;
    // Members then destroy the model (closing both ports) before the host.
}

void frmMain::BackUpModuleTo(const QString& path) {
    backupMenus_->RunBackupCommand([this, path] { backup_->BackUpModuleTo(path); });
}

void frmMain::OfferUnfinishedWork() {
    if (!journal_ || !journal_->Pending() || quitRequested_) return;
    const BackupPrompts& prompts = backup_->Prompts();
    const QString title = QStringLiteral("Interrupted Operation");
    const library::JournalState s = journal_->Load();
    const QString what = QString::fromStdString(journal_->PendingJournal());
    const bool usable = s.error.empty() && s.deviceId == u220_->DeviceID();
    QMessageBox::StandardButton answer;
    if (usable) {
        answer = prompts.ask(this, title,
                             what + QStringLiteral("\n\nPut the originals back now?\n\nYes puts them back, verified. No "
                                                   "leaves them for later: until then copies, swaps and restores are "
                                                   "refused. Discard forgets them."),
                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Discard);
    } else {
        // Another module's journal, or one that cannot be read: it cannot be
        // put back here, only forgotten (or left for the module it belongs to).
        const QString why = s.error.empty()
                                ? QStringLiteral("It was made for the U-220 with device ID %1; this one has device ID %2, so it cannot be put back here.")
                                      .arg(s.deviceId + 1)
                                      .arg(u220_->DeviceID() + 1)
                                : QStringLiteral("It cannot be read, so it cannot be put back.");
        answer = prompts.ask(this, title,
                             what + QStringLiteral("\n\n") + why +
                                 QStringLiteral("\n\nDiscard it? Until it is discarded (or put back on its own U-220) "
                                                "copies, swaps and restores are refused."),
                             QMessageBox::Discard | QMessageBox::Cancel);
    }
    if (answer == QMessageBox::Yes && usable) {
        backupMenus_->RunBackupCommand([this] { backup_->RecoverJournal(); });
    } else if (answer == QMessageBox::Discard) {
        if (prompts.ask(this, title,
                        QStringLiteral("Discard the journal? The originals will not be put back."),
                        QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
            return;
        std::string error;
        if (!journal_->Discard(error))
            prompts.tell(this, title, QStringLiteral("The journal could not be discarded: %1").arg(QString::fromStdString(error)), true);
    }
}

void frmMain::MemoriesChanged(const std::vector<int>& patchesWritten, bool workingWritten) {
    if (quitRequested_) return;
    EnterWait();
    {
        WaitCursor hourglass;
        const bool allRead = names_->ShowNamesReadAgain();
        switcher_->MemoriesWritten(patchesWritten, workingWritten, !allRead);
    }
    LeaveWait();
}

bool frmMain::Load() {
    if (!setup_) {
        setup_ = new frmMIDISetupForm(*u220_, this);
        BackupUi::AddOpenBackupButton(*setup_, virtualModule_, backup_->Prompts());
    }
    const int result = options_.runSetup ? options_.runSetup(*setup_) : setup_->exec();
    if (result != QDialog::Accepted) return false;
    ConnectionOpened(setup_->Chosen());
    OfferUnfinishedWork();

    adjustSize();
    if (QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    names_->ResetCounts();
    return true;
}

int frmMain::SelectedPatchIndex() const { return pnameListBox->currentRow(); }

frmMIDISetupForm* frmMain::SetupDialog() const { return setup_.data(); }

void frmMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    // After the show has finished: the loading waits must not run inside show().
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) Activate();
    });
}

void frmMain::Activate() {
    // A second activation while the first waits for the module would add the
    // list entries again and send requests of its own; the first one finishes
    // the job.
    if (activating_ || quitRequested_) return;
    activating_ = true;
    ++activations_;
    backupMenus_->UpdateBackupActions();
    EnterWait();
    names_->SyncNameProgress();
    // Neither another load nor a switch of ports while this one waits.
    mnuFileReload->setEnabled(false);
    mnuFileMIDISetup->setEnabled(false);
    bool ok = false;
    {
        WaitCursor hourglass;
        ok = masterPanel_->ShowMasterSetup();
        if (ok && !quitRequested_) ok = names_->LoadPatchList();
        // After a reconnect or F5: the patch the module is on now.
        if (ok && !quitRequested_) switcher_->ShowModulePatchIfStale();
        if (ok && !quitRequested_) ok = names_->LoadOtherNames();
        if (ok && !quitRequested_) cmdEditPatch->setVisible(true);
    }
    if (!quitRequested_) names_->ShowLoadOutcome(ok);
    mnuFileReload->setEnabled(true);
    mnuFileMIDISetup->setEnabled(true);
    activating_ = false;
    backupMenus_->UpdateBackupActions();
    LeaveWait();
}

void frmMain::ShowStatus(const QString& text) { switcher_->ShowStatus(text); }

void frmMain::ConnectionOpened(const PortChoice& c) {
    PortChoice now = c;
    now.deviceId = u220_->DeviceID();
    keeper_->setConnection(now);
    setWindowTitle(MainWindowTitle(now));
    // The journal belongs to the module behind real ports: the built-in virtual
    // module starts afresh each run, so its overwritten memories are not kept.
    if (!options_.journalFolder.isEmpty())
        journal_ = std::make_unique<library::Journal>(options_.journalFolder.toStdString());
    else if (now.real())
        journal_ = std::make_unique<library::Journal>();
    else
        journal_.reset();
    backup_->SetJournal(journal_.get());
}

bool frmMain::Busy() const { return activating_ || waits_ > 0 || host_->activeWaits() > 0; }

void frmMain::Reconnected() {
    // A module that was away may have been switched off or restarted: what was
    // read from its temporary areas is read again when next needed.
    if (!u220_->RequestOpen()) u220_->InvalidateAll();
    // Its master setup and its patch may be others now (a module switched off
    // and on starts on its own patch): read again, with the names still missing.
    u220_->ForgetMasterSetup();
    switcher_->ModuleStale();
    if (!Busy() && isVisible()) Activate();
}

void frmMain::MidiSystemStopped(const QString& text) {
    ShowStatus(text);
    // Offer the setup dialog, unless an editor or a wait is in the way: the
    // status line says it all then, and the File menu has the dialog.
    if (Busy() || QApplication::activeModalWidget() || !isVisible()) return;
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::Close, this);
    QPushButton* setup = box.addButton(QStringLiteral("&MIDI Setup..."), QMessageBox::AcceptRole);
    box.setDefaultButton(setup);
    box.exec();
    QApplication::restoreOverrideCursor();
    if (box.clickedButton() == setup) mnuFileMIDISetup_Click();
}

void frmMain::StartOver() {
    // The kept patch editor lists the old module's names: built anew when next opened.
    if (patchEditor_ && !patchEditor_->isVisible() && !editorOpening_) delete patchEditor_;
    u220_->ForgetModule();
    // Which patch the module is on is not known on the new connection.
    switcher_->Forget();
    backup_->ForgetPutBack();  // those bytes belong to the other module
    Updating = true;
    pnameListBox->clear();
    Updating = false;
    cmdEditPatch->setVisible(false);
    cmdEditPatch->setText(QStringLiteral("Edit Patch"));
    masterPanel_->FillMasterSetupLists();
    ShowStatus(QString());
    Activate();
}

void frmMain::mnuFileMIDISetup_Click() {
    // Ports are not switched under a wait (a load, a patch change, an editor):
    // the menu is reachable while names load.
    if (Busy()) {
        ShowStatus(QStringLiteral("MIDI Setup is available once loading has ended (or been cancelled)."));
        return;
    }
    const PortChoice before = [this] {
        PortChoice c = keeper_->connection();
        c.deviceId = u220_->DeviceID();
        return c;
    }();
    if (!setup_) setup_ = new frmMIDISetupForm(*u220_, this);
    setup_->ShowChoice(before);  // lists the ports there are now
    setup_->setResult(QDialog::Rejected);  // not the last run's Ok
    EnterWait();
    const int result = options_.runSetupAgain ? options_.runSetupAgain(*setup_) : setup_->exec();
    LeaveWait();
    if (quitRequested_) return;
    if (result == QDialog::Accepted) {
        ConnectionOpened(setup_->Chosen());
        OfferUnfinishedWork();
        StartOver();
        return;
    }
    // Cancelled: back to the ports and device ID in use before, in case an Ok
    // that found no module had opened others.
    if (setup_->PortsOpened()) {
        QString error;
        if (!OpenChoice(*u220_, before, &error) && !error.isEmpty()) ShowStatus(error);
        keeper_->setConnection(before);
    }
    u220_->DeviceID(static_cast<int16_t>(before.deviceId));
}

void frmMain::mnuFileReload_Click() {
    // Reads the master setup and the module's patch again, and loads the names
    // still missing (a stopped load goes on where it stopped). Names already
    // held are not asked again: the commands that write memories read theirs.
    if (activating_) return;
    ShowStatus(QString());
    if (!u220_->RequestOpen()) u220_->InvalidateAll();
    u220_->ForgetMasterSetup();
    switcher_->ModuleStale();
    Activate();
}

void frmMain::pnameListBox_Click() { switcher_->pnameListBox_Click(); }

void frmMain::RunModal(QDialog& dialog) {
    EnterWait();
    dialog.exec();
    LeaveWait();
    // Back in front: show what the module holds now.
    Activate();
}

void frmMain::cmdEditPatch_Click() {
    // Building the editor lets events run (its progress shows here), while
    // this window still takes clicks: the second click of a double click must
    // not build or open a second editor.
    if (editorOpening_) {
        // The editor closed while its opening still waits for the module stays
        // in exec() until that wait ends: open it again then, rather than lose
        // the click.
        if (patchEditor_ && editorShown_ && !patchEditor_->isVisible()) editorAgain_ = true;
        return;
    }
    editorOpening_ = true;
    setCursor(Qt::WaitCursor);
    // A newer pick waiting behind a running patch change goes out now, so that
    // the editor's reads (queued behind it) get the patch the list shows.
    switcher_->SendWaitingPick();
    // Created on first use and kept, so its lists are filled once.
    if (!patchEditor_) {
        auto* editor = new frmPatch(*this, this);
        patchEditor_ = editor;
        backup_->AddPatchFileButtons(*editor, editor->EndCommand, [editor] { editor->Activate(); });
    }
    do {
        editorAgain_ = false;
        editorShown_ = true;
        RunModal(*patchEditor_);
        editorShown_ = false;
    } while (editorAgain_ && isVisible() && !quitRequested_);
    unsetCursor();
    editorOpening_ = false;
}

void frmMain::mnuHelpAbout_Click() {
    frmAbout box(QString::fromStdString(system_->aboutText()), this);
    RunModal(box);
}

void frmMain::mnuHelpAboutMIDIIO_Click() {
    QMessageBox::about(this, QStringLiteral("About MIDI I/O Control"), QString::fromStdString(system_->aboutText()));
    Activate();
}

void frmMain::mnuFileExit_Click() { close(); }

void frmMain::closeEvent(QCloseEvent* e) {
    if (waits_ > 0) {
        // Something is waiting for the module further down the stack: let it
        // unwind first; the program ends as soon as it has (LeaveWait).
        quitRequested_ = true;
        // A transfer ends at once, as Cancel ends it.
        backup_->Abort();
        hide();
        e->ignore();
        return;
    }
    QMainWindow::closeEvent(e);
}

void frmMain::EnterWait() { ++waits_; }

void frmMain::LeaveWait() {
    if (--waits_ == 0 && quitRequested_)
        QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
}

// Non-modal and kept: it stays open, and keeps showing what goes over the wire,
// while the editors are open (they take the input while they are shown).
void frmMain::mnuViewMIDIMonitor_Click() {
    if (!monitor_) {
        monitor_ = new frmMonitor(*MIDIMonitorLog, this);
        monitor_->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    monitor_->show();
    monitor_->raise();
    monitor_->activateWindow();
}

frmMonitor* frmMain::MIDIMonitor() const { return monitor_; }

EditHistory* frmMain::MasterHistory() const { return masterPanel_->History(); }

}  // namespace quorvane::ui
