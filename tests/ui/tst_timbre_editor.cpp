// Timbre editor against the virtual module: what opening reads and shows, what
// each change sends, and the synchronized writes through the patch editor's
// timbre lists.
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "UiTestSupport.h"
#include "ui/patch/frmPatch.h"
#include "ui/timbre/frmTimbre.h"

using namespace quorvane;
using namespace quorvane::test;

namespace {

// Types `text` into `w` one character at a time, as key presses carrying the
// character (QTest::keyClicks only handles Latin-1).
void TypeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &release);
    }
}

// First address of the timbre block that part p plays.
Address TimbreAddress(int part, int offset = 0) { return Address{0x10, static_cast<uint8_t>(0x0F + part), 0}.plus(offset); }

constexpr int kLevel = 0x1A;  // TimbreTimbreLevel
constexpr int kWaveform = 0x2B;

void PokeName(midi::VirtualU220& vm, Address a, const std::string& name) {
    const Bytes nibbles = EncodeName(name);
    vm.withEmulator([&](auto& e) {
        for (size_t i = 0; i < nibbles.size(); ++i) e.poke(a.plus(static_cast<int>(i)), nibbles[i]);
        return 0;
    });
}

std::string NameOf(const ParsedMessage& m) { return DecodeName(m.data.data()); }

}  // namespace

class TimbreEditorTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualRig> rig;
    std::unique_ptr<TestContext> ctx;
    std::unique_ptr<frmPatch> patch;
    std::unique_ptr<frmTimbre> editor;

    // Opens the editor for `part` the way the patch editor does (caption, show).
    void Open(int part) {
        editor->gintPartNo = static_cast<int16_t>(part);
        editor->setWindowTitle(QString("Timbre for Patch Part %1").arg(part));
        editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(editor.get()));
        QCoreApplication::processEvents();  // activation runs from the event queue
    }
    void Close() { editor->EndButton->click(); }

    // Puts timbre-list selections into the patch editor without writing them.
    void SetPatchTimbres(const std::array<int, 7>& timbres, bool sync) {
        patch->Updating = true;
        for (int p = 1; p <= 6; ++p) patch->TimbreNumberCombo[p]->setCurrentIndex(timbres[p]);
        patch->Updating = false;
        patch->SyncPartCheck->setChecked(sync);
    }

    std::vector<ParsedMessage> SentDataSets() { return DataSets(rig->vm->received()); }

private slots:
    void initTestCase() {
        rig = std::make_unique<VirtualRig>();
        // Distinct values for parts 1 and 4, and a waveform outside the list for part 3.
        rig->vm->withEmulator([](auto& e) {
            e.poke(TimbreAddress(1, kLevel), 11);
            e.poke(TimbreAddress(4, kLevel), 44);
            e.poke(TimbreAddress(3, kWaveform), 20);
            return 0;
        });
        PokeName(*rig->vm, TimbreAddress(1), "PART ONE");
        PokeName(*rig->vm, TimbreAddress(4), "PART FOUR");
        ctx = std::make_unique<TestContext>(rig->u220());
        patch = std::make_unique<frmPatch>(*ctx);
        editor = std::make_unique<frmTimbre>(*ctx, *patch);
    }

    void cleanupTestCase() {
        editor.reset();
        patch.reset();
        ctx.reset();
        rig.reset();
    }

    void init() { SetPatchTimbres({0, 10, 11, 12, 13, 14, 15}, false); }
    void cleanup() {
        if (editor->isVisible()) Close();
    }

    void listsHoldTheirEntries() {
        QCOMPARE(editor->ToneMediaCombo->count(), 32);
        QCOMPARE(editor->ToneMediaCombo->itemText(0), QString("I"));
        QCOMPARE(editor->ToneMediaCombo->itemText(31), QString("31"));
        QCOMPARE(editor->ToneNumberCombo->itemText(127), QString("128"));
        QCOMPARE(editor->PitchShiftCoarseCombo->count(), 49);
        QCOMPARE(editor->BendRangeLowerCombo->itemText(2), QString("-12"));
        QCOMPARE(editor->BendRangeLowerCombo->itemText(14), QString("0"));
        QCOMPARE(editor->BendRangeUpperCombo->itemText(0), QString("00"));
        QCOMPARE(editor->PitchChAfterSensCombo->count(), 27);
        QCOMPARE(editor->RateCombo->count(), 64);
        QCOMPARE(editor->WaveformCombo->itemText(8), QString("Randm4"));
        QCOMPARE(editor->TimbreTimbreNameText->maxLength(), 12);
    }

    // Part 4 after part 1: every control shows part 4's values, nothing is sent.
    void reopeningShowsTheNewPartAndSendsNothing() {
        Open(1);
        QCOMPARE(editor->TimbreLevelCombo->currentIndex(), 11);
        QCOMPARE(editor->TimbreTimbreNameText->text(), QString("PART ONE"));
        Close();
        QVERIFY(!editor->isVisible());

        rig->vm->clearReceived();
        Open(4);
        QCOMPARE(editor->windowTitle(), QString("Timbre for Patch Part 4"));
        QCOMPARE(editor->TimbreLevelCombo->currentIndex(), 44);
        QCOMPARE(editor->TimbreTimbreNameText->text(), QString("PART FOUR"));
        auto& m = rig->u220();
        QCOMPARE(editor->ToneMediaCombo->currentIndex(), int(m.TimbreToneMedia(4)));
        QCOMPARE(editor->PitchShiftFineCombo->currentIndex(), int(m.TimbrePitchShiftFine(4)));
        QCOMPARE(editor->VibratoPolyAfterSensCombo->currentIndex(), int(m.TimbreVibratoPolyAfterSens(4)));
        QCOMPARE(editor->ToneNameText->text(),
                 QString::fromStdString(m.ToneName(m.TimbreToneMedia(4), m.TimbreToneNumber(4))));
        QVERIFY(!editor->Updating);
        QCOMPARE(rig->vm->received().size(), size_t(0));
    }

    // A module value outside its list selects nothing and is not written back.
    void valueOutsideListShowsNoSelection() {
        rig->vm->clearReceived();
        Open(3);
        QCOMPARE(editor->WaveformCombo->currentIndex(), -1);
        QVERIFY(SentDataSets().empty());
        editor->WaveformCombo->setCurrentIndex(2);
        const auto sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(1));
        QCOMPARE(sent[0].address, TimbreAddress(3, kWaveform));
        QCOMPARE(int(sent[0].data[0]), 2);
    }

    void syncOffWritesOnce() {
        Open(2);
        rig->vm->clearReceived();
        editor->TimbreLevelCombo->setCurrentIndex(77);
        const auto sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(1));
        QCOMPARE(sent[0].address, TimbreAddress(2, kLevel));
        QCOMPARE(int(sent[0].data[0]), 77);
        // Biased parameter: "-24" of Pitch Shift Coarse is index 0, byte 08h.
        editor->Updating = true;
        editor->PitchShiftCoarseCombo->setCurrentIndex(24);
        editor->Updating = false;
        rig->vm->clearReceived();
        editor->PitchShiftCoarseCombo->setCurrentIndex(0);
        QCOMPARE(SentDataSets().size(), size_t(1));
        QCOMPARE(int(SentDataSets()[0].data[0]), 0x08);
    }

    // Parts 2 and 5 show the same timbre: part 2 is written, then in the loop
    // part 2 again and part 5; no other part.
    void syncOnWritesEveryMatchingPart() {
        SetPatchTimbres({0, 3, 7, 9, 4, 7, 5}, true);
        Open(2);
        rig->vm->clearReceived();
        editor->DepthCombo->setCurrentIndex(9);
        auto sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(3));
        QCOMPARE(sent[0].address, TimbreAddress(2, 0x2C));
        QCOMPARE(sent[1].address, TimbreAddress(2, 0x2C));
        QCOMPARE(sent[2].address, TimbreAddress(5, 0x2C));
        for (const auto& m : sent) QCOMPARE(int(m.data[0]), 9);
        QCOMPARE(rig->u220().TimbreDepth(5), int16_t(9));
        QVERIFY(!editor->Updating);

        // The tone lists follow the same rule, and the tone name follows the pick.
        rig->vm->clearReceived();
        editor->ToneNumberCombo->setCurrentIndex(5);
        sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(3));
        QCOMPARE(sent[2].address, TimbreAddress(5, 0x19));
    }

    void syncOnWithoutMatchWritesEditedPartTwice() {
        SetPatchTimbres({0, 3, 7, 9, 4, 8, 5}, true);
        Open(2);
        rig->vm->clearReceived();
        editor->EnvDecayRateCombo->setCurrentIndex(3);
        const auto sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(2));
        QCOMPARE(sent[0].address, TimbreAddress(2, 0x1E));
        QCOMPARE(sent[1].address, TimbreAddress(2, 0x1E));
        QCOMPARE(int(sent[1].data[0]), 4);  // bias 1
    }

    // One write per keystroke, each with the whole text so far.
    void typedNameWritesWholeTextPerKeystroke() {
        Open(2);
        editor->TimbreTimbreNameText->clear();
        rig->vm->clearReceived();
        TypeText(editor->TimbreTimbreNameText, "ABC");
        auto sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(3));
        QCOMPARE(NameOf(sent[0]), std::string("A           "));
        QCOMPARE(NameOf(sent[1]), std::string("AB          "));
        QCOMPARE(NameOf(sent[2]), std::string("ABC         "));
        for (const auto& m : sent) QCOMPARE(m.address, TimbreAddress(2));

        // With sync on, each keystroke also writes every matching part.
        SetPatchTimbres({0, 3, 7, 9, 4, 7, 5}, true);
        rig->vm->clearReceived();
        TypeText(editor->TimbreTimbreNameText, "D");
        sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(3));
        QCOMPARE(sent[2].address, TimbreAddress(5));
        QCOMPARE(NameOf(sent[2]), std::string("ABCD        "));
    }

    // Characters with no one-byte code and a 13th character are refused.
    void nameFieldRefusesWhatTheModuleCannotStore() {
        Open(2);
        editor->TimbreTimbreNameText->setText("ABCDEFGHIJK");
        rig->vm->clearReceived();
        TypeText(editor->TimbreTimbreNameText, QString::fromUtf8("\xE6\xBC\xA2\xC3\xA9"));  // CJK, e-acute
        QCOMPARE(editor->TimbreTimbreNameText->text(), QString("ABCDEFGHIJK"));
        TypeText(editor->TimbreTimbreNameText, QString::fromUtf8("\xEF\xBD\xB1") + "Z");  // half-width katakana A, then Z
        QCOMPARE(editor->TimbreTimbreNameText->text(), QString::fromUtf8("ABCDEFGHIJK\xEF\xBD\xB1"));
        const auto sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(1));
        QCOMPARE(NameOf(sent[0]), std::string("ABCDEFGHIJK\xB1"));
    }

    void toneNameFollowsMediaAndNumber() {
        Open(1);
        editor->ToneNumberCombo->setCurrentIndex(0);
        editor->ToneMediaCombo->setCurrentIndex(1);
        QCOMPARE(editor->ToneNameText->text(), QString("HARPSI 1"));
        editor->ToneMediaCombo->setCurrentIndex(0);  // "I" with "001"
        QCOMPARE(editor->ToneNameText->text(), QString("A.PIANO 1"));
        // Media the name table does not know: no name, and the value is still written.
        rig->vm->clearReceived();
        editor->ToneMediaCombo->setCurrentIndex(5);
        QCOMPARE(editor->ToneNameText->text(), QString());
        QCOMPARE(SentDataSets().size(), size_t(1));
        QCOMPARE(int(SentDataSets()[0].data[0]), 5);
    }

    // "Done" pressed while the opening still waits for the module ends the
    // modal wait of the opener.
    void doneDuringActivationEndsExec() {
        rig->u220().InvalidateAll();
        rig->vm->withEmulator([](auto& e) {
            emulator::WireModel w;
            w.enabled = true;
            w.answerDelayMs = 300;
            e.setWireModel(w);
            return 0;
        });
        bool pressedDuringWait = false;
        QTimer::singleShot(100, editor.get(), [&] {
            pressedDuringWait = !rig->u220().TimbreDataLoaded();
            editor->EndButton->click();
        });
        bool rescued = false;
        QTimer::singleShot(5000, editor.get(), [&] {
            rescued = true;  // exec() still running: show the window again so done() can end it
            editor->show();
            editor->done(QDialog::Rejected);
        });
        editor->gintPartNo = 2;
        editor->exec();
        rig->vm->withEmulator([](auto& e) {
            e.setWireModel(emulator::WireModel{});
            return 0;
        });
        QVERIFY(pressedDuringWait);
        QVERIFY(!rescued);
        QVERIFY(!editor->isVisible());
        QVERIFY(!editor->Updating);
    }

    // Fits a 1366x768 screen; with QUORVANE_SCREENSHOT_DIR set, the window is
    // also saved there as timbre-editor.png for the documentation.
    void fitsTheScreenAndScreenshot() {
        Open(2);
        QWidget* w = editor.get();
        QVERIFY2(w->sizeHint().width() <= 1366 && w->sizeHint().height() <= 700,
                 qPrintable(QString("size hint %1x%2").arg(w->sizeHint().width()).arg(w->sizeHint().height())));
        const QByteArray dir = qgetenv("QUORVANE_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            w->resize(w->sizeHint());
            QTest::qWait(100);
            QVERIFY(w->grab().save(QString::fromLocal8Bit(dir) + "/timbre-editor.png"));
        }
    }
};

QTEST_MAIN(TimbreEditorTest)
#include "tst_timbre_editor.moc"
