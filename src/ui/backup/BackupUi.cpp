#include "ui/backup/BackupUi.h"

#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <optional>

#include "device/NameCodec.h"
#include "device/clsU220.h"
#include "library/Journal.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "emulator/LoadBackup.h"
#include "emulator/VirtualU220.h"
#include "ui/common/QtHost.h"
#include "ui/library/LibraryAutoAdd.h"
#include "ui/setup/frmMIDISetupForm.h"

namespace quorvane::ui {

namespace {

const QString kFilter = QStringLiteral("System Exclusive files (*.syx *.mid *.midi);;All files (*)");

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The working area: patch, its six timbres and the rhythm setup.
std::vector<library::Range> WorkingAreas() {
    std::vector<library::Range> out;
    for (const library::Range& r : library::BackupAreas())
        if (r.address.a1 >= 0x10) out.push_back(r);
    return out;
}

bool OnlyWorkingArea(const library::MemoryImage& image) {
    for (const library::Range& r : image.runs())
        if (r.address.a1 < 0x10) return false;
    return true;
}

QString TimeLeft(qint64 elapsedMs, size_t done, size_t total) {
    if (done == 0 || done >= total || elapsedMs < 500) return QString();
    const qint64 left = elapsedMs * static_cast<qint64>(total - done) / static_cast<qint64>(done) / 1000;
    if (left >= 60) return QStringLiteral("about %1 min %2 s left").arg(left / 60).arg(left % 60);
    return QStringLiteral("about %1 s left").arg(std::max<qint64>(1, left));
}

}  // namespace

BackupPrompts BackupPrompts::Dialogs() {
    BackupPrompts p;
    p.openFile = [](QWidget* parent, const QString& title) {
        return QFileDialog::getOpenFileName(parent, title, QString(), kFilter);
    };
    p.saveFile = [](QWidget* parent, const QString& title, const QString& suggested) {
        return QFileDialog::getSaveFileName(parent, title, suggested, kFilter);
    };
    p.ask = [](QWidget* parent, const QString& title, const QString& text, QMessageBox::StandardButtons buttons) {
        return QMessageBox::question(parent, title, text, buttons);
    };
    p.number = [](QWidget* parent, const QString& title, const QString& label, int value, int min, int max) {
        bool ok = false;
        const int n = QInputDialog::getInt(parent, title, label, value, min, max, 1, &ok);
        return ok ? n : 0;
    };
    p.tell = [](QWidget* parent, const QString& title, const QString& text, bool warning) {
        if (warning) QMessageBox::warning(parent, title, text);
        else QMessageBox::information(parent, title, text);
    };
    return p;
}

BackupUi::BackupUi(QWidget* parent, quorvane::clsU220& model, QtHost& host, BackupPrompts prompts)
    : QObject(parent), parent_(parent), model_(model), host_(host), prompts_(std::move(prompts)) {}

BackupUi::~BackupUi() = default;

// Runs one transfer with a progress dialog: the bar, the time left and Cancel.
// The transfer waits with the event loop running, so the dialog stays live.
bool BackupUi::Run(const QString& title, const std::function<library::TransferReport(library::Transfer&)>& work,
                   bool memoriesChanged, bool workingChanged, const library::MemoryImage* learned) {
    if (busy_ || aborted_) return false;
    busy_ = true;
    // The names held now: a write forgets those of the memories it touches, and
    // only those are read again afterwards.
    std::vector<std::pair<int, int>> held;  // {0 patch, 1 timbre, 2 rhythm setup; number}
    for (int n = 1; n <= 64; ++n)
        if (model_.MemoryPatchNameLoaded(n)) held.push_back({0, n});
    for (int n = 1; n <= 128; ++n)
        if (model_.MemoryTimbreNameLoaded(n)) held.push_back({1, n});
    for (int n = 1; n <= 4; ++n)
        if (model_.MemoryRhythmNameLoaded(n)) held.push_back({2, n});
    auto* dialog = new QProgressDialog(title, QStringLiteral("Cancel"), 0, 1000, parent_);
    dialog->setObjectName(QStringLiteral("backupProgress"));
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    // Sized once for its longest line: a Cancel button that moves as the text
    // changes is missed by the click aimed at it.
    int width = 0;
    for (const char* stage : {"Reading", "Writing", "Verifying"}) {
        dialog->setLabelText(QLatin1String(stage) + QStringLiteral("...  waiting for the U-220 to answer"));
        width = std::max(width, dialog->sizeHint().width());
    }
    dialog->setMinimumWidth(width);
    dialog->setLabelText(title);
    dialog->setValue(0);
    progress_ = dialog;
    QElapsedTimer clock;
    clock.start();

    // Cancel also ends a wait for an answer that does not come: the read gives
    // up at once instead of after its retries and the "not responding" question.
    model_.StopRawReads = [this] { return !progress_ || progress_->wasCanceled(); };
    connect(dialog, &QProgressDialog::canceled, this, [this] { host_.notify(); });
    connect(dialog, &QObject::destroyed, this, [this] { host_.notify(); });
    // While the module does not answer the time left would stand still at its
    // last figure: say that it waits instead.
    QString stage = QStringLiteral("Reading");
    QElapsedTimer sinceStep;
    sinceStep.start();
    QTimer silence;
    connect(&silence, &QTimer::timeout, this, [&] {
        if (progress_ && sinceStep.elapsed() >= 5000)
            progress_->setLabelText(stage + QStringLiteral("...  waiting for the U-220 to answer"));
    });
    silence.start(500);

    library::Transfer transfer(model_, host_);
    transfer.journal = journal_;
    // Closing the program stops everything, a copy's put back included.
    transfer.mustStop = [this] { return aborted_; };
    transfer.onProgress = [&](const library::Progress& p) {
        if (!progress_) return false;
        sinceStep.restart();
        stage = Q(p.stage);
        const int value = p.total ? static_cast<int>(1000.0 * static_cast<double>(p.done) / static_cast<double>(p.total)) : 0;
        const QString left = TimeLeft(clock.elapsed(), p.done, p.total);
        progress_->setLabelText(stage + QStringLiteral("...") + (left.isEmpty() ? QString() : QStringLiteral("  ") + left));
        progress_->setValue(std::min(value, 999));
        return !progress_->wasCanceled();
    };
    const library::TransferReport report = work(transfer);
    silence.stop();
    model_.StopRawReads = nullptr;

    std::vector<std::pair<int, int>> forgotten;
    std::vector<int> patchesWritten;
    for (const auto& [kind, n] : held) {
        const bool loaded = kind == 0 ? model_.MemoryPatchNameLoaded(n)
                            : kind == 1 ? model_.MemoryTimbreNameLoaded(n)
                                        : model_.MemoryRhythmNameLoaded(n);
        if (loaded) continue;
        forgotten.push_back({kind, n});
        if (kind == 0) patchesWritten.push_back(n);
    }
    // Verified: the module holds the image, names included.
    if (learned && report.ok())
        for (const library::DataSet& d : learned->dataSets()) model_.LearnMemoryNames(d.address, d.data);
    const bool changed = report.outcome != library::Outcome::Failed && !aborted_;
    if (changed && memoriesChanged) {
        // Still under the progress: the result is told once the window shows the
        // module as it now is. After Cancel or a module that stopped answering
        // nothing more is asked: the window says that File > Reload reads them.
        if (report.outcome == library::Outcome::Done) ReadNamesWritten(forgotten);
        if (onMemoriesChanged) onMemoriesChanged(patchesWritten, workingChanged);
    }
    delete progress_.data();
    busy_ = false;

    lastResult_ = Q(report.text);
    lastCancelled_ = report.outcome == library::Outcome::Cancelled;
    if (changed && workingChanged && onWorkingAreaChanged) onWorkingAreaChanged();
    if (!aborted_) prompts_.tell(parent_, title, lastResult_, !report.ok());
    return report.ok();
}

void BackupUi::ReadNamesWritten(const std::vector<std::pair<int, int>>& forgotten) {
    size_t missing = 0;
    for (const auto& [kind, n] : forgotten)
        missing += !(kind == 0 ? model_.MemoryPatchNameLoaded(n) : kind == 1 ? model_.MemoryTimbreNameLoaded(n)
                                                                            : model_.MemoryRhythmNameLoaded(n));
    if (missing == 0) return;
    if (progress_) {
        progress_->setLabelText(QStringLiteral("Reading the names of the memories written..."));
        progress_->setValue(0);
    }
    size_t done = 0;
    for (const auto& [kind, n] : forgotten) {
        if (!progress_ || progress_->wasCanceled() || aborted_) return;
        const auto number = static_cast<int16_t>(n);
        bool loaded = false;
        if (kind == 0) loaded = model_.MemoryPatchNameLoaded(n) || (model_.MemoryPatchName(number), model_.MemoryPatchNameLoaded(n));
        else if (kind == 1) loaded = model_.MemoryTimbreNameLoaded(n) || (model_.MemoryTimbreName(number), model_.MemoryTimbreNameLoaded(n));
        else loaded = model_.MemoryRhythmNameLoaded(n) || (model_.MemoryRhythmName(number), model_.MemoryRhythmNameLoaded(n));
        if (!loaded) return;  // the user gave up on the module: the rest waits for File > Reload
        if (progress_) progress_->setValue(static_cast<int>(999 * ++done / missing));
    }
}

QString BackupUi::PatchLabel(int patchNo) {
    return QStringLiteral("P-%1 ").arg(patchNo, 2, 10, QLatin1Char('0')) +
           Q(NameBytesToUtf8(model_.MemoryPatchName(static_cast<int16_t>(patchNo)))).trimmed();
}

void BackupUi::Abort() {
    aborted_ = true;
    if (progress_) progress_->cancel();
    host_.notify();
}

bool BackupUi::BackUpTo(const QString& path) {
    const std::string file = path.toStdString();
    const bool ok = Run(QStringLiteral("Back Up Module"), [&](library::Transfer& t) { return t.BackUp(file); }, false, false);
    if (ok) AddToLibrary(path);
    return ok;
}

void BackupUi::AddToLibrary(const QString& path) {
    const QString why = AddSavedFileToLibrary(path);
    if (!why.isEmpty() && !aborted_)
        prompts_.tell(parent_, QStringLiteral("Sound Library"),
                      QStringLiteral("%1 was saved, but not added to the sound library: %2").arg(path, why), true);
}

bool BackupUi::BackUpModule() {
    const QString path = prompts_.saveFile(parent_, QStringLiteral("Back Up Module"), QStringLiteral("U-220 backup.syx"));
    if (path.isEmpty()) return false;
    return BackUpTo(path);
}

bool BackupUi::RestoreFromFile() {
    const QString title = QStringLiteral("Restore from File");
    const QString path = prompts_.openFile(parent_, title);
    if (path.isEmpty()) return false;
    // The whole file is checked before anything is sent.
    const library::BackupFile file = library::ReadBackupFile(path.toStdString());
    if (!file.ok) {
        lastResult_ = QStringLiteral("%1 cannot be restored: %2").arg(path, Q(file.error));
        prompts_.tell(parent_, title, lastResult_, true);
        return false;
    }
    QString ids;
    for (uint8_t id : file.deviceIds)
        if (id != model_.DeviceID()) ids += (ids.isEmpty() ? QString() : QStringLiteral(", ")) + QString::number(id + 1);
    const QString text =
        QStringLiteral("%1 holds %2.\n\nWrite it to the U-220 (device ID %3)? What the U-220 holds there now is replaced.")
            .arg(path, Q(file.Summary()))
            .arg(model_.DeviceID() + 1) +
        (ids.isEmpty() ? QString() : QStringLiteral("\n(The file was saved for device ID %1; it is sent for %2.)").arg(ids).arg(model_.DeviceID() + 1));
    return RestoreImage(title, file.image, text, path);
}

bool BackupUi::RestoreImage(const QString& title, const library::MemoryImage& image, const QString& question,
                            const QString& keepApart, QWidget* over) {
    // The questions and the progress sit over the window that asked.
    QWidget* owner = parent_;
    if (over) parent_ = over;
    struct Back {
        QWidget*& p;
        QWidget* was;
        ~Back() { p = was; }
    } back{parent_, owner};
    // Nothing is lost by a mistaken restore: offer to keep what the module holds.
    const auto first = prompts_.ask(parent_, title,
                                    QStringLiteral("Back up what the U-220 holds now before it is overwritten?"),
                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (first == QMessageBox::Cancel) return false;
    // The back-up just made is what the module holds: the journal takes the
    // originals from it instead of reading the module a second time.
    std::optional<library::MemoryImage> before;
    if (first == QMessageBox::Yes) {
        const QString keep = prompts_.saveFile(parent_, QStringLiteral("Back Up Module"), QStringLiteral("U-220 before restore.syx"));
        if (keep.isEmpty()) return false;
        // Saving over the file about to be restored would lose it.
        if (!keepApart.isEmpty() && QFileInfo(keep).absoluteFilePath() == QFileInfo(keepApart).absoluteFilePath()) {
            lastResult_ = QStringLiteral("%1 is the file to restore: the back-up needs another name.").arg(keepApart);
            prompts_.tell(parent_, title, lastResult_, true);
            return false;
        }
        if (!BackUpTo(keep)) return false;
        library::BackupFile saved = library::ReadBackupFile(keep.toStdString());
        if (saved.ok) before = std::move(saved.image);
    }
    if (prompts_.ask(parent_, title, question, QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) return false;
    const bool working = !image.runs().empty() && image.runs().back().address.a1 >= 0x10;
    const bool ok = Run(title, [&](library::Transfer& t) { return t.Restore(image, true, before ? &*before : nullptr); },
                        true, working, &image);
    // The memories a copy overwrote hold the file's now.
    kept_.clear();
    return ok;
}

bool BackupUi::CopyPatchTo(int fromPatch) {
    if (fromPatch < 1 || fromPatch > 64) return false;
    const QString title = QStringLiteral("Copy Patch to");
    const int to = prompts_.number(parent_, title, QStringLiteral("Copy %1 to patch:").arg(PatchLabel(fromPatch)),
                                   fromPatch == 64 ? 1 : fromPatch + 1, 1, 64);
    if (to == 0 || to == fromPatch) return false;
    // A bare number is easily mistyped: both names, and the way back, before
    // anything is overwritten.
    const QString question = QStringLiteral("Copy %1 over %2?\n\nEdit > Put Back restores what %2 holds now.")
                                 .arg(PatchLabel(fromPatch), PatchLabel(to));
    if (prompts_.ask(parent_, title, question, QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) return false;
    // What the copy overwrites is read first and kept for Put Back.
    const library::Range target = library::MemoryRange(library::MemoryKind::Patch, to);
    std::optional<Kept> keep;
    const bool ok = Run(title, [&](library::Transfer& t) {
        // An interrupted journal holds the originals, or refuses the copy with
        // its reason: nothing to read or keep here.
        if (journal_ && journal_->Pending()) return t.Copy(library::MemoryKind::Patch, fromPatch, to);
        library::MemoryImage old;
        Kept k{to, model_.MemoryPatchName(static_cast<int16_t>(to)), {}};
        const library::Outcome read = t.Read(library::Split(target), old);
        if (read != library::Outcome::Done || !old.get(target, k.bytes)) {
            library::TransferReport r;
            r.outcome = read == library::Outcome::Cancelled ? library::Outcome::Cancelled : library::Outcome::NoAnswer;
            r.text = read == library::Outcome::Cancelled
                         ? "Copy cancelled; nothing was written."
                         : "The U-220 stopped answering before patch " + std::to_string(to) + " was read; nothing was written.";
            return r;
        }
        keep = std::move(k);
        return t.Copy(library::MemoryKind::Patch, fromPatch, to);
    }, true, false);
    // Kept whatever became of the copy: a part of it may have been written.
    if (keep) kept_.push_back(std::move(*keep));
    return ok;
}

bool BackupUi::SwapPatchWith(int patch) {
    if (patch < 1 || patch > 64) return false;
    const QString title = QStringLiteral("Swap with");
    const int other = prompts_.number(parent_, title, QStringLiteral("Swap %1 with patch:").arg(PatchLabel(patch)),
                                      patch == 64 ? 1 : patch + 1, 1, 64);
    if (other == 0 || other == patch) return false;
    if (prompts_.ask(parent_, title, QStringLiteral("Swap %1 with %2?").arg(PatchLabel(patch), PatchLabel(other)),
                     QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return false;
    const bool ok = Run(title, [&](library::Transfer& t) { return t.Swap(library::MemoryKind::Patch, patch, other); }, true, false);
    // What a copy overwrote there now stands elsewhere: it is no longer put back.
    std::erase_if(kept_, [&](const Kept& k) { return k.patch == patch || k.patch == other; });
    return ok;
}

bool BackupUi::RecoverJournal() {
    if (!journal_) return false;
    const library::JournalState s = journal_->Load();
    const bool working = !s.originals.runs().empty() && s.originals.runs().back().address.a1 >= 0x10;
    const bool ok = Run(QStringLiteral("Put Back the Originals"), [&](library::Transfer& t) { return journal_->Recover(t); },
                        true, working, &s.originals);
    // What a copy overwrote may stand there again.
    if (ok) kept_.clear();
    return ok;
}

QString BackupUi::PutBackWhat() const {
    if (kept_.empty()) return QString();
    const Kept& k = kept_.back();
    return QStringLiteral("P-%1 ").arg(k.patch, 2, 10, QLatin1Char('0')) + Q(NameBytesToUtf8(k.name)).trimmed();
}

bool BackupUi::PutBack() {
    if (kept_.empty()) return false;
    const Kept k = kept_.back();
    const QString title = QStringLiteral("Put Back");
    const QString what = PutBackWhat();
    if (prompts_.ask(parent_, title,
                     QStringLiteral("Put %1 back over %2, as it was before the copy?").arg(what, PatchLabel(k.patch)),
                     QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return false;
    library::MemoryImage image;
    image.put(library::MemoryRange(library::MemoryKind::Patch, k.patch).address, k.bytes);
    kept_.pop_back();
    const bool ok = Run(title, [&](library::Transfer& t) {
        library::TransferReport r = t.Restore(image, true);
        if (r.ok()) r.text = "Put back " + what.toStdString() + "; verified.";
        return r;
    }, true, false, &image);
    // Not verified: it can be tried again.
    if (!ok) kept_.push_back(k);
    return ok;
}

bool BackupUi::SaveWorkingPatchAs() {
    const QString title = QStringLiteral("Save Patch As");
    const QString path = prompts_.saveFile(parent_, title, QStringLiteral("patch.syx"));
    if (path.isEmpty()) return false;
    const std::string file = path.toStdString();
    const bool ok = Run(title, [&](library::Transfer& t) { return t.BackUp(file, WorkingAreas()); }, false, false);
    // Saved: a patch change loses nothing now.
    if (ok) model_.WorkingAreaEdited(false);
    if (ok) AddToLibrary(path);
    return ok;
}

bool BackupUi::LoadWorkingPatch() {
    const QString title = QStringLiteral("Load Patch");
    const QString path = prompts_.openFile(parent_, title);
    if (path.isEmpty()) return false;
    const library::BackupFile file = library::ReadBackupFile(path.toStdString());
    QString refusal;
    if (!file.ok) refusal = Q(file.error);
    else if (!OnlyWorkingArea(file.image))
        refusal = QStringLiteral("it holds %1, not only a patch: use File > Restore from File... for memories")
                      .arg(Q(file.Summary()));
    if (!refusal.isEmpty()) {
        lastResult_ = QStringLiteral("%1 cannot be loaded: %2").arg(path, refusal);
        prompts_.tell(parent_, title, lastResult_, true);
        return false;
    }
    const bool ok = Run(title, [&](library::Transfer& t) { return t.Restore(file.image, true); }, false, true);
    // The working area holds the file: nothing of it is unsaved.
    if (ok) model_.WorkingAreaEdited(false);
    return ok;
}

bool BackupUi::RunLibraryWork(const QString& title,
                              const std::function<library::TransferReport(const ProgressFn&)>& work, QWidget* over) {
    QWidget* owner = parent_;
    if (over) parent_ = over;
    // The working area may have been loaded from memories (program changes).
    const bool ok = Run(title, [&](library::Transfer& t) { return work(t.onProgress); }, true, true);
    parent_ = owner;
    return ok;
}

bool BackupUi::OpenBackupInVirtualModule(QWidget* parent, midi::VirtualU220& module, const BackupPrompts& prompts,
                                         QString* summary) {
    const QString title = QStringLiteral("Open a backup in the virtual U-220");
    const QString path = prompts.openFile(parent, title);
    if (path.isEmpty()) return false;
    const library::BackupFile file = library::ReadBackupFile(path.toStdString());
    if (!file.ok) {
        prompts.tell(parent, title, QStringLiteral("%1 cannot be opened: %2").arg(path, Q(file.error)), true);
        return false;
    }
    midi::LoadIntoVirtualModule(module, file.image);
    if (summary) *summary = Q(file.Summary());
    return true;
}

void BackupUi::AddPatchFileButtons(QDialog& patchEditor, QPushButton* done, std::function<void()> refresh) {
    if (!done) return;
    QBoxLayout* column = nullptr;
    for (QBoxLayout* l : patchEditor.findChildren<QBoxLayout*>())
        if (l->indexOf(done) >= 0) column = l;
    auto* save = new QPushButton(QStringLiteral("Save Patch As..."), done->parentWidget());
    save->setObjectName(QStringLiteral("cmdSavePatchAs"));
    auto* load = new QPushButton(QStringLiteral("Load Patch..."), done->parentWidget());
    load->setObjectName(QStringLiteral("cmdLoadPatch"));
    for (QPushButton* b : {save, load}) {
        b->setAutoDefault(false);
        if (column) column->insertWidget(column->indexOf(done), b, 0, Qt::AlignLeft);
    }
    QDialog* editor = &patchEditor;
    connect(save, &QPushButton::clicked, this, [this, editor] {
        QWidget* owner = parent_;
        parent_ = editor;  // the dialogs sit over the editor
        SaveWorkingPatchAs();
        parent_ = owner;
    });
    connect(load, &QPushButton::clicked, this, [this, editor, refresh] {
        QWidget* owner = parent_;
        parent_ = editor;
        lastCancelled_ = false;
        const bool loaded = LoadWorkingPatch();
        parent_ = owner;
        // A load cut short by Cancel has written part of the file: the editor
        // shows what the module holds now, not what it held before.
        if ((loaded || lastCancelled_) && refresh) refresh();
    });
}

void BackupUi::AddOpenBackupButton(frmMIDISetupForm& setup, std::shared_ptr<midi::VirtualU220> module,
                                   BackupPrompts prompts) {
    auto* box = qobject_cast<QDialogButtonBox*>(setup.cmdOK ? setup.cmdOK->parentWidget() : nullptr);
    auto* button = new QPushButton(QStringLiteral("Open a backup in the virtual U-220..."), &setup);
    button->setObjectName(QStringLiteral("cmdOpenBackup"));
    button->setAutoDefault(false);
    if (box) box->addButton(button, QDialogButtonBox::ActionRole);
    else if (setup.layout()) setup.layout()->addWidget(button);
    frmMIDISetupForm* dialog = &setup;
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog, module, prompts] {
        QString summary;
        if (!module || !OpenBackupInVirtualModule(dialog, *module, prompts, &summary)) return;
        // The back-up is in the virtual module: that is the one to talk to.
        if (dialog->ComboMidiOut) dialog->ComboMidiOut->setCurrentIndex(0);
        if (dialog->ComboMidiIn) dialog->ComboMidiIn->setCurrentIndex(0);
        if (dialog->lblStatus) dialog->lblStatus->setText(QStringLiteral("The virtual U-220 holds the back-up: %1.").arg(summary));
    });
}

}  // namespace quorvane::ui
