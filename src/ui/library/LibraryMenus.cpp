#include "ui/library/LibraryMenus.h"

#include <QAction>
#include <QDropEvent>
#include <QListWidget>
#include <QMainWindow>
#include <QMimeData>
#include <QTimer>
#include <QMenu>
#include <QToolBar>

#include "ui/library/LibraryModel.h"
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

void LibraryMenus::SetModule(quorvane::clsU220* model, quorvane::Host* host, std::function<int()> modulePatch,
                             std::function<void(const QString&, int)> auditionShown) {
    model_ = model;
    host_ = host;
    modulePatch_ = std::move(modulePatch);
    auditionShown_ = std::move(auditionShown);
}

void LibraryMenus::AcceptDropsOn(QListWidget* list) {
    patchList_ = list;
    list->setAcceptDrops(true);
    list->viewport()->setAcceptDrops(true);
    list->setDropIndicatorShown(true);
    patchViewport_ = list->viewport();
    patchViewport_->installEventFilter(this);
}

bool LibraryMenus::eventFilter(QObject* watched, QEvent* e) {
    if (!patchList_ || !patchViewport_ || watched != patchViewport_) return QObject::eventFilter(watched, e);
    const auto ids = [](const QMimeData* m) {
        std::vector<qlonglong> out;
        if (m && m->hasFormat(QString::fromLatin1(LibraryModel::kMime)))
            for (const QByteArray& line : m->data(QString::fromLatin1(LibraryModel::kMime)).split('\n'))
                if (const qlonglong id = line.trimmed().toLongLong(); id > 0) out.push_back(id);
        return out;
    };
    if (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove) {
        auto* d = static_cast<QDropEvent*>(e);
        // One library sound onto one patch.
        if (ids(d->mimeData()).size() != 1 || patchList_->indexAt(d->position().toPoint()).row() < 0) {
            d->ignore();
            return e->type() == QEvent::DragMove;
        }
        d->setDropAction(Qt::CopyAction);
        d->accept();
        return true;
    }
    if (e->type() == QEvent::Drop) {
        auto* d = static_cast<QDropEvent*>(e);
        const std::vector<qlonglong> dropped = ids(d->mimeData());
        const int row = patchList_->indexAt(d->position().toPoint()).row();
        if (dropped.size() != 1 || row < 0 || row >= 64) return false;
        d->setDropAction(Qt::CopyAction);
        d->accept();
        // Once the drop has ended: the store waits for the module and asks.
        const int64_t id = dropped.front();
        QTimer::singleShot(0, this, [this, id, row] {
            if (frmLibrary* w = Show()) w->StoreTo(id, row + 1);
        });
        return true;
    }
    return QObject::eventFilter(watched, e);
}

frmLibrary* LibraryMenus::Show() {
    if (!window_) {
        LibraryWindowOptions o;
        o.backup = backup_;
        o.prompts = prompts_;
        o.runTransfer = runTransfer_;
        o.model = model_;
        o.host = host_;
        o.modulePatch = modulePatch_;
        o.auditionShown = auditionShown_;
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
