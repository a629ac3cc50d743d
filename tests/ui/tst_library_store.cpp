// The library window storing into the module through the main window,
// offscreen, on the virtual module at a real module's pace and in a record
// packing of its own: the status line after an audition, a library patch
// dropped onto the patch list, the store's plan, the store, and put back.
#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <set>

#include "library/SysexFile.h"
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

class tst_LibraryStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        ui::frmLibrary::SetAuditionPlace(0);
        ui::AppSettings()->setValue(QStringLiteral("library/auditionOnSelect"), false);
    }
    void aPatchDroppedOnTheListIsStoredAfterItsPlanAndPutBack();
};

// Through the main window: Play says "not stored" in its status line and
// leaves no patch picked; the module index is read; a library patch dropped on
// P-12 shows the plan (the module patches that share its timbres, as the module
// itself tells when switched to each), Store writes it and the list shows its
// name, the status line is cleared; Put back brings P-12 back byte for byte.
void tst_LibraryStore::aPatchDroppedOnTheListIsStoredAfterItsPlanAndPutBack() {
    auto vm = std::make_shared<midi::VirtualU220>();
    vm->withEmulator([](auto& e) {
        e.setPackingSeed(kPacking);
        return 0;
    });
    Answers a;
    auto main = MakeRealisticMain(vm, 0, a.Prompts());
    QVERIFY(main->Load());
    main->show();
    QVERIFY(WaitFor([&] { return main->cmdEditPatch->isVisible() && !main->Activating(); }, 60000));
    QVERIFY(WaitFor([&] { return !main->PatchChanging(); }));
    // Which module patches use which timbres, as the module tells when switched to each.
    std::map<int, std::set<int>> users;  // timbre number -> module patches
    for (int n = 1; n <= 64; ++n) {
        QVERIFY(main->U220().PatchChange(static_cast<int16_t>(n)) == PatchChangeResult::Done);
        for (int part = 1; part <= 6; ++part) users[main->U220().get(Param::PatchPartTimbreNumber, part) + 1].insert(n);
    }
    main->pnameListBox->setCurrentRow(4);  // the module on P-05 again
    QVERIFY(WaitFor([&] { return !main->PatchChanging(); }));

    frmLibrary* w = main->libraryMenus_->Show();
    QVERIFY(w && w->Library());
    QTemporaryDir dir;
    const std::string file = (dir.path() + QStringLiteral("/bank.syx")).toStdString();
    std::string error;
    QVERIFY(library::SaveBackup(file, BankInPacking(9), 0x10, error));
    QCOMPARE(w->Library()->Import({file}).files, size_t(1));
    w->RefreshIfChanged();
    w->cboType->setCurrentIndex(w->cboType->findData(static_cast<int>(SoundType::Patch)));
    w->ApplyFilter();
    const int row = 4;
    w->lstItems->setCurrentIndex(w->Model()->index(row, 0));
    const int64_t id = w->Model()->IdAt(row);
    const QString name = QString::fromStdString(w->Model()->RowAt(row)->name);

    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    const library::MemoryImage before = ModuleMemory(*vm);
    QVERIFY(w->PlayCurrent());
    QVERIFY(WaitFor([&] { return !w->Auditioning(); }, 60000));
    const QString playing = QStringLiteral("Auditioning %1 \u2014 not stored").arg(name);
    QCOMPARE(main->StatusLabel()->text(), playing);
    QCOMPARE(main->pnameListBox->selectedItems().size(), 0);
    QVERIFY(ModuleMemory(*vm) == before);
    // The part timbres of the patch, as the working area that plays it has them.
    std::set<int> needed;
    for (int part = 1; part <= 6; ++part) needed.insert(main->U220().get(Param::PatchPartTimbreNumber, part) + 1);

    vm->setRealistic(40, kRealMinGapMs);
    // The auditioned sound is not stored: the index's patch changes would drop it, so it asks first.
    a.buttons << QMessageBox::Ok;
    QVERIFY(w->ReadModuleIndex());
    QVERIFY2(a.asked.value(0).contains(QStringLiteral("not saved")), qPrintable(a.asked.join('|')));
    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);

    // The drop, then the plan's dialog: read, then Store.
    const library::Range p12 = library::MemoryRange(library::MemoryKind::Patch, 12);
    const Bytes old12 = ModuleBytes(*vm, p12.address, p12.size);
    const QString oldName = main->pnameListBox->item(11)->text();
    QString plan;
    bool answered = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, main.get(), [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d || d->objectName() != QStringLiteral("dlgStorePlan")) return;
        answer.stop();
        answered = true;
        plan = d->findChild<QPlainTextEdit*>(QStringLiteral("txtPlan"))->toPlainText();
        d->findChild<QPushButton*>(QStringLiteral("cmdStore"))->click();
    });
    answer.start(20);
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(ui::LibraryModel::kMime), QByteArray::number(static_cast<qlonglong>(id)));
    QWidget* list = main->pnameListBox->viewport();
    const QPoint at = main->pnameListBox->visualItemRect(main->pnameListBox->item(11)).center();
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &drop);
    QVERIFY(drop.isAccepted());
    QVERIFY(WaitFor([&] { return answered; }, 60000));
    QVERIFY(WaitFor([&] { return !main->Backup()->Busy() && !main->PatchChanging(); }, 120000));
    delete data;

    // The plan names the module patches each timbre it brings would change.
    bool someShared = false;
    for (int t : needed) {
        std::set<int> others = users[t];
        others.erase(12);
        for (int n : others) {
            someShared = true;
            QVERIFY2(QRegularExpression(QStringLiteral("P-0?%1\\b").arg(n)).match(plan).hasMatch(), qPrintable(plan));
        }
    }
    QVERIFY(someShared);
    QVERIFY2(main->Backup()->LastResult().startsWith(QStringLiteral("Stored")), qPrintable(main->Backup()->LastResult()));
    QCOMPARE(ModuleBytes(*vm, p12.address, p12.size), w->Library()->Details(id)->bytes);
    QCOMPARE(main->pnameListBox->item(11)->text().mid(7).trimmed(), name.trimmed());
    QVERIFY2(!main->StatusLabel()->isVisible() || !main->StatusLabel()->text().contains(QStringLiteral("not stored")),
             qPrintable(main->StatusLabel()->text()));
    QCOMPARE(vm->lostToGap(), uint64_t(0));

    // Put back: every memory the store replaced, and the list's name.
    a.buttons << QMessageBox::Ok;
    QVERIFY(!w->LastStore().isEmpty());
    QVERIFY(w->PutBackLastStore());
    QVERIFY(ModuleMemory(*vm) == before);
    QCOMPARE(main->pnameListBox->item(11)->text(), oldName);
    QVERIFY(w->LastStore().isEmpty());
    QCOMPARE(vm->lostToGap(), uint64_t(0));

    // A patch picked in the main list while an audition waits goes out once the
    // audition has ended: no program change lands between its writes and reads.
    vm->clearReceived();
    QTimer::singleShot(300, main.get(), [&] { main->pnameListBox->setCurrentRow(2); });
    QVERIFY(w->PlayCurrent());
    QCOMPARE(ProgramChanges(vm->received()).size(), size_t(1));
    QVERIFY(WaitFor([&] { return main->U220().LastPatchSent() == 3 && !main->PatchChanging(); }, 30000));
    QCOMPARE(ProgramChanges(vm->received()).back(), 2);
    QCOMPARE(WorkingPatchName(main->U220()), main->pnameListBox->item(2)->text().mid(7).trimmed());
    QVERIFY(!main->StatusLabel()->text().contains(QStringLiteral("not stored")));
    QVERIFY(ModuleMemory(*vm) == before);
}

QTEST_MAIN(tst_LibraryStore)
#include "tst_library_store.moc"
