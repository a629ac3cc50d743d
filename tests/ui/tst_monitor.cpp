// The MIDI monitor: what it shows of a real exchange with the virtual module
// at a real module's pace, the size cap, pause and clear, copy and save, the
// View menu, the value lists it shares with the editors, and the console log.
// Mouse clicks go through the window system, as a user's do: a window blocked
// by a modal one does not get them.
#define QTEST_QPA_MOUSE_HANDLING
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <set>

#include "device/MessageDecoder.h"
#include "ui/UiTestSupport.h"
#include "ui/main/frmMain.h"
#include "ui/monitor/MonitorLog.h"
#include "device/ParamValueText.h"
#include "ui/monitor/frmMonitor.h"
#include "ui/patch/frmPatch.h"
#include "ui/rhythm/frmRhythm.h"
#include "ui/setup/frmMIDISetupForm.h"
#include "ui/timbre/frmTimbre.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::frmMonitor;
using quorvane::ui::MonitorLog;
using quorvane::ui::frmPatch;
using quorvane::ui::frmRhythm;
using quorvane::ui::frmTimbre;

namespace {

// What the monitor's table shows in one column, after a flush.
QStringList Column(MonitorLog& log, int column) {
    log.flush();
    QStringList out;
    for (int r = 0; r < log.rowCount(); ++r) out << log.data(log.index(r, column)).toString();
    return out;
}
QStringList Texts(MonitorLog& log) { return Column(log, MonitorLog::MessageColumn); }

int CountStarting(const QStringList& l, const QString& prefix) {
    int n = 0;
    for (const QString& s : l) n += s.startsWith(prefix);
    return n;
}

MonitorEvent Sent(int i) {
    return {MonitorEvent::Kind::Sent, BuildDT1(16, ParamAddress(Param::PatchPartLevel, 1), {static_cast<uint8_t>(i & 0x7F)})};
}

// The module at a real module's pace: answers 400 ms after a request, loses a
// message that follows the previous one within 20 ms; the port keeps 20 ms.
void RealPace(VirtualRig& rig) {
    rig.vm->withEmulator([](auto& e) {
        emulator::WireModel w;
        w.enabled = true;
        w.answerDelayMs = 400;
        w.minGapMs = 20;
        e.setWireModel(w);
        return 0;
    });
    rig.u220().MIDIOutput1->setSendGapMs(20);
}

void SetFaults(VirtualRig& rig, double damage, double foreign) {
    rig.vm->withEmulator([&](auto& e) {
        emulator::FaultModel f;
        f.damage = damage;
        f.foreign = foreign;
        e.setFaults(f);
        return 0;
    });
}

QStringList captured;
void Capture(QtMsgType, const QMessageLogContext& ctx, const QString& msg) {
    captured << QString::fromLatin1(ctx.category ? ctx.category : "") + ": " + msg;
}

// Runs `fn` once a shown window of type T is the modal window in front and
// `ready` holds for it (its opener's exec() starts only after the opening has
// let events run; a window filling itself waits in a loop of its own, which
// `fn` must not run inside).
template <class T>
void WhenInFront(QObject* owner, std::function<void(T*)> fn, std::function<bool(T*)> ready = nullptr) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [timer, fn, ready] {
        auto* x = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!x || !x->isVisible() || (ready && !ready(x))) return;
        timer->stop();
        timer->deleteLater();
        fn(x);
    });
    timer->start(20);
}

}  // namespace

class tst_monitor : public QObject {
    Q_OBJECT

private slots:
    // A real exchange at the module's pace: a read with a foreign message in
    // the way, a parameter written as the editor's list shows it, a drag's
    // worth of writes merged in the send queue, a patch change, and a damaged
    // reply dropped.
    void showsARealExchangeInWords() {
        VirtualRig rig;
        RealPace(rig);
        MonitorLog log;
        log.attach(rig.u220());
        frmMonitor win(log);
        QVERIFY(ShowAndActivate(win));

        SetFaults(rig, 0, 1);  // a foreign message before every answer
        QCOMPARE(int(rig.u220().MasterSetupLCD()), int(rig.vm->withEmulator([](auto& e) { return e.read({0, 0, 2}, 1)[0]; })));
        SetFaults(rig, 0, 0);
        // A fast drag, on an interface slow enough (1 s gap) that the values
        // surely meet in the send queue however loaded the machine is.
        rig.u220().MIDIOutput1->setSendGapMs(1000);
        for (int16_t v = 1; v <= 9; ++v) rig.u220().PatchPartPan(2, v);
        rig.u220().MIDIOutput1->setSendGapMs(20);
        const int rx = rig.u220().MasterSetupMIDIRxCh();
        rig.u220().PatchChange(5);
        rig.u220().RequestTimeout = std::chrono::milliseconds(1500);
        SetFaults(rig, 1, 0);  // every answer damaged
        rig.u220().MemoryPatchName(2);
        SetFaults(rig, 0, 0);
        rig.u220().MIDIOutput1->flush();
        QVERIFY(WaitFor([&] { return log.waitingLines() == 0 && Texts(log).size() >= 8; }));

        const QStringList t = Texts(log);
        const QString all = t.join('\n');
        QVERIFY2(t.size() >= 2 && t[0] == "request: master setup 00 00 00, 16 bytes", qPrintable(all));
        QVERIFY2(t[1].startsWith("dropped: foreign"), qPrintable(all));
        QVERIFY2(t[2].startsWith("data: master setup 00 00 00, 16 bytes (tune "), qPrintable(all));
        // The last write always reaches the module; those before it are merged
        // while they wait for the gap.
        QVERIFY2(t.contains("Patch part 2 pan = 6>"), qPrintable(all));
        QVERIFY2(t.contains("Patch part 2 pan = <2"), qPrintable(all));
        QVERIFY2(CountStarting(t, "merged: Patch part 2 pan = ") >= 1, qPrintable(all));
        QCOMPARE(CountStarting(t, "Patch part 2 pan = ") + 0, 9);  // each write is shown as sent ...
        const auto pans = DataSets(rig.vm->received());
        int reached = 0;
        for (const auto& p : pans) reached += p.address == ParamAddress(Param::PatchPartPan, 2);
        // ... and every one that was not merged reached the module.
        QCOMPARE(reached, 9 - CountStarting(t, "merged: Patch part 2 pan = "));
        QVERIFY2(t.contains(QString("program change 5 on channel %1").arg(rx + 1)), qPrintable(all));
        QVERIFY2(t.contains("request: patch memory 2 name 03 01 20, 24 bytes"), qPrintable(all));
        QVERIFY2(CountStarting(t, "dropped: checksum (data: patch memory 2 name 03 01 20, 24 bytes") == 1, qPrintable(all));
        QCOMPARE(rig.u220().Stats().malformed, uint64_t(1));

        // Time, direction and bytes of each line.
        const QStringList times = Column(log, MonitorLog::TimeColumn);
        const QRegularExpression clock("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$");
        for (const QString& s : times) QVERIFY2(clock.match(s).hasMatch(), qPrintable(s));
        const QStringList dirs = Column(log, MonitorLog::DirectionColumn);
        QCOMPARE(dirs[0], QString("out"));
        QCOMPARE(dirs[1], QString("in"));
        QCOMPARE(Column(log, MonitorLog::BytesColumn)[0], QString("F0 41 10 2B 11 00 00 00 00 00 10 70 F7"));
        // The answer came 400 ms after the request at the earliest.
        QVERIFY(Column(log, MonitorLog::DeltaColumn)[2].mid(1).toInt() + Column(log, MonitorLog::DeltaColumn)[1].mid(1).toInt() >= 350);
        // The window shows the same table, and follows the newest line.
        QCOMPARE(win.MessageView->model(), &log);
        QCOMPARE(win.MessageView->model()->rowCount(), t.size());
        QVERIFY(win.CountLabel->text().startsWith(QString("%1 lines").arg(t.size())));
        QVERIFY(QTest::qWaitFor([&] {
            return win.MessageView->verticalScrollBar()->value() == win.MessageView->verticalScrollBar()->maximum();
        }, 2000));
        QVERIFY(!win.isModal());
        // With QUORVANE_SCREENSHOT_DIR set, the window is saved there as midi-monitor.png (docs image).
        if (ScreenshotsWanted()) {
            win.resize(win.sizeHint());
            QVERIFY(SaveScreenshot(win, "midi-monitor.png"));
        }
    }

    // The latest lines are kept and the older ones counted; pause holds the
    // table still without losing lines; clear starts afresh.
    void capPauseAndClear() {
        MonitorLog log;
        frmMonitor win(log);
        QCOMPARE(log.cap(), 5000);
        int updates = 0;
        connect(&log, &QAbstractItemModel::rowsInserted, this, [&] { ++updates; });
        for (int i = 0; i < 5100; ++i) log.add(Sent(i));
        QCOMPARE(log.rowCount(), 0);  // nothing reaches the view before the flush ...
        log.flush();
        QCOMPARE(updates, 1);  // ... and then all of it at once
        QCOMPARE(log.rowCount(), 5000);
        QCOMPARE(log.droppedLines(), quint64(100));
        QCOMPARE(Texts(log).first(), QString("Patch part 1 level = %1").arg(100 & 0x7F));
        QVERIFY(win.CountLabel->text().contains("100 older lines dropped"));

        struct Step {
            int cap, add;
            bool paused;
            int rows, dropped, waiting;
        };
        log.clear();
        QCOMPARE(log.rowCount(), 0);
        QCOMPARE(log.droppedLines(), quint64(0));
        const Step steps[] = {
            {50, 30, false, 30, 0, 0},    // under the cap
            {50, 30, false, 50, 10, 0},   // past it: the oldest make way
            {50, 20, true, 50, 10, 20},   // paused: the table stands still
            {50, 40, true, 50, 20, 50},   // the waiting lines keep the cap too
            {50, 0, false, 50, 70, 0},    // resumed: the waiting lines replace the table
            {20, 0, false, 20, 100, 0},   // a smaller cap trims at once
        };
        int n = 0;
        for (const Step& s : steps) {
            log.setCap(s.cap);
            win.PauseButton->setChecked(s.paused);
            for (int i = 0; i < s.add; ++i) log.add(Sent(n++));
            log.flush();
            QCOMPARE(log.rowCount(), s.rows);
            QCOMPARE(log.droppedLines(), quint64(s.dropped));
            QCOMPARE(log.waitingLines(), s.waiting);
            QCOMPARE(win.CountLabel->text().contains("paused"), s.paused);
        }
        QCOMPARE(Texts(log).last(), QString("Patch part 1 level = %1").arg((n - 1) & 0x7F));
        win.ClearButton->click();
        QCOMPARE(log.rowCount(), 0);
        QCOMPARE(win.CountLabel->text(), QString("0 lines"));
    }

    // Copy takes the selection (or everything), Ctrl+C too; save writes every
    // line; a file that cannot be written is said so.
    void copyAndSave() {
        MonitorLog log;
        frmMonitor win(log);
        QVERIFY(ShowAndActivate(win));
        win.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&win));
        for (int i = 0; i < 5; ++i) log.add(Sent(i));
        log.add({MonitorEvent::Kind::Sent, {0xC0, 4}});
        log.flush();
        QClipboard* clip = QApplication::clipboard();

        win.CopyButton->click();
        QStringList lines = clip->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6);
        QVERIFY(lines[5].contains("  out  program change 5 on channel 1  [C0 04]"));
        QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d +\\+\\d+ ms  out  Patch part 1 level = 0  \\[F0 41 ")
                    .match(lines[0]).hasMatch());

        QItemSelectionModel* sel = win.MessageView->selectionModel();
        sel->select(log.index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        sel->select(log.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        clip->clear();
        win.MessageView->setFocus();
        QTest::keyClick(win.MessageView, Qt::Key_C, Qt::ControlModifier);
        lines = clip->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);  // in table order, whatever the order picked
        QVERIFY(lines[0].contains("level = 1"));
        QVERIFY(lines[1].contains("level = 3"));

        QTemporaryDir dir;
        const QString path = dir.filePath("monitor.txt");
        QVERIFY(win.SaveAsText(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), log.text());
        QCOMPARE(log.text().count('\n'), 6);

        MessageBoxWatcher boxes;
        QVERIFY(!win.SaveAsText(dir.filePath("no/such/folder/monitor.txt")));
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts[0].startsWith("The MIDI monitor could not be saved to "));
    }

    // View > MIDI Monitor opens one non-modal window, kept when closed, that
    // already holds the start-up's name load, taken in batches.
    void viewMenuOpensOneKeptWindow() {
        auto vm = std::make_shared<midi::VirtualU220>();
        ui::frmMainOptions o;
        o.runSetup = [](ui::frmMIDISetupForm& d) {
            d.cmdOK->click();
            return d.result();
        };
        ui::frmMain w(VirtualRoot(vm), o);
        QVERIFY(w.mnuViewMIDIMonitor);
        QCOMPARE(w.mnuViewMIDIMonitor->text(), QString("MIDI &Monitor"));
        w.mnuViewMIDIMonitor->trigger();  // open before the load: it watches it
        QPointer<frmMonitor> mon = w.MIDIMonitor();
        QVERIFY(mon && mon->isVisible());
        QVERIFY(w.Load());
        w.show();
        QVERIFY(WaitFor([&] { return w.cmdEditPatch->isVisible() && !w.Activating(); }, 60000));
        const QStringList t = Texts(*w.MIDIMonitorLog);
        QCOMPARE(CountStarting(t, "request: patch memory "), 64);
        QCOMPARE(CountStarting(t, "request: timbre memory "), 128);
        QCOMPARE(CountStarting(t, "data: rhythm setup memory "), 4);
        QCOMPARE(w.MIDIMonitorLog->droppedLines(), quint64(0));
        // The open window followed the load down to its last line.
        QTableView* view = mon->MessageView;
        QVERIFY(QTest::qWaitFor([&] {
            const QModelIndex last = w.MIDIMonitorLog->index(w.MIDIMonitorLog->rowCount() - 1, 0);
            return view->viewport()->rect().contains(view->visualRect(last));
        }, 2000));

        QVERIFY(!mon->isModal());
        mon->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mon));
        mon->MessageView->setFocus();
        QTest::keyClick(mon->MessageView, Qt::Key_Escape);
        QVERIFY(mon->isHidden());
        w.mnuViewMIDIMonitor->trigger();
        QCOMPARE(w.MIDIMonitor(), mon.data());
        QVERIFY(mon->isVisible());
        const QSize s = mon->sizeHint();
        QVERIFY(s.width() >= 600 && s.width() <= 1366 && s.height() >= 300 && s.height() <= 768 - 60);
    }

    // The editors are modal to the main window only: while the patch editor
    // and the timbre editor above it wait on a module at a real pace, the
    // monitor still takes clicks (pause, resume, copy), and each window beneath
    // the editor in front takes none. Clicks go through the window system, as
    // a user's do, which drops those for a blocked window.
    void staysUsableWhileEditorsAreOpen() {
        auto vm = std::make_shared<midi::VirtualU220>();
        auto w = MakeRealisticMain(vm, 40);
        w->mnuViewMIDIMonitor->trigger();
        QPointer<frmMonitor> mon = w->MIDIMonitor();
        QVERIFY(mon);
        QVERIFY(w->Load());
        w->show();
        QVERIFY(WaitFor([&] { return w->cmdEditPatch->isVisible() && !w->Activating(); }, 60000));
        vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
        auto click = [](QWidget* b) { QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center()); };
        const bool chorus = w->ChorusCheck->isChecked();
        QStringList seen;  // what each step found, in order
        const auto filled = [](auto* editor) { return !editor->Updating; };
        WhenInFront<frmPatch>(this, [&](frmPatch* patch) {
            seen << (patch->windowModality() == Qt::WindowModal ? "patch editor window-modal" : "patch editor application-modal");
            click(mon->PauseButton);
            seen << (mon->PauseButton->isChecked() ? "paused" : "pause ignored");
            click(w->ChorusCheck);
            seen << (w->ChorusCheck->isChecked() == chorus ? "main window blocked" : "main window took a click");
            // While the timbre editor reads, at 400 ms an answer.
            WhenInFront<frmTimbre>(this, [&, patch](frmTimbre*) {
                click(mon->PauseButton);
                seen << (mon->PauseButton->isChecked() ? "resume ignored" : "resumed");
                QApplication::clipboard()->clear();
                click(mon->CopyButton);
                seen << (QApplication::clipboard()->text().contains("request: ") ? "copied" : "copy ignored");
                const bool sync = patch->SyncPartCheck->isChecked();
                click(patch->SyncPartCheck);
                seen << (patch->SyncPartCheck->isChecked() == sync ? "patch editor blocked" : "patch editor took a click");
                WhenInFront<frmTimbre>(this, [&](frmTimbre* timbre) {
                    timbre->EndButton->click();
                    WhenInFront<frmPatch>(this, [](frmPatch* p) { p->EndCommand->click(); }, filled);
                }, filled);
            });
            patch->EditTimbreCommand[1]->click();
        }, filled);
        // Whatever happens above, every editor is closed within a minute.
        QTimer rescue;
        connect(&rescue, &QTimer::timeout, this, [&] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->done(QDialog::Rejected);
        });
        rescue.start(60000);
        w->cmdEditPatch->click();
        rescue.stop();
        QCOMPARE(seen, (QStringList{"patch editor window-modal", "paused", "main window blocked", "resumed", "copied",
                                    "patch editor blocked"}));
        QCOMPARE(vm->withEmulator([](auto& e) { return e.stats().lostToGap; }), uint64_t(0));
    }

    // The monitor opens inside the screen, whole, with its counts in full.
    void opensInsideTheScreenWithItsCountsWhole() {
        auto vm = std::make_shared<midi::VirtualU220>();
        auto w = MakeRealisticMain(vm, 0);
        QVERIFY(w->Load());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QRect screen = w->screen()->availableGeometry();
        w->move(screen.right() - w->width() / 2, screen.top() + 40);  // half off the right edge
        w->mnuViewMIDIMonitor->trigger();
        frmMonitor* mon = w->MIDIMonitor();
        QVERIFY(QTest::qWaitForWindowExposed(mon));
        const QRect area = mon->screen()->availableGeometry();
        auto inside = [&] {
            const QRect f = mon->frameGeometry();
            return area.contains(f) ? QString() : QString("%1,%2 %3x%4 on %5x%6").arg(f.x()).arg(f.y()).arg(f.width())
                                                      .arg(f.height()).arg(area.width()).arg(area.height());
        };
        QCOMPARE(inside(), QString());
        // Left last time where its title bar is on the screen but most of it is not.
        mon->move(area.right() - 200, area.bottom() - 100);
        mon->close();
        w->mnuViewMIDIMonitor->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(mon));
        QCOMPARE(inside(), QString());
        // The longest count there is: lines dropped, paused with lines waiting.
        MonitorLog& log = *w->MIDIMonitorLog;
        log.setCap(9999);
        for (int i = 0; i < 12345; ++i) log.add(Sent(i));
        log.flush();
        mon->PauseButton->click();
        for (int i = 0; i < 9999; ++i) log.add(Sent(i));
        QCoreApplication::processEvents();
        QLabel* count = mon->CountLabel;
        QVERIFY(count->text().contains("dropped") && count->text().contains("waiting"));
        const QRect need = count->fontMetrics().boundingRect(count->contentsRect(), count->alignment() | Qt::TextWordWrap, count->text());
        QVERIFY2(count->contentsRect().contains(need) && count->isVisible(),
                 qPrintable(QString("needs %1x%2, has %3x%4").arg(need.width()).arg(need.height())
                                .arg(count->contentsRect().width()).arg(count->contentsRect().height())));
        mon->PauseButton->click();
    }

    // The view follows new lines while it shows the last one; scrolled up, it
    // keeps the line the user reads at the top, also while older lines are
    // dropped; back at the end it follows again.
    void followsTheEndOnlyWhileScrolledThere() {
        MonitorLog log;
        log.setCap(1000);
        frmMonitor win(log);
        win.resize(600, 300);
        QVERIFY(ShowAndActivate(win));
        QTableView* view = win.MessageView;
        QScrollBar* bar = view->verticalScrollBar();
        int n = 0;
        auto addLines = [&](int count) {
            for (int i = 0; i < count; ++i) log.add({MonitorEvent::Kind::Sent, {0xC0, uint8_t(n++ % 64)}});
            log.flush();
            QCoreApplication::processEvents();
        };
        auto lastShown = [&] {
            const QModelIndex last = log.index(log.rowCount() - 1, 0);
            return view->viewport()->rect().contains(view->visualRect(last));
        };
        for (int batch = 0; batch < 5; ++batch) {
            addLines(150);
            QVERIFY2(lastShown(), qPrintable(QString("batch %1").arg(batch)));
        }
        bar->setValue(bar->maximum() / 2);  // the user scrolls up
        QCoreApplication::processEvents();
        const int row = view->rowAt(0);
        const QString reading = log.lineText(row);
        addLines(150);
        QCOMPARE(log.lineText(view->rowAt(0)), reading);  // not dropped yet: 750 + 150 lines
        addLines(300);  // 200 older lines dropped: the line read moves up the table
        QCOMPARE(log.droppedLines(), quint64(200));
        QCOMPARE(view->rowAt(0), row - 200);
        QCOMPARE(log.lineText(view->rowAt(0)), reading);
        QVERIFY(!lastShown());
        bar->setValue(bar->maximum());  // back at the end
        QCoreApplication::processEvents();
        for (int batch = 0; batch < 3; ++batch) {
            addLines(150);
            QVERIFY2(lastShown(), qPrintable(QString("after return, batch %1").arg(batch)));
        }
        // Closed at the end (it is kept) while lines come, and opened again: at the end still.
        win.close();
        addLines(150);
        QVERIFY(ShowAndActivate(win));
        addLines(150);
        QVERIFY(lastShown());
    }

    // Every list of the three editors shows the value as the monitor names it:
    // each pick sends one data set, and the monitor's text for it is the entry picked.
    void valueTextsAreTheEditorsLists() {
        VirtualRig rig;
        TestContext ctx(rig.u220());
        frmPatch patch(ctx);
        QVERIFY(ShowAndActivate(patch));
        frmTimbre timbre(ctx, patch.TimbreSyncSource());
        QVERIFY(ShowAndActivate(timbre));
        frmRhythm rhythm(ctx);
        QVERIFY(ShowAndActivate(rhythm));
        std::set<Param> checked;
        for (QWidget* editor : std::initializer_list<QWidget*>{&patch, &timbre, &rhythm}) {
            for (QComboBox* c : editor->findChildren<QComboBox*>()) {
                if (!c->isEnabled() || c->count() < 2) continue;
                for (int pick : {c->count() - 1, 0, 1}) {  // at least two changes, whatever was shown
                    rig.vm->clearReceived();
                    c->setCurrentIndex(pick);
                    QCoreApplication::processEvents();
                    // A pick may send more than its own parameter (a synced part, a
                    // tone number with its media): one of them must be the pick's.
                    const QString shown = c->itemText(pick);
                    QStringList seen;
                    std::optional<Param> match;
                    for (const auto& d : DataSets(rig.vm->received())) {
                        const MessageMeaning m = DescribeMessage(BuildDT1(16, d.address, d.data));
                        if (!m.param) continue;
                        const QString text = QString::fromStdString(ParamValueText(*m.param, m.value).value_or("(none)"));
                        seen << QString("%1 = %2").arg(Info(*m.param).name, text);
                        if (shown == text || shown.startsWith(text + " ")) match = m.param;
                    }
                    if (seen.isEmpty()) continue;  // no parameter written (a key pick, a limit)
                    QVERIFY2(match, qPrintable(QString("list shows \"%1\", monitor: %2").arg(shown, seen.join("; "))));
                    checked.insert(*match);
                }
            }
        }
        // Every parameter of the table has an editor list, and each was compared.
        QStringList missing;
        for (Param p : AllParams())
            if (!checked.count(p)) missing << Info(p).name;
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
    }

    // The same lines go to the "quorvane.midi" logging category, off by default.
    void logsToTheConsoleWhenAsked() {
        MonitorLog log;
        QVERIFY(!ui::lcMidi().isDebugEnabled());
        captured.clear();
        QtMessageHandler old = qInstallMessageHandler(Capture);
        log.add(Sent(5));
        QVERIFY(captured.isEmpty());
        QLoggingCategory::setFilterRules("quorvane.midi.debug=true");
        log.add({MonitorEvent::Kind::Received, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7}, MonitorEvent::Verdict::Foreign});
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(old);
        QCOMPARE(captured.size(), 1);
        QCOMPARE(captured[0], QString("quorvane.midi: in dropped: foreign (System Exclusive of another maker or model, 6 bytes) "
                                      "[F0 43 10 4C 00 F7]"));
    }
};

QTEST_MAIN(tst_monitor)
#include "tst_monitor.moc"
