// The main window's way into the sound library: View > Library (Ctrl+L), a
// toolbar button, and File > Import into Library... The library window is made
// the first time it is asked for and kept.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "ui/backup/BackupPrompts.h"

class QAction;
class QMainWindow;
class QMenu;

namespace quorvane::ui {

class BackupUi;
class frmLibrary;

class LibraryMenus : public QObject {
    Q_OBJECT
public:
    // Adds the commands; "Import into Library..." goes before `before` in `file`.
    // `runTransfer` runs the library's sends as the main window runs its back-up commands.
    LibraryMenus(QMainWindow* main, QMenu* file, QAction* before, QMenu* view, BackupUi* backup, BackupPrompts prompts,
                 std::function<void(const std::function<void()>&)> runTransfer = {});

    // Shows the library window (opening the library the first time).
    frmLibrary* Show();
    frmLibrary* Window() const;

    QAction* mnuViewLibrary = nullptr;
    QAction* mnuFileImportLibrary = nullptr;

private:
    QMainWindow* main_;
    BackupUi* backup_;
    BackupPrompts prompts_;
    std::function<void(const std::function<void()>&)> runTransfer_;
    QPointer<frmLibrary> window_;
};

}  // namespace quorvane::ui
