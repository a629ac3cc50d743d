// The library window's commands that go through the module: Play (audition a
// library patch: the module's memory is as before afterwards, the working area
// plays the sound), audition on select (the newest pick only), Store to...
// with its plan, reading what the module's patches use, and putting the last
// store back.
//
// An audition waits for the module with the event loop running: the list keeps
// taking keys meanwhile, and a pick made then only replaces the one waiting
// (as the main window's patch list does). The window may be closed (or
// destroyed) during one: nothing here touches it once it has gone.
#include "ui/library/frmLibrary.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "library/Audition.h"
#include "library/ModuleStore.h"
#include "ui/backup/BackupUi.h"
#include "ui/common/EditorControls.h"
#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibraryText.h"
#include "ui/setup/AppSettings.h"

namespace quorvane::ui {

using namespace library_window;

namespace {

const char* const kAuditionPlace = "library/auditionPlace";
const char* const kAuditionOnSelect = "library/auditionOnSelect";
const char* const kAuditionPart = "library/auditionPart";

QString PatchNumber(int n) { return QStringLiteral("P-%1").arg(n, 2, 10, QLatin1Char('0')); }

QString Busy() {
    return QStringLiteral("The U-220 is busy (the names are loading or a transfer runs): try again in a moment.");
}

QString AuditionRuns() { return QStringLiteral("An audition is playing: try again once it has ended."); }

// The plan in words, from its parts when the store gave no text of its own.
QString PlanText(const library::StorePlan& plan) {
    if (!plan.text.empty()) return Q(plan.text);
    QStringList lines;
    lines << QStringLiteral("\"%1\" replaces %2 \"%3\".").arg(Q(plan.itemName), PatchNumber(plan.slot), Q(plan.replacedName).trimmed());
    for (const library::PlanNeed& n : plan.needs) lines << QStringLiteral("- ") + Q(n.text);
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

// ---- the commands ---------------------------------------------------------------

QWidget* frmLibrary::BuildModuleCommands(QWidget* parent, std::vector<QAction*>& listKeys) {
    const bool module = options_.model && options_.host;
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Module"));
    // Enter (and a double click) on the list plays too: the view's "activated".
    QAction* play = menu->addAction(QStringLiteral("&Play\tEnter"), this, [this] { PlayCurrent(); });
    play->setStatusTip(QStringLiteral("Plays the sound on the U-220 without changing its memory"));
    QAction* onSelect = menu->addAction(QStringLiteral("Audition on &Select"));
    onSelect->setCheckable(true);
    QMenu* place = menu->addMenu(QStringLiteral("Audition &In"));
    QAction* here = place->addAction(QStringLiteral("The Patch the U-220 Is &On"), this, [] { SetAuditionPlace(0); });
    QAction* other = place->addAction(QStringLiteral("Patch &Memory..."), this, [this] {
        const int now = AuditionPlace();
        const int n = options_.prompts.number(this, QStringLiteral("Audition In"),
                                              QStringLiteral("Patch memory the auditions play in (it is put back after each):"),
                                              now ? now : 64, 1, 64);
        if (n) SetAuditionPlace(n);
    });
    here->setCheckable(true);
    other->setCheckable(true);
    // A timbre plays on a part of the module's working patch.
    QMenu* partMenu = menu->addMenu(QStringLiteral("Timbres Play on &Part"));
    std::vector<QAction*> parts;
    for (int p = 1; p <= 6; ++p) {
        QAction* a = partMenu->addAction(QStringLiteral("Part &%1").arg(p), this, [p] { SetAuditionPart(p); });
        a->setCheckable(true);
        parts.push_back(a);
    }
    connect(partMenu, &QMenu::aboutToShow, this, [parts] {
        for (int p = 1; p <= 6; ++p) parts[p - 1]->setChecked(AuditionPart() == p);
    });
    partMenu->setEnabled(module);
    connect(place, &QMenu::aboutToShow, this, [here, other] {
        const int n = AuditionPlace();
        here->setChecked(n == 0);
        other->setChecked(n != 0);
        other->setText(n ? QStringLiteral("Patch &Memory... (%1)").arg(PatchNumber(n)) : QStringLiteral("Patch &Memory..."));
    });
    menu->addSeparator();
    actStoreTo = menu->addAction(QStringLiteral("S&tore to Module..."), this, [this] {
        StoreTo(model_->IdAt(lstItems->currentIndex().row()));
    });
    actStoreTo->setStatusTip(QStringLiteral("Writes the patch into a patch memory, with the timbres it needs"));
    listKeys.push_back(actStoreTo);
    actReadModuleIndex = menu->addAction(QStringLiteral("&Read What the Module's Patches Use"), this, [this] { ReadModuleIndex(); });
    actPutBackStore = menu->addAction(QStringLiteral("Put &Back the Last Store"), this, [this] { PutBackLastStore(); });
    connect(menu, &QMenu::aboutToShow, this, [this] { UpdateModuleActions(); });
    for (QAction* a : {play, onSelect, actStoreTo, actReadModuleIndex, actPutBackStore}) a->setEnabled(module);
    place->setEnabled(module);

    cmdPlay = new QPushButton(QStringLiteral("&Play"), parent);
    cmdPlay->setObjectName(QStringLiteral("cmdPlay"));
    cmdPlay->setToolTip(QStringLiteral("Plays the selected sound on the U-220; its memory is as before afterwards (Enter)"));
    cmdPlay->setAutoDefault(false);
    cmdPlay->setEnabled(module);
    connect(cmdPlay, &QPushButton::clicked, this, [this] { PlayCurrent(); });
    chkAuditionOnSelect = new QCheckBox(QStringLiteral("Audition on select"), parent);
    chkAuditionOnSelect->setObjectName(QStringLiteral("chkAuditionOnSelect"));
    chkAuditionOnSelect->setToolTip(QStringLiteral("Each sound picked in the list plays on the U-220; quick steps play only the last one"));
    chkAuditionOnSelect->setEnabled(module);
    chkAuditionOnSelect->setChecked(module && AppSettings()->value(QLatin1String(kAuditionOnSelect), false).toBool());
    onSelect->setChecked(chkAuditionOnSelect->isChecked());
    connect(onSelect, &QAction::toggled, chkAuditionOnSelect, &QCheckBox::setChecked);
    connect(chkAuditionOnSelect, &QCheckBox::toggled, this, [onSelect](bool on) {
        onSelect->setChecked(on);
        AppSettings()->setValue(QLatin1String(kAuditionOnSelect), on);
    });
    connect(lstItems, &QAbstractItemView::activated, this, [this](const QModelIndex& at) {
        if (const int64_t id = model_->IdAt(at.row())) PostAudition(id);
    });
    connect(lstItems->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& now) {
        if (chkAuditionOnSelect->isChecked() && now.isValid() && !listMoved_)
            if (const int64_t id = model_->IdAt(now.row())) PostAudition(id);
    });

    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(cmdPlay);
    row->addWidget(chkAuditionOnSelect);
    row->addStretch(1);
    return box;
}

void frmLibrary::UpdateModuleActions() {
    if (!actPutBackStore) return;
    const QString last = options_.model ? LastStore() : QString();
    actPutBackStore->setText(last.isEmpty() ? QStringLiteral("Put &Back the Last Store")
                                            : QStringLiteral("Put &Back (%1)").arg(last));
    actPutBackStore->setEnabled(!last.isEmpty());
}

int frmLibrary::AuditionPlace() {
    const int n = AppSettings()->value(QLatin1String(kAuditionPlace), 0).toInt();
    return n >= 1 && n <= 64 ? n : 0;
}

void frmLibrary::SetAuditionPlace(int patch) {
    AppSettings()->setValue(QLatin1String(kAuditionPlace), patch >= 1 && patch <= 64 ? patch : 0);
}

int frmLibrary::AuditionPart() {
    const int n = AppSettings()->value(QLatin1String(kAuditionPart), 1).toInt();
    return n >= 1 && n <= 6 ? n : 1;
}

void frmLibrary::SetAuditionPart(int part) {
    AppSettings()->setValue(QLatin1String(kAuditionPart), part >= 1 && part <= 6 ? part : 1);
}

// ---- audition -----------------------------------------------------------------------

bool frmLibrary::PlayCurrent() { return Audition(model_->IdAt(lstItems->currentIndex().row())); }

bool frmLibrary::Audition(int64_t id) {
    if (!lib_ || !options_.model || !options_.host || id <= 0) return false;
    wantedAudition_ = id;
    // One runs: it plays this one when it is done (a newer pick replaces it).
    if (auditionRuns_ > 0) return true;
    bool ran = false;
    const auto run = [&] {
        ran = true;
        RunAuditions();
    };
    if (options_.runTransfer) options_.runTransfer(run);
    else run();
    if (!ran) {
        wantedAudition_ = 0;
        ShowStatus(Busy());
    }
    return ran;
}

void frmLibrary::PostAudition(int64_t id) {
    wantedAudition_ = id;  // a running audition plays it next
    if (auditionRuns_ > 0 || auditionPosted_) return;
    auditionPosted_ = true;
    QTimer::singleShot(0, this, [this] {
        auditionPosted_ = false;
        if (wantedAudition_ > 0) Audition(wantedAudition_);
    });
}

void frmLibrary::RunAuditions() {
    const QPointer<frmLibrary> self(this);
    // What the audition needs outlives a window destroyed meanwhile.
    const std::shared_ptr<library::SoundLibrary> lib = lib_;
    clsU220& model = *options_.model;
    Host& host = *options_.host;
    library::Journal* journal = options_.backup ? options_.backup->Journal() : nullptr;
    const std::function<void(const QString&, int)> shown = options_.auditionShown;
    ++auditionRuns_;
    WaitCursor hourglass;
    while (self && wantedAudition_ > 0) {
        const int64_t id = wantedAudition_;
        wantedAudition_ = 0;
        library::AuditionOptions o;
        o.scratch = AuditionPlace();
        if (!o.scratch && options_.modulePatch) o.scratch = options_.modulePatch();
        if (!o.scratch) o.scratch = model.LastPatchSent();
        // The working area plays the last audition: it came from that memory.
        if (!o.scratch) o.scratch = auditionedIn_;
        // Still 0: the audition finds the module's patch by its working patch's name.
        o.part = AuditionPart();
        QString name;
        try {
            if (const library::ItemRow* row = model_->RowAt(model_->LoadedRowOf(id))) name = Q(row->name);
        } catch (const std::exception&) {
        }
        ShowStatus(QStringLiteral("Auditioning %1...").arg(name));
        library::Audition audition(model, host, journal);
        library::AuditionReport r;
        try {
            r = library::AuditionItem(*lib, audition, id, o);
        } catch (const std::exception& e) {
            r.outcome = library::Outcome::Failed;
            r.text = std::string("It cannot be auditioned: ") + e.what();
        }
        // Closed and destroyed meanwhile: the module is as the audition left
        // it, and nothing of the window is left to tell.
        if (!self) return;
        const QString text = Q(r.text);
        if (r.ok()) {
            if (o.scratch) auditionedIn_ = o.scratch;
            // The details now show what the module told of it.
            if (model_->IdAt(lstItems->currentIndex().row()) == id) ShowDetails(id);
            ShowStatus(text);
            if (shown) shown(text, o.scratch);
        } else if (r.journalOpen) {
            ShowStatus(text);
            options_.prompts.tell(this, QStringLiteral("Audition"), text, true);
        } else {
            ShowStatus(text.isEmpty() ? QStringLiteral("The audition did not complete.") : text);
        }
    }
    if (self) --auditionRuns_;
}

// ---- store ----------------------------------------------------------------------------

namespace {

// The plan with its three answers: 1 Store, 2 Store the patch alone, 0 Cancel.
int AskPlanWithDialog(QWidget* parent, const library::StorePlan& plan) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgStorePlan"));
    dialog.setWindowTitle(QStringLiteral("Store to Module"));
    auto* text = new QPlainTextEdit(PlanText(plan), &dialog);
    text->setObjectName(QStringLiteral("txtPlan"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* store = buttons->addButton(QStringLiteral("Store"), QDialogButtonBox::AcceptRole);
    store->setObjectName(QStringLiteral("cmdStore"));
    QPushButton* alone = buttons->addButton(QStringLiteral("Store the patch alone"), QDialogButtonBox::AcceptRole);
    alone->setObjectName(QStringLiteral("cmdStoreAlone"));
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setDefault(true);
    int answer = 0;
    QObject::connect(store, &QPushButton::clicked, &dialog, [&] { answer = 1, dialog.accept(); });
    QObject::connect(alone, &QPushButton::clicked, &dialog, [&] { answer = 2, dialog.accept(); });
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text, 1);
    layout->addWidget(buttons);
    const QFontMetrics fm(dialog.font());
    dialog.resize(fm.averageCharWidth() * 100, fm.lineSpacing() * 30);
    return dialog.exec() == QDialog::Accepted ? answer : 0;
}

// The memory names the model holds: {0 patch, 1 timbre, 2 rhythm setup; number}.
std::vector<std::pair<int, int>> NamesHeld(clsU220& model) {
    std::vector<std::pair<int, int>> held;
    for (int n = 1; n <= 64; ++n)
        if (model.MemoryPatchNameLoaded(n)) held.push_back({0, n});
    for (int n = 1; n <= 128; ++n)
        if (model.MemoryTimbreNameLoaded(n)) held.push_back({1, n});
    for (int n = 1; n <= 4; ++n)
        if (model.MemoryRhythmNameLoaded(n)) held.push_back({2, n});
    return held;
}

// Reads again the names of `held` that writes made the model forget (the
// memories hold what they held: an audition puts them back). The store reads
// the names it changes again only when the model held them before it.
void ReadNamesAgain(clsU220& model, const std::vector<std::pair<int, int>>& held) {
    for (const auto& [kind, n] : held) {
        const auto number = static_cast<int16_t>(n);
        bool loaded = false;
        if (kind == 0) loaded = model.MemoryPatchNameLoaded(n) || (model.MemoryPatchName(number), model.MemoryPatchNameLoaded(n));
        else if (kind == 1) loaded = model.MemoryTimbreNameLoaded(n) || (model.MemoryTimbreName(number), model.MemoryTimbreNameLoaded(n));
        else loaded = model.MemoryRhythmNameLoaded(n) || (model.MemoryRhythmName(number), model.MemoryRhythmNameLoaded(n));
        if (!loaded) return;  // no answer: File > Reload reads them
    }
}

library::TransferReport AsTransfer(library::Outcome outcome, const std::string& text, bool journalOpen = false) {
    library::TransferReport r;
    r.outcome = outcome;
    r.text = text;
    r.journalOpen = journalOpen;
    return r;
}

}  // namespace

bool frmLibrary::StoreTo(int64_t id, int slot) {
    if (!lib_ || !options_.model || !options_.host || !options_.backup || id <= 0) return false;
    // Its journal is open until it ends: nothing else may overwrite memories meanwhile.
    if (auditionRuns_ > 0) {
        ShowStatus(AuditionRuns());
        return false;
    }
    const QString title = QStringLiteral("Store to Module");
    std::optional<library::ItemDetails> item;
    try {
        item = lib_->Details(id);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The sound cannot be read"), e);
        return false;
    }
    if (!item) return false;
    const QString name = Q(item->row.name);
    if (item->row.type != library::SoundType::Patch) {
        ShowStatus(QStringLiteral("Store to Module takes library patches; \"%1\" is a %2.")
                       .arg(name, LibraryModel::TypeText(item->row.type).toLower()));
        return false;
    }
    if (slot < 1 || slot > 64) {
        const int suggested = options_.modulePatch ? options_.modulePatch() : 0;
        slot = options_.prompts.number(this, title, QStringLiteral("Store \"%1\" into patch memory:").arg(name),
                                       suggested > 0 ? suggested : 1, 1, 64);
        if (slot < 1 || slot > 64) return false;
    }
    const QPointer<frmLibrary> self(this);
    clsU220& model = *options_.model;
    Host& host = *options_.host;
    BackupUi* backup = options_.backup;
    const std::shared_ptr<library::SoundLibrary> keep = lib_;  // outlives a window destroyed meanwhile
    library::SoundLibrary& lib = *keep;
    bool ran = false, ok = false;
    const auto run = [&] {
        ran = true;
        library::StorePlan plan;
        {
            // Reading what the memories hold now (and, for a patch never
            // auditioned, its timbre numbers through the module).
            WaitCursor hourglass;
            ShowStatus(QStringLiteral("Reading what %1 and the timbres the patch needs hold now...").arg(PatchNumber(slot)));
            const auto held = NamesHeld(model);
            try {
                plan = library::PlanStore(model, host, lib, backup->Journal(), id, slot);
            } catch (const std::exception& e) {  // the item went from the library meanwhile
                plan.outcome = library::Outcome::Failed;
                plan.text = std::string("The plan could not be made: ") + e.what();
            }
            // An audition for the plan wrote (and put back) memories.
            if (self && plan.outcome == library::Outcome::Done) ReadNamesAgain(model, held);
        }
        if (!self) return;
        if (plan.outcome != library::Outcome::Done) {
            ShowStatus(Q(plan.text));
            options_.prompts.tell(this, title, Q(plan.text), true);
            return;
        }
        ShowStatus(QString());
        const int answer = options_.askPlan ? options_.askPlan(this, plan) : AskPlanWithDialog(this, plan);
        if (!self || answer == 0) return;
        const bool alone = answer == 2;
        int64_t snapshot = 0;
        ok = backup->RunLibraryWork(title, [&](const BackupUi::ProgressFn&) {
            library::StoreReport r;
            try {
                r = library::Store(model, host, lib, backup->Journal(), plan, alone);
            } catch (const std::exception& e) {
                r.outcome = library::Outcome::Failed;
                r.text = std::string("Nothing was stored: ") + e.what();
            }
            snapshot = r.snapshotId;
            return AsTransfer(r.ok() ? library::Outcome::Done : (r.outcome == library::Outcome::Done ? library::Outcome::Failed : r.outcome),
                              r.text, r.journalOpen);
        }, this);
        if (!self) return;
        ShowStatus(backup->LastResult());
        // Stored: the sound the working area plays is in the module now.
        if (ok && options_.auditionShown) options_.auditionShown(QString(), 0);
        UpdateModuleActions();
    };
    if (options_.runTransfer) options_.runTransfer(run);
    else run();
    if (!ran && self) ShowStatus(Busy());
    return ok;
}

bool frmLibrary::ReadModuleIndex() {
    if (!lib_ || !options_.model || !options_.host || !options_.backup) return false;
    // Its journal is open until it ends: nothing else may overwrite memories meanwhile.
    if (auditionRuns_ > 0) {
        ShowStatus(AuditionRuns());
        return false;
    }
    clsU220& model = *options_.model;
    Host& host = *options_.host;
    BackupUi* backup = options_.backup;
    const std::shared_ptr<library::SoundLibrary> keep = lib_;  // outlives a window destroyed meanwhile
    library::SoundLibrary& lib = *keep;
    const QPointer<frmLibrary> self(this);
    const QString title = QStringLiteral("Read What the Module's Patches Use");
    // Each patch is loaded into the working area in turn.
    if (model.WorkingAreaEdited() &&
        options_.prompts.ask(this, title,
                             QStringLiteral("The working patch has edits that are not saved. Reading what the module's "
                                            "patches use switches the U-220 through every patch and replaces them. Go on?"),
                             QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return false;
    bool ran = false, ok = false;
    const auto run = [&] {
        ran = true;
        ok = backup->RunLibraryWork(title, [&](const BackupUi::ProgressFn& progress) {
            const library::IndexReport r = library::ReadModuleIndex(model, host, lib, [&](int done, int total) {
                library::Progress p;
                p.done = static_cast<size_t>(done);
                p.total = static_cast<size_t>(total);
                p.stage = "Reading";
                return !progress || progress(p);
            });
            return AsTransfer(r.outcome, r.text);
        }, this);
        if (self) ShowStatus(backup->LastResult());
    };
    if (options_.runTransfer) options_.runTransfer(run);
    else run();
    if (!ran && self) ShowStatus(Busy());
    return ok;
}

QString frmLibrary::LastStore() {
    if (!lib_ || !options_.model) return {};
    try {
        for (const library::Snapshot& s : library::Snapshots(*lib_, 20))
            if (s.putBack.empty() && s.deviceId == options_.model->DeviceID()) return Q(s.operation);
    } catch (const std::exception&) {
    }
    return {};
}

bool frmLibrary::PutBackLastStore() {
    if (!lib_ || !options_.model || !options_.host || !options_.backup) return false;
    // Its journal is open until it ends: nothing else may overwrite memories meanwhile.
    if (auditionRuns_ > 0) {
        ShowStatus(AuditionRuns());
        return false;
    }
    int64_t id = 0;
    QString what;
    try {
        for (const library::Snapshot& s : library::Snapshots(*lib_, 20))
            if (s.putBack.empty() && s.deviceId == options_.model->DeviceID()) {
                id = s.id;
                what = Q(s.operation);
                break;
            }
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The stores cannot be read"), e);
        return false;
    }
    const QString title = QStringLiteral("Put Back");
    if (!id) {
        ShowStatus(QStringLiteral("No store to put back."));
        return false;
    }
    if (options_.prompts.ask(this, title, QStringLiteral("Put back what the %1 replaced?").arg(what),
                             QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return false;
    clsU220& model = *options_.model;
    Host& host = *options_.host;
    BackupUi* backup = options_.backup;
    const std::shared_ptr<library::SoundLibrary> keep = lib_;  // outlives a window destroyed meanwhile
    library::SoundLibrary& lib = *keep;
    const QPointer<frmLibrary> self(this);
    bool ran = false, ok = false;
    const auto run = [&] {
        ran = true;
        ok = backup->RunLibraryWork(title, [&](const BackupUi::ProgressFn&) {
            return library::PutBackSnapshot(model, host, lib, backup->Journal(), id);
        }, this);
        if (self) ShowStatus(backup->LastResult());
    };
    if (options_.runTransfer) options_.runTransfer(run);
    else run();
    if (!ran && self) ShowStatus(Busy());
    if (self) UpdateModuleActions();
    return ok;
}

}  // namespace quorvane::ui
