// The library window playing and storing through the module, offscreen, on the
// virtual module at a real module's pace and in a record packing of its own
// (so nothing can pass by decoding records the default way): Play leaves every
// memory byte as it was and says "not stored"; arrowing with audition on select
// plays only the last pick; closing the window during an audition is safe; an
// audition stopped half-way is offered back on the next connection.
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <set>

#include "device/MemoryMap.h"
#include "device/NameCodec.h"
#include "emulator/U220Emulator.h"
#include "library/Journal.h"
#include "library/SoundLibraryFiles.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "ui/LibraryModuleSupport.h"
#include "ui/UiTestSupport.h"
#include "ui/backup/BackupUi.h"
#include "ui/library/LibraryApi.h"
#include "ui/library/LibraryMenus.h"
#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibrary.h"
#include "ui/setup/AppSettings.h"

#undef slots  // BankInfo::slots; the test class says Q_SLOTS

using namespace quorvane;
using namespace quorvane::test;
using library::SoundType;
using ui::frmLibrary;

namespace {

// A library of one bank file in the second packing; its patches in the list's order (by name).
struct Fixture {
    QTemporaryDir dir;
    QString path = dir.path() + QStringLiteral("/library.sqlite");
    QString journal = dir.path() + QStringLiteral("/journal");
    std::vector<library::ItemRow> patches;
    int64_t timbre = 0;

    Fixture() {
        const std::string file = (dir.path() + QStringLiteral("/bank.syx")).toStdString();
        std::string error;
        if (!library::SaveBackup(file, BankInPacking(5), 0x10, error)) qFatal("%s", error.c_str());
        library::SoundLibrary lib(path.toStdString());
        if (lib.Import({file}).files != 1) qFatal("fixture import");
        library::Query q;
        q.type = SoundType::Patch;
        patches = lib.List(q);
        q.type = SoundType::Timbre;
        timbre = lib.List(q).at(0).id;
    }
};

// The virtual module in the second packing, at a real module's pace, with a
// library window that plays on it.
struct Rig {
    Fixture f;
    VirtualRig rig;
    Answers a;
    library::Journal journal;
    ui::BackupUi backup{nullptr, rig.u220(), rig.host, a.Prompts()};
    QStringList shown;  // what the main window's status line was told
    QPointer<frmLibrary> w;

    // `journalFolder`: where the journal is kept (empty: in the fixture's folder).
    explicit Rig(const QString& journalFolder = {}, int startPatch = 5)
        : journal((journalFolder.isEmpty() ? f.journal : journalFolder).toStdString()) {
        rig.vm->withEmulator([](auto& e) {
            e.setPackingSeed(kPacking);
            return 0;
        });
        backup.SetJournal(&journal);
        ui::LibraryWindowOptions o;
        o.path = f.path;
        o.backup = &backup;
        o.prompts = a.Prompts();
        o.model = &rig.u220();
        o.host = &rig.host;
        o.auditionShown = [this](const QString& text, int patchNo) {
            shown << QStringLiteral("%1 @%2").arg(text).arg(patchNo);
        };
        w = new frmLibrary(o);
        if (!w->OpenLibrary()) qFatal("library");
        w->cboType->setCurrentIndex(w->cboType->findData(static_cast<int>(SoundType::Patch)));
        w->ApplyFilter();
        w->show();
        rig.u220().PatchChange(static_cast<int16_t>(startPatch));
    }
    ~Rig() { delete w.data(); }
    int64_t RowId(int row) { return w->Model()->IdAt(row); }
    std::string RowName(int row) { return w->Model()->RowAt(row)->name; }
};

}  // namespace

class tst_LibraryModule : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        ui::frmLibrary::SetAuditionPlace(0);
        ui::AppSettings()->setValue(QStringLiteral("library/auditionOnSelect"), false);
    }
    void playLeavesEveryMemoryByteAndSaysNotStored_data();
    void playLeavesEveryMemoryByteAndSaysNotStored();
    void fastArrowingWithAuditionOnSelectPlaysOnlyTheLastPick();
    void closingTheWindowDuringAnAuditionIsSafe_data();
    void closingTheWindowDuringAnAuditionIsSafe();
    void anAuditionStoppedHalfWayIsOfferedBackOnTheNextConnection();
    void readingTheModuleIndexAsksBeforeDroppingEdits();
};

// Where it plays (the module's patch, or a patch memory set in the menu) and
// how (Play, Enter, a double click is the same "activated"); a timbre plays on
// part 2 of the working patch, through the timbre memory that part uses.
void tst_LibraryModule::playLeavesEveryMemoryByteAndSaysNotStored_data() {
    QTest::addColumn<int>("place");   // 0: the patch the module is on (5)
    QTest::addColumn<bool>("enter");  // Enter on the list instead of the button
    QTest::addColumn<bool>("timbre");
    QTest::newRow("on the module's patch, Play") << 0 << false << false;
    QTest::newRow("in P-12, Enter") << 12 << true << false;
    QTest::newRow("a timbre") << 0 << false << true;
}

void tst_LibraryModule::playLeavesEveryMemoryByteAndSaysNotStored() {
    QFETCH(int, place);
    QFETCH(bool, enter);
    QFETCH(bool, timbre);
    Rig r;
    ui::frmLibrary::SetAuditionPlace(place);
    ui::frmLibrary::SetAuditionPart(2);
    // A patch from the middle of the bank, its name unlike any module patch's.
    const int row = 7;
    if (timbre) {
        r.w->cboType->setCurrentIndex(r.w->cboType->findData(static_cast<int>(SoundType::Timbre)));
        r.w->ApplyFilter();
    }
    r.w->lstItems->setCurrentIndex(r.w->Model()->index(row, 0));
    const std::string name = r.RowName(row);
    const library::MemoryImage before = ModuleMemory(*r.rig.vm);
    RealModulePace pace(r.rig);
    r.rig.vm->clearReceived();
    if (enter) QTest::keyClick(r.w->lstItems, Qt::Key_Return);
    else r.w->cmdPlay->click();
    QVERIFY(WaitFor([&] { return !r.w->Auditioning(); }, 60000));

    QVERIFY(ModuleMemory(*r.rig.vm) == before);
    QCOMPARE(pace.lost(), uint64_t(0));
    QVERIFY(!r.journal.Pending());
    const std::vector<Bytes>& sent = r.rig.vm->received();
    const QString text = QStringLiteral("Auditioning %1 \u2014 not stored").arg(QString::fromStdString(name));
    QCOMPARE(r.w->lblStatus->text(), text);
    const int scratch = place ? place : 5;
    QCOMPARE(r.shown, QStringList{QStringLiteral("%1 @%2").arg(text).arg(scratch)});
    QVERIFY(r.journal.Load().exists);  // kept, closed, for the record
    if (timbre) {
        // No program change: the part loads the timbre from the memory its number names.
        QCOMPARE(ProgramChanges(sent).size(), size_t(0));
        r.rig.u220().InvalidateAll();
        QCOMPARE(QString::fromStdString(NameBytesToUtf8(r.rig.u220().TimbreTimbreName(2))).trimmed(),
                 QString::fromStdString(name).trimmed());
        return;
    }
    // The library patch went into the scratch memory and from there into the
    // working area, which plays it now.
    QCOMPARE(ProgramChanges(sent), std::vector<int>{scratch - 1});
    const library::Range p = library::MemoryRange(library::MemoryKind::Patch, scratch);
    bool wroteScratch = false;
    for (const ParsedMessage& d : DataSets(sent))
        wroteScratch |= d.address.a1 == p.address.a1 && d.address.offset() >= p.address.offset() &&
                        d.address.offset() < p.address.offset() + p.size;
    QVERIFY(wroteScratch);
    QCOMPARE(WorkingPatchName(r.rig.u220()), QString::fromStdString(name).trimmed());
    // The details show the part timbres the module told, with no module needed later.
    const QString details = r.w->txtDetails->toPlainText();
    QVERIFY2(details.contains(QStringLiteral("As the module played it")), qPrintable(details));
    for (int part = 1; part <= 6; ++part) {
        const int t = r.rig.u220().get(Param::PatchPartTimbreNumber, part) + 1;
        QVERIFY2(details.contains(QRegularExpression(QStringLiteral("\\b%1: T-%2\\b").arg(part).arg(t))), qPrintable(details));
    }
}

// Down, Down, Down... while the first audition waits: the picks in between are
// replaced by the newest, so two auditions run (the first pick, the last).
void tst_LibraryModule::fastArrowingWithAuditionOnSelectPlaysOnlyTheLastPick() {
    Rig r;
    r.w->chkAuditionOnSelect->setChecked(true);
    r.w->lstItems->setCurrentIndex(r.w->Model()->index(0, 0));  // the window's own move: nothing plays
    QVERIFY(!r.w->Auditioning());
    const library::MemoryImage before = ModuleMemory(*r.rig.vm);
    RealModulePace pace(r.rig);
    r.rig.vm->clearReceived();
    int steps = 0;
    QTimer keys;
    QObject::connect(&keys, &QTimer::timeout, r.w, [&] {
        if (++steps >= 6) keys.stop();
        QTest::keyClick(r.w->lstItems, Qt::Key_Down);
    });
    keys.start(60);
    QTest::keyClick(r.w->lstItems, Qt::Key_Down);  // row 1: the first audition; the rest come while it waits
    QVERIFY(WaitFor([&] { return steps >= 6 && !r.w->Auditioning(); }, 90000));
    QCOMPARE(r.w->lstItems->currentIndex().row(), 7);
    const auto name = [&](int row) {
        return QStringLiteral("Auditioning %1 \u2014 not stored @5").arg(QString::fromStdString(r.RowName(row)));
    };
    QVERIFY2(r.shown == (QStringList{name(1), name(7)}), qPrintable(r.shown.join('|') + " / " + r.w->lblStatus->text()));
    QCOMPARE(ProgramChanges(r.rig.vm->received()), (std::vector<int>{4, 4}));
    QCOMPARE(WorkingPatchName(r.rig.u220()), QString::fromStdString(r.RowName(7)).trimmed());
    QVERIFY(ModuleMemory(*r.rig.vm) == before);
    QCOMPARE(pace.lost(), uint64_t(0));
    // Off: a step plays nothing.
    r.w->chkAuditionOnSelect->setChecked(false);
    r.rig.vm->clearReceived();
    QTest::keyClick(r.w->lstItems, Qt::Key_Up);
    QVERIFY(!r.w->Auditioning());
    QCOMPARE(r.rig.vm->received().size(), size_t(0));
}

// Closed (hidden, as the close box does) or destroyed (as with the main window)
// while the module answers: the audition runs to its end and puts everything
// back. Store, the module index and put back wait for it to end.
void tst_LibraryModule::closingTheWindowDuringAnAuditionIsSafe_data() {
    QTest::addColumn<bool>("destroy");
    QTest::newRow("closed") << false;
    QTest::newRow("destroyed") << true;
}

void tst_LibraryModule::closingTheWindowDuringAnAuditionIsSafe() {
    QFETCH(bool, destroy);
    Rig r;
    r.w->lstItems->setCurrentIndex(r.w->Model()->index(3, 0));
    const library::MemoryImage before = ModuleMemory(*r.rig.vm);
    RealModulePace pace(r.rig);
    r.rig.vm->clearReceived();
    bool closed = false;
    QString refused;
    QTimer::singleShot(700, r.w, [&] {
        // Nothing else overwrites memories while the audition's journal is open.
        if (!r.w->StoreTo(r.RowId(1), 12) && !r.w->ReadModuleIndex() && !r.w->PutBackLastStore())
            refused = r.w->lblStatus->text();
        closed = true;
        if (destroy) delete r.w.data();
        else r.w->close();
    });
    r.w->PlayCurrent();
    QVERIFY(closed);
    QCOMPARE(refused, QStringLiteral("An audition is playing: try again once it has ended."));
    QVERIFY(WaitFor([&] { return !r.w || !r.w->Auditioning(); }, 60000));
    QCOMPARE(bool(r.w), !destroy);
    if (r.w) QVERIFY(!r.w->isVisible());
    QVERIFY(ModuleMemory(*r.rig.vm) == before);
    QVERIFY(!r.journal.Pending());
    QCOMPARE(pace.lost(), uint64_t(0));
    QVERIFY2(ProgramChanges(r.rig.vm->received()).size() == 1, qPrintable(r.w ? r.w->lblStatus->text() : QString()));
}

// The module goes silent once the library patch is in the scratch memory: the
// journal keeps the scratch memory's own bytes, and the main window's next
// connection offers them back before anything else, byte for byte.
void tst_LibraryModule::anAuditionStoppedHalfWayIsOfferedBackOnTheNextConnection() {
    auto vm = std::make_shared<midi::VirtualU220>();
    vm->withEmulator([](auto& e) {
        e.setPackingSeed(kPacking);
        return 0;
    });
    QTemporaryDir dir;
    const QString folder = dir.path();
    library::MemoryImage before;
    const library::Range p5 = library::MemoryRange(library::MemoryKind::Patch, 5);
    {
        Rig r(folder);
        before = ModuleMemory(*r.rig.vm);
        r.w->lstItems->setCurrentIndex(r.w->Model()->index(2, 0));
        RealModulePace pace(r.rig);
        r.rig.vm->clearReceived();
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, r.w, [&] {
            for (const ParsedMessage& d : DataSets(r.rig.vm->received()))
                if (d.address.a1 == p5.address.a1 && d.address.offset() >= p5.address.offset() &&
                    d.address.offset() < p5.address.offset() + p5.size)
                    r.rig.vm->withEmulator([](auto& e) {
                        e.setSilent(true);
                        return 0;
                    });
        });
        watch.start(5);
        r.w->PlayCurrent();
        QVERIFY(WaitFor([&] { return !r.w->Auditioning(); }, 60000));
        QVERIFY(r.journal.Pending());
        QVERIFY2(QString::fromStdString(r.journal.PendingJournal()).contains(QStringLiteral("audition")),
                 qPrintable(QString::fromStdString(r.journal.PendingJournal())));
        // The window said so, as a warning.
        QVERIFY2(r.a.told.value(0).contains(QStringLiteral("journal")), qPrintable(r.a.told.join('|')));
        QVERIFY(ModuleMemory(*r.rig.vm) != before);
        // `vm`, the module of the next connection, holds what this one holds now.
        r.rig.vm->withEmulator([&](auto& e) {
            vm->withEmulator([&](auto& mine) {
                for (const library::Range& a : library::BackupAreas()) mine.load(a.address, e.read(a.address, a.size));
                return 0;
            });
            return 0;
        });
    }
    Answers a;
    a.buttons << QMessageBox::Yes;
    ui::frmMainOptions o;
    o.journalFolder = folder;
    o.backupPrompts = a.Prompts();
    o.runSetup = [](ui::frmMIDISetupForm& d) {
        d.cmdOK->click();
        return d.result();
    };
    vm->setRealistic(40, kRealMinGapMs);
    vm->clearReceived();
    ui::frmMain main(VirtualRoot(vm), o);
    main.U220().MIDIOutput1->setSendGapMs(kRealSendGapMs);  // as on a real port
    QVERIFY(main.Load());
    // Asked first, before the names load or anything is written.
    QVERIFY2(a.asked.value(0).contains(QStringLiteral("audition")), qPrintable(a.asked.join('|')));
    QVERIFY(ModuleMemory(*vm) == before);
    QVERIFY(!library::Journal(folder.toStdString()).Pending());
    QCOMPARE(vm->lostToGap(), uint64_t(0));
}

// The module index switches the module through every patch: unsaved edits of
// the working patch are asked about first, and Cancel sends nothing.
void tst_LibraryModule::readingTheModuleIndexAsksBeforeDroppingEdits() {
    Rig r;
    r.rig.u220().WorkingAreaEdited(true);
    r.rig.vm->clearReceived();
    r.a.buttons << QMessageBox::Cancel;
    QVERIFY(!r.w->ReadModuleIndex());
    QVERIFY2(r.a.asked.value(0).contains(QStringLiteral("not saved")), qPrintable(r.a.asked.join('|')));
    QCOMPARE(r.rig.vm->received().size(), size_t(0));
}

QTEST_MAIN(tst_LibraryModule)
#include "tst_library_module.moc"
