#include "ui/main/BackupMenus.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>

#include "ui/backup/BackupUi.h"

namespace quorvane::ui {

BackupMenus::BackupMenus(QWidget* window, quorvane::clsU220& u220, QtHost& host, const BackupPrompts& given,
                         const bool& activating, const bool& quitRequested, std::function<void()> enterWait,
                         std::function<void()> leaveWait)
    : QObject(window), activating_(activating), quitRequested_(quitRequested),
      EnterWait(std::move(enterWait)), LeaveWait(std::move(leaveWait)), given_(given), window_(window), u220_(&u220),
      host_(&host) {}

void BackupMenus::BuildBackupMenus(QMenu* file, QMenu* edit) {
    BackupPrompts prompts = BackupPrompts::Dialogs();
    const BackupPrompts& given = given_;
    if (given.openFile) prompts.openFile = given.openFile;
    if (given.saveFile) prompts.saveFile = given.saveFile;
    if (given.ask) prompts.ask = given.ask;
    if (given.number) prompts.number = given.number;
    if (given.tell) prompts.tell = given.tell;
    backup_ = new BackupUi(window_, *u220_, *host_, prompts);

    mnuFileBackUp = file->addAction(QStringLiteral("&Back Up Module..."));
    mnuFileBackUp->setObjectName(QStringLiteral("mnuFileBackUp"));
    mnuFileRestore = file->addAction(QStringLiteral("&Restore from File..."));
    mnuFileRestore->setObjectName(QStringLiteral("mnuFileRestore"));
    file->addSeparator();
    mnuEditCopyPatch = edit->addAction(QStringLiteral("&Copy Patch to..."));
    mnuEditCopyPatch->setObjectName(QStringLiteral("mnuEditCopyPatch"));
    mnuEditSwapPatch = edit->addAction(QStringLiteral("&Swap with..."));
    mnuEditSwapPatch->setObjectName(QStringLiteral("mnuEditSwapPatch"));
    mnuEditPutBack = edit->addAction(QStringLiteral("Put &Back"));
    mnuEditPutBack->setObjectName(QStringLiteral("mnuEditPutBack"));
    mnuEditPutBack->setStatusTip(QStringLiteral("Writes back what the last Copy Patch overwrote"));
    connect(mnuEditPutBack, &QAction::triggered, this, [this] { RunBackupCommand([this] { backup_->PutBack(); }); });
    connect(mnuFileBackUp, &QAction::triggered, this, [this] { RunBackupCommand([this] { backup_->BackUpModule(); }); });
    connect(mnuFileRestore, &QAction::triggered, this, [this] { RunBackupCommand([this] { backup_->RestoreFromFile(); }); });
    connect(mnuEditCopyPatch, &QAction::triggered, this, [this] {
        const int row = pnameListBox->currentRow();
        if (row >= 0) RunBackupCommand([this, row] { backup_->CopyPatchTo(row + 1); });
    });
    connect(mnuEditSwapPatch, &QAction::triggered, this, [this] {
        const int row = pnameListBox->currentRow();
        if (row >= 0) RunBackupCommand([this, row] { backup_->SwapPatchWith(row + 1); });
    });
}

void BackupMenus::AddToList(QListWidget* list) {
    pnameListBox = list;
    pnameListBox->addAction(mnuEditCopyPatch);
    pnameListBox->addAction(mnuEditSwapPatch);
}

// While the names load or a transfer runs these commands would do nothing:
// they show greyed out rather than take a click and ignore it.
void BackupMenus::UpdateBackupActions() {
    const bool free = !activating_ && !backup_->Busy() && !quitRequested_;
    for (QAction* a : {mnuFileBackUp, mnuFileRestore, mnuEditCopyPatch, mnuEditSwapPatch}) a->setEnabled(free);
    const QString putBack = backup_->PutBackWhat();
    mnuEditPutBack->setText(putBack.isEmpty() ? QStringLiteral("Put &Back") : QStringLiteral("Put &Back %1").arg(putBack));
    mnuEditPutBack->setEnabled(free && !putBack.isEmpty());
}

// A back-up command waits for the module like a load: not while another one
// runs, and a close meanwhile ends the program once it is done.
void BackupMenus::RunBackupCommand(const std::function<void()>& command) {
    if (activating_ || backup_->Busy() || quitRequested_) return;
    EnterWait();
    ++commandRuns_;
    command();
    --commandRuns_;
    UpdateBackupActions();
    LeaveWait();
    if (CommandEnded) CommandEnded();
}

}  // namespace quorvane::ui
