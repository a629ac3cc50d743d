// Key range editor against the built-in virtual module and a real patch editor:
// the drawn geometry, the drag rules of both handles, and what reaches the
// module while a handle is dragged.
#include <QAction>
#include <QMenuBar>
#include <QMenu>
#include <QComboBox>
#include <QDir>
#include <QUndoStack>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "device/ParamTable.h"
#include "ui/UiTestSupport.h"
#include "ui/common/PartColors.h"
#include "ui/keyboard/frmKeyboard.h"
#include "ui/patch/frmPatch.h"

using namespace quorvane;
using quorvane::test::DataSets;
using quorvane::test::TestContext;
using quorvane::test::VirtualRig;
using quorvane::ui::frmKeyboard;
using quorvane::ui::frmPatch;

class tst_keyboard : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualRig> rig;
    std::unique_ptr<TestContext> ctx;
    std::unique_ptr<frmPatch> patch;

    // Puts key ranges into the module's temporary patch; the patch editor re-reads them.
    void setRange(int part, int low, int high) {
        rig->vm->withEmulator([&](auto& e) {
            e.poke(ParamAddress(Param::PatchPartKeyRangeLow, part), static_cast<uint8_t>(low));
            e.poke(ParamAddress(Param::PatchPartKeyRangeHi, part), static_cast<uint8_t>(high));
            return 0;
        });
        rig->u220().InvalidateAll();
        patch->Activate();
        rig->vm->clearReceived();
    }
    std::unique_ptr<frmKeyboard> open() {
        auto w = std::make_unique<frmKeyboard>(*ctx, *patch);
        if (!quorvane::test::ShowAndActivate(*w)) qWarning("key range editor not exposed");
        return w;
    }
    static void move(QWidget* w, int x, Qt::MouseButtons buttons) {
        const QPointF local(x, 5);
        QMouseEvent ev(QEvent::MouseMove, local, w->mapToGlobal(local), Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &ev);
    }
    static int twips(int px) { return px * frmKeyboard::kTwipsPerPixel; }
    static int kb(int twips) { return twips / frmKeyboard::kTwipsPerPixel; }  // pixels
    std::vector<ParsedMessage> sent() { return DataSets(rig->vm->received()); }

private slots:
    void init() {
        rig = std::make_unique<VirtualRig>();
        ctx = std::make_unique<TestContext>(rig->u220());
        patch = std::make_unique<frmPatch>(*ctx);
        patch->show();
        patch->Activate();
        rig->vm->clearReceived();
    }
    void cleanup() {
        patch.reset();
        ctx.reset();
        rig.reset();
    }

    // "Done" pressed while the opening still waits for the module's key ranges
    // ends the opener's modal wait.
    void doneWhileOpeningWaitsEndsExec() {
        rig->u220().InvalidateAll();
        quorvane::test::SetAnswerDelay(*rig->vm, 300);
        frmKeyboard w(*ctx, *patch);
        bool pressedDuringWait = false;
        bool handlesOffered = false;
        const bool ended = quorvane::test::ExecEnds(w, 100, [&] {
            pressedDuringWait = !rig->u220().PatchDataLoaded();
            // No handle to drag before the ranges are read.
            for (int p = 1; p <= 6; ++p) handlesOffered |= w.LeftHandle[p]->isVisible() || w.RightHandle[p]->isVisible();
            w.cmdDone->click();
        });
        quorvane::test::SetAnswerDelay(*rig->vm, 0);
        QVERIFY(pressedDuringWait);
        QVERIFY(ended);
        QVERIFY(!handlesOffered);
        QVERIFY(sent().empty());
    }

    // A module that does not answer is asked about once; no bar is drawn and
    // no handle offered, and nothing is written.
    void silentModuleIsAskedAboutOnce() {
        rig->u220().InvalidateAll();
        quorvane::test::SilentModule silent(*rig);
        auto w = open();
        QCOMPARE(silent.asked, 1);
        for (int p = 1; p <= 6; ++p) {
            QVERIFY(w->KeyRange[p].isEmpty());
            QVERIFY(w->LeftHandle[p]->isHidden());
            QVERIFY(w->RightHandle[p]->isHidden());
        }
        QVERIFY(sent().empty());
    }

    void keyEdges() {
        const int expected[][2] = {{21, 0},    {22, 150},  {23, 240},    {24, 480},    {25, 630},   {27, 870},
                                   {30, 1350}, {60, 5520}, {108, 12240}, {20, -300},   {0, -300},   {109, 12900},
                                   {127, 12900}, {128, 12960}};
        for (const auto& e : expected) QCOMPARE(frmKeyboard::KeyLeft(e[0]), e[1]);
        for (int k = 21; k <= 108; ++k) QVERIFY(frmKeyboard::KeyLeft(k) > frmKeyboard::KeyLeft(k - 1));
    }

    void barsFollowTheModule() {
        setRange(1, 60, 72);   // C4..C5
        setRange(2, 0, 127);   // everything
        setRange(3, 70, 60);   // high below low, as the module may report it
        auto w = open();
        QVERIFY(sent().empty());  // opening writes nothing
        QCOMPARE(w->windowTitle(), QString("Quorvane / Key Range Editor"));

        QCOMPARE(w->KeyRange[1], QRect(5520, 1440, 7350 - 5520, 180));
        QCOMPARE(twips(w->LeftHandle[1]->x()), 5520);
        QCOMPARE(twips(w->RightHandle[1]->x()), 7350);
        QCOMPARE(twips(w->LeftHandle[1]->y()), 1440);

        // C-1..G9 is drawn across the whole keyboard, its handles at the edges.
        QCOMPARE(w->KeyRange[2], QRect(0, 1680, 12495, 180));
        QCOMPARE(twips(w->LeftHandle[2]->x()), 0);
        QCOMPARE(twips(w->RightHandle[2]->x()), 12480);

        // One key wide at the low key, never a negative width.
        QCOMPARE(w->RangeLow[3], int16_t(70));
        QCOMPARE(w->RangeHigh[3], int16_t(70));
        QCOMPARE(w->KeyRange[3].left(), frmKeyboard::KeyLeft(70));
        QCOMPARE(w->KeyRange[3].width(), frmKeyboard::KeyLeft(71) - frmKeyboard::KeyLeft(70));
    }

    // Keys outside A0..C8 (the module allows C-1..G9): every bar is drawn
    // inside the window, at the keyboard's edge, with both handles where a
    // press finds them.
    void rangesBeyondTheKeyboardAreDrawnAtItsEdges() {
        struct Case {
            int low, high;
            QRect bar;  // twips
            int rightHandle;
        };
        const Case cases[] = {
            {0, 127, {0, 1440, 12495, 180}, 12480},        // the factory patch's C-1..G9
            {0, 60, {0, 1440, 5670, 180}, 5670},           // from below A0 to C4
            {60, 127, {5520, 1440, 12495 - 5520, 180}, 12480},
            {108, 108, {12240, 1440, 255, 180}, 12480},    // C8 alone
            {110, 127, {12315, 1440, 180, 180}, 12480},    // wholly above C8: a short bar at the edge
            {0, 10, {0, 1440, 90, 180}, 90},               // wholly below A0
            {20, 21, {0, 1440, 150, 180}, 150},
        };
        for (const Case& c : cases) {
            const QString what = QString("%1..%2").arg(c.low).arg(c.high);
            setRange(1, c.low, c.high);
            auto w = open();
            QCOMPARE(w->KeyRange[1], c.bar);
            QWidget* canvas = w->LeftHandle[1]->parentWidget();
            QCOMPARE(twips(w->LeftHandle[1]->x()), c.bar.left());
            QCOMPARE(twips(w->RightHandle[1]->x()), c.rightHandle);
            for (QWidget* h : {w->LeftHandle[1], w->RightHandle[1]}) {
                QVERIFY2(canvas->rect().contains(h->geometry()), qPrintable(what));
                QVERIFY2(canvas->childAt(h->geometry().center()) == h, qPrintable(what));
            }
            QVERIFY2(sent().empty(), qPrintable(what));
        }
    }

    // A drag changes a key only once the pointer has gone past half the way
    // to the next key; from a key beyond the keyboard, only when dragged onto
    // a key. Offsets are pixels from where the button went down.
    void dragChangesAKeyOnlyPastHalfAKey() {
        struct Case {
            int low, high;
            bool leftHandle;
            std::vector<int> wiggle;  // none of these changes anything
            int to, expected;         // then the pointer at `to` gives `expected`
        };
        const Case cases[] = {
            {0, 127, true, {1, 2, -1, -2, 8, -30}, 9, 21},      // C-1 onto A0
            {0, 127, false, {-1, -2, 1, 2, -8, 30}, -9, 107},   // G9 onto B7 (a drag's highest)
            {110, 127, true, {-2, 2, -8}, -9, 108},             // D8 onto C8
            {0, 10, false, {2, -2, 8}, 9, 21},                  // A#-1 onto A0
            {60, 72, true, {1, 2, -1, -2, 5}, 6, 61},           // C4: C#4 is 10 px away
            {60, 72, false, {1, 2, -1, -2, -5}, -6, 71},        // C5 to B4: their ends are 10 px apart
            {48, 108, false, {-2, 2, -8}, -9, 107},
        };
        for (const Case& c : cases) {
            const QString what = QString("%1..%2 %3").arg(c.low).arg(c.high).arg(c.leftHandle ? "left" : "right");
            setRange(3, c.low, c.high);
            auto w = open();
            QWidget* h = c.leftHandle ? w->LeftHandle[3] : w->RightHandle[3];
            const int pressX = h->x() + 2;
            auto pointerAt = [&](int offset) { move(h, pressX + offset - h->x(), Qt::LeftButton); };
            QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 5));
            for (int offset : c.wiggle) pointerAt(offset);
            QVERIFY2(w->RangeLow[3] == c.low && w->RangeHigh[3] == c.high, qPrintable(what));
            QVERIFY2(sent().empty(), qPrintable(what));
            pointerAt(c.to);
            QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(2, 5));
            QVERIFY2((c.leftHandle ? w->RangeLow[3] : w->RangeHigh[3]) == c.expected, qPrintable(what));
            const auto ds = sent();
            QVERIFY2(ds.size() == 1, qPrintable(what));
            QVERIFY2(ds[0].address == ParamAddress(c.leftHandle ? Param::PatchPartKeyRangeLow : Param::PatchPartKeyRangeHi, 3),
                     qPrintable(what));
            QVERIFY2(ds[0].data == Bytes{uint8_t(c.expected)}, qPrintable(what));
            // The handle is drawn at its new key, still inside the window.
            QVERIFY2(h->parentWidget()->rect().contains(h->geometry()), qPrintable(what));
        }
    }

    // A whole drag is one undo step in the patch editor: Ctrl+Z there sends
    // the key the drag started from; a drag back to its start leaves no step.
    void aDragIsOneUndoStep() {
        setRange(1, 60, 72);
        patch->History()->Clear();
        {
            auto w = open();
            QWidget* h = w->LeftHandle[1];
            QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 5));
            for (int x : {20, 40, 60, 80}) move(h, 2 + x - (h->x() - kb(5520)), Qt::LeftButton);
            QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(2, 5));
            QVERIFY(w->RangeLow[1] > 62);
            QVERIFY(sent().size() >= 3);

            // Out and back again: nothing to undo for it.
            h = w->RightHandle[1];
            QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 5));
            move(h, 40, Qt::LeftButton);
            move(h, 2 - (h->x() - kb(7350)), Qt::LeftButton);
            QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(2, 5));
            QCOMPARE(w->RangeHigh[1], int16_t(72));
            w->cmdDone->click();
        }
        QCOMPARE(patch->History()->Stack()->count(), 1);
        rig->vm->clearReceived();
        quorvane::test::PressUndo(patch.get());
        const auto ds = sent();
        QCOMPARE(ds.size(), size_t(1));
        QVERIFY(ds[0].address == ParamAddress(Param::PatchPartKeyRangeLow, 1));
        QCOMPARE(ds[0].data, Bytes{60});
        QCOMPARE(patch->KeyRangeLowCombo[1]->currentText(), QString("C4"));
        QCOMPARE(rig->u220().PatchPartKeyRangeLow(1), int16_t(60));

        // A drag cut short by closing the window ends its step there: a later
        // pick of the same key in the patch editor is a step of its own.
        patch->History()->Clear();
        {
            auto w = open();
            QWidget* h = w->LeftHandle[1];
            QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 5));
            move(h, 40, Qt::LeftButton);
            w->cmdDone->click();
        }
        patch->KeyRangeLowCombo[1]->setCurrentIndex(40);
        QCOMPARE(patch->History()->Stack()->count(), 2);
    }

    // At a real module's pace: the key range editor's Edit menu works on the
    // patch editor's history at once, a drag among its steps: Ctrl+Z there
    // sends the key the drag started from and puts the bar back, Ctrl+Shift+Z
    // the dragged key again; the patch editor's list shows each.
    void undoAndRedoInTheKeyRangeEditor() {
        setRange(2, 60, 72);
        patch->History()->Clear();
        auto w = open();
        quorvane::test::RealModulePace pace(*rig);
        QVERIFY(w->MenuBar);
        QCOMPARE(w->MenuBar->actions().size(), 1);
        QMenu* edit = w->MenuBar->actions()[0]->menu();
        QCOMPARE(w->MenuBar->actions()[0]->text(), QString("&Edit"));
        QAction* undo = edit->actions().value(0);
        QAction* redo = edit->actions().value(1);
        QVERIFY(undo && redo);
        QCOMPARE(undo->shortcut(), QKeySequence(QKeySequence::Undo));
        QCOMPARE(redo->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
        QVERIFY(!undo->isEnabled());
        const QRect before = w->KeyRange[2];

        QWidget* h = w->LeftHandle[2];
        QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 5));
        for (int x : {20, 40, 60, 80}) move(h, 2 + x - (h->x() - kb(5520)), Qt::LeftButton);
        QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(2, 5));
        const int dragged = w->RangeLow[2];
        QVERIFY(dragged > 62);
        const QRect after = w->KeyRange[2];
        QVERIFY(undo->isEnabled());
        QVERIFY(undo->text().startsWith("&Undo "));
        rig->u220().MIDIOutput1->flush();

        struct Step {
            bool redo;
            int key;
            QRect bar;
        };
        for (const Step& st : {Step{false, 60, before}, Step{true, dragged, after}}) {
            rig->vm->clearReceived();
            quorvane::test::PressUndo(w.get(), st.redo);
            rig->u220().MIDIOutput1->flush();
            QVERIFY(quorvane::test::WaitFor([&] { return !sent().empty(); }, 5000));
            QTest::qWait(100);
            const auto ds = sent();
            QCOMPARE(ds.size(), size_t(1));
            QVERIFY(ds[0].address == ParamAddress(Param::PatchPartKeyRangeLow, 2));
            QCOMPARE(ds[0].data, Bytes{uint8_t(st.key)});
            QCOMPARE(int(w->RangeLow[2]), st.key);
            QCOMPARE(w->KeyRange[2], st.bar);
            QCOMPARE(patch->KeyRangeLowCombo[2]->currentIndex(), st.key);
        }
        QCOMPARE(pace.lost(), uint64_t(0));
    }

    // A click on a key plays it on the channel of every part whose range
    // holds it (once per channel, none for "Off"); the notes end by themselves
    // or when the window closes.
    void clickingAKeyPlaysItOnEveryPartThatHoldsIt() {
        using namespace quorvane::test;
        const int ranges[7][3] = {{}, {60, 72, 0}, {48, 60, 5}, {55, 65, 0}, {0, 127, 16}, {70, 80, 7}, {21, 30, 2}};
        for (int p = 1; p <= 6; ++p) {
            PokeParam(*rig->vm, Param::PatchPartReceiveChannel, p, ranges[p][2]);
            setRange(p, ranges[p][0], ranges[p][1]);
        }
        struct Case {
            QPoint px;  // on the drawing
            int key;
            std::vector<int> channels;
        };
        const Case cases[] = {
            {{372, 80}, 60, {0, 5}},   // C4, lower part of the white key: part 1, 2 and 3
            {{380, 30}, 61, {0}},      // C#4 (black, over C4 and D4): part 1 and 3
            {{2, 80}, 21, {2}},        // A0
            {{830, 80}, 108, {}},      // C8: only part 4, which is "Off"
            {{380, 100}, -1, {}},      // under the keys: nothing
        };
        RealModulePace pace(*rig);
        auto w = open();
        QWidget* canvas = w->LeftHandle[1]->parentWidget();
        for (const Case& c : cases) {
            const QString what = QString("key %1").arg(c.key);
            QVERIFY2(frmKeyboard::KeyAt(c.px * frmKeyboard::kTwipsPerPixel) == c.key, qPrintable(what));
            rig->vm->clearReceived();
            QTest::mouseClick(canvas, Qt::LeftButton, {}, c.px);
            QVERIFY2(w->Notes()->Sounding() == int(c.channels.size()), qPrintable(what));
            std::vector<Bytes> expected;
            for (int ch : c.channels) expected.push_back(NoteOn(ch, c.key));
            for (int ch : c.channels) expected.push_back(NoteOff(ch, c.key));
            QVERIFY2(WaitFor([&] { return NoteMessages(rig->vm->received()).size() == expected.size(); }),
                     qPrintable(what));
            QVERIFY2(WaitFor([&] { return w->Notes()->Sounding() == 0; }), qPrintable(what));
            QVERIFY2(NoteMessages(rig->vm->received()) == expected, qPrintable(what));
            QVERIFY2(sent().empty(), qPrintable(what));  // playing writes nothing
        }
        // Closed mid-note.
        rig->vm->clearReceived();
        QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(372, 80));
        w.reset();
        rig->u220().MIDIOutput1->flush();
        QVERIFY(WaitFor([&] { return NoteMessages(rig->vm->received()).size() == 4; }));
        QCOMPARE(NoteMessages(rig->vm->received()),
                 (std::vector<Bytes>{NoteOn(0, 60), NoteOn(5, 60), NoteOff(0, 60), NoteOff(5, 60)}));
        QCOMPARE(pace.lost(), uint64_t(0));
    }

    // Each bar carries its part's number: drawn in another colour than the
    // bar, inside it where there is room, else just beside it.
    void barsCarryTheirPartNumber() {
        const int ranges[7][2] = {{}, {21, 59}, {60, 108}, {61, 61}, {48, 72}, {0, 127}, {110, 127}};
        for (int p = 1; p <= 6; ++p) setRange(p, ranges[p][0], ranges[p][1]);
        auto w = open();
        QWidget* canvas = w->LeftHandle[1]->parentWidget();
        for (QWidget* h : canvas->findChildren<QWidget*>()) h->hide();  // the drawing alone
        const QImage picture = canvas->grab().toImage();
        for (int p = 1; p <= 6; ++p) {
            const QRect bar = QRect(w->KeyRange[p].topLeft() / 15, w->KeyRange[p].size() / 15);
            // Ink: pixels on the bar's line, beside or in the bar, that are neither
            // the bar's colour nor the white background.
            int ink = 0;
            const int from = std::max(0, bar.left() - 16), to = std::min(picture.width() - 1, bar.right() + 16);
            for (int x = from; x <= to; ++x)
                for (int y = bar.top() + 1; y < bar.bottom(); ++y) {
                    const QColor c = picture.pixelColor(x, y);
                    ink += c != quorvane::ui::PartColor(p) && c != QColor(Qt::white);
                }
            QVERIFY2(ink > 4, qPrintable(QString("part %1").arg(p)));
        }
    }

    void leftHandleDragToFarLeft() {
        setRange(2, 60, 72);
        auto w = open();
        QWidget* h = w->LeftHandle[2];
        QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 5));
        QCOMPARE(w->DragOffset, int16_t(30));
        QCOMPARE(w->KeyColor(60), quorvane::ui::PartColor(2));  // the range lights up
        QCOMPARE(w->KeyColor(61), quorvane::ui::PartColor(2));
        move(h, -2000, Qt::LeftButton);

        QCOMPARE(w->RangeLow[2], int16_t(21));
        QCOMPARE(patch->KeyRangeLowCombo[2]->currentText(), QString("A0"));
        QCOMPARE(twips(h->x()), 0);
        QCOMPARE(w->KeyRange[2].left(), 0);
        QCOMPARE(w->KeyRange[2].right() + 1, 7350);  // the high end stays
        QCOMPARE(w->KeyColor(21), quorvane::ui::PartColor(2));
        const auto ds = sent();
        QCOMPARE(ds.size(), size_t(1));
        QCOMPARE(ds[0].address.a1, uint8_t(0x10));
        QCOMPARE(ds[0].address.a2, uint8_t(0x05));
        QCOMPARE(ds[0].address.a3, uint8_t(0x13));
        QCOMPARE(ds[0].data, Bytes{0x15});
        QCOMPARE(rig->vm->withEmulator([](auto& e) { return e.peek(Address{0x10, 0x05, 0x13}); }), uint8_t(0x15));

        // Further left still gives A0: unchanged, so nothing more is sent.
        rig->vm->clearReceived();
        move(h, -100, Qt::LeftButton);
        QCOMPARE(w->RangeLow[2], int16_t(21));
        QVERIFY(rig->vm->received().empty());
        QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(2, 5));
        QCOMPARE(w->KeyColor(21), QColor(Qt::white));
        QCOMPARE(w->KeyColor(60), QColor(Qt::white));
        QCOMPARE(w->KeyColor(61), QColor(Qt::black));
    }

    void leftHandleSnapsRight() {
        setRange(1, 60, 72);
        auto w = open();
        QWidget* h = w->LeftHandle[1];
        QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 5));
        move(h, 2, Qt::LeftButton);  // at the grab point: unchanged
        QCOMPARE(w->RangeLow[1], int16_t(60));
        move(h, 8, Qt::LeftButton);  // 90 twips right: past half the way to C#4 (5670)
        QCOMPARE(w->RangeLow[1], int16_t(61));
        move(h, 1, Qt::LeftButton);  // handle now at 5670, pointer 15 twips left of it: C#4 still
        QCOMPARE(w->RangeLow[1], int16_t(61));
        move(h, -10, Qt::LeftButton);  // 5670 - 180: nearer C4 (5520) than B3 or C#4
        QCOMPARE(w->RangeLow[1], int16_t(60));
        QCOMPARE(patch->KeyRangeLowCombo[1]->currentText(), QString("C4"));
        QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(2, 5));
        const auto ds = sent();
        QCOMPARE(ds.size(), size_t(2));  // 61 once, then 60: the unchanged step sent nothing
        QCOMPARE(ds[0].data, Bytes{61});
        QCOMPARE(ds[1].data, Bytes{60});
    }

    void rightHandleStopsAtB7() {
        setRange(4, 60, 72);
        auto w = open();
        QWidget* h = w->RightHandle[4];
        QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 5));
        move(h, 2, Qt::LeftButton);  // not moved: keeps the value, sends nothing
        QCOMPARE(w->RangeHigh[4], int16_t(72));
        QVERIFY(sent().empty());

        move(h, 340, Qt::LeftButton);  // pos 7350 + 5100 - 30: over C8
        QCOMPARE(w->RangeHigh[4], int16_t(107));
        QCOMPARE(patch->KeyRangeHiCombo[4]->currentText(), QString("B7"));
        QCOMPARE(twips(h->x()), 12240);  // the bar ends at the left edge of C8
        QCOMPARE(w->KeyRange[4].right() + 1, 12240);
        move(h, 25, Qt::LeftButton);  // to the window's right edge
        QCOMPARE(w->RangeHigh[4], int16_t(107));
        move(h, 1000, Qt::LeftButton);  // far beyond every key edge: the value stays
        QCOMPARE(w->RangeHigh[4], int16_t(107));
        QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(2, 5));

        const auto ds = sent();
        QCOMPARE(ds.size(), size_t(1));
        QVERIFY(ds[0].address == ParamAddress(Param::PatchPartKeyRangeHi, 4));
        QCOMPARE(ds[0].data, Bytes{107});
    }

    void pressAndReleaseWritesNothing() {
        setRange(1, 60, 72);
        auto w = open();
        QTest::mousePress(w->RightHandle[1], Qt::LeftButton, {}, QPoint(1, 5));
        for (int k = 59; k <= 73; ++k)
            QCOMPARE(w->KeyColor(k) == quorvane::ui::PartColor(1), k >= 60 && k <= 72);
        QTest::mouseRelease(w->RightHandle[1], Qt::LeftButton, {}, QPoint(1, 5));
        for (int k = 59; k <= 73; ++k)
            QCOMPARE(w->KeyColor(k), frmKeyboard::IsBlackKey(k) ? QColor(Qt::black) : QColor(Qt::white));
        QVERIFY(rig->vm->received().empty());
        QCOMPARE(w->KeyRange[1], QRect(5520, 1440, 7350 - 5520, 180));
    }

    void movesWithoutTheLeftButtonAloneAreIgnored() {
        setRange(5, 60, 72);
        auto w = open();
        QWidget* left = w->LeftHandle[5];
        QWidget* right = w->RightHandle[5];
        move(left, -500, Qt::NoButton);
        move(right, 500, Qt::NoButton);

        QTest::mousePress(left, Qt::RightButton, {}, QPoint(2, 5));
        move(left, -500, Qt::RightButton);
        move(left, -500, Qt::LeftButton | Qt::RightButton);
        QTest::mouseRelease(left, Qt::RightButton, {}, QPoint(2, 5));
        QTest::mousePress(right, Qt::RightButton, {}, QPoint(2, 5));
        move(right, 500, Qt::RightButton);
        move(right, 500, Qt::LeftButton | Qt::MiddleButton);
        QTest::mouseRelease(right, Qt::RightButton, {}, QPoint(2, 5));

        QCOMPARE(w->RangeLow[5], int16_t(60));
        QCOMPARE(w->RangeHigh[5], int16_t(72));
        QCOMPARE(twips(left->x()), 5520);
        QCOMPARE(twips(right->x()), 7350);
        QCOMPARE(patch->KeyRangeLowCombo[5]->currentIndex(), 60);
        QCOMPARE(patch->KeyRangeHiCombo[5]->currentIndex(), 72);
        QVERIFY(rig->vm->received().empty());
    }

    void handlesStopAtEachOther() {
        setRange(6, 60, 72);
        auto w = open();
        QWidget* left = w->LeftHandle[6];
        QTest::mousePress(left, Qt::LeftButton, {}, QPoint(2, 5));
        move(left, 200, Qt::LeftButton);  // pos 8490: a dozen keys past the high key
        QTest::mouseRelease(left, Qt::LeftButton, {}, QPoint(2, 5));
        QCOMPARE(w->RangeLow[6], int16_t(72));
        QCOMPARE(w->RangeHigh[6], int16_t(72));
        QVERIFY(w->KeyRange[6].width() > 0);

        QWidget* right = w->RightHandle[6];
        QTest::mousePress(right, Qt::LeftButton, {}, QPoint(2, 5));
        move(right, -3000, Qt::LeftButton);  // far left of the low key and of the keyboard
        QTest::mouseRelease(right, Qt::LeftButton, {}, QPoint(2, 5));
        QCOMPARE(w->RangeHigh[6], int16_t(72));
        QCOMPARE(w->KeyRange[6].width(), frmKeyboard::KeyLeft(73) - frmKeyboard::KeyLeft(72));

        // The module never got a high key below the low key.
        const auto ds = sent();
        QCOMPARE(ds.size(), size_t(1));
        QVERIFY(ds[0].address == ParamAddress(Param::PatchPartKeyRangeLow, 6));
        QCOMPARE(ds[0].data, Bytes{72});
        QCOMPARE(rig->u220().PatchPartKeyRangeLow(6), int16_t(72));
        QCOMPARE(rig->u220().PatchPartKeyRangeHi(6), int16_t(72));
    }

    void doneClosesAndTheNextOpeningRereads() {
        setRange(1, 48, 84);
        {
            frmKeyboard w(*ctx, *patch);
            QTimer::singleShot(0, &w, [&w] { w.cmdDone->click(); });
            QCOMPARE(w.exec(), int(QDialog::Accepted));
        }
        setRange(1, 36, 96);
        auto w = open();
        QCOMPARE(w->RangeLow[1], int16_t(36));
        QCOMPARE(w->RangeHigh[1], int16_t(96));
    }

    // With QUORVANE_SCREENSHOT_DIR set: the window with part 3's handle held.
    void screenshot() {
        if (!quorvane::test::ScreenshotsWanted()) QSKIP("QUORVANE_SCREENSHOT_DIR not set");
        const int ranges[7][2] = {{0, 0}, {21, 59}, {60, 108}, {36, 84}, {48, 72}, {24, 47}, {72, 96}};
        for (int p = 1; p <= 6; ++p) setRange(p, ranges[p][0], ranges[p][1]);
        auto w = open();
        QTest::mousePress(w->LeftHandle[3], Qt::LeftButton, {}, QPoint(2, 5));
        QVERIFY(quorvane::test::SaveScreenshot(*w, "key-range-editor.png"));
        QTest::mouseRelease(w->LeftHandle[3], Qt::LeftButton, {}, QPoint(2, 5));
    }
};

QTEST_MAIN(tst_keyboard)
#include "tst_keyboard.moc"
