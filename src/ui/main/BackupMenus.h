// The main window's back-up commands in its menus: File > Back Up Module... and
// Restore from File..., Edit > Copy Patch to..., Swap with... and Put Back (the
// first two also in the patch list's context menu). Each runs as one wait for
// the module, and they are greyed out while a load or another command runs.
#pragma once

#include <QObject>
#include <functional>

#include "ui/backup/BackupPrompts.h"

class QAction;
class QListWidget;
class QMenu;
class QWidget;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

class BackupUi;
class QtHost;

class BackupMenus : public QObject {
    Q_OBJECT
public:
    // `given`: the prompts to use instead of the standard dialogs (empty members
    // keep those). The flags are the main window's.
    BackupMenus(QWidget* window, quorvane::clsU220& u220, QtHost& host, const BackupPrompts& given,
                const bool& activating, const bool& quitRequested,
                std::function<void()> enterWait, std::function<void()> leaveWait);

    // Makes the BackupUi and adds the commands to the File and Edit menus.
    void BuildBackupMenus(QMenu* file, QMenu* edit);
    // Copy Patch and Swap go into the patch list's context menu; they work on
    // its current patch.
    void AddToList(QListWidget* list);
    // Greys out the commands while they could not run; names what Put Back restores.
    void UpdateBackupActions();
    // Runs a command as one wait, unless a load or another command is running.
    void RunBackupCommand(const std::function<void()>& command);
    // True while a command runs (a transfer, an audition from the library).
    bool CommandRunning() const { return commandRuns_ > 0; }
    // Called when a command has ended.
    std::function<void()> CommandEnded;

    BackupUi* Ui() const { return backup_; }
    QAction* mnuFileBackUp = nullptr;
    QAction* mnuFileRestore = nullptr;
    QAction* mnuEditCopyPatch = nullptr;
    QAction* mnuEditSwapPatch = nullptr;
    QAction* mnuEditPutBack = nullptr;

private:
    BackupUi* backup_ = nullptr;
    QListWidget* pnameListBox = nullptr;
    const bool& activating_;
    const bool& quitRequested_;
    std::function<void()> EnterWait;
    std::function<void()> LeaveWait;
    BackupPrompts given_;
    int commandRuns_ = 0;
    QWidget* window_;
    quorvane::clsU220* u220_;
    QtHost* host_;
};

}  // namespace quorvane::ui
