// Rhythm setup editor against the virtual module: opening at "B1", instrument
// changes reading each block once, what each pick sends, and a fresh start at
// every opening.
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "UiTestSupport.h"
#include "ui/rhythm/frmRhythm.h"

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

Address InstAddress(int instNo, int offset = 0) { return Address{0x11, static_cast<uint8_t>(instNo + 35), static_cast<uint8_t>(offset)}; }

// Requests for one instrument's block.
size_t InstRequests(const std::vector<Bytes>& log, int instNo) {
    size_t n = 0;
    for (const auto& r : Requests(log))
        if (r.address == InstAddress(instNo) && r.size == 20) ++n;
    return n;
}

}  // namespace

class RhythmEditorTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualRig> rig;
    std::unique_ptr<TestContext> ctx;

    std::vector<ParsedMessage> SentDataSets() { return DataSets(rig->vm->received()); }

private slots:
    void init() {
        rig = std::make_unique<VirtualRig>();
        // Instrument 1 ("C2") gets values that tell it apart from "B1".
        rig->vm->withEmulator([](auto& e) {
            e.poke(InstAddress(0, 0x02), 40);       // source key
            e.poke(InstAddress(1, 0x02), 61);
            e.poke(InstAddress(1, 0x03), 34 + 5);   // mute inst "D#2"
            e.poke(InstAddress(1, 0x12), 9);        // output assign outside its list
            return 0;
        });
        ctx = std::make_unique<TestContext>(rig->u220());
    }
    void cleanup() {
        ctx.reset();
        rig.reset();
    }

    void listsHoldTheirEntries() {
        frmRhythm w(*ctx);
        QCOMPARE(w.windowTitle(), QString("Quorvane / Rhythm Set Editor"));
        QCOMPARE(w.InstCombo->count(), 64);
        QCOMPARE(w.InstCombo->itemText(1), QString("C2"));
        QCOMPARE(w.InstCombo->itemText(63), QString("D7"));
        QCOMPARE(w.MuteInstCombo->count(), 65);
        QCOMPARE(w.MuteInstCombo->itemText(0), QString("Off"));
        QCOMPARE(w.MuteInstCombo->itemText(1), QString("B1"));
        QCOMPARE(w.BenderRangeLowerCombo->count(), 15);
        QCOMPARE(w.BenderRangeHigherCombo->count(), 13);
        QCOMPARE(w.PitchShiftCoarseCombo->itemText(14), QString("0"));
        QCOMPARE(w.RandomCombo->itemText(15), QString("15"));
        QCOMPARE(w.RandomCombo->itemText(0), QString("00"));
        QCOMPARE(w.OutputAssignCombo->count(), 4);
        QCOMPARE(w.PanCombo->itemText(15), QString("Rnd"));
        QCOMPARE(w.SetupNameText->maxLength(), 12);
    }

    void openingShowsB1AndWritesNothing() {
        frmRhythm w(*ctx);
        QCOMPARE(w.InstCombo->currentText(), QString("B1"));
        QCOMPARE(w.CurrentInstNo, int16_t(0));
        QCOMPARE(w.SourceKeyCombo->currentIndex(), 40);
        QCOMPARE(w.BenderRangeLowerCombo->currentIndex(), int(rig->u220().RhythmSetupCommonBenderRangeLower()));
        QCOMPARE(w.SetupNameText->text(),
                 QString::fromStdString(rig->u220().RhythmSeupCommonSetupName()).trimmed());
        QVERIFY(!w.Updating);
        QVERIFY(SentDataSets().empty());
        QCOMPARE(InstRequests(rig->vm->received(), 0), size_t(1));
    }

    // "C2" shows instrument 1 and reads its block once, however often it is picked.
    void instrumentChangeReadsItsBlockOnce() {
        frmRhythm w(*ctx);
        w.InstCombo->setCurrentIndex(1);
        QCOMPARE(w.CurrentInstNo, int16_t(1));
        QCOMPARE(w.SourceKeyCombo->currentIndex(), 61);
        QCOMPARE(w.MuteInstCombo->currentText(), QString("D#2"));
        QCOMPARE(w.OutputAssignCombo->currentIndex(), -1);  // 9 is outside "Dry".."Dir1"
        w.InstCombo->setCurrentIndex(0);
        QCOMPARE(w.SourceKeyCombo->currentIndex(), 40);
        w.InstCombo->setCurrentIndex(1);
        QCOMPARE(InstRequests(rig->vm->received(), 1), size_t(1));
        QVERIFY(SentDataSets().empty());
    }

    void picksWriteTheirIndex() {
        frmRhythm w(*ctx);
        w.InstCombo->setCurrentIndex(1);
        w.MuteInstCombo->setCurrentIndex(0);  // "Off"
        w.MuteInstCombo->setCurrentIndex(1);  // "B1"
        w.PanCombo->setCurrentIndex(w.PanCombo->findText("Rnd"));
        w.BenderRangeHigherCombo->setCurrentIndex(w.BenderRangeHigherCombo->currentIndex() == 12 ? 3 : 12);
        const auto sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(4));
        QCOMPARE(sent[0].address, InstAddress(1, 0x03));
        QCOMPARE(int(sent[0].data[0]), 0x22);
        QCOMPARE(int(sent[1].data[0]), 0x23);
        QCOMPARE(sent[2].address, InstAddress(1, 0x13));
        QCOMPARE(int(sent[2].data[0]), 15);
        QCOMPARE(sent[3].address, (Address{0x11, 0, 0x19}));
        QCOMPARE(rig->u220().RhythmSetupInstMuteInst(1), int16_t(1));
        QCOMPARE(rig->u220().RhythmSetupInstPan(1), int16_t(15));
    }

    void typedNameWritesWholeTextPerKeystroke() {
        frmRhythm w(*ctx);
        w.SetupNameText->clear();
        rig->vm->clearReceived();
        TypeText(w.SetupNameText, QString::fromUtf8("KIT\xE2\x82\xAC"));  // the euro sign is refused
        const auto sent = SentDataSets();
        QCOMPARE(sent.size(), size_t(3));
        QCOMPARE(DecodeName(sent[2].data.data()), std::string("KIT         "));
        QCOMPARE(sent[2].address, (Address{0x11, 0, 0}));
        QCOMPARE(w.SetupNameText->text(), QString("KIT"));
    }

    // "Done" after looking at "E3": the next opening starts at "B1".
    void reopeningStartsAtB1() {
        {
            auto w = std::make_unique<frmRhythm>(*ctx);
            w->show();
            w->InstCombo->setCurrentIndex(w->InstCombo->findText("E3"));
            QCOMPARE(w->CurrentInstNo, int16_t(17));
            w->EndButton->click();
            QVERIFY(!w->isVisible());
            QCOMPARE(w->result(), int(QDialog::Accepted));
        }
        frmRhythm again(*ctx);
        QCOMPARE(again.InstCombo->currentText(), QString("B1"));
        QCOMPARE(again.CurrentInstNo, int16_t(0));
    }

    // Fits a 1366x768 screen; with QUORVANE_SCREENSHOT_DIR set, the window is
    // also saved there as rhythm-editor.png for the documentation.
    void fitsTheScreenAndScreenshot() {
        frmRhythm window(*ctx);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* w = &window;
        QVERIFY2(w->sizeHint().width() <= 1366 && w->sizeHint().height() <= 700,
                 qPrintable(QString("size hint %1x%2").arg(w->sizeHint().width()).arg(w->sizeHint().height())));
        const QByteArray dir = qgetenv("QUORVANE_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            w->resize(w->sizeHint());
            QTest::qWait(100);
            QVERIFY(w->grab().save(QString::fromLocal8Bit(dir) + "/rhythm-editor.png"));
        }
    }
};

QTEST_MAIN(RhythmEditorTest)
#include "tst_rhythm_editor.moc"
