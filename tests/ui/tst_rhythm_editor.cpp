// Rhythm setup editor against the virtual module: opening at "B1", each
// instrument's block read once, what each pick sends, a fresh start each time.
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <map>

#include "device/ParamPins.h"
#include "ui/UiTestSupport.h"
#include "ui/EditorListCheck.h"
#include "ui/rhythm/frmRhythm.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::frmRhythm;

namespace {

Address InstAddress(int instNo, int offset = 0) { return Address{0x11, uint8_t(instNo + 35), uint8_t(offset)}; }

size_t InstRequests(const std::vector<Bytes>& log, int instNo) {
    size_t n = 0;
    for (const auto& r : Requests(log)) n += r.address == InstAddress(instNo) && r.size == 20;
    return n;
}

}  // namespace

class RhythmEditorTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualRig> rig;
    std::unique_ptr<TestContext> ctx;
    std::vector<ParsedMessage> Sent() { return DataSets(rig->vm->received()); }

private slots:
    void init() {
        rig = std::make_unique<VirtualRig>();
        rig->vm->withEmulator([](auto& e) {
            e.poke(InstAddress(0, 0x02), 40);      // source key of "B1"
            e.poke(InstAddress(0, 0x03), 34 + 9);  // its mute inst "G2"
            e.poke(InstAddress(1, 0x02), 61);      // ... of "C2"
            e.poke(InstAddress(1, 0x03), 34 + 5);  // mute inst "D#2"
            e.poke(InstAddress(1, 0x12), 9);       // output assign outside its list
            return 0;
        });
        ctx = std::make_unique<TestContext>(rig->u220());
    }
    void cleanup() {
        ctx.reset();
        rig.reset();
    }

    // Every list of the window, picked once: the instrument list sends nothing;
    // each other list exactly one data set, at the address that the
    // hand-written map gives the parameter its label names (for the
    // instrument shown), with the entry's byte.
    void everyListWritesItsOwnParameter() {
        using namespace quorvane::test::pins;
        const int instNo = 7;  // "F#2"
        std::map<QString, ListWrite> expected;  // list -> parameter, instrument
        expected["Setup/Bender Range Lower"] = {RowNamed("RhythmSetupCommonBenderRangeLower"), 0};
        expected["Setup/Bender Range Upper"] = {RowNamed("RhythmSetupCommonBenderRangeHigher"), 0};
        const char* const inst[][2] = {
            {"Tone Media", "ToneMedia"},           {"Tone Number", "ToneNumber"},
            {"Source Key", "SourceKey"},           {"Mute Inst", "MuteInst"},
            {"Inst Level", "InstLevel"},           {"Velocity Sens", "VelocitySens"},
            {"Env Mode", "EnvMode"},               {"Env Attack Rate", "EnvAttackRate"},
            {"Env Decay Rate", "EnvDecayRate"},    {"Env Release Rate", "EnvReleaseRate"},
            {"Pitch Shift Coarse", "PitchShiftCoarse"}, {"Pitch Shift Fine", "PitchShiftFine"},
            {"Channel After Sens", "ChannelAfterSens"}, {"Poly After Sens", "PolyAfterSens"},
            {"Random", "Random"},                  {"Auto Bend Depth", "AutoBendDepth"},
            {"Auto Bend Rate", "AutoBendRate"},    {"Detune Depth", "DetuneDepth"},
            {"Output Assign", "OutputAssign"},     {"Pan", "Pan"},
        };
        for (const auto& l : inst)
            expected[QString("Instrument/") + l[0]] = {RowNamed(std::string("RhythmSetupInst") + l[1]), instNo};

        frmRhythm w(*ctx);
        QVERIFY(ShowAndActivate(w));
        rig->vm->clearReceived();
        w.InstCombo->setCurrentIndex(instNo);
        QCoreApplication::processEvents();
        QVERIFY(Sent().empty());
        const QStringList faults = EveryListFaults(*rig->vm, w, expected, {w.InstCombo});
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // Opening shows "B1"; "C2" shows instrument 1 and reads its block once.
    void instrumentChangeReadsItsBlockOnce() {
        frmRhythm w(*ctx);
        QVERIFY(ShowAndActivate(w));
        QCOMPARE(w.InstCombo->currentText(), QString("B1"));
        QCOMPARE(w.SourceKeyCombo->currentIndex(), 40);
        QVERIFY(!w.Updating);
        w.InstCombo->setCurrentIndex(1);
        QCOMPARE(w.CurrentInstNo, int16_t(1));
        QCOMPARE(w.SourceKeyCombo->currentIndex(), 61);
        QCOMPARE(w.MuteInstCombo->currentText(), QString("D#2"));
        QCOMPARE(w.OutputAssignCombo->currentIndex(), -1);
        w.InstCombo->setCurrentIndex(0);
        w.InstCombo->setCurrentIndex(1);
        QCOMPARE(InstRequests(rig->vm->received(), 1), size_t(1));
        QVERIFY(Sent().empty());
    }

    // Undo sends the value an edit replaced and shows it; undoing the edit of
    // an instrument not shown brings that instrument up first.
    void undoShowsThePreviousValueAndItsInstrument() {
        frmRhythm w(*ctx);
        QVERIFY(ShowAndActivate(w));
        QApplication::setActiveWindow(&w);
        w.EndButton->setFocus();
        const int bender0 = w.BenderRangeLowerCombo->currentIndex();
        QVERIFY(bender0 >= 0);
        w.SourceKeyCombo->setCurrentIndex(50);  // B1: 40 -> 50
        w.InstCombo->setCurrentIndex(1);
        w.SourceKeyCombo->setCurrentIndex(70);  // C2: 61 -> 70
        w.BenderRangeLowerCombo->setCurrentIndex(bender0 == 2 ? 3 : 2);
        struct Step {
            const char* what;
            Address address;
            int instShown;
            std::function<int()> shown;
        };
        const Step steps[] = {
            {"bender", Address{0x11, 0x00, 0x18}, 1, [&] { return w.BenderRangeLowerCombo->currentIndex(); }},
            {"C2 source key", InstAddress(1, 0x02), 1, [&] { return w.SourceKeyCombo->currentIndex(); }},
            {"B1 source key", InstAddress(0, 0x02), 0, [&] { return w.SourceKeyCombo->currentIndex(); }},
        };
        const int expected[] = {bender0, 61, 40};
        for (size_t i = 0; i < 3; ++i) {
            const Step& st = steps[i];
            rig->vm->clearReceived();
            PressUndo(&w);
            const auto sent = Sent();
            QVERIFY2(sent.size() == 1 && sent[0].address == st.address, st.what);
            QVERIFY2(w.CurrentInstNo == st.instShown, st.what);
            QVERIFY2(st.shown() == expected[i], st.what);
            QVERIFY2(ModuleBytes(*rig->vm, st.address, 1)[0] == expected[i], st.what);  // no bias
        }
        QVERIFY(!w.Updating);
        rig->vm->clearReceived();
        PressRedo(&w);
        QCOMPARE(w.SourceKeyCombo->currentIndex(), 50);
        QCOMPARE(Sent().size(), size_t(1));
    }

    // "Play" sounds the instrument shown (its key, InstNo + 35) on the rhythm
    // part's channel; a window destroyed mid-note sends the note off.
    void playSoundsTheInstrumentShown() {
        PokeParam(*rig->vm, Param::PatchRhythmReceiveChannel, 0, 9);
        rig->u220().InvalidateAll();
        rig->u220().PatchRhythmReceiveChannel();  // the patch editor behind has read the patch
        RealModulePace pace(*rig);
        {
            frmRhythm w(*ctx);
            QVERIFY(ShowAndActivate(w));
            QVERIFY(WaitFor([&] { return !w.Updating && w.SourceKeyCombo->currentIndex() >= 0; }));
            QVERIFY(w.PlayButton->isEnabled());
            w.InstCombo->setCurrentIndex(1);  // C2, key 36
            QVERIFY(WaitFor([&] { return !w.Updating; }));
            rig->vm->clearReceived();
            w.PlayButton->click();
            QVERIFY(WaitFor([&] { return NoteMessages(rig->vm->received()).size() == 2; }));
            QCOMPARE(NoteMessages(rig->vm->received()), (std::vector<Bytes>{NoteOn(9, 36), NoteOff(9, 36)}));
            rig->vm->clearReceived();
            w.InstCombo->setCurrentIndex(63);  // D7, key 98
            QVERIFY(WaitFor([&] { return !w.Updating; }));
            w.PlayButton->click();
            QCOMPARE(w.Notes()->Sounding(), 1);
        }  // destroyed mid-note
        QVERIFY(WaitFor([&] { return NoteMessages(rig->vm->received()).size() == 2; }));
        QCOMPARE(NoteMessages(rig->vm->received()), (std::vector<Bytes>{NoteOn(9, 98), NoteOff(9, 98)}));

        // A rhythm part set to "Off" cannot play.
        PokeParam(*rig->vm, Param::PatchRhythmReceiveChannel, 0, 16);
        rig->u220().InvalidateAll();
        QCOMPARE(rig->u220().PatchRhythmReceiveChannel(), int16_t(16));
        frmRhythm w(*ctx);
        QVERIFY(ShowAndActivate(w));
        QVERIFY(WaitFor([&] { return !w.Updating && w.SourceKeyCombo->currentIndex() >= 0; }));
        QVERIFY(!w.PlayButton->isEnabled());
        QCOMPARE(pace.lost(), uint64_t(0));
    }

    // At a real module's pace, arrow keys pressed faster than the module
    // answers (a held key) read only the first instrument and the last one:
    // no instrument passed over is asked for, the last one is shown with its
    // own values, and an edit then goes to it. Done pressed in the middle of
    // such a run closes the window without reading the rest.
    void fastArrowKeysReadOnlyTheLastInstrument() {
        const int last = 12;  // B1 + 12 arrow presses: B2
        rig->vm->withEmulator([&](auto& e) {
            e.poke(InstAddress(last, 0x02), 77);
            return 0;
        });
        RealModulePace pace(*rig);
        auto pressDowns = [](QWidget* target, int n) {
            for (int i = 0; i < n; ++i)
                QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier));
        };
        {
            frmRhythm w(*ctx);
            QVERIFY(ShowAndActivate(w));
            QVERIFY(WaitFor([&] { return !w.Updating && w.SourceKeyCombo->currentIndex() >= 0; }));
            rig->vm->clearReceived();
            pressDowns(w.InstCombo, last);
            QVERIFY(WaitFor([&] { return w.CurrentInstNo == last && !w.Updating; }));
            const auto log = rig->vm->received();
            QCOMPARE(InstRequests(log, 1), size_t(1));  // the first press starts a read
            for (int i = 2; i < last; ++i) QVERIFY2(InstRequests(log, i) == 0, qPrintable(QString::number(i)));
            QCOMPARE(InstRequests(log, last), size_t(1));
            QCOMPARE(w.InstCombo->currentIndex(), last);
            QCOMPARE(w.SourceKeyCombo->currentIndex(), 77);
            w.SourceKeyCombo->setCurrentIndex(60);
            QVERIFY(WaitFor([&] { return ModuleBytes(*rig->vm, InstAddress(last, 0x02), 1)[0] == 60; }));
            QCOMPARE(ModuleBytes(*rig->vm, InstAddress(1, 0x02), 1)[0], uint8_t(61));

            // Done during a run of presses: no read is left to come.
            rig->vm->clearReceived();
            pressDowns(w.InstCombo, 10);
            QTimer::singleShot(100, &w, [&] { w.EndButton->click(); });
            QVERIFY(WaitFor([&] { return !w.isVisible() && !w.Updating; }));
            QTest::qWait(1500);
            size_t reads = 0;
            for (int i = last + 1; i <= last + 10; ++i) reads += InstRequests(rig->vm->received(), i);
            QVERIFY2(reads <= 1, qPrintable(QString::number(reads)));
        }
        QCOMPARE(pace.lost(), uint64_t(0));
    }

    // Short labels say what they mean and their range.
    void listsExplainThemselves() {
        frmRhythm w(*ctx);
        QCOMPARE(ListTipFault(&w), QString());
        QVERIFY(w.MuteInstCombo->toolTip().contains("B1..D7"));
        QVERIFY(w.EnvModeCombo->toolTip().contains("No Sustain"));
        QVERIFY(w.OutputAssignCombo->toolTip().contains("Dir1"));
    }

    void picksWriteTheirIndex() {
        frmRhythm w(*ctx);
        QVERIFY(ShowAndActivate(w));
        w.MuteInstCombo->setCurrentIndex(w.MuteInstCombo->findText("Off"));
        w.MuteInstCombo->setCurrentIndex(w.MuteInstCombo->findText("B1"));
        w.PanCombo->setCurrentIndex(w.PanCombo->findText("Rnd"));
        const auto sent = Sent();
        QCOMPARE(sent.size(), size_t(3));
        QCOMPARE(sent[0].address, InstAddress(0, 0x03));
        QCOMPARE(int(sent[0].data[0]), 0x22);
        QCOMPARE(int(sent[1].data[0]), 0x23);
        QCOMPARE(sent[2].address, InstAddress(0, 0x13));
        QCOMPARE(int(sent[2].data[0]), 15);
    }

    void typedNameWritesWholeTextPerKeystroke() {
        frmRhythm w(*ctx);
        QVERIFY(ShowAndActivate(w));
        w.SetupNameText->setText("KI");
        rig->vm->clearReceived();
        for (QChar c : QString::fromUtf8("T\xE2\x82\xAC")) {  // the euro sign has no one-byte code
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(w.SetupNameText, &press);
        }
        const auto sent = Sent();
        QCOMPARE(sent.size(), size_t(1));
        QCOMPARE(sent[0].address, (Address{0x11, 0, 0}));
        QCOMPARE(DecodeName(sent[0].data.data()), std::string("KIT         "));
    }

    // "Done" after looking at "E3": the next opening starts at "B1".
    void reopeningStartsAtB1() {
        {
            frmRhythm w(*ctx);
            QVERIFY(ShowAndActivate(w));
            w.InstCombo->setCurrentIndex(w.InstCombo->findText("E3"));
            QCOMPARE(w.CurrentInstNo, int16_t(17));
            w.EndButton->click();
            QVERIFY(!w.isVisible());
        }
        frmRhythm again(*ctx);
        QVERIFY(ShowAndActivate(again));
        QCOMPARE(again.InstCombo->currentText(), QString("B1"));
        QCOMPARE(again.CurrentInstNo, int16_t(0));
        QCOMPARE(again.SourceKeyCombo->currentIndex(), 40);
    }

    // A module that does not answer is asked about once per opening; the
    // lists then show nothing, and nothing is written.
    void silentModuleIsAskedAboutOnce() {
        SilentModule silent(*rig);
        frmRhythm w(*ctx);
        QVERIFY(ShowAndActivate(w));
        QCOMPARE(silent.asked, 1);
        QVERIFY(w.SetupNameText->text().isEmpty());
        QCOMPARE(w.BenderRangeLowerCombo->currentIndex(), -1);
        QCOMPARE(w.SourceKeyCombo->currentIndex(), -1);
        QVERIFY(!w.Updating);
        QVERIFY(Sent().empty());
    }

    // Fits a 1366x768 screen; with QUORVANE_SCREENSHOT_DIR set the window is
    // also saved there as rhythm-editor.png.
    void fitsTheScreenAndScreenshot() {
        rig->u220().PatchRhythmReceiveChannel();  // as behind the patch editor: the patch is read
        frmRhythm w(*ctx);
        QVERIFY(ShowAndActivate(w));
        const QSize hint = w.sizeHint();
        QVERIFY2(hint.width() <= 1366 && hint.height() <= 700, qPrintable(QString("%1x%2").arg(hint.width()).arg(hint.height())));
        if (ScreenshotsWanted()) {
            w.resize(hint);
            QVERIFY(SaveScreenshot(w, "rhythm-editor.png"));
        }
    }
};

QTEST_MAIN(RhythmEditorTest)
#include "tst_rhythm_editor.moc"
