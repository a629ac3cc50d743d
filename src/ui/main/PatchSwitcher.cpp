#include "ui/main/PatchSwitcher.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "ui/main/Connection.h"
#include "ui/main/MasterSetupPanel.h"
#include "device/NameCodec.h"
#include "device/clsU220.h"
#include "ui/backup/BackupUi.h"
#include "ui/common/EditorControls.h"
#include "ui/setup/AppSettings.h"

namespace quorvane::ui {

PatchSwitcher::PatchSwitcher(quorvane::clsU220& u220, QWidget* window, QListWidget* list, QPushButton* editButton,
                             QLabel* status, MasterSetupPanel* panel, BackupUi* backup, bool& updating,
                             const bool& quitRequested, std::function<void()> enterWait,
                             std::function<void()> leaveWait,
                             std::function<void(const std::function<void()>&)> runBackupCommand)
    : QObject(window), pnameListBox(list), cmdEditPatch(editButton), statusLabel_(status), masterPanel_(panel),
      backup_(backup), Updating(updating), quitRequested_(quitRequested), EnterWait(std::move(enterWait)),
      LeaveWait(std::move(leaveWait)), RunBackupCommand(std::move(runBackupCommand)), window_(window), u220_(&u220) {}

void PatchSwitcher::CommandEnded() {
    if (!pickAfterCommand_) return;
    pickAfterCommand_ = false;
    QTimer::singleShot(0, this, [this] {
        if (changeRuns_ == 0 && !(commandRunning_ && commandRunning_()) && wantedPatch_ > 0) RunPatchChanges();
    });
}

void PatchSwitcher::SendWaitingPick() {
    if (changeRuns_ > 0) RunPatchChanges();
}

void PatchSwitcher::PickStartupPatch() {
    startupPick_ = true;
    pnameListBox->setCurrentRow(0);
    startupPick_ = false;
}

void PatchSwitcher::ShowModulePatchIfStale() {
    if (!moduleStale_ || changeRuns_ > 0) return;
    moduleStale_ = false;
    ShowModulePatch();
}

void PatchSwitcher::Forget() {
    wantedPatch_ = modulePatch_ = auditionedIn_ = 0;
    moduleStale_ = false;
}

void PatchSwitcher::MemoriesWritten(const std::vector<int>& patchesWritten, bool workingWritten, bool unread) {
    // The module's working patch came from the file, or the memory it was
    // loaded from holds something else now: find where it stands.
    auto written = [&](int n) {
        return n > 0 && std::find(patchesWritten.begin(), patchesWritten.end(), n) != patchesWritten.end();
    };
    const bool moved = workingWritten || written(u220_->LastPatchSent()) || written(modulePatch_) || written(wantedPatch_);
    if (unread || quitRequested_ || (!u220_->MasterSetupLoaded() && !masterPanel_->ShowMasterSetup())) {
        // Cancelled or not answered: nothing more is asked now; F5 reads
        // the names, the master setup and where the module stands.
        if (unread && !quitRequested_) ShowStatus(texts::NamesNotReadAgain());
        if (moved) {
            u220_->ForgetPatchSent();
            moduleStale_ = true;
        }
        if (wantedPatch_ == 0 || u220_->MemoryPatchNameLoaded(wantedPatch_)) ShowPatch(wantedPatch_);
    } else if (moved) {
        ShowModulePatch();
    } else {
        ShowPatch(wantedPatch_);  // the button names the memory as it is now
    }
}

void PatchSwitcher::ShowStatus(const QString& text) {
    patchStatus_ = auditionStatus_ = false;  // a patch change message, if one was there, has been replaced
    statusLabel_->setText(text);
    statusLabel_->setVisible(!text.isEmpty());
}

void PatchSwitcher::Auditioned(const QString& text, int patchNo) {
    if (text.isEmpty()) {
        if (auditionStatus_) ShowStatus(QString());
        auditionStatus_ = false;
        return;
    }
    // The next program change goes out whichever patch it is for.
    u220_->ForgetPatchSent();
    // A patch picked while it played: the module goes there when it has ended.
    if (pickAfterCommand_ && wantedPatch_ > 0) {
        modulePatch_ = 0;
        auditionedIn_ = patchNo;
        return;
    }
    modulePatch_ = wantedPatch_ = 0;
    auditionedIn_ = patchNo;
    ShowPatch(0);
    ShowPatchStatus(text);
    auditionStatus_ = true;
}

void PatchSwitcher::ShowModulePatch() {
    // A program change to any patch goes out again, the one it was on included.
    u220_->ForgetPatchSent();
    modulePatch_ = auditionedIn_ = 0;
    const int at = ModulePatch();
    wantedPatch_ = at;
    ShowPatch(at);
}

void PatchSwitcher::pnameListBox_Click() {
    if (Updating) return;
    const int row = pnameListBox->currentRow();
    if (row < 0 || row >= 64) return;
    // Qt highlights a clicked row once the press has been handled, which a wait
    // below (a question, a patch change) may hold up while later picks come:
    // put it right once this handler has returned.
    const auto syncAfterwards = [this] {
        if (selectionSync_) return;
        selectionSync_ = true;
        QTimer::singleShot(0, this, [this] { SyncListSelection(); });
    };
    if (changeRuns_ == 0 && !startupPick_ && !MayDropWorkingEdits(row + 1)) {
        syncAfterwards();
        return;
    }
    wantedPatch_ = row + 1;
    cmdEditPatch->setText(QStringLiteral("Edit  ") +
                          QString::fromStdString(NameBytesToUtf8(u220_->MemoryPatchName(static_cast<int16_t>(row + 1)))));
    // While a patch change waits for the module, a pick (a key, a drag, a click)
    // only records the target: the running change sends one program change for
    // the newest target when its wait ends.
    if (changeRuns_ > 0) return;
    // So does a pick while a command uses the module: it goes out when that ends.
    if (commandRunning_ && commandRunning_()) {
        pickAfterCommand_ = true;
        syncAfterwards();
        return;
    }
    // A mouse press makes the row current first and selects it only once this
    // returns: highlight it now, or the old patch stays highlighted while the
    // module switches.
    pnameListBox->selectionModel()->select(pnameListBox->model()->index(row, 0),
                                           QItemSelectionModel::ClearAndSelect);
    RunPatchChanges();
    syncAfterwards();
}

void PatchSwitcher::SyncListSelection() {
    selectionSync_ = false;
    const int row = pnameListBox->currentRow();
    QItemSelectionModel* selection = pnameListBox->selectionModel();
    if (row < 0) selection->clearSelection();
    else if (selection->selectedRows() != QModelIndexList{pnameListBox->model()->index(row, 0)})
        selection->select(pnameListBox->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
}

bool PatchSwitcher::MayDropWorkingEdits(int patchNo) {
    if (!u220_->WorkingAreaEdited() || patchNo == wantedPatch_) return true;
    const auto settings = AppSettings();
    if (settings->value(QLatin1String(kDontAskBeforeDroppingEdits), false).toBool()) return true;
    // Asked with the list still on the patch being edited.
    const int current = wantedPatch_;
    ShowPatch(current);
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                    QStringLiteral("The working patch has edits that are not saved. Switching to P-%1 %2 replaces "
                                   "them: the U-220 keeps edits only until the next patch change.")
                        .arg(patchNo, 2, 10, QLatin1Char('0'))
                        .arg(QString::fromStdString(NameBytesToUtf8(u220_->MemoryPatchName(static_cast<int16_t>(patchNo)))).trimmed()),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, window_);
    box.button(QMessageBox::Save)->setText(QStringLiteral("Save Patch As..."));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("Switch anyway"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    auto* dontAsk = new QCheckBox(QStringLiteral("Don't ask again"), &box);
    box.setCheckBox(dontAsk);
    EnterWait();
    const int answer = box.exec();
    QApplication::restoreOverrideCursor();
    bool go = answer == QMessageBox::Discard;
    if (answer == QMessageBox::Save && !quitRequested_ && !backup_->Busy()) {
        // Saved as a file: then the switch goes ahead; cancelled or failed, it does not.
        RunBackupCommand([&] { go = backup_->SaveWorkingPatchAs(); });
    }
    LeaveWait();
    if (go && dontAsk->isChecked()) settings->setValue(QLatin1String(kDontAskBeforeDroppingEdits), true);
    if (quitRequested_) return false;
    if (go) ShowPatch(patchNo);
    return go;
}

void PatchSwitcher::RunPatchChanges() {
    ++changeRuns_;
    EnterWait();
    {
        WaitCursor hourglass;
        // The model knows which program change went out last, whichever call
        // sent it: a change made from a nested call counts too.
        while (!quitRequested_ && wantedPatch_ > 0 && wantedPatch_ != u220_->LastPatchSent()) {
            const int n = wantedPatch_;
            const PatchChangeResult result = u220_->PatchChange(static_cast<int16_t>(n));
            PatchChangeDone(n, result);
            if (result == PatchChangeResult::RxChannelOff) break;
            // Not sent (no answer before the program change, or refused): no
            // second try unless the user has picked another patch meanwhile.
            if (result != PatchChangeResult::Done && result != PatchChangeResult::OtherPatch && wantedPatch_ == n) break;
        }
    }
    --changeRuns_;
    LeaveWait();
}

void PatchSwitcher::PatchChangeDone(int patchNo, PatchChangeResult result) {
    const QString number = QStringLiteral("P-%1").arg(patchNo, 2, 10, QLatin1Char('0'));
    // A program change for a newer pick has gone out since: what this one found
    // is history.
    if (result != PatchChangeResult::RxChannelOff && u220_->LastPatchSent() != patchNo && wantedPatch_ != patchNo) return;
    switch (result) {
        case PatchChangeResult::Done:
            modulePatch_ = patchNo;
            auditionedIn_ = 0;
            if (patchStatus_) {
                patchStatus_ = auditionStatus_ = false;
                statusLabel_->setText(QString());
                statusLabel_->setVisible(false);
            }
            break;
        case PatchChangeResult::OtherPatch:
            modulePatch_ = 0;
            ShowPatchStatus(QStringLiteral("The module did not switch to %1: its patch is now \"%2\" (it switched "
                                           "elsewhere or not at all). Its Patch Change setting, %3 in Master Setup, "
                                           "decides which patch a program change selects.")
                                .arg(number,
                                     QString::fromStdString(NameBytesToUtf8(u220_->PatchChangeWorkingName())).trimmed(),
                                     masterPanel_->PaChCombo->currentText()));
            break;
        case PatchChangeResult::RxChannelOff: {
            // Nothing was sent: the list goes back to where the module is.
            const int at = ModulePatch();
            wantedPatch_ = at;
            ShowPatch(at);
            ShowPatchStatus(at > 0 ? QStringLiteral("The module ignores program changes while its Rx Control Ch is "
                                                    "Off: it stays on P-%1.")
                                         .arg(at, 2, 10, QLatin1Char('0'))
                                   : QStringLiteral("The module ignores program changes while its Rx Control Ch is "
                                                    "Off: it stays on its patch."));
            break;
        }
        case PatchChangeResult::NoAnswer:
            modulePatch_ = 0;
            ShowPatchStatus(QStringLiteral("The module did not confirm the change to %1.").arg(number));
            break;
        case PatchChangeResult::Refused: break;
    }
}

void PatchSwitcher::ShowPatch(int patchNo) {
    Updating = true;
    pnameListBox->setCurrentRow(patchNo - 1);  // -1: no selection
    if (patchNo <= 0) pnameListBox->selectionModel()->clearSelection();
    Updating = false;
    // On no memory's patch: the button names what the working area holds.
    QString name;
    if (patchNo > 0) name = QString::fromStdString(NameBytesToUtf8(u220_->MemoryPatchName(static_cast<int16_t>(patchNo))));
    else if (u220_->PatchDataLoaded()) name = QString::fromStdString(NameBytesToUtf8(u220_->PatchCommonPatchName()));
    cmdEditPatch->setText(name.isEmpty() ? QStringLiteral("Edit Patch") : QStringLiteral("Edit  ") + name);
}

int PatchSwitcher::ModulePatch() {
    if (modulePatch_ > 0) return modulePatch_;
    const std::string working = u220_->PatchCommonPatchName();
    if (!u220_->PatchDataLoaded()) return 0;
    int found = 0;
    for (int n = 1; n <= 64; ++n) {
        if (!u220_->MemoryPatchNameLoaded(n) || u220_->MemoryPatchName(static_cast<int16_t>(n)) != working) continue;
        if (found) return 0;  // two patches of that name
        found = n;
    }
    return modulePatch_ = found;
}

void PatchSwitcher::ShowPatchStatus(const QString& text) {
    patchStatus_ = true;
    auditionStatus_ = false;
    statusLabel_->setText(text);
    statusLabel_->setVisible(true);
}

}  // namespace quorvane::ui
