// Back-up commands of the main window against the built-in virtual module: File >
// Back Up Module... and Restore from File... (a back-up of what the module holds
// offered first, the file described before anything is sent, the names shown
// again afterwards), a damaged file refused with nothing sent, Copy Patch to...
// and Swap with... from the patch list, Cancel during a back-up at a real
// module's pace leaving no file, Cancel while the module has stopped answering
// (no question after it), the commands greyed while the names load, a cancelled
// Load Patch reading the editor again, and a back-up opened in the virtual module.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "device/NameCodec.h"
#include "library/Journal.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "ui/UiTestSupport.h"
#include "ui/backup/BackupUi.h"
#include "ui/main/frmMain.h"
#include "ui/patch/frmPatch.h"
#include "ui/setup/frmMIDISetupForm.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::BackupPrompts;
using quorvane::ui::frmMain;
using quorvane::ui::frmMainOptions;
using quorvane::ui::frmMIDISetupForm;

namespace {

// Answers the back-up dialogs from queues and keeps what was asked and told.
struct Answers {
    QStringList open, save;           // file names, in turn
    QList<QMessageBox::StandardButton> buttons;
    QList<int> numbers;
    QStringList asked, told;
    QList<bool> warnings;
    std::function<void()> whenTold;  // runs as each result is told

    BackupPrompts Prompts() {
        BackupPrompts p;
        p.openFile = [this](QWidget*, const QString&) { return open.isEmpty() ? QString() : open.takeFirst(); };
        p.saveFile = [this](QWidget*, const QString&, const QString&) { return save.isEmpty() ? QString() : save.takeFirst(); };
        p.ask = [this](QWidget*, const QString&, const QString& text, QMessageBox::StandardButtons) {
            asked << text;
            return buttons.isEmpty() ? QMessageBox::Cancel : buttons.takeFirst();
        };
        p.number = [this](QWidget*, const QString&, const QString&, int, int, int) {
            return numbers.isEmpty() ? 0 : numbers.takeFirst();
        };
        p.tell = [this](QWidget*, const QString&, const QString& text, bool warning) {
            told << text;
            warnings << warning;
            if (whenTold) whenTold();
        };
        return p;
    }
};

std::unique_ptr<frmMain> MakeMain(std::shared_ptr<midi::VirtualU220> vm, Answers& answers,
                                  const QString& journalFolder = QString()) {
    frmMainOptions o;
    o.journalFolder = journalFolder;
    o.runSetup = [](frmMIDISetupForm& d) {
        d.cmdOK->click();
        return d.result();
    };
    o.backupPrompts = answers.Prompts();
    return std::make_unique<frmMain>(VirtualRoot(vm), o);
}

bool StartAndLoad(frmMain& w) {
    if (!w.Load()) return false;
    w.show();
    return WaitFor([&] { return w.cmdEditPatch->isVisible() && !w.Activating(); }, 30000);
}

QString ListName(frmMain& w, int patchNo) { return w.pnameListBox->item(patchNo - 1)->text().mid(7); }

Bytes ModuleRange(midi::VirtualU220& vm, Address a, int size) {
    return vm.withEmulator([&](emulator::U220Emulator& e) { return e.read(a, size); });
}

Bytes FileBytes(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray b = f.readAll();
    return Bytes(b.begin(), b.end());
}

}  // namespace

class tst_Backup : public QObject {
    Q_OBJECT
private slots:
    void backUpRestoreCopyAndSwapFromTheMainWindow();
    void cancelDuringABackUpAtARealPaceLeavesNoFile();
    void aBackupOpensInTheVirtualModule();
    void theSetupDialogOpensABackupInTheVirtualModule();
    void thePatchEditorSavesAndLoadsTheWorkingPatch();
    void theCommandsAreGreyedWhileTheNamesLoadAtARealPace();
    void cancelWhileTheModuleIsSilentEndsTheTransferWithoutAsking();
    void copyAndSwapNameBothPatchesAndPutBackRestoresVerified();
    void afterWritesTheWindowShowsTheModuleAndReadsOnlyTheNamesWritten();
    void closingTheWindowEndsATransferAtOnce();
    void aPendingJournalIsOfferedAtConnection_data();
    void aPendingJournalIsOfferedAtConnection();
    void copyAndRestoreInTheWindowKeepTheJournal();
};

void tst_Backup::backUpRestoreCopyAndSwapFromTheMainWindow() {
    QTemporaryDir dir;
    auto vm = std::make_shared<midi::VirtualU220>();
    Answers a;
    auto w = MakeMain(vm, a);
    QVERIFY(StartAndLoad(*w));
    QVERIFY(w->pnameListBox->actions().contains(w->mnuEditCopyPatch));
    QVERIFY(w->pnameListBox->actions().contains(w->mnuEditSwapPatch));

    // Back up.
    const QString saved = dir.filePath("module.syx");
    a.save << saved;
    w->mnuFileBackUp->trigger();
    QCOMPARE(a.told.value(0), QStringLiteral("Backed up master setup, 64 patches, 128 timbres, 4 rhythm setups, working area."));
    const library::BackupFile file = library::ReadBackupFile(saved.toStdString());
    QVERIFY2(file.ok, file.error.c_str());

    // A copy of it with patch 5 renamed, restored: a back-up of the module first.
    library::MemoryImage edited = file.image;
    edited.put(PatchMemoryAddress(5), EncodeName("Restored P5 "));
    std::string error;
    const QString editedPath = dir.filePath("edited.syx");
    QVERIFY(library::WriteFileAtomically(editedPath.toStdString(), library::SyxBytes(edited, 0x03), error));
    const QString before = dir.filePath("before.syx");
    a.open << editedPath;
    a.save << before;
    a.buttons << QMessageBox::Yes << QMessageBox::Ok;
    a.told.clear();
    w->mnuFileRestore->trigger();
    QCOMPARE(a.asked.size(), 2);
    QVERIFY(a.asked[0].contains("Back up what the U-220 holds now"));
    QVERIFY2(a.asked[1].contains("holds master setup, 64 patches, 128 timbres, 4 rhythm setups, working area") &&
                 a.asked[1].contains("device ID 17") && a.asked[1].contains("saved for device ID 4; it is sent for 17"),
             qPrintable(a.asked[1]));
    QCOMPARE(a.told.value(1), QStringLiteral("Restored master setup, 64 patches, 128 timbres, 4 rhythm setups, working area; all verified."));
    QVERIFY(FileBytes(before) == FileBytes(saved));  // what the module held, kept
    QCOMPARE(ListName(*w, 5), QStringLiteral("Restored P5 "));
    QCOMPARE(ModuleRange(*vm, PatchMemoryAddress(5), 24), EncodeName("Restored P5 "));

    // The back-up first may not go over the file to restore.
    a.told.clear();
    a.open << editedPath;
    a.save << editedPath;
    a.buttons << QMessageBox::Yes;
    const size_t sentBeforeSameName = SentCount(*vm);
    w->mnuFileRestore->trigger();
    QVERIFY2(a.told.value(0).contains("needs another name"), qPrintable(a.told.value(0)));
    QCOMPARE(SentCount(*vm), sentBeforeSameName);
    QVERIFY(library::ReadBackupFile(editedPath.toStdString()).image == edited);

    // Refused files: told why, nothing asked, nothing sent.
    QFile bad(dir.filePath("bad.syx"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    Bytes damaged = library::SyxBytes(edited, 0x10);
    damaged[20] ^= 1;
    bad.write(reinterpret_cast<const char*>(damaged.data()), static_cast<qint64>(damaged.size()));
    bad.close();
    const size_t sent = SentCount(*vm);
    for (const QString& path : {bad.fileName(), dir.filePath("missing.syx")}) {
        a.asked.clear();
        a.told.clear();
        a.open << path;
        w->mnuFileRestore->trigger();
        QVERIFY(a.asked.isEmpty());
        QVERIFY2(a.told.value(0).contains("cannot be restored"), qPrintable(a.told.value(0)));
        QCOMPARE(a.warnings.last(), true);
    }
    QCOMPARE(SentCount(*vm), sent);

    // Copy patch 3 to 10, then swap 1 and 2, from the selected patch.
    const QString name1 = ListName(*w, 1), name2 = ListName(*w, 2), name3 = ListName(*w, 3);
    const Bytes p3 = ModuleRange(*vm, PatchMemoryAddress(3), 160);
    w->pnameListBox->setCurrentRow(2);
    QVERIFY(WaitFor([&] { return !w->U220().RequestOpen(); }));
    a.numbers << 10;
    a.buttons << QMessageBox::Ok;
    a.told.clear();
    w->mnuEditCopyPatch->trigger();
    QCOMPARE(a.told.value(0), QStringLiteral("Copied patch 3 to patch 10; verified."));
    QCOMPARE(ModuleRange(*vm, PatchMemoryAddress(10), 160), p3);
    QCOMPARE(ListName(*w, 10), name3);
    w->pnameListBox->setCurrentRow(0);
    QVERIFY(WaitFor([&] { return !w->U220().RequestOpen(); }));
    a.numbers << 2;
    a.buttons << QMessageBox::Ok;
    w->mnuEditSwapPatch->trigger();
    QCOMPARE(a.told.value(1), QStringLiteral("Swapped patch 1 with patch 2; verified."));
    QCOMPARE(ListName(*w, 1), name2);
    QCOMPARE(ListName(*w, 2), name1);
    // Cancelled at the number: nothing sent.
    const size_t sentBefore = SentCount(*vm);
    w->mnuEditCopyPatch->trigger();
    QCOMPARE(SentCount(*vm), sentBefore);
}

void tst_Backup::cancelDuringABackUpAtARealPaceLeavesNoFile() {
    QTemporaryDir dir;
    auto vm = std::make_shared<midi::VirtualU220>();
    Answers a;
    auto w = MakeMain(vm, a);
    QVERIFY(StartAndLoad(*w));
    vm->withEmulator([](emulator::U220Emulator& e) {
        emulator::WireModel wire;
        wire.enabled = true;
        wire.answerDelayMs = 400;
        wire.minGapMs = 20;
        e.setWireModel(wire);
    });
    w->U220().MIDIOutput1->setSendGapMs(20);
    const QString path = dir.filePath("cancelled.syx");
    a.save << path;
    // Cancel once the bar has moved, as a user would.
    bool pressed = false;
    QString label;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QProgressDialog* p = w->Backup()->Progress();
        // Once the bar has moved and the time left is known.
        if (!pressed && p && p->value() > 0 && p->labelText().contains("left")) {
            label = p->labelText();
            pressed = true;
            SaveScreenshot(*p, "backup-progress.png");
            p->cancel();
        }
    });
    poll.start(20);
    w->mnuFileBackUp->trigger();
    poll.stop();
    QVERIFY(pressed);
    QVERIFY2(QRegularExpression("^Reading\\.\\.\\.  about \\d+ s left$").match(label).hasMatch(), qPrintable(label));
    QCOMPARE(a.told.value(0), QStringLiteral("Back-up cancelled; no file was written."));
    QVERIFY(a.warnings.value(0));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!QFile::exists(path + ".part"));
    QVERIFY(!w->Backup()->Busy());
    QCOMPARE(vm->withEmulator([](emulator::U220Emulator& e) { return e.stats().lostToGap; }), uint64_t{0});
}

void tst_Backup::aBackupOpensInTheVirtualModule() {
    QTemporaryDir dir;
    library::MemoryImage image;
    image.put(PatchMemoryAddress(7), EncodeName("From a file "));
    image.put({0x10, 0x04, 0x00}, EncodeName("Working one "));
    std::string error;
    const QString path = dir.filePath("partial.syx");
    QVERIFY(library::WriteFileAtomically(path.toStdString(), library::SyxBytes(image, 0x1F), error));
    midi::VirtualU220 vm;
    const Bytes untouched = ModuleRange(vm, PatchMemoryAddress(8), 160);
    Answers a;
    a.open << path << dir.filePath("none.syx");
    QString summary;
    QVERIFY(ui::BackupUi::OpenBackupInVirtualModule(nullptr, vm, a.Prompts(), &summary));
    QCOMPARE(summary, QStringLiteral("part of patch 7, working area"));
    QCOMPARE(ModuleRange(vm, PatchMemoryAddress(7), 24), EncodeName("From a file "));
    QCOMPARE(ModuleRange(vm, {0x10, 0x04, 0x00}, 24), EncodeName("Working one "));
    QCOMPARE(ModuleRange(vm, PatchMemoryAddress(8), 160), untouched);
    QVERIFY(!ui::BackupUi::OpenBackupInVirtualModule(nullptr, vm, a.Prompts(), &summary));
    QVERIFY(a.told.value(0).contains("cannot be opened"));
}

void tst_Backup::theSetupDialogOpensABackupInTheVirtualModule() {
    QTemporaryDir dir;
    library::MemoryImage image;
    image.put(PatchMemoryAddress(7), EncodeName("From a file "));
    std::string error;
    const QString path = dir.filePath("seven.syx");
    QVERIFY(library::WriteFileAtomically(path.toStdString(), library::SyxBytes(image, 0x10), error));
    auto vm = std::make_shared<midi::VirtualU220>();
    Answers a;
    a.open << path;
    frmMainOptions o;
    o.backupPrompts = a.Prompts();
    QString status;
    o.runSetup = [&](frmMIDISetupForm& d) {
        auto* open = d.findChild<QPushButton*>("cmdOpenBackup");
        if (!open) return 0;
        open->click();
        status = d.lblStatus->text();
        d.cmdOK->click();
        return d.result();
    };
    frmMain w(VirtualRoot(vm), o);
    QVERIFY(StartAndLoad(w));
    QCOMPARE(status, QStringLiteral("The virtual U-220 holds the back-up: part of patch 7."));
    QCOMPARE(ListName(w, 7), QStringLiteral("From a file "));
    QVERIFY(ListName(w, 6) != ListName(w, 7));
}

void tst_Backup::thePatchEditorSavesAndLoadsTheWorkingPatch() {
    QTemporaryDir dir;
    VirtualRig rig;
    TestContext ctx(rig.u220());
    quorvane::ui::frmPatch editor(ctx);
    Answers a;
    ui::BackupUi backup(nullptr, rig.u220(), rig.host, a.Prompts());
    int refreshed = 0;
    backup.AddPatchFileButtons(editor, editor.EndCommand, [&] {
        ++refreshed;
        editor.Activate();
    });
    auto* save = editor.findChild<QPushButton*>("cmdSavePatchAs");
    auto* load = editor.findChild<QPushButton*>("cmdLoadPatch");
    QVERIFY(save && load);
    editor.Activate();
    const QString name = editor.PatchNameText->text();

    const QString path = dir.filePath("patch.syx");
    a.save << path;
    save->click();
    QCOMPARE(a.told.value(0), QStringLiteral("Backed up working area."));
    const library::BackupFile file = library::ReadBackupFile(path.toStdString());
    QVERIFY2(file.ok, file.error.c_str());
    QCOMPARE(file.Summary(), std::string("working area"));

    // Another patch played, then the saved one loaded back into the working area.
    rig.u220().PatchChange(9);
    editor.Activate();
    QVERIFY(editor.PatchNameText->text() != name);
    a.open << path;
    load->click();
    QCOMPARE(a.told.value(1), QStringLiteral("Restored working area; all verified."));
    QCOMPARE(refreshed, 1);
    QCOMPARE(editor.PatchNameText->text(), name);
    for (const library::Range& r : file.image.runs()) {
        Bytes want;
        file.image.get(r, want);
        QCOMPARE(ModuleRange(*rig.vm, r.address, r.size), want);
    }

    // Loaded at a real pace and cancelled half-way: part of the file is in the
    // working area, so the editor reads again rather than keep what it showed.
    {
        rig.u220().PatchChange(9);
        editor.Activate();
        const int before = refreshed;
        RealModulePace pace(rig);
        bool pressed = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QProgressDialog* p = backup.Progress();
            if (!pressed && p && p->value() > 0) {
                pressed = true;
                p->cancel();
            }
        });
        poll.start(10);
        a.open << path;
        load->click();
        poll.stop();
        QVERIFY(pressed);
        QCOMPARE(a.told.last(), QStringLiteral("Restore cancelled; the U-220 holds part of the file."));
        QCOMPARE(refreshed, before + 1);
        QCOMPARE(editor.PatchNameText->text(), name);  // the first data set written holds the name
    }

    // A file with memories in it is not a patch: refused, nothing sent.
    const QString full = dir.filePath("full.syx");
    a.save << full;
    a.numbers.clear();
    QVERIFY(backup.BackUpModule());
    const size_t sent = SentCount(*rig.vm);
    a.open << full;
    load->click();
    QVERIFY2(a.told.last().contains("not only a patch"), qPrintable(a.told.last()));
    QCOMPARE(SentCount(*rig.vm), sent);
    QCOMPARE(refreshed, 2);
}

void tst_Backup::theCommandsAreGreyedWhileTheNamesLoadAtARealPace() {
    // While the window reads the names the commands cannot run: a click on one
    // must not be taken and dropped. They come back once the names are in.
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeRealisticMain(vm, 5);
    const QList<QAction*> commands{w->mnuFileBackUp, w->mnuFileRestore, w->mnuEditCopyPatch, w->mnuEditSwapPatch};
    int samples = 0, enabledWhileLoading = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!w->Activating()) return;
        ++samples;
        for (QAction* c : commands) enabledWhileLoading += c->isEnabled() ? 1 : 0;
    });
    poll.start(10);
    QVERIFY(StartAndLoad(*w));
    poll.stop();
    QVERIFY(samples > 0);
    QCOMPARE(enabledWhileLoading, 0);
    for (QAction* c : commands) QVERIFY2(c->isEnabled(), qPrintable(c->text()));
}

void tst_Backup::cancelWhileTheModuleIsSilentEndsTheTransferWithoutAsking() {
    // The module stops answering in the middle of a transfer at a real pace.
    // The dialog says it waits (not a time left frozen at its last figure), and
    // Cancel ends the transfer as cancelled: no "not responding" question after
    // it, no file, and the module can be asked again at once.
    QTemporaryDir dir;
    auto vm = std::make_shared<midi::VirtualU220>();
    Answers a;
    auto w = MakeMain(vm, a);
    QVERIFY(StartAndLoad(*w));
    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    w->U220().MIDIOutput1->setSendGapMs(kRealSendGapMs);
    // A "not responding" box would be a fault here: counted, and answered Cancel.
    MessageBoxWatcher boxes([](QMessageBox&) { return QMessageBox::Cancel; });

    struct Case {
        const char* what;
        std::function<void()> start;
        const char* told;
    };
    const QString path = dir.filePath("silent.syx");
    const std::vector<Case> cases{
        {"back-up", [&] { a.save << path; w->mnuFileBackUp->trigger(); }, "Back-up cancelled; no file was written."},
        {"copy", [&] { a.numbers << 9; a.buttons << QMessageBox::Ok; w->mnuEditCopyPatch->trigger(); },
         "Copy cancelled; nothing was written."},
    };
    for (const Case& c : cases) {
        SetSilent(*vm, false);
        a.told.clear();
        bool silenced = false, pressed = false;
        QString waiting;
        QList<QPoint> cancelAt;  // where the Cancel button stood, at each label
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QProgressDialog* p = w->Backup()->Progress();
            if (!p) return;
            if (auto* b = p->findChild<QPushButton*>(); b && b->isVisible()) {
                const QPoint at = b->mapToGlobal(QPoint(0, 0));
                if (cancelAt.isEmpty() || cancelAt.last() != at) cancelAt << at;
            }
            if (!silenced && (p->value() > 0 || QString(c.what) == "copy")) {
                SetSilent(*vm, true);
                silenced = true;
            } else if (silenced && !pressed && p->labelText().contains("waiting for the U-220")) {
                waiting = p->labelText();
                pressed = true;
                p->cancel();
            }
        });
        poll.start(20);
        w->pnameListBox->setCurrentRow(2);
        c.start();
        poll.stop();
        QVERIFY2(pressed, c.what);
        QVERIFY2(waiting.startsWith("Reading..."), qPrintable(waiting));
        // The button did not move as the text changed.
        QVERIFY2(cancelAt.size() == 1, qPrintable(QStringLiteral("%1 places, the last %2,%3").arg(cancelAt.size()).arg(cancelAt.last().x()).arg(cancelAt.last().y())));
        QCOMPARE(a.told.value(0), QString(c.told));
        QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join('|')));
        QVERIFY(!w->Backup()->Busy());
    }
    QVERIFY(!QFile::exists(path));
    QVERIFY(!QFile::exists(path + ".part"));
    // Answering again: the next read goes through.
    SetSilent(*vm, false);
    Bytes got;
    QVERIFY(w->U220().ReadRange(PatchMemoryAddress(1), 24, got));
    QCOMPARE(got, ModuleRange(*vm, PatchMemoryAddress(1), 24));
}

namespace {

// The module at a real module's pace from here on.
void RealPace(frmMain& w, midi::VirtualU220& vm) {
    vm.setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    w.U220().MIDIOutput1->setSendGapMs(kRealSendGapMs);
}

// Requests for memory names in the patch memories (24 bytes from a patch's start).
int PatchNameRequests(const std::vector<Bytes>& log) {
    int n = 0;
    for (const auto& r : Requests(log)) n += r.size == 24 && r.address.a1 == 0x03;
    return n;
}

QString Label(midi::VirtualU220& vm, int n) {
    const Bytes b = ModuleRange(vm, PatchMemoryAddress(n), 24);
    return QStringLiteral("P-%1 ").arg(n, 2, 10, QLatin1Char('0')) + QString::fromStdString(NameBytesToUtf8(DecodeName(b.data()))).trimmed();
}

bool Settle(frmMain& w, int row) {
    w.pnameListBox->setCurrentRow(row);
    return WaitFor([&] { return !w.PatchChanging() && !w.U220().RequestOpen() && w.U220().RequestsQueued() == 0; }, 20000);
}

}  // namespace

// Copy Patch names both patches before it overwrites one, keeps what it
// overwrote, and Edit > Put Back writes that back (newest first), verified;
// Swap names both too. At a real module's pace.
void tst_Backup::copyAndSwapNameBothPatchesAndPutBackRestoresVerified() {
    auto vm = std::make_shared<midi::VirtualU220>();
    Answers a;
    auto w = MakeMain(vm, a);
    QVERIFY(StartAndLoad(*w));
    RealPace(*w, *vm);
    const Bytes p5 = ModuleRange(*vm, PatchMemoryAddress(5), 160), p6 = ModuleRange(*vm, PatchMemoryAddress(6), 160),
                p7 = ModuleRange(*vm, PatchMemoryAddress(7), 160), p1 = ModuleRange(*vm, PatchMemoryAddress(1), 160);
    const QString l1 = Label(*vm, 1), l2 = Label(*vm, 2), l5 = Label(*vm, 5), l6 = Label(*vm, 6), l7 = Label(*vm, 7);
    QVERIFY(!w->mnuEditPutBack->isEnabled());

    struct Case {
        const char* what;
        int row;                       // the patch picked first (0-based)
        QAction* action;
        int number;                    // the patch asked for (0: not asked)
        QMessageBox::StandardButton answer;
        QString asked;                 // the question, as asked
        QString told;                  // "" when nothing is told
        Bytes p6After;                 // memory 6 afterwards
        QString putBack;               // what Put Back would write back then ("" disabled)
        int nameRequests;              // patch names read again
    };
    const Case cases[] = {
        {"copy P-05 over P-06, cancelled at the question", 4, w->mnuEditCopyPatch, 6, QMessageBox::Cancel,
         "Copy " + l5 + " over " + l6 + "?", "", p6, "", 0},
        {"copy P-05 over P-06", 4, w->mnuEditCopyPatch, 6, QMessageBox::Ok, "Copy " + l5 + " over " + l6 + "?",
         "Copied patch 5 to patch 6; verified.", p5, l6, 1},
        {"copy P-07 over P-06 (now a copy of P-05)", 6, w->mnuEditCopyPatch, 6, QMessageBox::Ok,
         "Copy " + l7 + " over P-06 " + l5.mid(5) + "?", "Copied patch 7 to patch 6; verified.", p7, "P-06 " + l5.mid(5), 1},
        {"put back the newest", 6, w->mnuEditPutBack, 0, QMessageBox::Ok, "", "Put back P-06 " + l5.mid(5) + "; verified.", p5,
         l6, 0},
        {"put back the first", 6, w->mnuEditPutBack, 0, QMessageBox::Ok, "", "Put back " + l6 + "; verified.", p6, "", 0},
        {"swap P-01 with P-02, cancelled at the question", 0, w->mnuEditSwapPatch, 2, QMessageBox::Cancel,
         "Swap " + l1 + " with " + l2 + "?", "", p6, "", 0},
    };
    for (const Case& c : cases) {
        QVERIFY2(Settle(*w, c.row), c.what);
        vm->clearReceived();
        a.asked.clear();
        a.told.clear();
        if (c.number) a.numbers << c.number;
        a.buttons << c.answer;
        c.action->trigger();
        QVERIFY2(WaitFor([&] { return !w->Backup()->Busy(); }), c.what);
        if (!c.asked.isEmpty()) QVERIFY2(a.asked.value(0).startsWith(c.asked), qPrintable(a.asked.value(0)));
        else QVERIFY2(a.asked.value(0).startsWith("Put " + c.told.mid(9).section(';', 0, 0) + " back over P-06"),
                      qPrintable(a.asked.value(0)));
        QCOMPARE(a.told.value(0), c.told);
        if (c.told.isEmpty()) QVERIFY2(DataSets(vm->received()).empty(), c.what);
        QCOMPARE(ModuleRange(*vm, PatchMemoryAddress(6), 160), c.p6After);
        QCOMPARE(ListName(*w, 6).trimmed(), Label(*vm, 6).mid(5));
        QCOMPARE(w->mnuEditPutBack->isEnabled(), !c.putBack.isEmpty());
        if (!c.putBack.isEmpty()) QCOMPARE(w->mnuEditPutBack->text(), "Put &Back " + c.putBack);
        QCOMPARE(PatchNameRequests(vm->received()), c.nameRequests);
        QCOMPARE(vm->lostToGap(), uint64_t(0));
    }
    QCOMPARE(ModuleRange(*vm, PatchMemoryAddress(1), 160), p1);

    // A copy cancelled while it writes: what it overwrote is kept all the same;
    // the name it may have changed is not asked for under a cancelled progress:
    // the status line says so, and File > Reload reads it.
    const Bytes p8 = ModuleRange(*vm, PatchMemoryAddress(8), 160);
    QVERIFY(Settle(*w, 4));
    a.told.clear();
    a.numbers << 8;
    a.buttons << QMessageBox::Ok;
    QTimer cancel;
    connect(&cancel, &QTimer::timeout, this, [&] {
        if (QProgressDialog* p = w->Backup()->Progress(); p && p->labelText().startsWith("Writing")) p->cancel();
    });
    cancel.start(5);
    w->mnuEditCopyPatch->trigger();
    cancel.stop();
    // The Cancel stops the copy, not the put back of what it overwrote: patch 8
    // holds its own bytes again, verified.
    QVERIFY2(a.told.value(0).startsWith("Copy patch 5 to patch 8 cancelled") &&
                 a.told.value(0).endsWith("put back the originals of patch 8, verified."),
             qPrintable(a.told.value(0)));
    QCOMPARE(a.warnings.last(), true);
    QCOMPARE(ModuleRange(*vm, PatchMemoryAddress(8), 160), p8);
    QVERIFY2(w->StatusLabel()->isVisible() && w->StatusLabel()->text().contains("File > Reload"),
             qPrintable(w->StatusLabel()->text()));
    QVERIFY(!w->U220().MemoryPatchNameLoaded(8));
    QCOMPARE(w->mnuEditPutBack->text(), "Put &Back P-08 " +
                                            QString::fromStdString(NameBytesToUtf8(DecodeName(p8.data()))).trimmed());
    w->mnuFileReload->trigger();
    QVERIFY(WaitFor([&] { return !w->Activating() && !w->U220().RequestOpen(); }, 20000));
    QCOMPARE(ListName(*w, 8).trimmed(), Label(*vm, 8).mid(5));
    QVERIFY(!w->StatusLabel()->isVisible());
    a.buttons << QMessageBox::Ok;
    w->mnuEditPutBack->trigger();
    QCOMPARE(ModuleRange(*vm, PatchMemoryAddress(8), 160), p8);
    QCOMPARE(ListName(*w, 8).trimmed(), Label(*vm, 8).mid(5));
    QCOMPARE(vm->lostToGap(), uint64_t(0));
}

// After a copy, a swap or a restore at a real module's pace the window shows
// the module as it now is: the names of the memories written are read again
// (only those, and only where the file does not give them) under the
// progress, before the result is told; the list and the button stand on the
// patch the module holds; no "Loading..." line is left behind; and a pick of
// any patch goes out again.
void tst_Backup::afterWritesTheWindowShowsTheModuleAndReadsOnlyTheNamesWritten() {
    QTemporaryDir dir;
    auto vm = std::make_shared<midi::VirtualU220>();
    Answers a;
    auto w = MakeMain(vm, a);
    QVERIFY(StartAndLoad(*w));

    // A file of the 64 patch memories and the working area, made while the
    // module was on P-09, with P-09 (and so the working patch) renamed.
    QVERIFY(Settle(*w, 8));
    library::MemoryImage file;
    for (int n = 1; n <= 64; ++n) file.put(PatchMemoryAddress(n), ModuleRange(*vm, PatchMemoryAddress(n), 160));
    for (const library::Range& r : library::BackupAreas())
        if (r.address.a1 >= 0x10) file.put(r.address, ModuleRange(*vm, r.address, r.size));
    file.put(PatchMemoryAddress(9), EncodeName("From a file"));
    file.put(BlockAddress(Block::PatchCommon), EncodeName("From a file"));
    const QString path = dir.filePath("patches.syx");
    std::string error;
    QVERIFY(library::WriteFileAtomically(path.toStdString(), library::SyxBytes(file, 16), error));
    RealPace(*w, *vm);

    struct Case {
        const char* what;
        int row;            // the patch the module is on first (0-based)
        std::function<void()> start;
        int listAfter;      // the row the list and the module's working patch stand on
        int nameRequests;   // patch names read again
        QString told;
    };
    const Case cases[] = {
        {"copy P-03 over P-10", 2, [&] { a.numbers << 10; a.buttons << QMessageBox::Ok; w->mnuEditCopyPatch->trigger(); },
         2, 1, "Copied patch 3 to patch 10; verified."},
        // The working patch the module holds is what P-06 holds now.
        {"swap P-05, the module's patch, with P-06", 4,
         [&] { a.numbers << 6; a.buttons << QMessageBox::Ok; w->mnuEditSwapPatch->trigger(); }, 5, 2,
         "Swapped patch 5 with patch 6; verified."},
        {"restore the patches and the working area", 2,
         [&] { a.open << path; a.buttons << QMessageBox::No << QMessageBox::Ok; w->mnuFileRestore->trigger(); }, 8, 0,
         "Restored 64 patches, working area; all verified."},
    };
    for (const Case& c : cases) {
        QVERIFY2(Settle(*w, c.row), c.what);
        vm->clearReceived();
        a.told.clear();
        // What was sent and shown when the result was told.
        int requestsWhenTold = -1;
        QString listWhenTold;
        a.whenTold = [&] {
            requestsWhenTold = int(Requests(vm->received()).size());
            listWhenTold = ListName(*w, c.listAfter + 1) + "|" + w->cmdEditPatch->text();
        };
        c.start();
        QVERIFY2(WaitFor([&] { return !w->Backup()->Busy() && !w->U220().RequestOpen(); }, 60000), c.what);
        QCOMPARE(a.told.value(0), c.told);
        QTest::qWait(50);
        // Nothing is read after the result: the names came under the progress.
        QCOMPARE(PatchNameRequests(vm->received()), c.nameRequests);
        QCOMPARE(requestsWhenTold, int(Requests(vm->received()).size()));
        QCOMPARE(listWhenTold, ListName(*w, c.listAfter + 1) + "|" + w->cmdEditPatch->text());
        a.whenTold = nullptr;
        QVERIFY2(!w->StatusLabel()->isVisible(), qPrintable(w->StatusLabel()->text()));
        QVERIFY(!w->ProgressBar()->isVisible());
        for (int n = 1; n <= 64; ++n) QCOMPARE(ListName(*w, n).trimmed(), Label(*vm, n).mid(5));
        QCOMPARE(w->pnameListBox->currentRow(), c.listAfter);
        QCOMPARE(w->pnameListBox->selectedItems(), QList<QListWidgetItem*>{w->pnameListBox->item(c.listAfter)});
        QCOMPARE(w->cmdEditPatch->text(), "Edit  " + ListName(*w, c.listAfter + 1));
        QCOMPARE(w->SelectedPatchIndex(), c.listAfter);
        // Back to the patch the module was on before: the program change goes out.
        vm->clearReceived();
        QVERIFY2(Settle(*w, c.row), c.what);
        QCOMPARE(ProgramChanges(vm->received()), c.listAfter == c.row ? std::vector<int>{} : std::vector<int>{c.row});
        QCOMPARE(vm->lostToGap(), uint64_t(0));
    }
}

// Closing the main window in the middle of a transfer (File > Exit, or SIGTERM,
// which closes it the same way) ends the transfer at once, as Cancel does:
// nothing more is asked of the module beyond what was already on its way,
// nothing is told, and no file is left.
void tst_Backup::closingTheWindowEndsATransferAtOnce() {
    QTemporaryDir dir;
    const QString restorePath = dir.filePath("patches.syx");
    {
        auto vm = std::make_shared<midi::VirtualU220>();
        library::MemoryImage file;
        for (int n = 1; n <= 64; ++n) file.put(PatchMemoryAddress(n), ModuleRange(*vm, PatchMemoryAddress(n), 160));
        std::string error;
        QVERIFY(library::WriteFileAtomically(restorePath.toStdString(), library::SyxBytes(file, 16), error));
    }
    struct Case {
        const char* what;
        const char* stage;  // the progress label the close comes in
        std::function<void(Answers&, frmMain&)> start;
    };
    const QString backupPath = dir.filePath("closed.syx");
    const Case cases[] = {
        {"back-up", "Reading", [&](Answers& a, frmMain& w) { a.save << backupPath; w.mnuFileBackUp->trigger(); }},
        {"restore", "Writing",
         [&](Answers& a, frmMain& w) {
             a.open << restorePath;
             a.buttons << QMessageBox::No << QMessageBox::Ok;
             w.mnuFileRestore->trigger();
         }},
    };
    for (const Case& c : cases) {
        auto vm = std::make_shared<midi::VirtualU220>();
        Answers a;
        auto w = MakeMain(vm, a);
        QVERIFY(StartAndLoad(*w));
        RealPace(*w, *vm);
        vm->clearReceived();
        size_t atClose = 0;
        bool closed = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            QProgressDialog* p = w->Backup()->Progress();
            if (closed || !p || p->value() < 50 || !p->labelText().startsWith(c.stage)) return;
            closed = true;
            atClose = vm->received().size();
            w->close();
        });
        poll.start(20);
        c.start(a, *w);
        poll.stop();
        QVERIFY2(closed, c.what);
        QVERIFY2(!w->isVisible() && !w->Backup()->Busy(), c.what);
        QVERIFY2(a.told.isEmpty(), qPrintable(a.told.join('|')));
        QTest::qWait(1500);  // whatever was still queued has left by now
        // At most the rest of one read window (32 requests) or the write lead.
        const size_t after = vm->received().size() - atClose;
        QVERIFY2(after <= 32, qPrintable(QStringLiteral("%1: %2 messages after the close").arg(c.what).arg(after)));
        QVERIFY(!QFile::exists(backupPath));
        QVERIFY(!QFile::exists(backupPath + ".part"));
        QCOMPARE(vm->lostToGap(), uint64_t(0));
    }
}

namespace {

// Data sets sent to the memories (not the working area).
int MemoryWrites(const std::vector<Bytes>& log) {
    int n = 0;
    for (const auto& d : DataSets(log)) n += d.address.a1 < 0x10;
    return n;
}

}  // namespace

// An interrupted copy left the originals of patch 6 in the journal (they differ
// from what the module holds). At the next connection the window offers them:
// put back now (at a real module's pace, verified, the journal closed, the
// list showing the name put back), later (the journal stays and the library
// refuses another copy with its reason, nothing written), or discard (asked
// once more). A journal made for another device ID offers only discard.
void tst_Backup::aPendingJournalIsOfferedAtConnection_data() {
    QTest::addColumn<int>("deviceId");
    QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");
    QTest::addColumn<bool>("putBack");   // patch 6 holds the originals afterwards
    QTest::addColumn<bool>("pending");   // the journal still waits afterwards
    QTest::addColumn<QString>("second"); // the second question ("" none)
    using B = QMessageBox;
    QTest::newRow("put back now") << 16 << QList<B::StandardButton>{B::Yes} << true << false << QString();
    QTest::newRow("later") << 16 << QList<B::StandardButton>{B::No} << false << true << QString();
    QTest::newRow("discard") << 16 << QList<B::StandardButton>{B::Discard, B::Ok} << false << false
                             << "Discard the journal? The originals will not be put back.";
    QTest::newRow("discard, cancelled at the second question") << 16 << QList<B::StandardButton>{B::Discard, B::Cancel}
                                                               << false << true
                                                               << "Discard the journal? The originals will not be put back.";
    QTest::newRow("another device's journal, left") << 3 << QList<B::StandardButton>{B::Cancel} << false << true << QString();
}

void tst_Backup::aPendingJournalIsOfferedAtConnection() {
    QFETCH(int, deviceId);
    QFETCH(QList<QMessageBox::StandardButton>, answers);
    QFETCH(bool, putBack);
    QFETCH(bool, pending);
    QFETCH(QString, second);
    QTemporaryDir dir;
    auto vm = std::make_shared<midi::VirtualU220>();
    const library::Range six = library::MemoryRange(library::MemoryKind::Patch, 6);
    const library::Range seven = library::MemoryRange(library::MemoryKind::Patch, 7);
    const Bytes p6 = ModuleRange(*vm, six.address, six.size), p7 = ModuleRange(*vm, seven.address, seven.size);
    library::MemoryImage originals;
    originals.put(six.address, p6);
    originals.put(six.address, EncodeName("Original"));
    Bytes original6;
    QVERIFY(originals.get(six, original6));
    QVERIFY(original6 != p6);
    library::Journal journal(dir.path().toStdString());
    std::string error;
    QVERIFY(journal.Begin("copy patch 5 to patch 6", deviceId, originals, error));
    const QString sentence = QString::fromStdString(journal.PendingJournal());

    Answers a;
    a.buttons = answers;
    a.buttons << QMessageBox::Ok;  // for the copy tried after "later"
    BackupPrompts prompts = a.Prompts();
    // The journal's question is asked at a real module's pace from then on.
    QList<QMessageBox::StandardButtons> offered;
    frmMain* window = nullptr;
    prompts.ask = [&, ask = prompts.ask](QWidget* parent, const QString& title, const QString& text,
                                         QMessageBox::StandardButtons buttons) {
        offered << buttons;
        if (offered.size() == 1) RealPace(*window, *vm);
        return ask(parent, title, text, buttons);
    };
    frmMainOptions o;
    o.journalFolder = dir.path();
    o.runSetup = [](frmMIDISetupForm& d) {
        d.cmdOK->click();
        return d.result();
    };
    o.backupPrompts = prompts;
    auto w = std::make_unique<frmMain>(VirtualRoot(vm), o);
    window = w.get();
    QVERIFY(w->Load());
    vm->setRealistic(0, 0);  // the names load at once
    w->show();
    QVERIFY(WaitFor([&] { return w->cmdEditPatch->isVisible() && !w->Activating(); }, 30000));

    QVERIFY2(a.asked.value(0).startsWith(sentence + "\n\n"), qPrintable(a.asked.value(0)));
    QCOMPARE(offered.value(0), deviceId == 16 ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Discard
                                              : QMessageBox::Discard | QMessageBox::Cancel);
    if (deviceId != 16) QVERIFY2(a.asked.value(0).contains("device ID 4"), qPrintable(a.asked.value(0)));
    QCOMPARE(a.asked.value(1), second);
    QCOMPARE(ModuleRange(*vm, six.address, six.size), putBack ? original6 : p6);
    QCOMPARE(MemoryWrites(vm->received()) > 0, putBack);
    QCOMPARE(journal.Pending(), pending);
    QCOMPARE(library::Journal(dir.path().toStdString()).Load().exists, pending);
    QCOMPARE(ListName(*w, 6).trimmed(), Label(*vm, 6).mid(5));
    if (putBack) {
        QVERIFY2(a.told.value(0).startsWith("Put back patch 6") && a.told.value(0).endsWith("verified."),
                 qPrintable(a.told.value(0)));
        QCOMPARE(ListName(*w, 6).trimmed(), QStringLiteral("Original"));
        QCOMPARE(vm->lostToGap(), uint64_t(0));
    } else {
        QVERIFY2(a.told.isEmpty(), qPrintable(a.told.join('|')));
    }

    if (QTest::currentDataTag() == QByteArray("later")) {
        // The library refuses to overwrite anything else while the originals
        // wait; the window says why, and nothing is written.
        QVERIFY(Settle(*w, 4));
        RealPace(*w, *vm);
        vm->clearReceived();
        a.numbers << 7;
        w->mnuEditCopyPatch->trigger();
        QVERIFY(WaitFor([&] { return !w->Backup()->Busy(); }));
        QCOMPARE(a.told.value(0), sentence + " Put them back (or discard the journal) before anything else is written.");
        QCOMPARE(a.warnings.value(0), true);
        QCOMPARE(MemoryWrites(vm->received()), 0);
        QCOMPARE(ModuleRange(*vm, seven.address, seven.size), p7);
        QVERIFY(journal.Pending());
        QVERIFY(!w->mnuEditPutBack->isEnabled());
    }
}

// With a journal the windows save what they overwrite before they write: a
// copy leaves a closed journal holding the patch it overwrote; a restore that
// follows the back-up the window offered takes the originals from that
// back-up, so the module is not read again before the writing starts.
void tst_Backup::copyAndRestoreInTheWindowKeepTheJournal() {
    QTemporaryDir dir;
    const QString folder = dir.filePath("journal");
    auto vm = std::make_shared<midi::VirtualU220>();
    Answers a;
    auto w = MakeMain(vm, a, folder);
    QVERIFY(StartAndLoad(*w));
    RealPace(*w, *vm);
    library::Journal journal(folder.toStdString());
    QCOMPARE(w->Journal() != nullptr, true);

    // Copy P-05 over P-06.
    const library::Range six = library::MemoryRange(library::MemoryKind::Patch, 6);
    const Bytes p5 = ModuleRange(*vm, PatchMemoryAddress(5), six.size), p6 = ModuleRange(*vm, six.address, six.size);
    QVERIFY(Settle(*w, 4));
    a.numbers << 6;
    a.buttons << QMessageBox::Ok;
    w->mnuEditCopyPatch->trigger();
    QVERIFY(WaitFor([&] { return !w->Backup()->Busy(); }));
    QCOMPARE(a.told.value(0), QStringLiteral("Copied patch 5 to patch 6; verified."));
    QCOMPARE(ModuleRange(*vm, six.address, six.size), p5);
    {
        const library::JournalState s = journal.Load();
        QVERIFY2(s.exists && !s.open && s.error.empty(), s.error.c_str());
        Bytes kept;
        QVERIFY(s.originals.get(six, kept));
        QCOMPARE(kept, p6);
    }

    // Restore a file of patch 3 (renamed) after the offered back-up.
    const library::Range three = library::MemoryRange(library::MemoryKind::Patch, 3);
    const Bytes p3 = ModuleRange(*vm, three.address, three.size);
    library::MemoryImage file;
    file.put(three.address, p3);
    file.put(three.address, EncodeName("From a file"));
    Bytes fileBytes;
    QVERIFY(file.get(three, fileBytes));
    const QString path = dir.filePath("patch3.syx"), backup = dir.filePath("before.syx");
    std::string error;
    QVERIFY(library::WriteFileAtomically(path.toStdString(), library::SyxBytes(file, 16), error));
    QVERIFY(Settle(*w, 0));
    vm->clearReceived();
    a.told.clear();
    a.open << path;
    a.save << backup;
    a.buttons << QMessageBox::Yes << QMessageBox::Ok;
    size_t afterBackUp = 0;
    a.whenTold = [&] {
        if (a.told.size() == 1) afterBackUp = vm->received().size();
    };
    w->mnuFileRestore->trigger();
    QVERIFY(WaitFor([&] { return !w->Backup()->Busy() && !w->U220().RequestOpen(); }, 120000));
    a.whenTold = nullptr;
    QVERIFY2(a.told.size() == 2 && a.told.value(0).startsWith("Backed up"), qPrintable(a.told.join('|')));
    QVERIFY2(a.told.value(1).startsWith("Restored"), qPrintable(a.told.value(1)));
    QVERIFY(afterBackUp > 0);
    // Between the back-up and the first data set: no request at all.
    const std::vector<Bytes> all = vm->received();
    QVERIFY(afterBackUp <= all.size());
    const std::vector<Bytes> log(all.begin() + static_cast<std::ptrdiff_t>(afterBackUp), all.end());
    int requestsBeforeWriting = 0;
    for (const Bytes& m : log) {
        if (IsCommand(m, sysex::kDT1)) break;
        requestsBeforeWriting += IsCommand(m, sysex::kRQ1);
    }
    QCOMPARE(requestsBeforeWriting, 0);
    QVERIFY(MemoryWrites(log) > 0);
    QCOMPARE(ModuleRange(*vm, three.address, three.size), fileBytes);
    {
        const library::JournalState s = journal.Load();
        QVERIFY2(s.exists && !s.open && s.error.empty(), s.error.c_str());
        Bytes kept;
        QVERIFY(s.originals.get(three, kept));
        QCOMPARE(kept, p3);
    }
    QCOMPARE(ListName(*w, 3).trimmed(), QStringLiteral("From a file"));
    QCOMPARE(vm->lostToGap(), uint64_t(0));
}

QTEST_MAIN(tst_Backup)
#include "tst_backup.moc"
