#include "ui/library/LibraryAutoAdd.h"

#include "ui/library/LibraryApi.h"
#include "ui/setup/AppSettings.h"

namespace quorvane::ui {

bool AddSavedFilesToLibrary() { return AppSettings()->value(QLatin1String(kAddSavedFilesKey), true).toBool(); }

void SetAddSavedFilesToLibrary(bool on) { AppSettings()->setValue(QLatin1String(kAddSavedFilesKey), on); }

QString WindowLibraryPath() { return QString::fromStdString(library::DefaultLibraryPath()); }

QString AddSavedFileToLibrary(const QString& path) {
    if (!AddSavedFilesToLibrary()) return {};
    try {
        library::SoundLibrary lib(WindowLibraryPath().toStdString());
        const library::ImportReport r = lib.Import({path.toStdString()});
        if (!r.error.empty()) return QString::fromStdString(r.error);
        if (!r.skipped.empty()) return QString::fromStdString(r.skipped.front().reason);
        return {};
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    }
}

}  // namespace quorvane::ui
