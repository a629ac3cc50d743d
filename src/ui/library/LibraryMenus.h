// The main window's way into the sound library: View > Library (Ctrl+L), a
// toolbar button, and File > Import into Library... The library window is made
// the first time it is asked for and kept.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "ui/backup/BackupPrompts.h"

class QAction;
class QListWidget;
class QMainWindow;
class QMenu;

namespace quorvane {
class clsU220;
class Host;
}  // namespace quorvane

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

    // The module the library's sounds are auditioned on and stored into, and
    // the main window's side of it (see LibraryWindowOptions).
    void SetModule(quorvane::clsU220* model, quorvane::Host* host, std::function<int()> modulePatch,
                   std::function<void(const QString& text, int patchNo)> auditionShown);
    // A library patch dropped on a patch of `list` (row 0: P-01) is stored
    // there (Store to..., with its plan).
    void AcceptDropsOn(QListWidget* list);

    // Shows the library window (opening the library the first time).
    frmLibrary* Show();
    frmLibrary* Window() const;

    QAction* mnuViewLibrary = nullptr;
    QAction* mnuFileImportLibrary = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QMainWindow* main_;
    QListWidget* patchList_ = nullptr;
    // The list's viewport, kept when the filter goes on: events reach it while
    // the list itself is being destroyed, when asking the list for it is not safe.
    QPointer<QObject> patchViewport_;
    quorvane::clsU220* model_ = nullptr;
    quorvane::Host* host_ = nullptr;
    std::function<int()> modulePatch_;
    std::function<void(const QString&, int)> auditionShown_;
    BackupUi* backup_;
    BackupPrompts prompts_;
    std::function<void(const std::function<void()>&)> runTransfer_;
    QPointer<frmLibrary> window_;
};

}  // namespace quorvane::ui
