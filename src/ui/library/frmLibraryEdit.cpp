// The library window's commands on the list's items: remove, rename, keep a
// copy, write the name into the bytes, favourite, tag.
#include "ui/library/frmLibrary.h"

#include <QTableView>
#include <algorithm>

#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibraryText.h"

namespace quorvane::ui {

using namespace library_window;

void frmLibrary::RemoveSelected() {
    const std::vector<int64_t> ids = SelectedIds();
    if (!lib_ || ids.empty()) return;
    const library::ItemRow* first = model_->RowAt(lstItems->currentIndex().row());
    const QString what = ids.size() == 1 && first ? QStringLiteral("\"%1\"").arg(Q(first->name)) : Plural(ids.size(), "sound", "sounds");
    if (options_.prompts.ask(this, QStringLiteral("Remove from Library"),
                             QStringLiteral("Remove %1 from the library? The files they came from are not changed.").arg(what),
                             QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const int row = lstItems->currentIndex().row();
    try {
        for (int64_t id : ids) lib_->Remove(id);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not everything was removed"), e);
    }
    ChangedHere(0);
    if (model_->rowCount() > 0) lstItems->setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1), LibraryModel::ColName));
    ShowStatus(QStringLiteral("Removed %1.").arg(what));
}

void frmLibrary::RenameCurrent() {
    const library::ItemRow* r = model_->RowAt(lstItems->currentIndex().row());
    if (!lib_ || !r) return;
    const int64_t id = r->id;
    const QString name = AskText(QStringLiteral("Rename"),
                                 QStringLiteral("The library's name for it (empty: the name in its bytes):"), Q(r->name));
    if (name.isNull()) return;
    try {
        lib_->Rename(id, name.trimmed().toStdString());
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not renamed"), e);
    }
    ChangedHere(id);
}

void frmLibrary::KeepCopyOfCurrent() {
    const library::ItemRow* r = model_->RowAt(lstItems->currentIndex().row());
    if (!lib_ || !r) return;
    // The row lives in the model's page, which the refresh below drops.
    const int64_t id = r->id;
    const QString name = Q(r->name);
    try {
        const int64_t copy = lib_->KeepCopy(id);
        ChangedHere(copy);
        ShowStatus(QStringLiteral("A copy of \"%1\" is kept beside it.").arg(name));
    } catch (const std::exception& e) {
        Failed(QStringLiteral("No copy was made"), e);
    }
}

void frmLibrary::ApplyNameOfCurrent() {
    const library::ItemRow* r = model_->RowAt(lstItems->currentIndex().row());
    if (!lib_ || !r) return;
    const int64_t id = r->id;
    const QString name = Q(r->name);
    if (options_.prompts.ask(this, QStringLiteral("Write the Name into the Sound"),
                             QStringLiteral("Write \"%1\" into the sound's own name field? Its bytes change; the files it came "
                                            "from do not.").arg(name),
                             QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    try {
        lib_->ApplyNameToBytes(id);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The name was not written"), e);
    }
    ChangedHere(id);
}

void frmLibrary::ToggleFavourite() {
    const std::vector<int64_t> ids = SelectedIds();
    const library::ItemRow* r = model_->RowAt(lstItems->currentIndex().row());
    if (!lib_ || ids.empty() || !r) return;
    const bool on = !r->favourite;
    const int64_t keep = r->id;
    try {
        for (int64_t id : ids) lib_->SetFavourite(id, on);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not marked"), e);
    }
    ChangedHere(keep);
}

void frmLibrary::AddTagToSelected() {
    const std::vector<int64_t> ids = SelectedIds();
    if (!lib_ || ids.empty()) return;
    const QString tag = AskText(QStringLiteral("Add Tag"), QStringLiteral("Tag for %1:").arg(Plural(ids.size(), "sound", "sounds")), {}).trimmed();
    if (tag.isEmpty()) return;
    try {
        for (int64_t id : ids) lib_->AddTag(id, tag.toStdString());
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not tagged"), e);
    }
    ChangedHere(model_->IdAt(lstItems->currentIndex().row()));
}

}  // namespace quorvane::ui
