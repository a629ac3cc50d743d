// The sound library window on real SQLite files in temporary folders, shown
// offscreen: the filters and the sort through the paged model, the keyboard
// (type-to-find, F2, Delete, Ctrl+D), sounds dragged into a bank's places and
// the bank exported, a bank sent to the virtual module at a real module's
// pace, an import cancelled and one with a damaged file, a damaged or newer
// library, back-ups added to the library (the setting), and the main window's
// way in.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QTreeWidget>

#include "library/SoundLibraryFiles.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "ui/UiTestSupport.h"
#include "ui/backup/BackupUi.h"
#include "ui/library/LibraryApi.h"
#include "ui/library/LibraryAutoAdd.h"
#include "ui/library/LibraryMenus.h"
#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibrary.h"

#undef slots  // BankInfo::slots; the test class says Q_SLOTS

using namespace quorvane;
using namespace quorvane::test;
using library::SoundType;
using ui::frmLibrary;
using ui::LibraryModel;

namespace {

// Answers the window's questions from queues and keeps what was asked and told.
struct Answers {
    QStringList save, texts;
    QList<QMessageBox::StandardButton> buttons;
    QStringList asked, told;

    ui::LibraryWindowOptions Options(const QString& path, ui::BackupUi* backup = nullptr) {
        ui::LibraryWindowOptions o;
        o.path = path;
        o.backup = backup;
        o.prompts = Prompts();
        o.askText = [this](QWidget*, const QString&, const QString&, const QString&) {
            return texts.isEmpty() ? QString() : texts.takeFirst();
        };
        return o;
    }
    ui::BackupPrompts Prompts() {
        ui::BackupPrompts p;
        p.openFile = [](QWidget*, const QString&) { return QString(); };
        p.saveFile = [this](QWidget*, const QString&, const QString&) { return save.isEmpty() ? QString() : save.takeFirst(); };
        p.ask = [this](QWidget*, const QString&, const QString& text, QMessageBox::StandardButtons) {
            asked << text;
            return buttons.isEmpty() ? QMessageBox::Cancel : buttons.takeFirst();
        };
        p.number = [](QWidget*, const QString&, const QString&, int, int, int) { return 0; };
        p.tell = [this](QWidget*, const QString&, const QString& text, bool) { told << text; };
        return p;
    }
};

QString WriteBank(const QString& folder, const QString& name, uint32_t seed) {
    const QString path = folder + QLatin1Char('/') + name;
    std::string error;
    if (!library::SaveBackup(path.toStdString(), library::testfiles::MutatedBank(seed), 0x10, error)) qFatal("%s", error.c_str());
    return path;
}

// A library of three bank files, with a few sounds marked: "Zyzzyx Brass" (a
// rename), two favourites, three tagged "brass".
struct Fixture {
    QTemporaryDir dir;
    QString path = dir.path() + QStringLiteral("/library.sqlite");
    std::vector<int64_t> favourites, tagged;
    int64_t renamed = 0;
    int64_t firstPatch = 0;

    Fixture() {
        library::SoundLibrary lib(path.toStdString());
        const auto r = lib.Import({WriteBank(dir.path(), QStringLiteral("juno-pads.syx"), 1).toStdString(),
                                   WriteBank(dir.path(), QStringLiteral("brass-set.syx"), 2).toStdString(),
                                   WriteBank(dir.path(), QStringLiteral("other.syx"), 3).toStdString()});
        if (r.files != 3) qFatal("fixture import");
        library::Query q;
        q.type = SoundType::Patch;
        const auto patches = lib.List(q);
        firstPatch = patches.at(0).id;
        renamed = patches.at(10).id;
        lib.Rename(renamed, "Zyzzyx Brass");
        for (int k : {3, 20}) favourites.push_back(patches.at(k).id), lib.SetFavourite(patches.at(k).id, true);
        for (int k : {5, 6, 40}) tagged.push_back(patches.at(k).id), lib.AddTag(patches.at(k).id, "brass");
    }
};

std::vector<const library::ItemRow*> Rows(LibraryModel& m, int max = 100000) {
    std::vector<const library::ItemRow*> out;
    for (int r = 0; r < std::min(max, m.rowCount()); ++r) out.push_back(m.RowAt(r));
    return out;
}

void SendDrop(QWidget* target, const QPoint& at, QMimeData* data) {
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

bool SelectIdOf(frmLibrary& w, int64_t id) { return w.SelectId(id); }

Bytes ItemBytes(library::SoundLibrary& lib, int64_t id) { return lib.Details(id)->bytes; }

}  // namespace

class tst_Library : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void filtersMatchAsTypedAndCombine_data();
    void filtersMatchAsTypedAndCombine();
    void everyColumnSortsBothWays();
    void theKeyboardFindsRenamesMarksAndRemoves();
    void soundsDraggedIntoABankAreExportedAtTheirPlaces();
    void aBankSentAtARealPaceWarnsOfItsTimbresAndArrivesVerified();
    void importsRunBesideTheWindowAndCanBeCancelled();
    void aDamagedOrNewerLibraryIsNeverAltered_data();
    void aDamagedOrNewerLibraryIsNeverAltered();
    void backUpsGoIntoTheLibraryUnlessTurnedOff();
    void theMainWindowOpensTheLibrary();
};

void tst_Library::filtersMatchAsTypedAndCombine_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("type");  // cboType index: 0 all, 1 patches, 2 timbres, 3 rhythm setups
    QTest::addColumn<bool>("favourites");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expect");  // "count:N", "ids:renamed|favourites|tagged", "each:juno-pads"
    // Each bank file holds 64 patches, 128 timbres, 4 rhythm setups, 1 working patch.
    QTest::newRow("a renamed name, any case") << "zYzZyX" << 0 << false << "" << "" << "ids:renamed";
    QTest::newRow("a file name as typed") << "juno-pa" << 0 << false << "" << "" << "count:197";
    QTest::newRow("a file name with a type") << "juno-pa" << 2 << false << "" << "" << "count:128";
    QTest::newRow("favourites") << "" << 0 << true << "" << "" << "ids:favourites";
    QTest::newRow("a tag") << "" << 0 << false << "brass" << "" << "ids:tagged";
    QTest::newRow("a tag typed as text") << "brass" << 1 << false << "" << "" << "atleast:tagged";
    QTest::newRow("a source file") << "" << 0 << false << "" << "brass-set.syx" << "count:197";
    QTest::newRow("a source file and a type") << "" << 3 << false << "" << "other.syx" << "count:4";
    QTest::newRow("all patches") << "" << 1 << false << "" << "" << "count:192";
    QTest::newRow("nothing matches") << "qqqqqq" << 0 << false << "" << "" << "count:0";
}

void tst_Library::filtersMatchAsTypedAndCombine() {
    QFETCH(QString, text);
    QFETCH(int, type);
    QFETCH(bool, favourites);
    QFETCH(QString, tag);
    QFETCH(QString, source);
    QFETCH(QString, expect);
    Fixture f;
    Answers a;
    frmLibrary w(a.Options(f.path));
    QVERIFY(w.OpenLibrary());
    w.show();
    w.cboType->setCurrentIndex(type);
    w.chkFavourites->setChecked(favourites);
    w.txtTag->setText(tag);
    w.txtSource->setText(source);
    QSignalSpy resets(w.Model(), &QAbstractItemModel::modelReset);
    // Typed a key at a time: the keystrokes are coalesced into one filtering.
    w.txtFilter->setFocus();
    QTest::keyClicks(w.txtFilter, text);
    QVERIFY(WaitFor([&] { return resets.count() > 0; }, 5000) || text.isEmpty());
    QTest::qWait(200);
    QVERIFY2(resets.count() <= 1, qPrintable(QStringLiteral("filtered %1 times").arg(resets.count())));
    w.ApplyFilter();

    LibraryModel& m = *w.Model();
    std::vector<int64_t> ids;
    for (const auto* r : Rows(m)) ids.push_back(r->id);
    std::sort(ids.begin(), ids.end());
    const QString how = expect.section(QLatin1Char(':'), 0, 0), what = expect.section(QLatin1Char(':'), 1);
    if (how == QLatin1String("count")) QCOMPARE(m.rowCount(), what.toInt());
    else {
        std::vector<int64_t> want = what == QLatin1String("renamed") ? std::vector<int64_t>{f.renamed}
                                    : what == QLatin1String("favourites") ? f.favourites : f.tagged;
        std::sort(want.begin(), want.end());
        if (how == QLatin1String("ids")) QCOMPARE(ids, want);
        else QVERIFY(std::includes(ids.begin(), ids.end(), want.begin(), want.end()));
    }
    // The rows shown are what the filters ask for.
    for (const auto* r : Rows(m)) {
        if (type > 0) QCOMPARE(static_cast<int>(r->type), type - 1);
        if (favourites) QVERIFY(r->favourite);
        if (!tag.isEmpty()) QVERIFY(QString::fromStdString(r->tags).contains(tag));
    }
    // The details follow the current row: its sources and, for a patch, its bank.
    if (m.rowCount() > 0) {
        const QString details = w.txtDetails->toPlainText();
        QVERIFY2(details.contains(QStringLiteral("Sources")), qPrintable(details));
        if (m.RowAt(w.lstItems->currentIndex().row())->type == SoundType::Patch)
            QVERIFY2(details.contains(QStringLiteral("Its bank")) && details.contains(QStringLiteral("Timbres: 1 ")), qPrintable(details));
    }
}

void tst_Library::everyColumnSortsBothWays() {
    Fixture f;
    Answers a;
    frmLibrary w(a.Options(f.path));
    QVERIFY(w.OpenLibrary());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    LibraryModel& m = *w.Model();
    QCOMPARE(m.rowCount(), 3 * 197);
    QHeaderView* header = w.lstItems->horizontalHeader();
    // The key each column sorts by, as the rows show it.
    const auto key = [](const library::ItemRow& r, int column) -> QVariant {
        switch (column) {
            case LibraryModel::ColType: return static_cast<int>(r.type);
            case LibraryModel::ColName: return QString::fromStdString(r.name).toLower();
            case LibraryModel::ColFavourite: return int(r.favourite);
            case LibraryModel::ColTags: return QString::fromStdString(r.tags).toLower();
            case LibraryModel::ColSources: return r.sources;
            default: return QString::fromStdString(r.added);
        }
    };
    for (int column = 0; column < LibraryModel::ColumnCount; ++column) {
        for (int click = 0; click < 2; ++click) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(column) + 5, 5));
            const bool descending = header->sortIndicatorOrder() == Qt::DescendingOrder;
            QCOMPARE(m.CurrentQuery().descending, descending);
            const auto rows = Rows(m);
            QCOMPARE(static_cast<int>(rows.size()), 3 * 197);
            int inversions = 0;
            for (size_t k = 1; k < rows.size(); ++k) {
                const QVariant a1 = key(*rows[k - 1], column), b1 = key(*rows[k], column);
                const int c = QVariant::compare(a1, b1) == QPartialOrdering::Less ? -1 : QVariant::compare(a1, b1) == QPartialOrdering::Greater ? 1 : 0;
                inversions += descending ? c < 0 : c > 0;
            }
            QVERIFY2(inversions == 0, qPrintable(QStringLiteral("column %1 %2: %3 out of order").arg(column).arg(descending).arg(inversions)));
        }
        // The favourites come first when that column sorts down.
        if (column == LibraryModel::ColFavourite) QVERIFY(m.RowAt(0)->favourite != m.RowAt(m.rowCount() - 1)->favourite);
    }
}

void tst_Library::theKeyboardFindsRenamesMarksAndRemoves() {
    Fixture f;
    Answers a;
    frmLibrary w(a.Options(f.path));
    QVERIFY(w.OpenLibrary());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    w.lstItems->setFocus();
    LibraryModel& m = *w.Model();
    const int all = m.rowCount();
    const auto current = [&] { return m.RowAt(w.lstItems->currentIndex().row()); };

    // Type-to-find, among 591 rows in name order.
    QTest::keyClicks(w.lstItems, QStringLiteral("zyzz"));
    QVERIFY(current());
    QCOMPARE(current()->id, f.renamed);
    QVERIFY(w.txtDetails->toPlainText().contains(QStringLiteral("Zyzzyx Brass")));
    // Arrows move.
    QTest::keyClick(w.lstItems, Qt::Key_Up);
    QVERIFY(current()->id != f.renamed);
    QTest::keyClick(w.lstItems, Qt::Key_Down);
    QCOMPARE(current()->id, f.renamed);

    // F2 renames (in the library; the bytes keep their name).
    a.texts << QStringLiteral("Aardvark Hrn");
    QTest::keyClick(w.lstItems, Qt::Key_F2);
    QCOMPARE(current()->id, f.renamed);
    QCOMPARE(QString::fromStdString(current()->name), QStringLiteral("Aardvark Hrn"));
    // Ctrl+D marks a favourite and unmarks it.
    QTest::keyClick(w.lstItems, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(current()->favourite);
    QCOMPARE(m.data(m.index(w.lstItems->currentIndex().row(), LibraryModel::ColFavourite), Qt::DisplayRole).toString(),
             QStringLiteral("\u2605"));
    QTest::keyClick(w.lstItems, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(!current()->favourite);
    // A copy kept on purpose, and the name written into its bytes.
    const int64_t before = current()->id;
    a.buttons << QMessageBox::Yes;
    w.ApplyNameOfCurrent();
    QCOMPARE(QString::fromStdString(w.Library()->Details(before)->nameInBytes), QStringLiteral("Aardvark Hrn"));
    w.KeepCopyOfCurrent();
    QCOMPARE(m.rowCount(), all + 1);
    QVERIFY(current()->id != before);
    QCOMPARE(w.Library()->Details(current()->id)->copyOf.value_or(0), before);
    a.buttons << QMessageBox::Yes;
    QTest::keyClick(w.lstItems, Qt::Key_Delete);  // the copy goes again
    QCOMPARE(m.rowCount(), all);
    QVERIFY(SelectIdOf(w, before));
    // Ctrl+T adds a tag.
    a.texts << QStringLiteral("horns");
    QTest::keyClick(w.lstItems, Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(QString::fromStdString(current()->tags), QStringLiteral("horns"));

    // Delete asks: No keeps it, Yes removes it.
    a.asked.clear();
    a.buttons << QMessageBox::No;
    QTest::keyClick(w.lstItems, Qt::Key_Delete);
    QCOMPARE(a.asked.size(), 1);
    QVERIFY2(a.asked.last().contains(QStringLiteral("\"Aardvark Hrn\"")), qPrintable(a.asked.last()));
    QCOMPARE(m.rowCount(), all);
    a.buttons << QMessageBox::Yes;
    QTest::keyClick(w.lstItems, Qt::Key_Delete);
    QCOMPARE(m.rowCount(), all - 1);
    QVERIFY(!w.Library()->Details(f.renamed));
    QVERIFY(current() && current()->id != f.renamed);
    // The keys belong to the list: F2 and Delete typed in the filter do nothing to the sounds.
    w.txtFilter->setFocus();
    QTest::keyClick(w.txtFilter, Qt::Key_Delete);
    QCOMPARE(a.asked.size(), 2);
}

void tst_Library::soundsDraggedIntoABankAreExportedAtTheirPlaces() {
    Fixture f;
    Answers a;
    frmLibrary w(a.Options(f.path));
    QVERIFY(w.OpenLibrary());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    LibraryModel& m = *w.Model();
    a.texts << QStringLiteral("Faves");
    w.cboBankType->setCurrentIndex(0);  // 64 patches
    QVERIFY(w.NewBank());
    QCOMPARE(w.CurrentBank(), QStringLiteral("Faves"));
    QCOMPARE(w.lstBank->rowCount(), 64);

    // Three patches, dragged from the list onto place 5.
    w.cboType->setCurrentIndex(1);
    std::vector<int64_t> dragged;
    QModelIndexList drag;
    for (int row : {2, 7, 9}) {
        drag << m.index(row, LibraryModel::ColName);
        dragged.push_back(m.IdAt(row));
    }
    const auto place = [&](int p) { return w.lstBank->visualRect(w.lstBank->model()->index(p - 1, 1)).center(); };
    std::unique_ptr<QMimeData> data(m.mimeData(drag));
    SendDrop(w.lstBank->viewport(), place(5), data.get());
    QVERIFY2(w.lblStatus->text().startsWith(QStringLiteral("3 sounds put into")), qPrintable(w.lblStatus->text()));
    // A timbre dropped on a patch bank is refused with the reason; one past the end goes nowhere.
    w.cboType->setCurrentIndex(2);
    std::unique_ptr<QMimeData> timbre(m.mimeData({m.index(0, 0)}));
    SendDrop(w.lstBank->viewport(), place(1), timbre.get());
    QVERIFY2(w.lblStatus->text().contains(QStringLiteral("this bank holds patches only")), qPrintable(w.lblStatus->text()));
    w.cboType->setCurrentIndex(1);
    std::unique_ptr<QMimeData> two(m.mimeData({m.index(11, 0), m.index(12, 0)}));
    QVERIFY(!w.DropOnBank(64, {m.IdAt(11), m.IdAt(12)}));
    QVERIFY2(w.lblStatus->text().contains(QStringLiteral("ends at place 64")), qPrintable(w.lblStatus->text()));

    const auto bank = w.Library()->Bank("Faves");
    QVERIFY(bank);
    std::vector<std::pair<int, int64_t>> slots;
    for (const auto& [p, item] : bank->slots) slots.push_back({p, item.id});
    const std::vector<std::pair<int, int64_t>> want{{5, dragged[0]}, {6, dragged[1]}, {7, dragged[2]}, {64, m.IdAt(11)}};
    QCOMPARE(slots, want);
    QCOMPARE(w.lstBank->item(5, 1)->text(), QString::fromStdString(m.RowAt(7)->name));
    // Delete empties the current place.
    w.lstBank->setCurrentCell(63, 1);
    w.activateWindow();
    w.lstBank->setFocus();
    QTest::keyClick(w.lstBank, Qt::Key_Delete);
    QVERIFY(a.asked.isEmpty());  // the list's Delete is not asked for here
    QCOMPARE(w.Library()->Bank("Faves")->slots.size(), size_t(3));

    // Saved as a back-up file: each sound's bytes at its place, nothing else.
    const QString file = f.dir.path() + QStringLiteral("/faves.syx");
    a.save << file;
    QVERIFY(w.ExportBank());
    const library::BackupFile read = library::ReadBackupFile(file.toStdString());
    QVERIFY2(read.ok, read.error.c_str());
    QCOMPARE(QString::fromStdString(read.Summary()).left(9), QStringLiteral("3 patches"));
    for (int k = 0; k < 3; ++k) {
        Bytes got;
        QVERIFY(read.image.get(library::MemoryRange(library::MemoryKind::Patch, 5 + k), got));
        QCOMPARE(got, ItemBytes(*w.Library(), dragged[k]));
    }
    // A selection exports too: two timbres at the numbers they had in their file.
    w.cboType->setCurrentIndex(2);
    w.lstItems->selectRow(0);
    w.lstItems->selectionModel()->select(m.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(w.SelectedIds().size(), size_t(2));
    a.save << f.dir.path() + QStringLiteral("/two.syx");
    QVERIFY(w.ExportSelection());
    const library::BackupFile two2 = library::ReadBackupFile((f.dir.path() + QStringLiteral("/two.syx")).toStdString());
    QVERIFY(two2.ok);
    QCOMPARE(library::SoundsIn(two2.image).size(), size_t(2));
}

void tst_Library::aBankSentAtARealPaceWarnsOfItsTimbresAndArrivesVerified() {
    Fixture f;
    VirtualRig rig;
    Answers a;
    ui::BackupUi backup(nullptr, rig.u220(), rig.host, a.Prompts());
    frmLibrary w(a.Options(f.path, &backup));
    QVERIFY(w.OpenLibrary());
    w.show();
    library::SoundLibrary& lib = *w.Library();
    lib.MakeBank("Two", SoundType::Patch);
    library::Query q;
    q.type = SoundType::Patch;
    q.sourceFile = "brass-set.syx";
    const auto patches = lib.List(q);
    lib.SetBankSlot("Two", 3, patches.at(0).id);
    lib.SetBankSlot("Two", 4, patches.at(1).id);
    w.ShowBank(QStringLiteral("Two"));
    w.cboBank->addItem(QStringLiteral("Two"));
    w.cboBank->setCurrentText(QStringLiteral("Two"));

    RealModulePace pace(rig);
    const Bytes before1 = ModuleBytes(*rig.vm, library::MemoryRange(library::MemoryKind::Patch, 1).address, library::SoundSize(SoundType::Patch));
    rig.vm->clearReceived();
    // No back-up first, then Ok to the question.
    a.buttons << QMessageBox::No << QMessageBox::Ok;
    QVERIFY(w.SendBank());
    QCOMPARE(a.asked.size(), 2);
    QVERIFY(a.asked[0].contains(QStringLiteral("Back up")));
    const QString question = a.asked[1];
    QVERIFY2(question.contains(QStringLiteral("patches 3-4")), qPrintable(question));
    QVERIFY2(question.contains(QStringLiteral("without their timbres")) && question.contains(QStringLiteral("brass-set.syx")),
             qPrintable(question));
    for (int k = 0; k < 2; ++k) {
        const library::Range r = library::MemoryRange(library::MemoryKind::Patch, 3 + k);
        QCOMPARE(ModuleBytes(*rig.vm, r.address, r.size), ItemBytes(lib, patches.at(k).id));
    }
    // Only those two memories were written, none lost to the pace.
    QCOMPARE(ModuleBytes(*rig.vm, library::MemoryRange(library::MemoryKind::Patch, 1).address, library::SoundSize(SoundType::Patch)), before1);
    const library::Range p3 = library::MemoryRange(library::MemoryKind::Patch, 3), p4 = library::MemoryRange(library::MemoryKind::Patch, 4);
    for (const ParsedMessage& d : DataSets(rig.vm->received())) {
        const auto linear = [](const Address& x) { return x.a1 * 16384 + x.offset(); };
        const int at = linear(d.address), lo = linear(p3.address), hi = linear(p4.address) + p4.size;
        QVERIFY2(at >= lo && at < hi, "a data set outside the bank's memories");
    }
    QCOMPARE(pace.lost(), uint64_t(0));
    QVERIFY2(backup.LastResult().contains(QStringLiteral("verified")), qPrintable(backup.LastResult()));
    // Cancel at the question sends nothing.
    rig.vm->clearReceived();
    a.buttons << QMessageBox::No << QMessageBox::Cancel;
    QVERIFY(!w.SendBank());
    QVERIFY(DataSets(rig.vm->received()).empty());
    // While the main window's names load or a transfer runs, nothing is asked or sent.
    auto o = a.Options(f.path, &backup);
    o.runTransfer = [](const std::function<void()>&) {};
    frmLibrary busy(o);
    QVERIFY(busy.OpenLibrary());
    QCOMPARE(busy.CurrentBank(), QStringLiteral("Two"));
    const int asked = a.asked.size();
    QVERIFY(!busy.SendBank());
    QCOMPARE(a.asked.size(), asked);
    QVERIFY2(busy.lblStatus->text().contains(QStringLiteral("busy")), qPrintable(busy.lblStatus->text()));
    QVERIFY(DataSets(rig.vm->received()).empty());
}

void tst_Library::importsRunBesideTheWindowAndCanBeCancelled() {
    QTemporaryDir dir;
    const QString files = dir.path() + QStringLiteral("/banks");
    QDir().mkpath(files);
    for (uint32_t k = 0; k < 12; ++k) WriteBank(files, QStringLiteral("bank-%1.syx").arg(k, 2, 10, QLatin1Char('0')), 100 + k);
    QFile bad(files + QStringLiteral("/zz-broken.syx"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray::fromHex("f0411042"));  // cut short
    bad.close();
    Answers a;
    frmLibrary w(a.Options(dir.path() + QStringLiteral("/library.sqlite")));
    QVERIFY(w.OpenLibrary());
    w.show();

    // Cancelled at once: at most the file being read goes in, wholly.
    QVERIFY(w.ImportPaths({files}));
    QVERIFY(w.cmdCancelImport->isVisible());
    QVERIFY(!w.ImportPaths({files}));  // one at a time
    w.CancelImport();
    QVERIFY(WaitFor([&] { return !w.Importing(); }, 60000));
    QVERIFY2(w.LastImportSummary().startsWith(QStringLiteral("Import cancelled after")), qPrintable(w.LastImportSummary()));
    const int afterCancel = w.Model()->rowCount();
    QVERIFY2(afterCancel % 197 == 0 && afterCancel < 12 * 197, qPrintable(QString::number(afterCancel)));

    // The whole folder, dropped onto the window: the window answers meanwhile,
    // and the summary names the damaged file.
    QMimeData urls;
    urls.setUrls({QUrl::fromLocalFile(files)});
    SendDrop(&w, QPoint(50, 50), &urls);
    QVERIFY(w.Importing());
    int filteredDuring = -1;
    w.txtFilter->setText(QStringLiteral("bank-0"));
    w.ApplyFilter();
    filteredDuring = w.Model()->rowCount();
    QVERIFY(filteredDuring >= 0);
    QVERIFY(WaitFor([&] { return !w.Importing(); }, 120000));
    const QString summary = w.LastImportSummary();
    QVERIFY2(summary.startsWith(QStringLiteral("Imported 12 files")), qPrintable(summary));
    QVERIFY2(summary.contains(QStringLiteral("Skipped 1 file:")) && summary.contains(QStringLiteral("zz-broken.syx: ")), qPrintable(summary));
    QCOMPARE(a.told.last(), summary);
    w.txtFilter->clear();
    w.ApplyFilter();
    QCOMPARE(w.Model()->rowCount(), 12 * 197);
    QVERIFY(!w.cmdCancelImport->isVisible());
}

void tst_Library::aDamagedOrNewerLibraryIsNeverAltered_data() {
    QTest::addColumn<QString>("kind");  // "damaged", "newer"
    QTest::addColumn<int>("answer");    // to "Move it aside?"
    QTest::addColumn<bool>("opens");
    QTest::newRow("damaged, moved aside") << "damaged" << int(QMessageBox::Yes) << true;
    QTest::newRow("damaged, left") << "damaged" << int(QMessageBox::No) << false;
    QTest::newRow("newer") << "newer" << int(QMessageBox::Yes) << false;
}

void tst_Library::aDamagedOrNewerLibraryIsNeverAltered() {
    QFETCH(QString, kind);
    QFETCH(int, answer);
    QFETCH(bool, opens);
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/library.sqlite");
    if (kind == QLatin1String("damaged")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
    } else {
        { library::SoundLibrary lib(path.toStdString()); lib.Db().exec("PRAGMA user_version = 99"); }
    }
    QFile original(path);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    original.close();

    Answers a;
    a.buttons << static_cast<QMessageBox::StandardButton>(answer);
    frmLibrary w(a.Options(path));
    QCOMPARE(w.OpenLibrary(), opens);
    QCOMPARE(a.asked.size(), kind == QLatin1String("damaged") ? 1 : 0);
    if (kind == QLatin1String("newer")) QVERIFY2(!a.told.isEmpty() && a.told[0].contains(QStringLiteral("newer version")), qPrintable(a.told.join('|')));
    // The old file is where it was or beside it, byte for byte.
    QStringList aside = QDir(dir.path()).entryList({QStringLiteral("library.sqlite.damaged-*")});
    const QString kept = opens ? dir.path() + QLatin1Char('/') + aside.value(0) : path;
    QCOMPARE(aside.size(), opens ? 1 : 0);
    QFile k(kept);
    QVERIFY(k.open(QIODevice::ReadOnly));
    if (kind == QLatin1String("damaged")) QCOMPARE(k.readAll(), bytes);
    QCOMPARE(w.centralWidget()->isEnabled(), opens);
    if (opens) {
        QCOMPARE(w.Model()->rowCount(), 0);
        QVERIFY2(w.lblStatus->text().contains(QStringLiteral("damaged-")), qPrintable(w.lblStatus->text()));
    }
}

void tst_Library::backUpsGoIntoTheLibraryUnlessTurnedOff() {
    VirtualRig rig;
    Answers a;
    ui::BackupUi backup(nullptr, rig.u220(), rig.host, a.Prompts());
    QTemporaryDir dir;
    const std::string lib = ui::WindowLibraryPath().toStdString();
    for (bool on : {false, true}) {
        ui::SetAddSavedFilesToLibrary(on);
        const QString file = dir.path() + (on ? QStringLiteral("/on.syx") : QStringLiteral("/off.syx"));
        QVERIFY(backup.BackUpModuleTo(file));
        library::SoundLibrary l(lib);
        library::Query q;
        q.sourceFile = QFileInfo(file).fileName().toStdString();
        QCOMPARE(l.Count(q), on ? size_t(197) : size_t(0));
    }
    QVERIFY(ui::AddSavedFilesToLibrary());
}

void tst_Library::theMainWindowOpensTheLibrary() {
    auto vm = std::make_shared<midi::VirtualU220>();
    ui::frmMainOptions o;
    ui::frmMain main(test::VirtualRoot(vm), o);
    QAction* view = main.findChild<QAction*>(QStringLiteral("mnuViewLibrary"));
    QVERIFY(view);
    QVERIFY(main.findChild<QAction*>(QStringLiteral("mnuFileImportLibrary")));
    auto* bar = main.findChild<QToolBar*>(QStringLiteral("libraryToolBar"));
    QVERIFY(bar && bar->actions().contains(view));
    view->trigger();
    auto* lib = main.findChild<frmLibrary*>();
    QVERIFY(lib && lib->isVisible() && lib->Library());
    QCOMPARE(QString::fromStdString(lib->Library()->Path()), ui::WindowLibraryPath());
    view->trigger();
    QCOMPARE(main.findChildren<frmLibrary*>().size(), 1);  // the same window again
}

QTEST_MAIN(tst_Library)
#include "tst_library.moc"
