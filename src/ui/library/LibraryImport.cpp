#include "ui/library/LibraryImport.h"

#include <QLocale>
#include <QThread>

namespace quorvane::ui {

LibraryImport::LibraryImport(QObject* parent) : QObject(parent) {}

LibraryImport::~LibraryImport() {
    if (thread_) {
        cancel_ = true;
        thread_->wait();
        delete thread_;
    }
}

bool LibraryImport::Start(const QString& libraryPath, const QStringList& paths) {
    if (thread_) return false;
    cancel_ = false;
    std::vector<std::string> files;
    for (const QString& p : paths) files.push_back(p.toStdString());
    const std::string lib = libraryPath.toStdString();
    thread_ = QThread::create([this, lib, files] {
        library::ImportReport report;
        try {
            library::SoundLibrary own(lib);  // this thread's connection
            library::ImportOptions o;
            o.cancel = &cancel_;
            o.onProgress = [this](size_t done, size_t total) { emit progress(done, total); };
            report = own.Import(files, o);
        } catch (const library::LibraryError& e) {
            report.error = e.what();
            report.errorKind = e.kind();
        } catch (const std::exception& e) {
            report.error = e.what();
        }
        QMetaObject::invokeMethod(this, [this, report] {
            thread_->wait();
            delete thread_;
            thread_ = nullptr;
            emit finished(report);
        }, Qt::QueuedConnection);
    });
    thread_->start();
    return true;
}

QString LibraryImport::Summary(const library::ImportReport& r) {
    const QLocale l = QLocale::c();
    const auto n = [&](size_t v) { return l.toString(static_cast<qulonglong>(v)); };
    QString text = r.cancelled ? QStringLiteral("Import cancelled after %1 file%2: ") : QStringLiteral("Imported %1 file%2: ");
    text = text.arg(n(r.files), r.files == 1 ? QString() : QStringLiteral("s"));
    text += QStringLiteral("%1 sounds, %2 new to the library.").arg(n(r.sounds), n(r.newItems));
    if (r.partial) text += QStringLiteral(" %1 memories held only in part were left out.").arg(n(r.partial));
    if (!r.error.empty()) text += QStringLiteral("\n\nThe library failed: %1").arg(QString::fromStdString(r.error));
    if (!r.skipped.empty()) {
        text += QStringLiteral("\n\nSkipped %1 file%2:").arg(n(r.skipped.size()), r.skipped.size() == 1 ? QString() : QStringLiteral("s"));
        for (const library::SkippedFile& s : r.skipped)
            text += QStringLiteral("\n%1: %2").arg(QString::fromStdString(s.path), QString::fromStdString(s.reason));
    }
    return text;
}

}  // namespace quorvane::ui
