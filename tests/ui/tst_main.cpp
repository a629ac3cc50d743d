// Main window: start-up against the built-in virtual module, the patch list,
// name loading with its progress display, the master setup panel, and a module
// that stops answering.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QToolButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "device/NameCodec.h"
#include "ui/UiTestSupport.h"
#include "ui/main/UpDown.h"
#include "ui/setup/AppSettings.h"
#include "ui/main/frmMain.h"
#include "ui/patch/frmPatch.h"
#include "ui/setup/frmMIDISetupForm.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::frmMain;
using quorvane::ui::frmMainOptions;
using quorvane::ui::frmMIDISetupForm;

namespace {

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

// A main window on `vm` whose setup dialog is answered with Ok. With
// `quietAfterProbe` the module answers the probe and then falls silent, and a
// request gives up after 200 ms.
std::unique_ptr<frmMain> MakeMain(std::shared_ptr<midi::VirtualU220> vm, bool quietAfterProbe = false) {
    frmMainOptions o;
    o.runSetup = [vm, quietAfterProbe](frmMIDISetupForm& d) {
        d.cmdOK->click();
        if (quietAfterProbe) {
            qobject_cast<frmMain*>(d.parentWidget())->U220().RequestTimeout = std::chrono::milliseconds(200);
            SetSilent(*vm, true);
        }
        return d.result();
    };
    return std::make_unique<frmMain>(VirtualRoot(vm), o);
}

bool Loaded(frmMain& w) { return w.cmdEditPatch->isVisible() && !w.Activating(); }

bool StartAndLoad(frmMain& w) {
    if (!w.Load()) return false;
    w.show();
    return WaitFor([&] { return Loaded(w); }, 30000);
}

// Memory name requests (not the working patch's name read after a patch change).
int NameRequests(midi::VirtualU220& vm) {
    int n = 0;
    for (const auto& r : Requests(vm.received())) n += r.size == 24 && r.address.a1 != 0x10;
    return n;
}

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

int ModuleCurrentPatch(midi::VirtualU220& vm) {
    return vm.withEmulator([](auto& e) { return e.currentPatch(); });
}

// Nothing waits for the module and nothing is queued for it.
bool Idle(frmMain& w) {
    return !w.PatchChanging() && !w.Activating() && !w.U220().RequestOpen() && w.U220().RequestsQueued() == 0;
}

// Puts the list on `row` (a patch change) and lets it finish.
bool PickAndSettle(frmMain& w, int row) {
    w.pnameListBox->setCurrentRow(row);
    return WaitFor([&] { return Idle(w); }, 20000);
}

QPoint RowCentre(QListWidget* list, int row) {
    list->scrollToItem(list->item(row));
    return list->visualItemRect(list->item(row)).center();
}

// A mouse move over the list's viewport with the left button held.
void DragTo(QListWidget* list, int row) {
    const QPoint pos = RowCentre(list, row);
    QMouseEvent move(QEvent::MouseMove, pos, list->viewport()->mapToGlobal(pos), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &move);
}

}  // namespace

class tst_Main : public QObject {
    Q_OBJECT
private slots:
    void startUpListsPatchesAndSelectsPatchOne();
    void progressAndActivationGuardWhileLoading();
    void patchPickAndReactivation();
    void masterSetupShownAndEachEditSendsOneBlock();
    void masterTuneStepsFromTheTuneShown();
    void masterSetupEditsUndo();
    void silentModuleWhileLoadingAsksRetry();
    void cancelledLoadingSendsNoWritesAndRetriesLater();
    void portErrorIsShown();
    void exitWhileLoadingStopsTheLoad();
    void secondClickWhileTheEditorIsBuiltOpensNothing();
    void editReopensTheEditorClosedWhileItRead();
    void clickedPatchIsHighlightedWhileTheModuleSwitches();
    void fastPicksAtAModulesPaceEndOnTheNewestPatch();
    void editorOpenedDuringAPatchChangeShowsTheNewPatch();
    void statusLineSaysWhenTheModuleDidNotSwitch();
    void unsavedEditsOfTheWorkingPatchAreAskedAboutBeforeAPatchChange();
    void browsingWhileTheNamesLoadKeepsListButtonAndModuleTogether();
};

void tst_Main::startUpListsPatchesAndSelectsPatchOne() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeMain(vm);
    QVERIFY(StartAndLoad(*w));
    QCOMPARE(w->windowTitle(), QString::fromUtf8("Quorvane \u2014 virtual U-220"));  // the built-in module
    QCOMPARE(w->pnameListBox->count(), 64);
    QCOMPARE(w->pnameListBox->item(0)->text(), "P-01   " + ModulePatchName(*vm, 1));
    QCOMPARE(w->pnameListBox->item(63)->text(), "P-64   " + ModulePatchName(*vm, 64));
    QCOMPARE(ModulePatchName(*vm, 1).size(), 12);
    QCOMPARE(w->SelectedPatchIndex(), 0);
    QCOMPARE(w->cmdEditPatch->text(), "Edit  " + ModulePatchName(*vm, 1));

    const auto log = vm->received();
    QCOMPARE(ProgramChanges(log), std::vector<int>{0});  // exactly one, for patch 1
    QVERIFY(DataSets(log).empty());                      // filling writes nothing
    // Order: master setup, 64 patch names, the program change (confirmed by
    // reading the working patch's name), 128 timbre names, 4 rhythm setup names.
    std::string order;
    for (const auto& m : log) {
        if (IsProgramChange(m)) order += 'C';
        if (!IsCommand(m, sysex::kRQ1)) continue;
        const ParsedMessage p = ParseMessage(m);
        if (p.address == Address{0x10, 0x04, 0x00} && p.size == 24) order += 'W';
        else if (p.size == 24) order += p.address.a1 == 0x03 ? 'P' : p.address.a1 == 0x02 ? 'T' : 'R';
        else if (p.address == Address{0, 0, 0}) order += 'M';
    }
    QCOMPARE(order, "M" + std::string(64, 'P') + "CW" + std::string(128, 'T') + std::string(4, 'R'));

    QVERIFY(!w->StatusLabel()->isVisible());
    QVERIFY(!w->ProgressBar()->isVisible());
    QCOMPARE(w->ProgressBar()->value(), 0);
    QVERIFY(w->MasterSetupFrame->isEnabled());

    QVERIFY(SaveScreenshot(*w, "main-window.png"));  // with QUORVANE_SCREENSHOT_DIR set
}

void tst_Main::progressAndActivationGuardWhileLoading() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeMain(vm);
    struct Seen {
        bool visible;
        int value;
        QString text;
    };
    std::vector<Seen> seen[3];  // patch, timbre, rhythm names
    std::function<void()>* hooks[3] = {&w->U220().MemoryPatchNameOneReceived, &w->U220().MemoryTimbreNameOneReceived,
                                       &w->U220().MemoryRhythmNameOneReceived};
    for (int k = 0; k < 3; ++k)
        *hooks[k] = [&, k, original = *hooks[k]] {
            original();
            seen[k].push_back({w->ProgressBar()->isVisible(), w->ProgressBar()->value(), w->StatusLabel()->text()});
        };
    // A second activation in the middle of loading the patch names returns at once.
    int activations = -1;
    connect(w->ProgressBar(), &QProgressBar::valueChanged, this, [&](int v) {
        if (v != 15 || activations >= 0) return;
        activations = w->ActivationCount();
        w->Activate();
        QCOMPARE(w->ActivationCount(), activations);
    });
    QVERIFY(StartAndLoad(*w));
    QCOMPARE(activations, 1);
    QCOMPARE(w->pnameListBox->count(), 64);
    QCOMPARE(NameRequests(*vm), 64 + 128 + 4);
    QCOMPARE(ProgramChanges(vm->received()).size(), size_t(1));

    const int limits[3] = {64, 128, 4};
    const char* texts[3] = {"Loading 64 Patch Names...", "Loading 128 Timbre Names...", "Loading 4 Rhythm Names..."};
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(int(seen[k].size()), limits[k]);
        QVERIFY(seen[k][0].visible);  // from the first name of each kind on
        QCOMPARE(seen[k][0].text, QString::fromLatin1(texts[k]));
        QVERIFY(!seen[k].back().visible);  // hidden, at 0 and empty after the last
        QCOMPARE(seen[k].back().value, 0);
        QCOMPARE(seen[k].back().text, QString());
    }
    QCOMPARE(seen[0][0].value, 1);    // 1.5625
    QCOMPARE(seen[0][62].value, 98);  // 63 x 1.5625
    QCOMPARE(seen[1][1].value, 1);    // 2 x 0.78125
    QCOMPARE(seen[2][2].value, 75);
}

void tst_Main::patchPickAndReactivation() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeMain(vm);
    QVERIFY(StartAndLoad(*w));
    vm->clearReceived();

    QListWidget* list = w->pnameListBox;
    list->scrollToItem(list->item(10));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(10)).center());
    QCOMPARE(list->currentRow(), 10);
    QCOMPARE(w->cmdEditPatch->text(), "Edit  " + ModulePatchName(*vm, 11));
    QCOMPARE(ProgramChanges(vm->received()), std::vector<int>{0x0A});
    QVERIFY(DataSets(vm->received()).empty());
    QCOMPARE(vm->withEmulator([](auto& e) { return e.currentPatch(); }), 11);

    // Re-activation (directly, after a modal box, after hide/show) sends nothing.
    vm->clearReceived();
    const int activations = w->ActivationCount();
    w->Activate();
    MessageBoxWatcher boxes;
    w->mnuHelpAboutMIDIIO->trigger();
    QCOMPARE(boxes.texts, QStringList{QString::fromStdString(midi::AboutMidiText())});
    w->hide();
    w->show();
    QVERIFY(WaitFor([&] { return w->ActivationCount() == activations + 3; }));
    QCOMPARE(list->count(), 64);
    QCOMPARE(list->currentRow(), 10);
    QVERIFY(vm->received().empty());

    // The patch editor is kept between openings; its closing re-activates.
    ModalCloser patch(*w, "quorvane::ui::frmPatch");
    w->cmdEditPatch->click();
    QPointer<QDialog> first = patch.last;
    w->cmdEditPatch->click();
    QCOMPARE(patch.openings, 2);
    QVERIFY(first && patch.last == first);
    QCOMPARE(w->ActivationCount(), activations + 5);
    QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
    // Enter on the list opens it as well.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(patch.openings, 3);
    QCOMPARE(list->currentRow(), 10);
    // The About box is destroyed when closed.
    ModalCloser about(*w, "quorvane::ui::frmAbout");
    w->mnuHelpAbout->trigger();
    QCOMPARE(about.openings, 1);
    QVERIFY(!about.last);
    QCOMPARE(list->count(), 64);
    QVERIFY(ProgramChanges(vm->received()).empty());
}

void tst_Main::masterSetupShownAndEachEditSendsOneBlock() {
    auto vm = std::make_shared<midi::VirtualU220>();
    PokeMasterSetup(*vm);
    auto w = MakeMain(vm);
    QVERIFY(StartAndLoad(*w));
    QVERIFY(DataSets(vm->received()).empty());  // filling the panel wrote nothing back
    QCOMPARE(w->MTuneCombo->currentText(), QStringLiteral("441.5"));
    QCOMPARE(w->UpDown->value(), 4415);
    QCOMPARE(w->LCDCombo->currentText(), QStringLiteral("7"));
    QVERIFY(w->ChorusCheck->isChecked());
    QVERIFY(!w->ReverbCheck->isChecked());
    QCOMPARE(w->MIDIRxChCombo->currentText(), QStringLiteral("3"));
    QCOMPARE(w->PaChCombo->currentText(), QStringLiteral("Map 2"));
    QCOMPARE(w->TiChCombo->currentText(), QStringLiteral("Map 3"));
    QCOMPARE(w->RhChCombo->currentText(), QStringLiteral("Map 4"));
    QCOMPARE(w->RInstChCombo->currentText(), QStringLiteral("Dir"));
    QCOMPARE(w->MIDIRxChCombo->itemText(16), QStringLiteral("Off"));
    QCOMPARE(w->LCDCombo->count(), 16);
    QCOMPARE(w->PaChCombo->itemText(5), QStringLiteral("Off"));
    // The short labels and entries are explained where they stand.
    QCOMPARE(ListTipFault(w->MasterSetupFrame), QString());
    for (QComboBox* c : {w->PaChCombo, w->TiChCombo, w->RhChCombo, w->RInstChCombo})
        for (const char* word : {"Dir", "Map 1..Map 4", "Off"})
            QVERIFY2(c->toolTip().contains(QLatin1String(word)), qPrintable(c->toolTip()));
    QVERIFY(w->UpDown->toolTip().contains(QStringLiteral("427.4..452.9 Hz")));
    w->pnameListBox->setFocus();
    TurnWheel(w->LCDCombo);  // the wheel over a list without the focus sends nothing
    QCOMPARE(w->LCDCombo->currentText(), QStringLiteral("7"));
    QVERIFY(DataSets(vm->received()).empty());

    struct Edit {
        const char* what;
        std::function<void()> act;
        std::function<void(Bytes&)> change;
    };
    const std::vector<Edit> edits{
        {"LCD", [&] { w->LCDCombo->setCurrentIndex(12); }, [](Bytes& b) { b[2] = 12; }},
        {"Reverb", [&] { w->ReverbCheck->click(); }, [](Bytes& b) { b[3] = 12 + 2 + 1; }},
        {"Chorus", [&] { w->ChorusCheck->click(); }, [](Bytes& b) { b[3] = 12 + 1; }},
        {"PaCh", [&] { w->PaChCombo->setCurrentIndex(4); }, [](Bytes& b) { b[0x0C] = 4; }},
        {"TiCh", [&] { w->TiChCombo->setCurrentIndex(5); }, [](Bytes& b) { b[0x0D] = 5; }},
        {"RhCh", [&] { w->RhChCombo->setCurrentIndex(0); }, [](Bytes& b) { b[0x0E] = 0; }},
        {"RInstCh", [&] { w->RInstChCombo->setCurrentIndex(1); }, [](Bytes& b) { b[0x0F] = 1; }},
        {"Rx Off", [&] { w->MIDIRxChCombo->setCurrentIndex(16); }, [](Bytes& b) { b[8] = 0, b[9] = 1; }},
    };
    for (const Edit& e : edits) {
        const Bytes held = MasterBlock(*vm);
        vm->clearReceived();
        e.act();
        const auto sets = DataSets(vm->received());
        QVERIFY2(sets.size() == 1 && vm->received().size() == 1, e.what);
        QVERIFY2(sets[0].address == (Address{0, 0, 0}), e.what);
        QVERIFY2(sets[0].data == ExpectedBlock(held, e.change), e.what);
    }
    QCOMPARE(w->U220().MasterSetupMIDIRxCh(), int16_t(16));
}

void tst_Main::masterTuneStepsFromTheTuneShown() {
    auto vm = std::make_shared<midi::VirtualU220>();
    PokeMasterSetup(*vm);  // 441.5 Hz
    auto w = MakeMain(vm);
    QVERIFY(StartAndLoad(*w));

    // One click and one step; at a limit the second step sends nothing.
    auto twoSteps = [&](bool up, const char* text, int t, int messages) {
        vm->clearReceived();
        QTest::mouseClick(up ? w->UpDown->upButton() : w->UpDown->downButton(), Qt::LeftButton);
        up ? w->UpDown->stepUp() : w->UpDown->stepDown();
        QCOMPARE(int(DataSets(vm->received()).size()), messages);
        QCOMPARE(w->MTuneCombo->currentText(), QString::fromLatin1(text));
        const Bytes block = MasterBlock(*vm);
        QCOMPARE(block[0] + 16 * block[1], t);
    };
    twoSteps(true, "441.7", 143, 2);  // from the tune shown, not from 440.0
    twoSteps(false, "441.5", 141, 2);
    w->UpDown->setValue(4528);
    twoSteps(true, "452.9", 255, 1);
    QCOMPARE(w->UpDown->value(), frmMain::kTuneMax);
    QVERIFY(!w->UpDown->upButton()->isEnabled());
    w->UpDown->setValue(4275);
    twoSteps(false, "427.4", 0, 1);
    QCOMPARE(w->UpDown->value(), frmMain::kTuneMin);
    QCOMPARE(w->U220().RejectedWrites(), uint64_t(0));

    // The wheel over the arrows steps the tune only while they have the focus
    // (a click on an arrow gives it, as a click gives a list the focus).
    w->UpDown->setValue(4400);
    QApplication::setActiveWindow(w.get());
    struct Wheel {
        const char* what;
        std::function<void()> before;
        QWidget* over;
        int value, messages;
    };
    const std::vector<Wheel> wheels{
        {"unfocused, over the control", [&] { w->pnameListBox->setFocus(); }, w->UpDown, 4400, 0},
        {"unfocused, over the up arrow", [&] { w->pnameListBox->setFocus(); }, w->UpDown->upButton(), 4400, 0},
        {"unfocused, over the down arrow", [&] { w->pnameListBox->setFocus(); }, w->UpDown->downButton(), 4400, 0},
        {"after a click on an arrow", [&] { QTest::mouseClick(w->UpDown->upButton(), Qt::LeftButton); },
         w->UpDown->upButton(), 4400, 1},
        {"focused by the keyboard", [&] { w->UpDown->setFocus(Qt::TabFocusReason); }, w->UpDown, 4399, 1},
    };
    for (const Wheel& wh : wheels) {
        wh.before();
        vm->clearReceived();
        TurnWheel(wh.over);  // one notch down
        QVERIFY2(w->UpDown->value() == wh.value, wh.what);
        QVERIFY2(int(DataSets(vm->received()).size()) == wh.messages, wh.what);
    }
}

// Edit > Undo in the main window takes back master setup edits: the module
// gets its previous block and the panel shows it; steps of the tune arrows
// that follow each other closely are one step.
void tst_Main::masterSetupEditsUndo() {
    auto vm = std::make_shared<midi::VirtualU220>();
    PokeMasterSetup(*vm);  // 441.5 Hz, LCD 7, chorus on
    auto w = MakeMain(vm);
    QVERIFY(StartAndLoad(*w));
    struct Case {
        const char* what;
        std::function<void()> edit;
        std::function<QString()> shown;
    };
    const std::vector<Case> cases{
        {"LCD pick", [&] { w->LCDCombo->setCurrentIndex(12); }, [&] { return w->LCDCombo->currentText(); }},
        {"chorus", [&] { w->ChorusCheck->click(); }, [&] { return QString::number(w->ChorusCheck->isChecked()); }},
        {"three tune steps", [&] {
             for (int i = 0; i < 3; ++i) QTest::mouseClick(w->UpDown->upButton(), Qt::LeftButton);
         }, [&] { return w->MTuneCombo->currentText() + QString::number(w->UpDown->value()); }},
    };
    for (const Case& c : cases) {
        const Bytes before = MasterBlock(*vm);
        const QString shownBefore = c.shown();
        c.edit();
        const Bytes after = MasterBlock(*vm);
        const QString shownAfter = c.shown();
        QVERIFY2(after != before, c.what);
        vm->clearReceived();
        PressUndo(w.get());
        QVERIFY2(DataSets(vm->received()).size() == 1, c.what);
        // The fields as before (a block write always sets the unused nibbles).
        QVERIFY2(MasterBlock(*vm) == ExpectedBlock(before, [](Bytes&) {}), c.what);
        QVERIFY2(c.shown() == shownBefore, c.what);
        PressRedo(w.get());
        QVERIFY2(MasterBlock(*vm) == after, c.what);
        QVERIFY2(c.shown() == shownAfter, c.what);
        PressUndo(w.get());
    }
    QCOMPARE(w->MTuneCombo->currentText(), QStringLiteral("441.5"));
    QVERIFY(!w->Updating);

    // While the names still load (the panel already takes edits), undo and
    // redo work too: they are not silently refused until the load ends.
    auto vm2 = std::make_shared<midi::VirtualU220>();
    PokeMasterSetup(*vm2);
    const Bytes start = MasterBlock(*vm2);
    auto w2 = MakeRealisticMain(vm2, 5);
    QVERIFY(w2->Load());
    QString during;  // tune shown after step, undo, redo
    bool loading = false;
    QTimer act;
    connect(&act, &QTimer::timeout, this, [&] {
        if (!during.isEmpty() || !w2->MasterSetupFrame->isEnabled() || !w2->Activating()) return;
        loading = w2->pnameListBox->count() < 64;
        QTest::mouseClick(w2->UpDown->upButton(), Qt::LeftButton);
        during = w2->MTuneCombo->currentText();
        PressUndo(w2.get());
        during += " " + w2->MTuneCombo->currentText();
        PressRedo(w2.get());
        during += " " + w2->MTuneCombo->currentText();
        PressUndo(w2.get());
        during += " " + w2->MTuneCombo->currentText();
    });
    act.start(20);
    w2->show();
    QVERIFY(WaitFor([&] { return Loaded(*w2); }, 30000));
    QVERIFY(loading);
    QCOMPARE(during, QStringLiteral("441.6 441.5 441.6 441.5"));
    QVERIFY(WaitFor([&] { return MasterBlock(*vm2) == ExpectedBlock(start, [](Bytes&) {}); }));
}

void tst_Main::silentModuleWhileLoadingAsksRetry() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeMain(vm, true);
    MessageBoxWatcher boxes([&](QMessageBox&) {
        SetSilent(*vm, false);
        return QMessageBox::Retry;
    });
    QVERIFY(StartAndLoad(*w));
    QCOMPARE(boxes.texts, QStringList{QString::fromLatin1(ui::kNotRespondingText)});
    QCOMPARE(boxes.buttons.at(0).size(), 2);  // Retry and Cancel
    QCOMPARE(w->pnameListBox->item(63)->text(), "P-64   " + ModulePatchName(*vm, 64));
    QVERIFY(w->MasterSetupFrame->isEnabled());
}

void tst_Main::cancelledLoadingSendsNoWritesAndRetriesLater() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeMain(vm, true);
    MessageBoxWatcher boxes([](QMessageBox&) { return QMessageBox::Cancel; });
    QVERIFY(w->Load());
    w->show();
    QVERIFY(WaitFor([&] { return w->ActivationCount() == 1 && !w->Activating(); }, 30000));
    QCOMPARE(boxes.texts.size(), 1);
    // No master setup: nothing shown as if it were the module's, no edits taken.
    QVERIFY(!w->MasterSetupFrame->isEnabled());
    QCOMPARE(w->MTuneCombo->currentText(), QString());
    QCOMPARE(w->LCDCombo->currentIndex(), -1);
    QCOMPARE(w->pnameListBox->count(), 0);
    QVERIFY(!w->cmdEditPatch->isVisible());
    QVERIFY(DataSets(vm->received()).empty());
    QVERIFY(ProgramChanges(vm->received()).empty());

    // The module answers again: the next activation loads everything.
    SetSilent(*vm, false);
    w->Activate();
    QVERIFY(Loaded(*w));
    QVERIFY(w->MasterSetupFrame->isEnabled());
    QCOMPARE(w->pnameListBox->count(), 64);
    QCOMPARE(ProgramChanges(vm->received()), std::vector<int>{0});
}

void tst_Main::portErrorIsShown() {
    auto w = MakeMain(std::make_shared<midi::VirtualU220>());
    QVERIFY(w->Load());
    MessageBoxWatcher boxes;
    QVERIFY(!w->U220().MIDIOutput1->open(100000));  // no such device
    QVERIFY(WaitFor([&] { return !boxes.texts.isEmpty(); }));
    QVERIFY(!boxes.texts[0].isEmpty());
    QCOMPARE(boxes.buttons.at(0).size(), 1);  // OK only
}

void tst_Main::exitWhileLoadingStopsTheLoad() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeMain(vm);
    bool exited = false;
    w->U220().MemoryPatchNameOneReceived = [&, original = w->U220().MemoryPatchNameOneReceived] {
        original();
        if (!exited && w->U220().MemoryPatchNameLoaded(10)) {
            exited = true;
            w->mnuFileExit->trigger();  // while the next name is awaited
        }
    };
    QVERIFY(w->Load());
    w->show();
    QVERIFY(WaitFor([&] { return exited && !w->Activating(); }, 30000));
    QVERIFY(!w->isVisible());
    QVERIFY(NameRequests(*vm) <= 11);  // the load stopped at the next name
    QVERIFY(ProgramChanges(vm->received()).empty());
}

// Building the patch editor lets events run while this window still takes
// clicks: the second click of a double click builds and opens no second editor.
void tst_Main::secondClickWhileTheEditorIsBuiltOpensNothing() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeMain(vm);
    QVERIFY(StartAndLoad(*w));
    ModalCloser patch(*w, "quorvane::ui::frmPatch");
    QTimer::singleShot(0, w.get(), [&] { w->cmdEditPatch->click(); });
    w->cmdEditPatch->click();
    QCOMPARE(patch.openings, 1);
    QCOMPARE(w->findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly).size() -
                 w->findChildren<frmMIDISetupForm*>(QString(), Qt::FindDirectChildrenOnly).size(),
             qsizetype(1));
}

// At a real module's pace: the patch editor closed (Escape) while its opening
// still reads the patch stays in exec() until that read ends; Edit clicked
// meanwhile opens it again once it has, instead of being lost.
void tst_Main::editReopensTheEditorClosedWhileItRead() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeRealisticMain(vm, 5);
    QVERIFY(StartAndLoad(*w));
    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    QVERIFY(PickAndSettle(*w, 4));  // the editor's opening reads P-05 afresh
    int shown = 0, closedReading = 0, seenDone = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        auto* e = qobject_cast<quorvane::ui::frmPatch*>(QApplication::activeModalWidget());
        if (!e || !e->isVisible()) return;
        if (shown == 0) {
            ++shown;
            if (!w->U220().PatchDataLoaded()) ++closedReading;
            e->reject();  // Escape while it reads
            QTimer::singleShot(50, w.get(), [&] { w->cmdEditPatch->click(); });
        } else if (!e->Updating && w->Host().activeWaits() == 0) {
            ++seenDone;
            if (e->PatchNoLabel->text() == QStringLiteral("P-05")) ++shown;
            e->reject();
        }
    });
    watch.start(20);
    w->cmdEditPatch->click();
    QVERIFY(WaitFor([&] { return seenDone > 0 && Idle(*w) && !QApplication::activeModalWidget(); }, 20000));
    QTest::qWait(300);
    QCOMPARE(closedReading, 1);
    QCOMPARE(seenDone, 1);
    QCOMPARE(shown, 2);
    QVERIFY(w->isVisible());
    QCOMPARE(vm->lostToGap(), uint64_t(0));
}

// At a real module's pace: the patch clicked is highlighted at once, not only
// once the module has confirmed the change (the wait runs inside the click).
void tst_Main::clickedPatchIsHighlightedWhileTheModuleSwitches() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeRealisticMain(vm, 5);
    QVERIFY(StartAndLoad(*w));
    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    QListWidget* list = w->pnameListBox;
    for (int row : {6, 3, 9}) {
        bool changing = false;
        QList<int> highlighted;
        QTimer::singleShot(150, w.get(), [&] {
            changing = w->PatchChanging();
            for (QListWidgetItem* i : list->selectedItems()) highlighted << list->row(i);
        });
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCentre(list, row));
        QVERIFY(WaitFor([&] { return Idle(*w); }, 20000));
        QVERIFY(changing);
        QCOMPARE(highlighted, QList<int>{row});
        QCOMPARE(ModuleCurrentPatch(*vm), row + 1);
    }
}

// At a real module's pace (answers 400 ms late, 20 ms between messages) picks
// come faster than the module answers. While a patch change waits, a pick only
// records the target; one program change then goes out for the newest one.
void tst_Main::fastPicksAtAModulesPaceEndOnTheNewestPatch() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeRealisticMain(vm, 5);
    QVERIFY(StartAndLoad(*w));
    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    QListWidget* list = w->pnameListBox;
    list->setFocus();

    struct Case {
        const char* what;
        int from;               // row the list starts on
        int stepMs;             // between two steps
        std::vector<int> rows;  // row each step picks
        std::function<void(int step, int row)> act;
    };
    const std::vector<Case> cases{
        {"ten Down presses 40 ms apart", 2, 40, {3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         [&](int, int) { QTest::keyClick(list, Qt::Key_Down); }},
        {"a burst of clicks", 20, 30, {25, 31, 22, 40, 37},
         [&](int, int row) { QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCentre(list, row)); }},
        {"a drag down the list", 44, 30, {45, 46, 47, 48, 49, 50},
         [&](int step, int row) {
             if (step == 0) QTest::mousePress(list->viewport(), Qt::LeftButton, {}, RowCentre(list, row));
             else DragTo(list, row);
             if (step == 5) QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, RowCentre(list, row));
         }},
    };
    for (const Case& c : cases) {
        QVERIFY2(PickAndSettle(*w, c.from), c.what);
        vm->clearReceived();
        MessageBoxWatcher boxes;
        // Each step is recorded with what was waiting when it came.
        std::vector<int> sentBefore;
        bool firstChangeRunning = true;
        int done = 0;
        for (size_t i = 0; i < c.rows.size(); ++i)
            QTimer::singleShot(int(i) * c.stepMs, w.get(), [&, i] {
                if (i > 0) firstChangeRunning = firstChangeRunning && w->PatchChanging() &&
                                                 w->U220().LastPatchSent() == c.rows[0] + 1;
                c.act(int(i), c.rows[i]);
                ++done;
            });
        QVERIFY2(WaitFor([&] { return done == int(c.rows.size()) && Idle(*w); }, 30000), c.what);

        const int last = c.rows.back();
        QVERIFY2(boxes.texts.isEmpty(), c.what);
        QCOMPARE(list->currentRow(), last);
        QCOMPARE(w->cmdEditPatch->text(), "Edit  " + ModulePatchName(*vm, last + 1));
        QCOMPARE(ModuleCurrentPatch(*vm), last + 1);
        // Program changes: the first pick, then only targets that were the newest
        // when a wait ended, in the order picked, and the last pick at the end.
        const std::vector<int> sent = ProgramChanges(vm->received());
        QVERIFY2(!sent.empty() && sent.front() == c.rows.front() && sent.back() == last, c.what);
        size_t at = 0;
        for (int pc : sent) {
            while (at < c.rows.size() && c.rows[at] != pc) ++at;
            QVERIFY2(at < c.rows.size(), c.what);  // in pick order, none stale
        }
        // On a machine that kept up, every later step came while the first change
        // waited: then exactly two program changes went out.
        if (firstChangeRunning) QCOMPARE(sent, (std::vector<int>{c.rows.front(), last}));
        QCOMPARE(vm->lostToGap(), uint64_t(0));
        QCOMPARE(w->U220().TimeoutCount(), uint64_t(0));
    }
}

// The patch editor opened while a patch change waits (a double click on the new
// patch, or Edit after a further pick) reads the patch the list shows.
void tst_Main::editorOpenedDuringAPatchChangeShowsTheNewPatch() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeRealisticMain(vm, 5);
    QVERIFY(StartAndLoad(*w));
    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    QListWidget* list = w->pnameListBox;

    // What the editor showed once its reads were done; then it is closed.
    struct Seen {
        int openings = 0;
        QString number, name;
        bool changeWaiting = false;  // it opened while a patch change waited
    } seen;
    QTimer inspect;
    connect(&inspect, &QTimer::timeout, this, [&] {
        auto* e = qobject_cast<quorvane::ui::frmPatch*>(QApplication::activeModalWidget());
        if (!e || !e->isVisible()) return;
        if (seen.openings == 0 && w->PatchChanging()) seen.changeWaiting = true;
        // Done reading: nothing open or queued (the change it opened during may
        // still lie further down the stack).
        if (e->Updating || w->U220().RequestOpen() || w->U220().RequestsQueued() > 0 || !w->U220().PatchDataLoaded()) return;
        ++seen.openings;
        seen.number = e->PatchNoLabel->text();
        seen.name = e->PatchNameText->text();
        e->reject();
    });
    inspect.start(20);

    struct Case {
        const char* what;
        std::vector<int> picks;  // rows clicked 50 ms apart, then the editor opened
        bool doubleClick;        // opened by a double click on the last pick
    };
    const Case cases[] = {
        {"double click on P-05", {4}, true},
        {"P-07 picked while P-05 waits, then Edit", {4, 6}, false},
    };
    for (const Case& c : cases) {
        // First open and close the editor on P-03.
        QVERIFY(PickAndSettle(*w, 2));
        seen = Seen{};
        w->cmdEditPatch->click();
        QVERIFY2(WaitFor([&] { return seen.openings == 1 && Idle(*w); }, 20000), c.what);
        QCOMPARE(seen.number, QStringLiteral("P-03"));
        vm->clearReceived();
        seen = Seen{};
        MessageBoxWatcher boxes;

        int step = 0;
        for (size_t i = 0; i < c.picks.size(); ++i)
            QTimer::singleShot(50 * int(i), w.get(), [&, i] {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCentre(list, c.picks[i]));
                ++step;
            });
        QTimer::singleShot(50 * int(c.picks.size()), w.get(), [&] {
            if (c.doubleClick) QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, RowCentre(list, c.picks.back()));
            else w->cmdEditPatch->click();
            ++step;
        });
        QVERIFY2(WaitFor([&] { return step == int(c.picks.size()) + 1 && seen.openings == 1 && Idle(*w); }, 30000),
                 c.what);
        const int patch = c.picks.back() + 1;
        QVERIFY2(seen.changeWaiting, c.what);  // the case really opened it during a change
        QCOMPARE(seen.number, QStringLiteral("P-%1").arg(patch, 2, 10, QLatin1Char('0')));
        QCOMPARE(seen.name.trimmed(), ModulePatchName(*vm, patch).trimmed());
        QCOMPARE(ModuleCurrentPatch(*vm), patch);
        QCOMPARE(list->currentRow(), c.picks.back());
        std::vector<int> rows;
        for (int r : c.picks) rows.push_back(r);
        QCOMPARE(ProgramChanges(vm->received()), rows);
        QVERIFY2(boxes.texts.isEmpty(), c.what);
    }
}

// A pick the module does not follow is told in the status line in words.
void tst_Main::statusLineSaysWhenTheModuleDidNotSwitch() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeRealisticMain(vm, 5);
    QVERIFY(StartAndLoad(*w));
    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    QListWidget* list = w->pnameListBox;
    QVERIFY(PickAndSettle(*w, 5));  // the module is on P-06
    const QString p06 = "Edit  " + ModulePatchName(*vm, 6);

    struct Case {
        const char* what;
        std::function<void()> before;
        int pick;                 // row picked
        std::vector<int> sent;    // program changes that go out
        int listAfter;            // row the list ends on
        int modulePatch;          // patch the module ends on
        const char* status;       // in the status line ("" hidden)
        int boxes = 0;            // "not responding" boxes answered with Cancel
    };
    const Case cases[] = {
        {"Rx control channel Off", [&] { w->MIDIRxChCombo->setCurrentIndex(16); }, 9, {}, 5, 6,
         "ignores program changes while its Rx Control Ch is Off: it stays on P-06"},
        {"a key press with the channel Off", [&] { list->setFocus(); }, -1, {}, 5, 6, "it stays on P-06"},
        {"the channel back on, a pick works and clears the line", [&] { w->MIDIRxChCombo->setCurrentIndex(0); }, 7, {7},
         7, 8, ""},
        // The module's patch 12 is renamed behind the editor's back: after the
        // switch its working patch is not called what the list says.
        {"the module ends on a patch of another name",
         [&] {
             const Bytes other = EncodeName("Elsewhere");
             vm->withEmulator([&](auto& e) {
                 for (size_t i = 0; i < other.size(); ++i) e.poke(PatchMemoryAddress(12).plus(int(i)), other[i]);
                 return 0;
             });
         },
         11, {11}, 11, 12, "did not switch to P-12: its patch is now \"Elsewhere\""},
        // Silent after the program change: Cancel in the box that asks.
        {"no answer after the change, then Cancel",
         [&] {
             w->U220().RequestTimeout = std::chrono::milliseconds(300);
             SetSilent(*vm, true);
         },
         3, {3}, 3, 4, "did not confirm the change to P-04", 1},
    };
    for (const Case& c : cases) {
        c.before();
        QVERIFY2(WaitFor([&] { return Idle(*w); }), c.what);
        vm->clearReceived();
        MessageBoxWatcher boxes([](QMessageBox&) { return QMessageBox::Cancel; });
        if (c.pick >= 0) QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCentre(list, c.pick));
        else QTest::keyClick(list, Qt::Key_Down);
        QVERIFY2(WaitFor([&] { return Idle(*w); }, 20000), c.what);
        QCOMPARE(ProgramChanges(vm->received()), c.sent);
        QCOMPARE(list->currentRow(), c.listAfter);
        QCOMPARE(ModuleCurrentPatch(*vm), c.modulePatch);
        if (c.listAfter == 5) QCOMPARE(w->cmdEditPatch->text(), p06);
        if (*c.status) {
            QVERIFY2(w->StatusLabel()->isVisible(), c.what);
            QVERIFY2(w->StatusLabel()->text().contains(QString::fromLatin1(c.status)), qPrintable(w->StatusLabel()->text()));
        } else {
            QVERIFY2(!w->StatusLabel()->isVisible(), c.what);
        }
        QCOMPARE(int(boxes.texts.size()), c.boxes);
        if (c.pick == 11)  // The module's Patch Change setting is named, as the panel shows it.
            QVERIFY(w->StatusLabel()->text().contains("Patch Change setting, " + w->PaChCombo->currentText() +
                                                      " in Master Setup"));
    }
}

// The module's working area is not memory: a patch change replaces edits made
// there. With edits since the patch was loaded a pick asks first (Save Patch
// As..., Switch anyway, Cancel, and "Don't ask again"); without edits, or once
// answered, browsing goes on as fast as ever.
void tst_Main::unsavedEditsOfTheWorkingPatchAreAskedAboutBeforeAPatchChange() {
    ui::AppSettings()->remove(QLatin1String(frmMain::kDontAskBeforeDroppingEdits));
    QTemporaryDir dir;
    QStringList saveAs;  // what the Save Patch As dialog answers, in turn
    ui::BackupPrompts prompts;
    prompts.saveFile = [&](QWidget*, const QString&, const QString&) { return saveAs.isEmpty() ? QString() : saveAs.takeFirst(); };
    prompts.tell = [](QWidget*, const QString&, const QString&, bool) {};
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeRealisticMain(vm, 5, prompts);
    QVERIFY(StartAndLoad(*w));
    vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs);
    QListWidget* list = w->pnameListBox;
    list->setFocus();
    QVERIFY(PickAndSettle(*w, 2));
    QVERIFY(!w->U220().WorkingAreaEdited());  // the start-up change and picks leave nothing unsaved
    int level = 0;
    auto edit = [&] { QVERIFY(w->U220().let(Param::PatchCommonChorusLevel, 0, int16_t(++level % 30))); };

    struct Case {
        const char* what;
        bool edited;                        // an edit of the working patch first
        QMessageBox::StandardButton answer; // NoButton: no question expected
        bool dontAsk = false;               // "Don't ask again" ticked
        QString saveAs;                     // the file Save Patch As... is given ("" cancels it)
        std::vector<int> downs;             // rows stepped to with Down, 40 ms apart, after the first pick
        int pick = 0;                       // the row clicked
        bool switches = true;
    };
    const QString saved = dir.filePath("edited.syx");
    const Case cases[] = {
        {"nothing edited: no question", false, QMessageBox::NoButton, false, {}, {}, 5},
        {"edited, Cancel", true, QMessageBox::Cancel, false, {}, {}, 9, false},
        {"edited, Switch anyway, then four Down presses: asked once", true, QMessageBox::Discard, false, {}, {10, 11, 12, 13}, 9},
        {"edited, Save Patch As... to a file", true, QMessageBox::Save, false, saved, {}, 20},
        {"edited, Save Patch As... cancelled at the file name", true, QMessageBox::Save, false, QString(), {}, 25, false},
        {"edited, Switch anyway with Don't ask again", true, QMessageBox::Discard, true, {}, {}, 25},
        {"edited again: not asked any more", true, QMessageBox::NoButton, false, {}, {}, 30},
    };
    for (const Case& c : cases) {
        if (c.edited) edit();
        QVERIFY2(WaitFor([&] { return Idle(*w); }), c.what);
        const int from = list->currentRow();
        const QString fromButton = w->cmdEditPatch->text();
        if (!c.saveAs.isNull()) saveAs << c.saveAs;
        else if (c.answer == QMessageBox::Save) saveAs << QString();
        vm->clearReceived();
        QStringList captions;
        bool listStayedDuringQuestion = true;
        MessageBoxWatcher boxes([&](QMessageBox& box) {
            for (QAbstractButton* b : box.buttons()) captions << b->text();
            listStayedDuringQuestion = list->currentRow() == from && w->cmdEditPatch->text() == fromButton;
            if (c.dontAsk) box.checkBox()->setChecked(true);
            return c.answer == QMessageBox::NoButton ? QMessageBox::Cancel : c.answer;
        });
        // The click from the event loop: the Down presses come while its change waits.
        bool clicked = false, stepping = false;
        int done = 0;
        QTimer::singleShot(0, w.get(), [&] {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCentre(list, c.pick));
            clicked = true;
        });
        QTimer poll;
        connect(&poll, &QTimer::timeout, w.get(), [&] {
            if (stepping || !w->PatchChanging()) return;
            stepping = true;
            for (size_t i = 0; i < c.downs.size(); ++i)
                QTimer::singleShot(40 * int(i), w.get(), [&] {
                    QTest::keyClick(list, Qt::Key_Down);
                    ++done;
                });
        });
        poll.start(10);
        QVERIFY2(WaitFor([&] { return clicked && done == int(c.downs.size()) && Idle(*w); }, 30000), c.what);
        poll.stop();
        QTest::qWait(50);  // the events after the last pick

        const bool asked = c.answer != QMessageBox::NoButton;
        QCOMPARE(int(boxes.texts.size()), asked ? 1 : 0);
        if (asked) {
            QVERIFY2(boxes.texts[0].contains(QStringLiteral("P-%1").arg(c.pick + 1, 2, 10, QLatin1Char('0'))),
                     qPrintable(boxes.texts[0]));
            for (const char* b : {"Save Patch As...", "Switch anyway", "Cancel"})
                QVERIFY2(captions.contains(QLatin1String(b)), qPrintable(captions.join('|')));
            QVERIFY2(listStayedDuringQuestion, c.what);
        }
        const int last = !c.switches ? from : c.downs.empty() ? c.pick : c.downs.back();
        std::vector<int> sent;
        if (c.switches) sent.push_back(c.pick);
        if (!c.downs.empty()) sent.push_back(c.downs.back());
        QCOMPARE(ProgramChanges(vm->received()), sent);
        QCOMPARE(list->currentRow(), last);
        QVERIFY2(list->selectedItems() == QList<QListWidgetItem*>{list->item(last)},
                 qPrintable(QStringLiteral("%1 selected, first row %2").arg(list->selectedItems().size()).arg(list->selectedItems().isEmpty() ? -1 : list->row(list->selectedItems()[0]))));
        QCOMPARE(w->cmdEditPatch->text(), "Edit  " + ModulePatchName(*vm, last + 1));
        QCOMPARE(ModuleCurrentPatch(*vm), last + 1);
        QCOMPARE(w->U220().WorkingAreaEdited(), !c.switches);
        if (c.answer == QMessageBox::Save && c.switches) QVERIFY(QFile::exists(saved));
        QCOMPARE(vm->lostToGap(), uint64_t(0));
    }
    QVERIFY(ui::AppSettings()->value(QLatin1String(frmMain::kDontAskBeforeDroppingEdits)).toBool());
    ui::AppSettings()->remove(QLatin1String(frmMain::kDontAskBeforeDroppingEdits));
}

// Picks made while the names still load (a click, then Down presses, at a real
// module's pace): the list, its highlight, the button and the module all end on
// the newest pick, and stay there while the rest loads.
void tst_Main::browsingWhileTheNamesLoadKeepsListButtonAndModuleTogether() {
    auto vm = std::make_shared<midi::VirtualU220>();
    auto w = MakeRealisticMain(vm, 60);
    QListWidget* list = w->pnameListBox;

    struct Case {
        const char* what;
        std::function<bool()> when;  // starts once this holds
        int click;                   // row clicked first
        int downs;                   // Down presses then, 40 ms apart
    };
    const Case cases[] = {
        {"P-03 clicked with 10 names listed, Down four times", [&] { return list->count() >= 10; }, 2, 4},
        {"P-20 clicked while the timbre names load, Down twice",
         [&] { return list->count() == 64 && !w->U220().MemoryTimbreNameLoaded(40) && !w->PatchChanging(); }, 19, 2},
    };
    // What each case found once its last change was done (the load waits
    // further down the stack meanwhile, so everything runs from timers).
    struct Seen {
        bool started = false, loading = false, done = false;
        int steps = 0;
        size_t logFrom = 0;
        int row = -1, module = 0;
        QList<QListWidgetItem*> selected;
        QString button;
        std::vector<int> sent;
    };
    Seen seen[2];
    size_t at = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (at >= std::size(cases)) return;
        const Case& c = cases[at];
        Seen& s = seen[at];
        if (!s.started) {
            if (!c.when()) return;
            s.started = true;
            s.loading = w->Activating();
            s.logFrom = vm->received().size();
            list->setFocus();
            QTimer::singleShot(0, w.get(), [&, row = c.click] {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCentre(list, row));
                ++s.steps;
            });
            for (int i = 1; i <= c.downs; ++i)
                QTimer::singleShot(40 * i, w.get(), [&] {
                    QTest::keyClick(list, Qt::Key_Down);
                    ++s.steps;
                });
        } else if (!s.done && s.steps == c.downs + 1 && !w->PatchChanging() &&
                   w->U220().LastPatchSent() == c.click + c.downs + 1) {
            s.done = true;
            QTimer::singleShot(30, w.get(), [&] {
                s.row = list->currentRow();
                s.selected = list->selectedItems();
                s.button = w->cmdEditPatch->text();
                s.module = ModuleCurrentPatch(*vm);
                const auto log = vm->received();
                s.sent = ProgramChanges(std::vector<Bytes>(log.begin() + long(s.logFrom), log.end()));
                ++at;
            });
        }
    });
    poll.start(10);
    QVERIFY(w->Load());
    w->show();
    QVERIFY2(WaitFor([&] { return Loaded(*w) && at == std::size(cases); }, 90000),
             qPrintable(QStringLiteral("case %1, started %2, steps %3, done %4, sent %5, list %6")
                            .arg(at).arg(seen[at % 2].started).arg(seen[at % 2].steps).arg(seen[at % 2].done)
                            .arg(w->U220().LastPatchSent()).arg(list->currentRow())));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Seen& s = seen[i];
        const int last = c.click + c.downs;
        QVERIFY2(s.loading, c.what);
        QVERIFY2(s.row == last, qPrintable(QStringLiteral("%1: list on row %2").arg(c.what).arg(s.row)));
        QVERIFY2(s.selected == QList<QListWidgetItem*>{list->item(last)},
                 qPrintable(QStringLiteral("%1: highlighted %2").arg(c.what).arg(s.selected.isEmpty() ? -1 : list->row(s.selected[0]))));
        QCOMPARE(s.button, "Edit  " + ModulePatchName(*vm, last + 1));
        QCOMPARE(s.module, last + 1);
        QVERIFY2(!s.sent.empty() && s.sent.front() == c.click && s.sent.back() == last, c.what);
        QVERIFY2(std::is_sorted(s.sent.begin(), s.sent.end()), c.what);
    }
    // The rest of the load moved nothing.
    QCOMPARE(list->currentRow(), 21);
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(21)});
    QCOMPARE(w->cmdEditPatch->text(), "Edit  " + ModulePatchName(*vm, 22));
    QCOMPARE(ModuleCurrentPatch(*vm), 22);
    QCOMPARE(vm->lostToGap(), uint64_t(0));
}

QTEST_MAIN(tst_Main)
#include "tst_main.moc"
