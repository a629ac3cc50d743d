// The library window: opening the library file (a damaged one moved aside on
// request, a newer one refused) and noticing changes made by another program.
#include "ui/library/frmLibrary.h"

#include <QLabel>
#include <QTimer>

#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibraryText.h"

namespace quorvane::ui {

using namespace library_window;

bool frmLibrary::OpenLibrary() {
    lib_.reset();
    model_->SetLibrary(nullptr);
    const QString title = QStringLiteral("Sound Library");
    for (int attempt = 0; attempt < 2 && !lib_; ++attempt) {
        try {
            lib_ = std::make_unique<library::SoundLibrary>(path_.toStdString());
        } catch (const library::LibraryError& e) {
            if (e.kind() == library::LibraryError::Newer) {
                options_.prompts.tell(this, title,
                                      QStringLiteral("%1 was made by a newer version of Quorvane; this one leaves it as it is.\n\n%2")
                                          .arg(path_, Q(e.what())),
                                      true);
                break;
            }
            if (e.kind() != library::LibraryError::Damaged || attempt > 0) {
                options_.prompts.tell(this, title, QStringLiteral("The sound library %1 cannot be opened: %2").arg(path_, Q(e.what())), true);
                break;
            }
            const QString question = QStringLiteral(
                "The sound library %1 is damaged: %2\n\nMove it aside and start a new library? Nothing is deleted: the "
                "file is renamed and stays beside the new one.").arg(path_, Q(e.what()));
            if (options_.prompts.ask(this, title, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) break;
            std::string movedTo, error;
            if (!library::MoveLibraryAside(path_.toStdString(), movedTo, error)) {
                options_.prompts.tell(this, title, QStringLiteral("%1 could not be moved aside: %2").arg(path_, Q(error)), true);
                break;
            }
            ShowStatus(QStringLiteral("The damaged library is now %1; a new one was started.").arg(Q(movedTo)));
        }
    }
    centralWidget()->setEnabled(lib_ != nullptr);
    if (!lib_) {
        ShowStatus(QStringLiteral("No library is open."));
        return false;
    }
    model_->SetLibrary(lib_.get());
    seenVersion_ = DataVersion();
    seenCommits_ = lib_->Db().commits();
    FillBanks();
    // The first search reads every sound's search text into memory (a third of
    // a second for 200,000 sounds): done just after the window shows, before the
    // first keystroke rather than on it.
    QTimer::singleShot(150, this, [this] {
        if (!lib_) return;
        try {
            library::Query warm;
            warm.text = " ";
            lib_->Count(warm);
        } catch (const std::exception&) {
        }
    });
    if (lblStatus->text().isEmpty()) ShowStatus(QStringLiteral("%1 in %2").arg(Plural(lib_->ItemCount(), "sound", "sounds"), path_));
    return true;
}

int64_t frmLibrary::DataVersion() {
    if (!lib_) return -1;
    try {
        library::Statement s(lib_->Db(), "PRAGMA data_version");
        return s.step() ? s.integer(0) : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace quorvane::ui
