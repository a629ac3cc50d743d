// The back-up commands of the windows: back up the module to a file, restore a
// file into it (offering a back-up of what it holds first, and saying what the
// file holds before anything is sent), copy and swap patch memories, save and
// load the working patch, and open a back-up in the virtual module. Each
// transfer shows a progress dialog with the time left and Cancel.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/backup/BackupPrompts.h"

#include <QProgressDialog>
class QDialog;
class QPushButton;
class QWidget;

namespace quorvane {
class clsU220;
}
namespace quorvane::midi {
class VirtualU220;
}
namespace quorvane::library {
class Journal;
class MemoryImage;
struct Progress;
class Transfer;
struct TransferReport;
}  // namespace quorvane::library

namespace quorvane::ui {

class QtHost;
class frmMIDISetupForm;

class BackupUi : public QObject {
    Q_OBJECT
public:
    BackupUi(QWidget* parent, quorvane::clsU220& model, QtHost& host, BackupPrompts prompts = BackupPrompts::Dialogs());
    ~BackupUi() override;

    // After memories were written, while the progress still shows: the names of
    // the memories written are already read again; the window shows them. Gets
    // the patch memories written and whether the working area was.
    std::function<void(const std::vector<int>& patchesWritten, bool workingWritten)> onMemoriesChanged;
    // After the working area was written: the open editors to fill again.
    std::function<void()> onWorkingAreaChanged;

    // Where the transfers save what they overwrite before they write (copy,
    // swap, restore, put back); null keeps no journal (the built-in virtual
    // module, whose memory a later run does not share).
    void SetJournal(library::Journal* journal) { journal_ = journal; }
    library::Journal* Journal() const { return journal_; }
    // Writes back, verified, the originals an interrupted operation left in the
    // journal, under the progress; the names of the memories written are read
    // again. False when it failed (the journal then stays).
    bool RecoverJournal();

    // Each returns true when it completed (verified where it verifies).
    bool BackUpModule();
    bool RestoreFromFile();
    bool CopyPatchTo(int fromPatch);   // asks for the patch to copy to
    bool SwapPatchWith(int patch);     // asks for the other patch
    // Writes back, verified, what the last Copy Patch overwrote (the newest
    // first). False when there is nothing to put back or it failed.
    bool PutBack();
    // "P-06 Fantasia" for the memory the next PutBack restores; empty when none.
    QString PutBackWhat() const;
    // Forgets what could be put back (another module, or the memories were
    // overwritten since).
    void ForgetPutBack() { kept_.clear(); }
    // Backs up the module to `path` without asking for a name.
    bool BackUpModuleTo(const QString& path) { return BackUpTo(path); }
    // Ends a running transfer at once, as Cancel does, and tells nothing more:
    // the program is ending.
    void Abort();
    bool SaveWorkingPatchAs();         // patch, its six timbres, rhythm setup
    // Writes `image` to the module, verified, after offering a back-up of what
    // it holds and then asking `question`. `keepApart`: a file the back-up must
    // not be saved over; `over`: the window the questions sit over (else the
    // main window).
    bool RestoreImage(const QString& title, const library::MemoryImage& image, const QString& question,
                      const QString& keepApart = {}, QWidget* over = nullptr);
    bool LoadWorkingPatch();
    // Runs work that reaches the module by its own means (the sound library's
    // store, module index and put back) as the commands above run: under the
    // progress (`work` gets the function to report to; false from it means
    // Cancel), the names of the memories written read again, the result told.
    // `over`: the window the progress sits over (else the main window).
    using ProgressFn = std::function<bool(const library::Progress&)>;
    bool RunLibraryWork(const QString& title, const std::function<library::TransferReport(const ProgressFn&)>& work,
                        QWidget* over = nullptr);

    // What the last command reported ("Restored ...; all verified.").
    const QString& LastResult() const { return lastResult_; }
    // The progress dialog while a transfer runs, else null.
    QProgressDialog* Progress() const { return progress_; }
    bool Busy() const { return busy_; }
    const BackupPrompts& Prompts() const { return prompts_; }

    // Adds "Save Patch As..." and "Load Patch..." to the patch editor, above its
    // `done` button; after a load, `refresh` fills the editor again.
    void AddPatchFileButtons(QDialog& patchEditor, QPushButton* done, std::function<void()> refresh);

    // Asks for a back-up file and loads it into the virtual module. False when
    // cancelled or refused (the reason told). `summary` gets what it held.
    static bool OpenBackupInVirtualModule(QWidget* parent, midi::VirtualU220& module, const BackupPrompts& prompts,
                                          QString* summary = nullptr);

    // Adds "Open a backup in the virtual U-220..." to the setup dialog's buttons:
    // it loads a back-up into the virtual module and selects that module.
    static void AddOpenBackupButton(frmMIDISetupForm& setup, std::shared_ptr<midi::VirtualU220> module,
                                    BackupPrompts prompts);

private:
    // `learned`: bytes the module holds once the work is verified (the names in
    // them need no request); the names of other memories written are read again.
    bool Run(const QString& title, const std::function<library::TransferReport(library::Transfer&)>& work,
             bool memoriesChanged, bool workingChanged, const library::MemoryImage* learned = nullptr);
    // Reads again, under the progress, the names forgotten by the writes.
    void ReadNamesWritten(const std::vector<std::pair<int, int>>& forgotten);
    // "P-05 Strings 2" as the list shows it.
    QString PatchLabel(int patchNo);

    // What Copy Patch overwrote, to put back: the memory and its old bytes.
    struct Kept {
        int patch = 0;
        std::string name;  // its name then, module bytes
        std::vector<uint8_t> bytes;
    };
    std::vector<Kept> kept_;
    bool aborted_ = false;
    bool BackUpTo(const QString& path);
    // A back-up or a saved patch goes into the sound library too (a setting).
    void AddToLibrary(const QString& path);

    QWidget* parent_;
    library::Journal* journal_ = nullptr;
    quorvane::clsU220& model_;
    QtHost& host_;
    BackupPrompts prompts_;
    QPointer<QProgressDialog> progress_;
    QString lastResult_;
    bool lastCancelled_ = false;  // the last transfer was cut short by Cancel
    bool busy_ = false;
};

}  // namespace quorvane::ui
