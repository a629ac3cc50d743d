// An import into the library on a thread of its own, so the windows stay
// usable while a thousand files are read. The thread opens its own connection
// to the library file (a SoundLibrary is for one thread); progress and the
// report come back to the GUI thread as signals. Cancel stops after the file
// being imported, which is then either wholly in or not at all.
#pragma once

#include <QObject>
#include <QStringList>
#include <atomic>
#include <memory>

#include "ui/library/LibraryApi.h"

class QThread;

namespace quorvane::ui {

class LibraryImport : public QObject {
    Q_OBJECT
public:
    explicit LibraryImport(QObject* parent = nullptr);
    ~LibraryImport() override;  // cancels and waits for the thread

    // False when one is running already.
    bool Start(const QString& libraryPath, const QStringList& paths);
    void Cancel() { cancel_ = true; }
    bool Running() const { return thread_ != nullptr; }

    // "Imported 40 files: 3,112 sounds, 2,907 new. Skipped 2 files:" and the
    // files with their reasons, one a line.
    static QString Summary(const library::ImportReport& r);

signals:
    void progress(qulonglong done, qulonglong total);
    void finished(const quorvane::library::ImportReport& report);

private:
    QThread* thread_ = nullptr;
    std::atomic<bool> cancel_{false};
};

}  // namespace quorvane::ui

Q_DECLARE_METATYPE(quorvane::library::ImportReport)
