// Main window: start-up against the built-in virtual module, the patch list,
// name loading with its progress display, the master setup panel, and a module
// that stops answering.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QToolButton>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "device/NameCodec.h"
#include "ui/UiTestSupport.h"
#include "ui/main/UpDown.h"
#include "ui/main/frmMain.h"
#include "ui/setup/frmMIDISetupForm.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::frmMain;
using quorvane::ui::frmMainOptions;
using quorvane::ui::frmMIDISetupForm;

namespace {

void SetSilent(midi::VirtualU220& vm, bool silent) {
    vm.withEmulator([silent](auto& e) {
        e.setSilent(silent);
        return 0;
    });
}

// Patch n's name as the module holds it, shown as text.
QString ModulePatchName(midi::VirtualU220& vm, int n) {
    const Bytes b = vm.withEmulator([n](auto& e) { return e.read(PatchMemoryAddress(n), 24); });
    return QString::fromStdString(NameBytesToUtf8(DecodeName(b.data())));
}

// Master setup: tune 441.5 Hz (T = 141), LCD 7, chorus on, reverb off, Rx
// channel 3, change modes 1 2 3 4, with odd values in the unused nibbles.
void PokeMasterSetup(midi::VirtualU220& vm) {
    const uint8_t block[16] = {0x0D, 0x08, 7, 12 + 2, 5, 5, 5, 5, 2, 0, 9, 9, 1, 2, 3, 4};
    vm.withEmulator([&](auto& e) {
        for (int i = 0; i < 16; ++i) e.poke(Address{0, 0, static_cast<uint8_t>(i)}, block[i]);
        return 0;
    });
}

// The block a master setup write is expected to send: the module's fields,
// the fixed nibbles as always written, then `change` applied.
Bytes ExpectedBlock(Bytes held, const std::function<void(Bytes&)>& change) {
    held[4] = 0;
    held[5] = 0x0E;
    held[6] = 0;
    held[7] = 0x0B;
    held[0x0A] = 0;
    held[0x0B] = 3;
    change(held);
    return held;
}

frmMainOptions PressOk(std::shared_ptr<midi::VirtualU220> vm) {
    frmMainOptions o;
    o.virtualModule = std::move(vm);
    o.runSetup = [](frmMIDISetupForm& d) {
        d.cmdOK->click();
        return d.result();
    };
    return o;
}

bool Loaded(frmMain& w) { return w.cmdEditPatch->isVisible() && !w.Activating(); }

// Closes the modal window of class `className` once it is up and no longer
// waiting for the module; counts the openings and keeps the last one seen.
class ModalCloser : public QObject {
public:
    ModalCloser(frmMain& w, const char* className) : w_(w), className_(className) {
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d || !d->isVisible() || !d->inherits(className_) || w_.Host().activeWaits() > 0) return;
            last = d;
            ++openings;
            d->reject();
        });
        timer_.start(20);
    }
    int openings = 0;
    QPointer<QDialog> last;

private:
    frmMain& w_;
    const char* className_;
    QTimer timer_;
};

}  // namespace

class tst_Main : public QObject {
    Q_OBJECT
private slots:
    void cancelInSetupEndsStartUp();
    void startUpListsPatchesAndSelectsPatchOne();
    void progressAndActivationGuardWhileLoading();
    void clickOnEntrySwitchesPatch();
    void reactivationSendsNothing();
    void masterSetupShownAndEachEditSendsOneBlock();
    void masterTuneStepsFromTheTuneShown();
    void silentModuleWhileLoadingAsksRetry();
    void cancelledLoadingSendsNoWritesAndRetriesLater();
    void portErrorIsShown();
    void editPatchOpensTheKeptEditorAndReactivates();
    void aboutOpensTheAboutBox();
    void exitWhileLoadingStopsTheLoad();
};

void tst_Main::cancelInSetupEndsStartUp() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMainOptions o;
    o.virtualModule = vm;
    o.runSetup = [](frmMIDISetupForm& d) {
        d.CmdCancel->click();
        return d.result();
    };
    frmMain w(o);
    QVERIFY(!w.Load());
    QVERIFY(vm->received().empty());
}

void tst_Main::startUpListsPatchesAndSelectsPatchOne() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMain w(PressOk(vm));
    QVERIFY(w.Load());
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorvane"));
    QVERIFY(!w.cmdEditPatch->isVisible());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));

    QCOMPARE(w.pnameListBox->count(), 64);
    QCOMPARE(w.pnameListBox->item(0)->text(), "P-01   " + ModulePatchName(*vm, 1));
    QCOMPARE(w.pnameListBox->item(63)->text(), "P-64   " + ModulePatchName(*vm, 64));
    QCOMPARE(ModulePatchName(*vm, 1).size(), 12);
    QCOMPARE(w.pnameListBox->currentRow(), 0);
    QCOMPARE(w.SelectedPatchIndex(), 0);
    QCOMPARE(w.cmdEditPatch->text(), "Edit  " + ModulePatchName(*vm, 1));

    const auto log = vm->received();
    QCOMPARE(ProgramChanges(log), std::vector<int>{0});  // exactly one, for patch 1
    QVERIFY(DataSets(log).empty());                      // filling writes nothing

    // Order: master setup request, 64 patch names, the program change, 128 timbre
    // names, 4 rhythm setup names; one request per name.
    std::vector<std::string> order;
    for (const auto& m : log) {
        if (IsProgramChange(m)) order.push_back("PC");
        if (!IsCommand(m, sysex::kRQ1)) continue;
        const ParsedMessage p = ParseMessage(m);
        if (p.size == 24) order.push_back(p.address.a1 == 0x03 ? "P" : p.address.a1 == 0x02 ? "T" : "R");
        else if (p.address == Address{0, 0, 0}) order.push_back("M");
    }
    std::vector<std::string> expected{"M"};
    expected.insert(expected.end(), 64, "P");
    expected.push_back("PC");
    expected.push_back("M");  // the program change is confirmed by a master setup request
    expected.insert(expected.end(), 128, "T");
    expected.insert(expected.end(), 4, "R");
    QCOMPARE(order, expected);

    QVERIFY(!w.StatusLabel()->isVisible());
    QVERIFY(!w.ProgressBar()->isVisible());
    QCOMPARE(w.ProgressBar()->value(), 0);
    QVERIFY(w.MasterSetupFrame->isEnabled());

    if (const QByteArray shot = qgetenv("QUORVANE_SCREENSHOT"); !shot.isEmpty())
        w.grab().save(QString::fromLocal8Bit(shot));
}

void tst_Main::progressAndActivationGuardWhileLoading() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMain w(PressOk(vm));
    struct Seen {
        bool visible;
        int value;
        QString text;
    };
    std::vector<Seen> patch, timbre, rhythm;
    int activationsDuringLoad = -1;
    auto wrap = [&](std::function<void()>& hook, std::vector<Seen>& into) {
        hook = [&w, &into, original = hook] {
            original();
            into.push_back({w.ProgressBar()->isVisible(), w.ProgressBar()->value(), w.StatusLabel()->text()});
            QCOMPARE(w.StatusLabel()->isVisible(), w.ProgressBar()->isVisible());
        };
    };
    wrap(w.U220().MemoryPatchNameOneReceived, patch);
    wrap(w.U220().MemoryTimbreNameOneReceived, timbre);
    wrap(w.U220().MemoryRhythmNameOneReceived, rhythm);
    // A second activation in the middle of loading the patch names.
    connect(w.ProgressBar(), &QProgressBar::valueChanged, this, [&](int v) {
        if (v == 15 && activationsDuringLoad < 0) {
            activationsDuringLoad = w.ActivationCount();
            w.Activate();
            QCOMPARE(w.ActivationCount(), activationsDuringLoad);
        }
    });
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));
    QCOMPARE(activationsDuringLoad, 1);

    QCOMPARE(int(patch.size()), 64);
    QCOMPARE(int(timbre.size()), 128);
    QCOMPARE(int(rhythm.size()), 4);
    QCOMPARE(patch[0].text, QStringLiteral("Loading 64 Patch Names..."));
    QVERIFY(patch[0].visible);
    QCOMPARE(patch[0].value, 1);    // 1.5625
    QCOMPARE(patch[62].value, 98);  // 63 x 1.5625
    // After the last name of each kind: hidden, at 0, no text.
    for (const auto* kind : {&patch, &timbre, &rhythm}) {
        QVERIFY(!kind->back().visible);
        QCOMPARE(kind->back().value, 0);
        QCOMPARE(kind->back().text, QString());
    }
    QCOMPARE(timbre[0].text, QStringLiteral("Loading 128 Timbre Names..."));
    QVERIFY(timbre[0].visible);
    QCOMPARE(timbre[1].value, 1);  // 2 x 0.78125
    QCOMPARE(rhythm[0].text, QStringLiteral("Loading 4 Rhythm Names..."));
    QCOMPARE(rhythm[0].value, 25);
    QCOMPARE(rhythm[2].value, 75);

    // The extra activation neither added entries nor sent requests of its own.
    QCOMPARE(w.pnameListBox->count(), 64);
    int nameRequests = 0;
    for (const auto& r : Requests(vm->received())) nameRequests += r.size == 24;
    QCOMPARE(nameRequests, 64 + 128 + 4);
    QCOMPARE(ProgramChanges(vm->received()).size(), size_t(1));
}

void tst_Main::clickOnEntrySwitchesPatch() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMain w(PressOk(vm));
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));
    vm->clearReceived();

    QListWidget* list = w.pnameListBox;
    list->scrollToItem(list->item(10));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(10)).center());
    QVERIFY(WaitFor([&] { return !ProgramChanges(vm->received()).empty(); }));
    QCOMPARE(list->currentRow(), 10);
    QCOMPARE(w.cmdEditPatch->text(), "Edit  " + ModulePatchName(*vm, 11));
    QCOMPARE(ProgramChanges(vm->received()), std::vector<int>{0x0A});
    QVERIFY(DataSets(vm->received()).empty());
    QVERIFY(WaitFor([&] { return vm->withEmulator([](auto& e) { return e.currentPatch(); }) == 11; }));
}

void tst_Main::reactivationSendsNothing() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMain w(PressOk(vm));
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));
    vm->clearReceived();

    w.Activate();
    // A modal box opened from the window and closed again re-activates it.
    MessageBoxWatcher boxes;
    w.mnuHelpAboutMIDIIO->trigger();
    QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(boxes.texts[0], QString::fromStdString(midi::AboutMidiText()));
    // Hidden and shown again.
    w.hide();
    w.show();
    QTest::qWait(100);
    QVERIFY(w.ActivationCount() >= 3);

    QCOMPARE(w.pnameListBox->count(), 64);
    QCOMPARE(w.pnameListBox->currentRow(), 0);
    QVERIFY(vm->received().empty());
}

void tst_Main::masterSetupShownAndEachEditSendsOneBlock() {
    auto vm = std::make_shared<midi::VirtualU220>();
    PokeMasterSetup(*vm);
    frmMain w(PressOk(vm));
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));

    QVERIFY(DataSets(vm->received()).empty());  // filling the panel wrote nothing back
    QCOMPARE(w.MTuneCombo->currentText(), QStringLiteral("441.5"));
    QCOMPARE(w.UpDown->value(), 4415);
    QCOMPARE(w.LCDCombo->currentText(), QStringLiteral("7"));
    QVERIFY(w.ChorusCheck->isChecked());
    QVERIFY(!w.ReverbCheck->isChecked());
    QCOMPARE(w.MIDIRxChCombo->currentText(), QStringLiteral("3"));
    QCOMPARE(w.PaChCombo->currentText(), QStringLiteral("Map 2"));
    QCOMPARE(w.TiChCombo->currentText(), QStringLiteral("Map 3"));
    QCOMPARE(w.RhChCombo->currentText(), QStringLiteral("Map 4"));
    QCOMPARE(w.RInstChCombo->currentText(), QStringLiteral("Dir"));
    QCOMPARE(w.MIDIRxChCombo->count(), 17);
    QCOMPARE(w.MIDIRxChCombo->itemText(16), QStringLiteral("Off"));
    QCOMPARE(w.LCDCombo->count(), 16);
    QCOMPARE(w.PaChCombo->itemText(5), QStringLiteral("Off"));

    struct Edit {
        const char* what;
        std::function<void()> act;
        std::function<void(Bytes&)> change;
    };
    const std::vector<Edit> edits{
        {"LCD", [&] { w.LCDCombo->setCurrentIndex(12); }, [](Bytes& b) { b[2] = 12; }},
        {"Reverb", [&] { w.ReverbCheck->click(); }, [](Bytes& b) { b[3] = 12 + 2 + 1; }},
        {"Chorus", [&] { w.ChorusCheck->click(); }, [](Bytes& b) { b[3] = 12 + 1; }},
        {"PaCh", [&] { w.PaChCombo->setCurrentIndex(4); }, [](Bytes& b) { b[0x0C] = 4; }},
        {"TiCh", [&] { w.TiChCombo->setCurrentIndex(5); }, [](Bytes& b) { b[0x0D] = 5; }},
        {"RhCh", [&] { w.RhChCombo->setCurrentIndex(0); }, [](Bytes& b) { b[0x0E] = 0; }},
        {"RInstCh", [&] { w.RInstChCombo->setCurrentIndex(1); }, [](Bytes& b) { b[0x0F] = 1; }},
        {"Rx Off", [&] { w.MIDIRxChCombo->setCurrentIndex(16); }, [](Bytes& b) { b[8] = 0, b[9] = 1; }},
    };
    for (const Edit& e : edits) {
        const Bytes held = MasterBlock(*vm);
        vm->clearReceived();
        e.act();
        QTest::qWait(20);
        const auto sets = DataSets(vm->received());
        QVERIFY2(sets.size() == 1 && vm->received().size() == 1, e.what);
        QVERIFY2(sets[0].address == (Address{0, 0, 0}), e.what);
        QVERIFY2(sets[0].data == ExpectedBlock(held, e.change), e.what);
    }
    QCOMPARE(w.U220().MasterSetupMIDIRxCh(), int16_t(16));
}

void tst_Main::masterTuneStepsFromTheTuneShown() {
    auto vm = std::make_shared<midi::VirtualU220>();
    PokeMasterSetup(*vm);  // 441.5 Hz
    frmMain w(PressOk(vm));
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));

    auto stepAndCheck = [&](bool up, const char* text, int t, int messages) {
        vm->clearReceived();
        QTest::mouseClick(up ? w.UpDown->upButton() : w.UpDown->downButton(), Qt::LeftButton);
        if (up) w.UpDown->stepUp(); else w.UpDown->stepDown();  // a second step, also at a limit
        const auto sets = DataSets(vm->received());
        QCOMPARE(int(sets.size()), messages);
        QCOMPARE(w.MTuneCombo->currentText(), QString::fromLatin1(text));
        const Bytes block = MasterBlock(*vm);
        QCOMPARE(block[0] + 16 * block[1], t);
    };
    stepAndCheck(true, "441.7", 143, 2);   // moves from 441.5, not from 440.0
    stepAndCheck(false, "441.5", 141, 2);

    w.UpDown->setValue(4528);
    stepAndCheck(true, "452.9", 255, 1);   // stops at 4529
    QVERIFY(!w.UpDown->upButton()->isEnabled());
    QCOMPARE(w.UpDown->value(), w.kTuneMax);
    w.UpDown->setValue(4275);
    stepAndCheck(false, "427.4", 0, 1);    // stops at 4274
    QCOMPARE(w.UpDown->value(), w.kTuneMin);
    QCOMPARE(w.U220().RejectedWrites(), uint64_t(0));
}

void tst_Main::silentModuleWhileLoadingAsksRetry() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMainOptions o = PressOk(vm);
    frmMain* win = nullptr;
    o.runSetup = [&](frmMIDISetupForm& d) {
        d.cmdOK->click();
        win->U220().RequestTimeout = std::chrono::milliseconds(200);
        SetSilent(*vm, true);  // answered the probe, then goes quiet
        return d.result();
    };
    frmMain w(o);
    win = &w;
    MessageBoxWatcher boxes([&](QMessageBox& box) {
        SetSilent(*vm, false);
        return box.button(QMessageBox::Retry) ? QMessageBox::Retry : QMessageBox::NoButton;
    });
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));
    QCOMPARE(boxes.texts, QStringList{QString::fromLatin1(ui::kNotRespondingText)});
    QCOMPARE(boxes.buttons.at(0).size(), 2);  // Retry and Cancel
    QCOMPARE(w.pnameListBox->count(), 64);
    QCOMPARE(w.pnameListBox->item(63)->text(), "P-64   " + ModulePatchName(*vm, 64));
    QVERIFY(w.MasterSetupFrame->isEnabled());
}

void tst_Main::cancelledLoadingSendsNoWritesAndRetriesLater() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMainOptions o = PressOk(vm);
    frmMain* win = nullptr;
    o.runSetup = [&](frmMIDISetupForm& d) {
        d.cmdOK->click();
        win->U220().RequestTimeout = std::chrono::milliseconds(200);
        SetSilent(*vm, true);
        return d.result();
    };
    frmMain w(o);
    win = &w;
    MessageBoxWatcher boxes([](QMessageBox&) { return QMessageBox::Cancel; });
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return w.ActivationCount() == 1 && !w.Activating(); }, 30000));
    QCOMPARE(boxes.texts.size(), 1);
    // No master setup: nothing shown as if it were the module's, no edits taken.
    QVERIFY(!w.MasterSetupFrame->isEnabled());
    QCOMPARE(w.MTuneCombo->currentText(), QString());
    QCOMPARE(w.LCDCombo->currentIndex(), -1);
    QCOMPARE(w.pnameListBox->count(), 0);
    QVERIFY(!w.cmdEditPatch->isVisible());
    QVERIFY(DataSets(vm->received()).empty());
    QVERIFY(ProgramChanges(vm->received()).empty());

    // The module answers again: the next activation loads everything.
    SetSilent(*vm, false);
    w.Activate();
    QVERIFY(Loaded(w));
    QVERIFY(w.MasterSetupFrame->isEnabled());
    QCOMPARE(w.pnameListBox->count(), 64);
    QCOMPARE(ProgramChanges(vm->received()), std::vector<int>{0});
}

void tst_Main::portErrorIsShown() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMain w(PressOk(vm));
    QVERIFY(w.Load());
    MessageBoxWatcher boxes;
    QVERIFY(!w.U220().MIDIOutput1->open(100000));  // no such device
    QVERIFY(WaitFor([&] { return !boxes.texts.isEmpty(); }));
    QVERIFY(!boxes.texts[0].isEmpty());
    QCOMPARE(boxes.buttons.at(0).size(), 1);  // OK only
}

void tst_Main::editPatchOpensTheKeptEditorAndReactivates() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMain w(PressOk(vm));
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));
    vm->clearReceived();
    const int activations = w.ActivationCount();

    ModalCloser closer(w, "frmPatch");
    w.cmdEditPatch->click();
    QCOMPARE(closer.openings, 1);
    QVERIFY(closer.last);
    QCOMPARE(w.ActivationCount(), activations + 1);  // activated again after it closed
    QPointer<QDialog> first = closer.last;
    w.cmdEditPatch->click();
    QCOMPARE(closer.openings, 2);
    QCOMPARE(closer.last.data(), first.data());  // the same window, kept between openings
    QCOMPARE(w.pnameListBox->count(), 64);
    QVERIFY(ProgramChanges(vm->received()).empty());
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
}

void tst_Main::aboutOpensTheAboutBox() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMain w(PressOk(vm));
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return Loaded(w); }, 30000));
    ModalCloser closer(w, "frmAbout");
    w.mnuHelpAbout->trigger();
    QCOMPARE(closer.openings, 1);
    QVERIFY(!closer.last);  // destroyed when closed
}

void tst_Main::exitWhileLoadingStopsTheLoad() {
    auto vm = std::make_shared<midi::VirtualU220>();
    frmMain w(PressOk(vm));
    bool exited = false;
    w.U220().MemoryPatchNameOneReceived = [&, original = w.U220().MemoryPatchNameOneReceived] {
        original();
        if (!exited && w.U220().MemoryPatchNameLoaded(10)) {
            exited = true;
            w.mnuFileExit->trigger();  // arrives while the next name is awaited
        }
    };
    QVERIFY(w.Load());
    w.show();
    QVERIFY(WaitFor([&] { return exited && !w.Activating(); }, 30000));
    QVERIFY(!w.isVisible());
    int nameRequests = 0;
    for (const auto& r : Requests(vm->received())) nameRequests += r.size == 24;
    QVERIFY(nameRequests <= 11);  // the load stopped at the next name
    QVERIFY(ProgramChanges(vm->received()).empty());
}

QTEST_MAIN(tst_Main)
#include "tst_main.moc"
