// The library window's imports: files and folders picked or dropped, read on
// the worker thread; the progress row and the summary at the end.
#include "ui/library/frmLibrary.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QUrl>

#include "ui/library/LibraryImport.h"
#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibraryText.h"

namespace quorvane::ui {

using namespace library_window;

void frmLibrary::ImportFiles() {
    const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Import into Library"), QString(),
                                                            QStringLiteral("System Exclusive files (*.syx *.mid *.midi);;All files (*)"));
    if (!files.isEmpty()) ImportPaths(files);
}

void frmLibrary::ImportFolder() {
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Import Folder into Library"));
    if (!dir.isEmpty()) ImportPaths({dir});
}

bool frmLibrary::ImportPaths(const QStringList& paths) {
    if (!lib_ || paths.isEmpty()) return false;
    if (!import_->Start(path_, paths)) {
        ShowStatus(QStringLiteral("An import is running: wait for it or cancel it first."));
        return false;
    }
    importClock_.start();
    importBar->setValue(0);
    lblImport->setText(QStringLiteral("Importing..."));
    for (QWidget* w : {static_cast<QWidget*>(lblImport), static_cast<QWidget*>(importBar), static_cast<QWidget*>(cmdCancelImport)})
        w->setVisible(true);
    cmdCancelImport->setEnabled(true);
    return true;
}

bool frmLibrary::Importing() const { return import_ && import_->Running(); }

void frmLibrary::CancelImport() {
    if (!Importing()) return;
    import_->Cancel();
    cmdCancelImport->setEnabled(false);
    lblImport->setText(QStringLiteral("Cancelling after the file being read..."));
}

void frmLibrary::ImportFinished(const library::ImportReport& r) {
    for (QWidget* w : {static_cast<QWidget*>(lblImport), static_cast<QWidget*>(importBar), static_cast<QWidget*>(cmdCancelImport)})
        w->setVisible(false);
    lastImport_ = LibraryImport::Summary(r);
    ChangedHere(model_->IdAt(lstItems->currentIndex().row()));
    ShowStatus(lastImport_.section(QLatin1Char('\n'), 0, 0));
    options_.prompts.tell(this, QStringLiteral("Import into Library"), lastImport_, !r.error.empty() || !r.skipped.empty());
    if (!r.error.empty() && r.errorKind == library::LibraryError::Damaged) OpenLibrary();
}

void frmLibrary::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void frmLibrary::dropEvent(QDropEvent* e) {
    QStringList paths;
    for (const QUrl& u : e->mimeData()->urls())
        if (u.isLocalFile()) paths << u.toLocalFile();
    if (paths.isEmpty()) return;
    e->acceptProposedAction();
    ImportPaths(paths);
}

}  // namespace quorvane::ui
