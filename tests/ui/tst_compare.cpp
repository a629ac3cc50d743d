// The compare window opened from the library window with two sounds selected:
// the rows of both readings side by side, exactly the differing ones
// highlighted, "Show only differences" from the keyboard, rows copied as text,
// columns wide enough for every value, and the message for a sound that was
// never auditioned. Readings are a virtual module's working area read after
// switching to each factory patch, kept in a real library file.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "emulator/U220Emulator.h"
#include "library/Compare.h"
#include "library/SoundLibraryFiles.h"
#include "library/SysexFile.h"
#include "ui/UiTestSupport.h"
#include "ui/library/frmCompare.h"
#include "ui/library/frmLibrary.h"

#undef slots  // BankInfo::slots; the test class says Q_SLOTS
#include "library/SoundLibrary.h"

using namespace quorvane;
using library::SoundType;
using ui::frmCompare;
using ui::frmLibrary;

namespace {

// A library of the factory bank with readings of patches 2 and 7 (the latter
// without the rhythm setup's block); patch 30 has none.
struct Fixture {
    QTemporaryDir dir;
    QString path = dir.path() + QStringLiteral("/library.sqlite");
    int64_t p2 = 0, p7 = 0, p30 = 0;

    Fixture() {
        std::string error;
        const std::string bank = (dir.path() + QStringLiteral("/factory.syx")).toStdString();
        if (!library::SaveBackup(bank, library::testfiles::FactoryMemory(), 0x10, error)) qFatal("%s", error.c_str());
        library::SoundLibrary lib(path.toStdString());
        lib.Import({bank});
        library::Query q;
        q.type = SoundType::Patch;
        for (const library::ItemRow& row : lib.List(q)) {
            const int n = lib.Details(row.id)->sources.at(0).number;
            if (n == 2) p2 = row.id;
            if (n == 7) p7 = row.id;
            if (n == 30) p30 = row.id;
        }
        for (auto [id, number] : {std::pair{p2, 2}, std::pair{p7, 7}}) {
            emulator::U220Emulator module(0x10, 5);  // another record packing than the default
            module.receive({0xC0, static_cast<uint8_t>(number - 1)});
            library::Reading r;
            r.itemId = id;
            for (const library::Range& range : library::ReadingRanges(number == 2))  // patch 7's without its rhythm setup
                r.working.put(range.address, module.read(range.address, range.size));
            library::SaveReading(lib, r);
        }
    }
};

// Selects exactly the rows of `ids` in the library window's list.
void Select(frmLibrary& w, const std::vector<int64_t>& ids) {
    QModelIndexList rows;
    for (int64_t id : ids) {
        QVERIFY(w.SelectId(id));
        rows << w.lstItems->currentIndex();
    }
    w.lstItems->selectionModel()->clearSelection();
    for (const QModelIndex& i : rows) w.lstItems->selectionModel()->select(i, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

frmCompare* OpenedCompare(frmLibrary& w) {
    QAction* act = w.findChild<QAction*>(QStringLiteral("actCompare"));
    if (!act || !act->isEnabled()) return nullptr;
    act->trigger();
    const auto found = w.findChildren<frmCompare*>();
    return found.isEmpty() ? nullptr : found.last();
}

}  // namespace

class tst_Compare : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void twoSelectedPatchesSideBySideWithTheDifferencesHighlighted();
    void aSoundNeverAuditionedIsExplained();
};

void tst_Compare::twoSelectedPatchesSideBySideWithTheDifferencesHighlighted() {
    Fixture f;
    ui::LibraryWindowOptions options;
    options.path = f.path;
    frmLibrary w(options);
    QVERIFY(w.OpenLibrary());
    w.show();
    QAction* act = w.findChild<QAction*>(QStringLiteral("actCompare"));
    QVERIFY(act);
    // Only with two selected; in the list's context menu and the Edit menu.
    QVERIFY(w.lstItems->actions().contains(act));
    QVERIFY(act->associatedObjects().size() >= 2);
    for (const std::vector<int64_t>& ids : {std::vector<int64_t>{f.p2}, {f.p2, f.p7, f.p30}}) {
        Select(w, ids);
        QVERIFY(!act->isEnabled());
    }
    Select(w, {f.p7, f.p2});
    QVERIFY(act->isEnabled());
    frmCompare* c = OpenedCompare(w);
    QVERIFY(c);
    QVERIFY(test::ShowAndActivate(*c));
    c->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(c));  // for its keyboard shortcuts

    library::SoundLibrary lib(f.path.toStdString());
    const std::vector<int64_t> order = w.SelectedIds();  // list order: A is the first of the list
    const library::Comparison expect = library::CompareItems(lib, order[0], order[1], false);
    QVERIFY(expect.ok);
    QVERIFY(c->windowTitle().contains(QString::fromStdString(expect.nameA)));
    QCOMPARE(c->lstRows->horizontalHeaderItem(2)->text(), QString::fromStdString(expect.nameA));
    QCOMPARE(c->lstRows->horizontalHeaderItem(3)->text(), QString::fromStdString(expect.nameB));
    QVERIFY(!c->lblMessage->isVisible());

    size_t differing = 0;
    for (const auto& r : expect.rows) differing += r.differs;
    QVERIFY(differing > 10 && differing < expect.rows.size());
    QCOMPARE(c->lblSummary->text(), QStringLiteral("%1 of %2 parameters differ").arg(differing).arg(expect.rows.size()));

    // All rows, then only the differing ones (Alt+S from the table).
    const QFontMetrics fm(c->lstRows->font());
    int unreadSeen = 0;
    for (bool only : {false, true}) {
        const int want = only ? static_cast<int>(differing) : static_cast<int>(expect.rows.size());
        QCOMPARE(c->lstRows->rowCount(), want);
        int row = 0;
        for (const auto& r : expect.rows) {
            if (only && !r.differs) continue;
            const QString texts[] = {QString::fromStdString(r.section), QString::fromStdString(r.parameter),
                                     QString::fromStdString(r.a), QString::fromStdString(r.b)};
            for (int col = 0; col < 4; ++col) {
                const bool unread = col >= 2 && texts[col].isEmpty();
                unreadSeen += unread;
                QCOMPARE(c->lstRows->item(row, col)->text(), unread ? QStringLiteral("(not read)") : texts[col]);
                if (col < 3) QVERIFY2(c->lstRows->columnWidth(col) > fm.horizontalAdvance(texts[col]), qPrintable(texts[col]));
            }
            QVERIFY2(c->Highlighted(row) == r.differs, qPrintable(texts[0] + " / " + texts[1]));
            ++row;
        }
        if (!only) {
            QVERIFY(c->lstRows->hasFocus());
            QTest::keyClick(c->lstRows, Qt::Key_S, Qt::AltModifier);
            QTRY_VERIFY(c->chkOnlyDifferences->isChecked());  // a mnemonic clicks after a short press
        }
    }

    QCOMPARE(unreadSeen, 2 * 3);  // the rhythm setup's name and two benders, in both passes

    // Arrows move through the rows; Ctrl+C copies the selected rows as the CLI prints them.
    c->lstRows->setFocus();
    c->lstRows->setCurrentCell(0, 1);
    QTest::keyClick(c->lstRows, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(c->lstRows->currentRow(), 1);
    QTest::keyClick(c->lstRows, Qt::Key_C, Qt::ControlModifier);
    QStringList lines;
    for (size_t i = 0; i < 2; ++i) {
        const auto& r = c->ShownRows()[i];
        lines << QStringList{QString::fromStdString(r.section), QString::fromStdString(r.parameter),
                             QString::fromStdString(r.a), QString::fromStdString(r.b), QStringLiteral("*")}
                     .join('\t');
    }
    QCOMPARE(QApplication::clipboard()->text(), lines.join('\n') + '\n');

    // On the screen, and Esc closes it.
    QVERIFY(c->screen()->availableGeometry().size().boundedTo(c->size()) == c->size());
    QPointer<frmCompare> guard(c);
    QTest::keyClick(c->lstRows, Qt::Key_Escape);
    QTRY_VERIFY(!guard);
}

void tst_Compare::aSoundNeverAuditionedIsExplained() {
    Fixture f;
    library::SoundLibrary lib(f.path.toStdString());
    const std::string name = lib.Details(f.p30)->row.name;
    for (const std::vector<int64_t>& ids : {std::vector<int64_t>{f.p2, f.p30}, {f.p30, f.p7}}) {
        frmCompare c(lib, ids[0], ids[1]);
        c.show();
        QCOMPARE(c.lblMessage->text(), QString::fromStdString(library::NoReadingMessage(name)));
        QVERIFY(c.lblMessage->isVisible());
        QVERIFY(!c.lstRows->isVisible());
        QVERIFY(!c.chkOnlyDifferences->isEnabled());
    }
    frmCompare gone(lib, f.p2, 999999);
    QVERIFY(gone.lblMessage->text().contains("999999"));
    QVERIFY(!ui::ShowCompare(nullptr, &lib, {f.p2}));
}

QTEST_MAIN(tst_Compare)
#include "tst_compare.moc"
