// Timbre editor against the virtual module: what opening shows, what each
// change sends, and the synchronized writes through the patch editor's lists.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUndoStack>
#include <map>

#include "ui/UiTestSupport.h"
#include "ui/EditorListCheck.h"
#include "device/ParamPins.h"
#include "ui/patch/frmPatch.h"
#include "ui/timbre/frmTimbre.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::frmPatch;
using quorvane::ui::frmTimbre;

namespace {

// Key presses carrying each character (QTest::keyClicks handles Latin-1 only).
void TypeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
    }
}

Address TimbreAddress(int part, int offset = 0) { return Address{0x10, uint8_t(0x0F + part), 0}.plus(offset); }
std::string NameOf(const ParsedMessage& m) { return DecodeName(m.data.data()); }

}  // namespace

class TimbreEditorTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualRig> rig;
    std::unique_ptr<TestContext> ctx;
    std::unique_ptr<frmPatch> patch;
    std::unique_ptr<frmTimbre> editor;

    void Open(int part) {
        editor->gintPartNo = static_cast<int16_t>(part);
        editor->setWindowTitle(QString("Timbre for Patch Part %1").arg(part));
        QVERIFY(ShowAndActivate(*editor));
    }
    // Opens for `part`, then forgets what the opening sent.
    void OpenClean(int part) {
        Open(part);
        rig->vm->clearReceived();
    }
    // Timbre-list selections in the patch editor, without writing them.
    void SetPatchTimbres(const std::array<int, 7>& timbres, bool sync) {
        patch->Updating = true;
        for (int p = 1; p <= 6; ++p) patch->TimbreNumberCombo[p]->setCurrentIndex(timbres[p]);
        patch->Updating = false;
        patch->SyncPartCheck->setChecked(sync);
    }
    std::vector<ParsedMessage> Sent() { return DataSets(rig->vm->received()); }

private slots:
    void initTestCase() {
        rig = std::make_unique<VirtualRig>();
        rig->vm->withEmulator([](auto& e) {
            e.poke(TimbreAddress(1, 0x1A), 11);  // timbre level
            e.poke(TimbreAddress(4, 0x1A), 44);
            e.poke(TimbreAddress(3, 0x2B), 20);  // waveform outside its 9 entries
            const Bytes name = EncodeName("PART FOUR");
            for (size_t i = 0; i < name.size(); ++i) e.poke(TimbreAddress(4, int(i)), name[i]);
            return 0;
        });
        ctx = std::make_unique<TestContext>(rig->u220());
        patch = std::make_unique<frmPatch>(*ctx);
        editor = std::make_unique<frmTimbre>(*ctx, patch->TimbreSyncSource());
    }
    void cleanupTestCase() {
        editor.reset();
        patch.reset();
        ctx.reset();
        rig.reset();
    }
    void init() { SetPatchTimbres({0, 10, 11, 12, 13, 14, 15}, false); }
    void cleanup() {
        if (editor->isVisible()) editor->EndButton->click();
    }

    // Part 4 after part 1: part 4's values, and nothing sent while filling.
    void reopeningShowsTheNewPartAndSendsNothing() {
        Open(1);
        QCOMPARE(editor->TimbreLevelCombo->currentIndex(), 11);
        editor->EndButton->click();
        QVERIFY(!editor->isVisible());
        rig->vm->clearReceived();
        Open(4);
        QCOMPARE(editor->TimbreLevelCombo->currentIndex(), 44);
        QCOMPARE(editor->TimbreTimbreNameText->text(), QString("PART FOUR"));
        auto& m = rig->u220();
        QCOMPARE(editor->VibratoPolyAfterSensCombo->currentIndex(), int(m.TimbreVibratoPolyAfterSens(4)));
        QCOMPARE(editor->ToneNameText->text(),
                 QString::fromStdString(m.ToneName(m.TimbreToneMedia(4), m.TimbreToneNumber(4))));
        QVERIFY(!editor->Updating);
        QVERIFY(rig->vm->received().empty());
        editor->EndButton->click();
        Open(3);  // a module value outside its list selects nothing and is not written back
        QCOMPARE(editor->WaveformCombo->currentIndex(), -1);
        QVERIFY(rig->vm->received().empty());
    }


    // A module that does not answer is asked about once per opening; the
    // window then shows nothing (not the previous part's values).
    void silentModuleIsAskedAboutOnce() {
        Open(1);
        editor->EndButton->click();
        rig->u220().InvalidateAll();
        rig->vm->clearReceived();
        {
            SilentModule silent(*rig);
            Open(5);
            QCOMPARE(silent.asked, 1);
        }
        QVERIFY(editor->TimbreTimbreNameText->text().isEmpty());
        QVERIFY(editor->ToneNameText->text().isEmpty());
        QCOMPARE(editor->TimbreLevelCombo->currentIndex(), -1);
        QCOMPARE(editor->ToneMediaCombo->currentIndex(), -1);
        QVERIFY(!editor->Updating);
        QVERIFY(Sent().empty());
    }

    // Typing while the opening for another part still waits for the module:
    // the name box still shows the previous part's name, which must not be
    // written to the part now opened.
    void typingWhileOpeningWaitsWritesNothing() {
        Open(1);
        editor->EndButton->click();
        rig->u220().InvalidateAll();
        rig->vm->clearReceived();
        SetAnswerDelay(*rig->vm, 300);
        bool typedDuringWait = false;
        QTimer::singleShot(100, editor.get(), [&] {
            typedDuringWait = !rig->u220().TimbreDataLoaded();
            TypeText(editor->TimbreTimbreNameText, "X");
            editor->TimbreLevelCombo->setCurrentIndex(3);
        });
        editor->gintPartNo = 4;
        QTimer::singleShot(1500, editor.get(), [&] { editor->EndButton->click(); });
        editor->exec();
        SetAnswerDelay(*rig->vm, 0);
        QVERIFY(typedDuringWait);
        QVERIFY(Sent().empty());
        QCOMPARE(editor->TimbreTimbreNameText->text(), QString("PART FOUR"));
        QCOMPARE(editor->TimbreLevelCombo->currentIndex(), 44);
    }

    // Opened for another part while a module at a real pace is still reading:
    // under the new caption every control is empty until the answer comes,
    // then the new part's values show; no message is lost on the way.
    void waitingForAnotherPartShowsNothingStale() {
        Open(1);
        QCOMPARE(editor->TimbreLevelCombo->currentIndex(), 11);
        editor->EndButton->click();
        rig->u220().InvalidateAll();
        RealModulePace pace(*rig);
        struct Seen {
            bool waiting = false;
            QString caption, name, tone;
            std::vector<int> lists;
        } seen;
        QTimer::singleShot(150, editor.get(), [&] {
            seen.waiting = !rig->u220().TimbreDataLoaded();
            seen.caption = editor->windowTitle();
            seen.name = editor->TimbreTimbreNameText->text();
            seen.tone = editor->ToneNameText->text();
            for (QComboBox* c : editor->findChildren<QComboBox*>()) seen.lists.push_back(c->currentIndex());
        });
        bool loaded = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, editor.get(), [&] {
            if (!rig->u220().TimbreDataLoaded() || editor->Updating) return;
            loaded = true;
            poll.stop();
            editor->EndButton->click();
        });
        poll.start(20);
        QTimer::singleShot(8000, editor.get(), [&] { editor->EndButton->click(); });
        editor->gintPartNo = 4;
        editor->setWindowTitle("Timbre for Patch Part 4");
        editor->exec();
        QVERIFY(seen.waiting);
        QCOMPARE(seen.caption, QString("Timbre for Patch Part 4"));
        QCOMPARE(seen.name, QString());
        QCOMPARE(seen.tone, QString());
        QCOMPARE(seen.lists.size(), size_t(26));
        for (int index : seen.lists) QCOMPARE(index, -1);
        QVERIFY(loaded);
        QCOMPARE(editor->TimbreTimbreNameText->text(), QString("PART FOUR"));
        QCOMPARE(editor->TimbreLevelCombo->currentIndex(), 44);
        QCOMPARE(pace.lost(), uint64_t(0));
    }

    // The wheel over a list without the focus edits nothing; with the focus it does.
    void wheelEditsOnlyAFocusedList() {
        OpenClean(2);
        QComboBox* c = editor->RateCombo;
        const int before = c->currentIndex();
        editor->EndButton->setFocus();
        TurnWheel(c);
        QCOMPARE(c->currentIndex(), before);
        QVERIFY(Sent().empty());
        QApplication::setActiveWindow(editor.get());  // focus goes only to the active window
        c->setFocus();
        QVERIFY(c->hasFocus());
        TurnWheel(c);
        QCOMPARE(c->currentIndex(), before + 1);
        QCOMPARE(Sent().size(), size_t(1));
    }

    // Every list of the window, picked once with synchronized editing off:
    // exactly one data set goes out, at the address that the hand-written map
    // gives the parameter the list's frame and label name, with the entry's byte.
    void everyListWritesItsOwnParameter() {
        using namespace quorvane::test::pins;
        const char* const lists[][2] = {
            {"Tone media", "TimbreToneMedia"},
            {"Tone number", "TimbreToneNumber"},
            {"Level/Timbre Level", "TimbreTimbreLevel"},
            {"Level/Velocity Sensitivity", "TimbreVelocitySens"},
            {"Level/Ch Aftertouch Sens", "TimbreChannelPressSens"},
            {"Level/Env Attack Rate", "TimbreEnvAttackRate"},
            {"Level/Env Decay Rate", "TimbreEnvDecayRate"},
            {"Level/Env Sustain Level", "TimbreEnvSustainLevel"},
            {"Level/Env Release Rate", "TimbreEnvReleaseRate"},
            {"Pitch/Pitch Shift Coarse", "TimbrePitchShiftCoarse"},
            {"Pitch/Pitch Shift Fine", "TimbrePitchShiftFine"},
            {"Pitch/Bender Range (Down)", "TimbreBendRangeLower"},
            {"Pitch/Bender Range (Up)", "TimbreBendRangeUpper"},
            {"Pitch/Ch Aftertouch Sens", "TimbrePitchChAfterSens"},
            {"Pitch/Poly Aftertouch Sens", "TimbrePitchPolyAfterSens"},
            {"Pitch/Auto Bend Depth", "TimbreAutoBendDepth"},
            {"Pitch/Auto Bend Rate", "TimbreAutoBendRate"},
            {"Pitch/Detune Depth", "TimbreDetuneDepth"},
            {"Vib/Rate", "TimbreRate"},
            {"Vib/Waveform", "TimbreWaveform"},
            {"Vib/Depth", "TimbreDepth"},
            {"Vib/Delay Time", "TimbreDelay"},
            {"Vib/Rise Time", "TimbreRiseTime"},
            {"Vib/Modulation Depth", "TimbreModulationDepth"},
            {"Vib/Ch Aftertouch Sens", "TimbreVibratoChAfterSens"},
            {"Vib/Poly Aftertouch Sens", "TimbreVibratoPolyAfterSens"},
        };
        std::map<QString, ListWrite> expected;
        const int part = 5;
        for (const auto& l : lists) expected[l[0]] = {RowNamed(l[1]), part};
        OpenClean(part);
        const QStringList faults = EveryListFaults(*rig->vm, *editor, expected);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    void syncOffWritesOnce() {
        OpenClean(2);
        editor->TimbreLevelCombo->setCurrentIndex(77);
        const auto sent = Sent();
        QCOMPARE(sent.size(), size_t(1));
        QCOMPARE(sent[0].address, TimbreAddress(2, 0x1A));
        QCOMPARE(int(sent[0].data[0]), 77);
    }

    // The edited part is written, then in the loop again, then each other part
    // whose list shows the same timbre; no other part.
    void syncOnWritesEditedPartTwiceAndEachMatchingPart() {
        SetPatchTimbres({0, 3, 7, 9, 4, 7, 5}, true);
        OpenClean(2);
        editor->EnvDecayRateCombo->setCurrentIndex(3);
        auto sent = Sent();
        QCOMPARE(sent.size(), size_t(3));
        QCOMPARE(sent[0].address, TimbreAddress(2, 0x1E));
        QCOMPARE(sent[1].address, TimbreAddress(2, 0x1E));
        QCOMPARE(sent[2].address, TimbreAddress(5, 0x1E));
        QCOMPARE(int(sent[2].data[0]), 4);  // bias 1
        QVERIFY(!editor->Updating);

        SetPatchTimbres({0, 3, 7, 9, 4, 8, 5}, true);  // no other part plays timbre 7
        rig->vm->clearReceived();
        editor->ToneNumberCombo->setCurrentIndex(5);
        sent = Sent();
        QCOMPARE(sent.size(), size_t(2));
        QCOMPARE(sent[1].address, TimbreAddress(2, 0x19));
    }

    // Undo of a synchronized edit sends every written part's previous value
    // and shows the edited part's; a name burst is one step; opening for
    // another part forgets the steps.
    void undoRevertsEveryPartAnEditWrote() {
        rig->vm->withEmulator([](auto& e) {
            for (int p : {2, 5}) {
                e.poke(TimbreAddress(p, 0x1E), 1);  // env decay rate -7
                e.poke(TimbreAddress(p, 0x19), 0);  // tone number 001
            }
            return 0;
        });
        rig->u220().InvalidateAll();
        SetPatchTimbres({0, 3, 7, 9, 4, 7, 5}, true);
        OpenClean(2);
        QApplication::setActiveWindow(editor.get());
        QVERIFY(!editor->History()->UndoAction()->isEnabled());  // read afresh
        auto timbres = [&] {
            return std::pair{ModuleBytes(*rig->vm, TimbreAddress(2), 50), ModuleBytes(*rig->vm, TimbreAddress(5), 50)};
        };
        struct Case {
            const char* what;
            std::function<void()> edit;
            std::function<QString()> shown;
        };
        const std::vector<Case> cases{
            {"list", [&] { editor->EnvDecayRateCombo->setCurrentIndex(3); },
             [&] { return editor->EnvDecayRateCombo->currentText(); }},
            {"tone", [&] { editor->ToneNumberCombo->setCurrentIndex(9); },
             [&] { return editor->ToneNumberCombo->currentText() + editor->ToneNameText->text(); }},
            {"name burst", [&] {
                 editor->TimbreTimbreNameText->setFocus();
                 editor->TimbreTimbreNameText->end(false);
                 TypeText(editor->TimbreTimbreNameText, "QRS");
             }, [&] { return editor->TimbreTimbreNameText->text(); }},
        };
        for (const Case& c : cases) {
            editor->EndButton->setFocus();
            const auto before = timbres();
            const QString shownBefore = c.shown();
            c.edit();
            const auto after = timbres();
            QVERIFY2(after.first != before.first && after.second != before.second, c.what);
            rig->vm->clearReceived();
            PressUndo(editor.get());
            QVERIFY2(timbres() == before, c.what);
            QVERIFY2(c.shown() == shownBefore, c.what);
            QVERIFY2(Sent().size() == 2, c.what);  // one data set for each part
            PressRedo(editor.get());
            QVERIFY2(timbres() == after, c.what);
        }
        QCOMPARE(editor->History()->Stack()->count(), 3);
        editor->EndButton->click();
        Open(3);
        QVERIFY(!editor->History()->UndoAction()->isEnabled());
    }

    // "Play" sounds middle C on the part's receive channel, switched off a
    // moment later or when the window closes; a part set to "Off" cannot play.
    void playSoundsTheParsChannelUntilClosed() {
        PokeParam(*rig->vm, Param::PatchPartReceiveChannel, 2, 6);
        PokeParam(*rig->vm, Param::PatchPartReceiveChannel, 3, 16);  // Off
        rig->u220().InvalidateAll();
        patch->Activate();
        RealModulePace pace(*rig);
        Open(3);
        QVERIFY(!editor->PlayButton->isEnabled());
        editor->EndButton->click();
        Open(2);
        QVERIFY(editor->PlayButton->isEnabled());
        rig->vm->clearReceived();
        editor->PlayButton->click();
        QVERIFY(WaitFor([&] { return NoteMessages(rig->vm->received()).size() == 2; }));
        QCOMPARE(NoteMessages(rig->vm->received()), (std::vector<Bytes>{NoteOn(6, 60), NoteOff(6, 60)}));

        rig->vm->clearReceived();
        editor->PlayButton->click();
        editor->EndButton->click();  // mid-note
        QCOMPARE(editor->Notes()->Sounding(), 0);
        QVERIFY(WaitFor([&] { return NoteMessages(rig->vm->received()).size() == 2; }));
        QCOMPARE(NoteMessages(rig->vm->received()), (std::vector<Bytes>{NoteOn(6, 60), NoteOff(6, 60)}));
        QCOMPARE(pace.lost(), uint64_t(0));
    }

    // Short labels say what they mean and their range.
    void listsExplainThemselves() {
        QCOMPARE(ListTipFault(editor.get()), QString());
        const std::pair<QWidget*, QStringList> says[] = {
            {editor->ChannelPressSensCombo, {"aftertouch", "-7..7"}},
            {editor->PitchPolyAfterSensCombo, {"aftertouch", "-36..12"}},
            {editor->WaveformCombo, {"Tri", "Randm1..4"}},
            {editor->ToneMediaCombo, {"internal", "01..31"}},
        };
        for (const auto& [w, words] : says)
            for (const QString& word : words) QVERIFY2(w->toolTip().contains(word), qPrintable(w->toolTip()));
        bool vibrato = false;
        for (QGroupBox* box : editor->findChildren<QGroupBox*>()) vibrato |= box->title() == "Vib" && box->toolTip() == "Vibrato";
        QVERIFY(vibrato);
    }

    void typedNameWritesWholeTextPerKeystroke() {
        OpenClean(2);
        editor->TimbreTimbreNameText->setText("ABCDEFGHIJ");
        rig->vm->clearReceived();
        // The CJK character and e-acute have no one-byte code; the 13th character does not fit.
        TypeText(editor->TimbreTimbreNameText, QString::fromUtf8("K\xE6\xBC\xA2\xC3\xA9\xEF\xBD\xB1Z"));
        QCOMPARE(editor->TimbreTimbreNameText->text(), QString::fromUtf8("ABCDEFGHIJK\xEF\xBD\xB1"));
        auto sent = Sent();
        QCOMPARE(sent.size(), size_t(2));
        QCOMPARE(NameOf(sent[0]), std::string("ABCDEFGHIJK "));
        QCOMPARE(NameOf(sent[1]), std::string("ABCDEFGHIJK\xB1"));

        SetPatchTimbres({0, 3, 7, 9, 4, 7, 5}, true);
        editor->TimbreTimbreNameText->setText("AB");
        rig->vm->clearReceived();
        TypeText(editor->TimbreTimbreNameText, "C");
        sent = Sent();
        QCOMPARE(sent.size(), size_t(3));
        QCOMPARE(sent[2].address, TimbreAddress(5));
        QCOMPARE(NameOf(sent[2]), std::string("ABC         "));
    }

    void toneNameFollowsMediaAndNumber() {
        OpenClean(1);
        editor->ToneNumberCombo->setCurrentIndex(0);
        editor->ToneMediaCombo->setCurrentIndex(1);
        QCOMPARE(editor->ToneNameText->text(), QString("HARPSI 1"));
        editor->ToneMediaCombo->setCurrentIndex(0);  // "I" with "001"
        QCOMPARE(editor->ToneNameText->text(), QString("A.PIANO 1"));
        rig->vm->clearReceived();
        editor->ToneMediaCombo->setCurrentIndex(5);  // no names for this media
        QCOMPARE(editor->ToneNameText->text(), QString());
        QCOMPARE(Sent().size(), size_t(1));
    }

    // "Done" pressed while the opening waits for the module ends the opener's exec().
    void doneDuringActivationEndsExec() {
        rig->u220().InvalidateAll();
        SetAnswerDelay(*rig->vm, 300);
        bool pressedDuringWait = false;
        editor->gintPartNo = 2;
        const bool ended = ExecEnds(*editor, 100, [&] {
            pressedDuringWait = !rig->u220().TimbreDataLoaded();
            editor->EndButton->click();
        });
        SetAnswerDelay(*rig->vm, 0);
        QVERIFY(pressedDuringWait);
        QVERIFY(ended);
        QVERIFY(!editor->isVisible());
        QVERIFY(!editor->Updating);
    }

    // Fits a 1366x768 screen; with QUORVANE_SCREENSHOT_DIR set the window is
    // also saved there as timbre-editor.png.
    void fitsTheScreenAndScreenshot() {
        patch->Activate();  // the patch editor behind has read the patch
        Open(2);
        const QSize hint = editor->sizeHint();
        QVERIFY2(hint.width() <= 1366 && hint.height() <= 700, qPrintable(QString("%1x%2").arg(hint.width()).arg(hint.height())));
        if (ScreenshotsWanted()) {
            editor->resize(hint);
            QVERIFY(SaveScreenshot(*editor, "timbre-editor.png"));
        }
    }
};

QTEST_MAIN(TimbreEditorTest)
#include "tst_timbre_editor.moc"
