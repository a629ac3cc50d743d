#include "ui/library/LibraryMenus.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QToolBar>

#include "ui/library/frmLibrary.h"

namespace quorvane::ui {

LibraryMenus::LibraryMenus(QMainWindow* main, QMenu* file, QAction* before, QMenu* view, BackupUi* backup,
                           BackupPrompts prompts, std::function<void(const std::function<void()>&)> runTransfer)
    : QObject(main), main_(main), backup_(backup), prompts_(std::move(prompts)), runTransfer_(std::move(runTransfer)) {
    mnuViewLibrary = view->addAction(QStringLiteral("&Library"));
    mnuViewLibrary->setObjectName(QStringLiteral("mnuViewLibrary"));
    mnuViewLibrary->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    mnuViewLibrary->setStatusTip(QStringLiteral("Every sound imported, to find, tag and build banks from"));
    connect(mnuViewLibrary, &QAction::triggered, this, [this] { Show(); });
    mnuFileImportLibrary = new QAction(QStringLiteral("&Import into Library..."), file);
    mnuFileImportLibrary->setObjectName(QStringLiteral("mnuFileImportLibrary"));
    file->insertAction(before, mnuFileImportLibrary);
    file->insertSeparator(before);
    connect(mnuFileImportLibrary, &QAction::triggered, this, [this] {
        if (frmLibrary* w = Show(); w && w->Library()) w->ImportFiles();
    });
    QToolBar* bar = main->addToolBar(QStringLiteral("Library"));
    bar->setObjectName(QStringLiteral("libraryToolBar"));
    bar->setMovable(false);
    bar->addAction(mnuViewLibrary);
}

frmLibrary* LibraryMenus::Window() const { return window_.data(); }

frmLibrary* LibraryMenus::Show() {
    if (!window_) {
        LibraryWindowOptions o;
        o.backup = backup_;
        o.prompts = prompts_;
        o.runTransfer = runTransfer_;
        // A window of its own that closes with the main window.
        window_ = new frmLibrary(o, main_);
        window_->setWindowFlag(Qt::Window);
        if (!window_->OpenLibrary()) {
            delete window_.data();
            return nullptr;
        }
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    window_->RefreshIfChanged();
    return window_;
}

}  // namespace quorvane::ui
