// The editor's windows end to end on a real MIDI system: the real main window
// and patch editor on real RtMidi ports to quorvane-u220sim on a JACK server,
// the simulator modelling a real module's wire (20 ms least gap, slow answers).
// Run by jack_window_e2e.sh, which starts the server and the simulator, then
// compares what this program says the windows showed with the simulator's memory
// and checks that the simulator lost nothing.
//
//   QUORVANE_E2E_PORT    the simulator's client name (picks its ports by name)
//   QUORVANE_E2E_SHOWN   file to write the values shown, one "Property[i] = v" a line
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTextStream>

#include <map>

#include "device/NameCodec.h"
#include "ui/UiTestSupport.h"
#include "ui/main/frmMain.h"
#include "ui/patch/frmPatch.h"
#include "ui/setup/frmMIDISetupForm.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::frmMain;
using quorvane::ui::frmMainOptions;
using quorvane::ui::frmMIDISetupForm;

namespace {

constexpr int kPicks = 20;
constexpr int kEdits = 50;

// The factory content the simulator starts with, from a module of our own.
QString FactoryName(midi::VirtualU220& vm, Address at) {
    const Bytes b = vm.withEmulator([at](auto& e) { return e.read(at, 24); });
    return QString::fromStdString(NameBytesToUtf8(DecodeName(b.data())));
}

// The one entry of `combo` whose text holds `part`, or -1.
int OnlyEntryWith(QComboBox* combo, const QString& part) {
    int found = -1;
    for (int i = 0; i < combo->count(); ++i) {
        if (!combo->itemText(i).contains(part)) continue;
        if (found >= 0) return -1;
        found = i;
    }
    return found;
}

}  // namespace

class tst_JackWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startUpProbesReadsTheMasterSetupAndAllNames();
    void fastPatchPicksEndOnThePatchPicked();
    void patchEditorShowsThePatchAndSendsFiftyEdits();
    void cleanupTestCase();

private:
    bool Idle() const { return w_ && w_->Host().activeWaits() == 0 && !w_->Activating(); }
    void Show(const QString& property, const QString& value) { shown_[property] = value; }

    QString port_;
    midi::VirtualU220 factory_;
    std::unique_ptr<MessageBoxWatcher> boxes_;
    std::unique_ptr<frmMain> w_;
    bool started_ = false;
    int patchShown_ = 0;  // 1-based patch the list ends on
    std::map<QString, QString> shown_;
};

void tst_JackWindow::initTestCase() {
    port_ = QString::fromLocal8Bit(qgetenv("QUORVANE_E2E_PORT"));
    if (port_.isEmpty()) QSKIP("needs the simulator started by jack_window_e2e.sh (QUORVANE_E2E_PORT)");
    boxes_ = std::make_unique<MessageBoxWatcher>();
}

void tst_JackWindow::startUpProbesReadsTheMasterSetupAndAllNames() {
    frmMainOptions o;
    QString picked;
    o.runSetup = [&](frmMIDISetupForm& d) {
        const int in = OnlyEntryWith(d.ComboMidiIn, port_);
        const int out = OnlyEntryWith(d.ComboMidiOut, port_);
        if (in < 0 || out < 0) return int(QDialog::Rejected);
        d.ComboMidiIn->setCurrentIndex(in);
        d.ComboMidiOut->setCurrentIndex(out);
        picked = d.ComboMidiIn->currentText() + " / " + d.ComboMidiOut->currentText();
        d.cmdOK->click();  // opens both ports and probes the module
        return d.result();
    };
    w_ = std::make_unique<frmMain>(VirtualRoot(), o);
    const bool accepted = w_->Load();
    QVERIFY2(!picked.isEmpty(), "the simulator's ports are not listed once each in the setup dialog");
    QVERIFY2(accepted, "the module check in the setup dialog failed");
    qInfo("ports: %s", qPrintable(picked));

    w_->show();
    QVERIFY2(WaitFor([&] { return w_->cmdEditPatch->isVisible() && Idle(); }, 180000), "start-up did not finish");
    QCOMPARE(boxes_->texts, QStringList());

    // 64 patch names in the list, 128 timbre and 4 rhythm setup names held, all as the module holds them.
    QCOMPARE(w_->pnameListBox->count(), 64);
    for (int n = 1; n <= 64; ++n)
        QCOMPARE(w_->pnameListBox->item(n - 1)->text(),
                 QString("P-%1   ").arg(n, 2, 10, QChar('0')) + FactoryName(factory_, PatchMemoryAddress(n)));
    clsU220& m = w_->U220();
    for (int n = 1; n <= 128; ++n) {
        QVERIFY(m.MemoryTimbreNameLoaded(n));
        QCOMPARE(QString::fromStdString(NameBytesToUtf8(m.MemoryTimbreName(static_cast<int16_t>(n)))),
                 FactoryName(factory_, TimbreMemoryAddress(n)));
    }
    for (int n = 1; n <= 4; ++n) {
        QVERIFY(m.MemoryRhythmNameLoaded(n));
        QCOMPARE(QString::fromStdString(NameBytesToUtf8(m.MemoryRhythmName(static_cast<int16_t>(n)))),
                 FactoryName(factory_, RhythmMemoryAddress(n)));
    }
    // The master panel shows the module's master setup.
    const Bytes master = MasterBlock(factory_);
    QCOMPARE(w_->LCDCombo->currentIndex(), int(master[2]));
    QCOMPARE(w_->ChorusCheck->isChecked(), bool(master[3] & 2));
    QCOMPARE(w_->ReverbCheck->isChecked(), bool(master[3] & 1));
    QCOMPARE(w_->MIDIRxChCombo->currentIndex(), master[8] + 16 * (master[9] & 1));
    QCOMPARE(w_->PaChCombo->currentIndex(), master[12] & 7);
    QCOMPARE(w_->RInstChCombo->currentIndex(), master[15] & 7);
    QCOMPARE(w_->MTuneCombo->currentText(), QString::number((master[0] + 16 * master[1]) / 10.0 + 427.4));
    QCOMPARE(w_->SelectedPatchIndex(), 0);
    started_ = true;
}

void tst_JackWindow::fastPatchPicksEndOnThePatchPicked() {
    if (!started_) QSKIP("start-up did not finish");
    // Twenty Down presses 40 ms apart, slower than key repeat. Each comes from the
    // event queue as a user's would, so presses arrive while a patch change still
    // waits for the module: the newest pick wins.
    QListWidget* list = w_->pnameListBox;
    list->setFocus();
    int pressed = 0;
    for (int i = 0; i < kPicks; ++i)
        QTimer::singleShot(40 * i, list, [&] {
            QTest::keyClick(list, Qt::Key_Down);
            ++pressed;
        });
    QVERIFY2(WaitFor([&] { return pressed == kPicks && Idle(); }, 60000), "the patch picks never settled");
    QTest::qWait(300);  // a late answer would show here
    QVERIFY(WaitFor([&] { return Idle(); }, 60000));
    patchShown_ = w_->SelectedPatchIndex() + 1;
    const QString name = FactoryName(factory_, PatchMemoryAddress(patchShown_));
    QCOMPARE(boxes_->texts, QStringList());  // no "not responding" for a module that answers
    QCOMPARE(patchShown_, 1 + kPicks);
    QCOMPARE(w_->cmdEditPatch->text(), "Edit  " + name);
    // The module plays the patch shown: its working patch has that patch's name.
    QCOMPARE(QString::fromStdString(NameBytesToUtf8(w_->U220().PatchCommonPatchName())), name);
}

void tst_JackWindow::patchEditorShowsThePatchAndSendsFiftyEdits() {
    if (!started_) QSKIP("start-up did not finish");
    if (patchShown_ == 0) patchShown_ = w_->SelectedPatchIndex() + 1;
    const QString name = FactoryName(factory_, PatchMemoryAddress(patchShown_));
    bool edited = false;
    QString failure;
    // Acts once the editor is up and has read the patch; building it lets events
    // run, so the check polls instead of waiting in a loop of its own.
    QTimer poll;
    QElapsedTimer since;
    since.start();
    connect(&poll, &QTimer::timeout, w_.get(), [&] {
        auto* ed = qobject_cast<quorvane::ui::frmPatch*>(QApplication::activeModalWidget());
        if (since.elapsed() > 120000) {
            poll.stop();
            failure = "the patch editor did not come up and settle within 120 s";
            if (ed) ed->reject();
            return;
        }
        if (!ed || !ed->isVisible() || !Idle() || ed->Updating) return;
        poll.stop();
        if (ed->PatchNoLabel->text() != QString("P-%1").arg(patchShown_, 2, 10, QChar('0')) ||
            ed->PatchNameText->text().trimmed() != name.trimmed()) {
            failure = QString("the editor shows %1 \"%2\", the list P-%3 \"%4\"")
                          .arg(ed->PatchNoLabel->text(), ed->PatchNameText->text())
                          .arg(patchShown_)
                          .arg(name);
        }
        // Every list of the editor with its property; the voice reserve lists are
        // left alone (they shorten each other) but still compared.
        struct Entry {
            QComboBox* combo;
            QString property;
            bool edit;
        };
        std::vector<Entry> lists = {
            {ed->ChorusTypeCombo, "PatchCommonChorusType", true},
            {ed->ChorusOutModeCombo, "PatchCommonChorusOutMode", true},
            {ed->ChorusDelayCombo, "PatchCommonChorusDelay", true},
            {ed->ChorusLevelCombo, "PatchCommonChorusLevel", true},
            {ed->ChorusRateCombo, "PatchCommonChorusRate", true},
            {ed->ChorusDepthCombo, "PatchCommonChorusDepth", true},
            {ed->ChorusFeedbackCombo, "PatchCommonChorusFeedback", true},
            {ed->ReverbTypeCombo, "PatchCommonReverbType", true},
            {ed->ReverbTimeCombo, "PatchCommonReverbTime", true},
            {ed->ReverbLevelCombo, "PatchCommonReverbLevel", true},
            {ed->ReverbDelayFeedbackCombo, "PatchCommonReverbDelayFeedback", true},
            {ed->Param1Combo, "PatchCommonParam1", true},
            {ed->Param1ParamCombo, "PatchCommonParam1Param", true},
            {ed->Param2Combo, "PatchCommonParam2", true},
            {ed->Param2ParamCombo, "PatchCommonParam2Param", true},
            {ed->Param3Combo, "PatchCommonParam3", true},
            {ed->Param3ParamCombo, "PatchCommonParam3Param", true},
            {ed->PatchRhythmRhythmSetupCombo, "PatchRhythmRhythmSetup", true},
            {ed->PatchRhythmVoiceReserveCombo, "PatchRhythmVoiceReserve", false},
            {ed->PatchRhythmReceiveChannelCombo, "PatchRhythmReceiveChannel", true},
            {ed->PatchRhythmLevelCombo, "PatchRhythmLevel", true},
            {ed->PatchRhythmLevelBoostSwCombo, "PatchRhythmLevelBoostSw", true},
            {ed->PatchRhythmRxVolumeCombo, "PatchRhythmRxVolume", true},
            {ed->PatchRhythmRxHoldCombo, "PatchRhythmRxHold", true},
        };
        for (int p = 1; p <= 6; ++p) {
            const QString i = QString("[%1]").arg(p);
            lists.push_back({ed->TimbreNumberCombo[p], "PatchPartTimbreNumber" + i, true});
            lists.push_back({ed->VoiceReserveCombo[p], "PatchPartVoiceReserve" + i, false});
            lists.push_back({ed->ReceiveChannelCombo[p], "PatchPartReceiveChannel" + i, true});
            lists.push_back({ed->KeyRangeLowCombo[p], "PatchPartKeyRangeLow" + i, true});
            lists.push_back({ed->KeyRangeHiCombo[p], "PatchPartKeyRangeHi" + i, true});
            lists.push_back({ed->VeloLevelCombo[p], "PatchPartVeloLevel" + i, true});
            lists.push_back({ed->VeloThresholdCombo[p], "PatchPartVeloThreshold" + i, true});
            lists.push_back({ed->LevelCombo[p], "PatchPartLevel" + i, true});
            lists.push_back({ed->OutputAssignCombo[p], "PatchPartOutputAssign" + i, true});
            lists.push_back({ed->PanCombo[p], "PatchPartPan" + i, true});
            lists.push_back({ed->RxVolumeCombo[p], "PatchPartRxVolume" + i, true});
            lists.push_back({ed->RxPanCombo[p], "PatchPartRxPan" + i, true});
            lists.push_back({ed->RxHoldCombo[p], "PatchPartRxHold" + i, true});
        }
        std::vector<Entry> editable;
        for (const Entry& e : lists)
            if (e.edit) editable.push_back(e);

        // Fifty picks at a brisk user's pace, some lists picked more than once
        // (the last pick must be what the module keeps). Fixed sequence, so a
        // failure can be replayed.
        uint32_t seed = 20261208;
        auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
        for (int k = 0; k < kEdits; ++k) {
            const Entry& e = editable[next() % (k % 5 == 4 ? 6 : editable.size())];
            const int n = e.combo->count();
            e.combo->setCurrentIndex((std::max(e.combo->currentIndex(), 0) + 1 + next() % (n - 1)) % n);
            QTest::qWait(15);
        }
        for (const Entry& e : lists) Show(e.property, QString::number(e.combo->currentIndex()));
        Show("PatchCommonPatchName", ed->PatchNameText->text());
        edited = true;
        ed->EndCommand->click();
    });
    poll.start(50);
    w_->cmdEditPatch->click();  // the editor runs modally until Done
    QVERIFY2(edited && failure.isEmpty(), qPrintable(failure));
    QVERIFY(WaitFor([&] { return Idle(); }, 60000));
    QCOMPARE(boxes_->texts, QStringList());
}

void tst_JackWindow::cleanupTestCase() {
    if (!w_) return;
    // The master panel as shown, after everything else.
    if (started_) {
        Show("MasterSetupLCD", QString::number(w_->LCDCombo->currentIndex()));
        Show("MasterSetupMIDIRxCh", QString::number(w_->MIDIRxChCombo->currentIndex()));
        Show("MasterSetupChorus", QString::number(int(w_->ChorusCheck->isChecked())));
        Show("MasterSetupReverb", QString::number(int(w_->ReverbCheck->isChecked())));
        Show("MasterSetupPaCh", QString::number(w_->PaChCombo->currentIndex()));
        Show("MasterSetupTiCh", QString::number(w_->TiChCombo->currentIndex()));
        Show("MasterSetupRhCh", QString::number(w_->RhChCombo->currentIndex()));
        Show("MasterSetupRInstCh", QString::number(w_->RInstChCombo->currentIndex()));
        Show("MasterSetupMTune", w_->MTuneCombo->currentText());
    }
    w_->U220().MIDIOutput1->flush();  // every edit on its way before the ports close
    w_.reset();

    const QString path = QString::fromLocal8Bit(qgetenv("QUORVANE_E2E_SHOWN"));
    if (path.isEmpty()) return;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
    QTextStream out(&f);
    for (const auto& [property, value] : shown_) out << property << " = " << value << "\n";
}

QTEST_MAIN(tst_JackWindow)
#include "tst_jack_window.moc"
