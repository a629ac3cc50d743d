// MIDI setup dialog against the built-in virtual module.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <QSpinBox>

#include "ui/UiTestSupport.h"
#include "ui/setup/AppSettings.h"
#include "ui/setup/PortChoice.h"
#include "ui/setup/frmMIDISetupForm.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::frmMIDISetupForm;

namespace {

// A MIDI input side with no devices at all.
class NoInputs : public midi::MIDIInput {
public:
    int deviceCount() const override { return 0; }
    std::string deviceName(int) const override { return {}; }
    bool open(int) override { return false; }
    void close() override {}
    bool isOpen() const override { return false; }
    int messageCount() const override { return 0; }
    midi::Bytes receivedMessage() const override { return {}; }
    void discard() override {}
};

QStringList Items(QComboBox* c) {
    QStringList l;
    for (int i = 0; i < c->count(); ++i) l << c->itemText(i);
    return l;
}

bool HasLabel(QWidget& w, const QString& text) {
    for (QLabel* l : w.findChildren<QLabel*>())
        if (l->text() == text) return true;
    return false;
}

}  // namespace

class tst_Setup : public QObject {
    Q_OBJECT
private slots:
    void listsAndDefaults();
    void noInputDevice();
    void silentModuleAsksAndAllowsAnotherTry();
    void cancelEndsEvenDuringTheProbe();
    void remembersTheLastWorkingChoiceByName_data();
    void remembersTheLastWorkingChoiceByName();
    void notRespondingSaysWhatWasAskedInWords();
    void missingPortsAreSaidAndKeptUntilOthersArePicked_data();
    void missingPortsAreSaidAndKeptUntilOthersArePicked();
    void titleSaysWhenTheBuiltInModuleIsConnected();
};

void tst_Setup::listsAndDefaults() {
    VirtualRig rig(false);
    frmMIDISetupForm d(rig.u220());
    QCOMPARE(d.windowTitle(), QStringLiteral("Quorvane / MIDI Setup"));
    // Each label underlines a letter that moves to its field.
    QVERIFY(HasLabel(d, "MIDI &In Device"));
    QVERIFY(HasLabel(d, "MIDI &Out Device"));
    QVERIFY(HasLabel(d, "U-220 &Device ID"));
    QCOMPARE(d.cmdOK->text(), QStringLiteral("Ok"));
    QCOMPARE(d.CmdCancel->text(), QStringLiteral("Cancel"));
    QCOMPARE(d.lblStatus->text(), QString());

    // Output list: device -1 (the virtual module) first, one entry per device.
    const auto& out = *rig.model->MIDIOutput1;
    QCOMPARE(d.ComboMidiOut->count(), out.deviceCount() + 1);
    for (int i = 0; i < d.ComboMidiOut->count(); ++i)
        QCOMPARE(d.ComboMidiOut->itemText(i), QString::fromStdString(out.deviceName(i - 1)));
    QCOMPARE(d.ComboMidiOut->itemText(0), QString::fromLatin1(midi::VirtualU220::kDeviceName));
    QCOMPARE(d.ComboMidiOut->currentIndex(), 0);

    const auto& in = *rig.model->MIDIInput1;
    QCOMPARE(d.ComboMidiIn->count(), in.deviceCount());
    QCOMPARE(d.ComboMidiIn->itemText(0), QString::fromLatin1(midi::VirtualU220::kDeviceName));
    QCOMPARE(d.ComboMidiIn->currentIndex(), 0);
    QVERIFY(d.ComboMidiIn->isEnabled());
    QVERIFY(d.cmdOK->isEnabled());
    if (ScreenshotsWanted()) {
        QVERIFY(ShowAndActivate(d));
        QVERIFY(SaveScreenshot(d, "midi-setup.png"));
        d.hide();
    }

    // Device IDs "1".."32", "17" (byte 16) chosen, written to the model.
    QStringList ids;
    for (int i = 1; i <= 32; ++i) ids << QString::number(i);
    QCOMPARE(Items(d.comboDeviceID), ids);
    QCOMPARE(d.comboDeviceID->currentText(), QStringLiteral("17"));
    QCOMPARE(rig.model->DeviceID(), int16_t(16));

    d.comboDeviceID->setCurrentIndex(3);
    QCOMPARE(rig.model->DeviceID(), int16_t(3));
    QVERIFY(rig.vm->received().empty());  // choosing an ID sends nothing
}

void tst_Setup::noInputDevice() {
    VirtualRig rig(false);
    auto ports = midi::CreatePorts([&](std::function<void()> f) { rig.host.post(std::move(f)); }, rig.vm);
    clsU220 model(rig.host, std::move(ports.output), std::make_unique<NoInputs>());
    frmMIDISetupForm d(model);
    QCOMPARE(d.ComboMidiIn->count(), 0);
    QVERIFY(!d.ComboMidiIn->isEnabled());
    QVERIFY(!d.cmdOK->isEnabled());
    QCOMPARE(d.lblStatus->text(), QStringLiteral("No MIDI In Device is available."));
    QVERIFY(d.CmdCancel->isEnabled());
    d.cmdOK->click();  // disabled: nothing happens
    QVERIFY(rig.vm->received().empty());
    QCOMPARE(d.result(), int(QDialog::Rejected));
}

void tst_Setup::silentModuleAsksAndAllowsAnotherTry() {
    VirtualRig rig(false);
    SetSilent(*rig.vm, true);
    MessageBoxWatcher boxes;
    frmMIDISetupForm d(rig.u220());
    d.show();
    d.cmdOK->click();  // waits a little over 3 s, then the message box
    QCOMPARE(boxes.texts, QStringList{QString::fromLatin1(ui::kNotRespondingText)});
    QCOMPARE(boxes.buttons.at(0).size(), 1);  // OK only
    QVERIFY(d.isVisible());
    QVERIFY(d.result() != QDialog::Accepted);
    QVERIFY(d.cmdOK->isEnabled());
    QCOMPARE(d.lblStatus->text(), QString());

    SetSilent(*rig.vm, false);
    d.cmdOK->click();  // closes and reopens both ports, probes again
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QVERIFY(!d.isVisible());
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(rig.model->MIDIOutput1->isOpen() && rig.model->MIDIInput1->isOpen());
    QVERIFY(rig.model->PatchDataLoaded());  // the probe's answer stays loaded
    for (const auto& m : Requests(rig.vm->received())) QCOMPARE(m.deviceId, uint8_t(16));
}

void tst_Setup::cancelEndsEvenDuringTheProbe() {
    {
        VirtualRig rig(false);
        frmMIDISetupForm d(rig.u220());
        d.show();
        d.close();  // the window frame counts as Cancel
        QCOMPARE(d.result(), int(QDialog::Rejected));
    }
    // Cancel pressed while Ok waits for a silent module: the dialog stays
    // cancelled, and no "not responding" box follows.
    VirtualRig rig(false);
    SetSilent(*rig.vm, true);
    MessageBoxWatcher boxes;
    frmMIDISetupForm d(rig.u220());
    d.show();
    QTimer::singleShot(300, &d, [&] {
        QVERIFY(d.Probing());
        d.cmdOK->click();  // a second Ok during the probe starts nothing
        d.CmdCancel->click();
    });
    d.cmdOK->click();
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(!d.isVisible());
}

void tst_Setup::remembersTheLastWorkingChoiceByName_data() {
    QTest::addColumn<bool>("saved");       // a choice is remembered
    QTest::addColumn<bool>("moved");       // its ports are listed under other numbers now
    QTest::addColumn<bool>("gone");        // its ports are not listed at all
    QTest::addColumn<QString>("inShown");  // what the dialog then selects
    QTest::addColumn<QString>("idShown");
    QTest::addColumn<int>("gapShown");
    const QString builtIn = QString::fromLatin1(midi::VirtualU220::kDeviceName);
    QTest::newRow("nothing remembered") << false << false << false << builtIn << "17" << 20;
    QTest::newRow("same ports, other numbers") << true << true << false << "Interface In" << "5" << 45;
    QTest::newRow("ports gone: the built-in module") << true << false << true << builtIn << "5" << 45;
}

void tst_Setup::remembersTheLastWorkingChoiceByName() {
    QFETCH(bool, saved);
    QFETCH(bool, moved);
    QFETCH(bool, gone);
    QFETCH(QString, inShown);
    QFETCH(QString, idShown);
    QFETCH(int, gapShown);
    ui::AppSettings()->clear();
    auto sys = std::make_shared<NamedMidiSystem>();
    sys->module->withEmulator([](auto& e) {
        e.setDeviceId(4);
        return 0;
    });
    VirtualRig rig(false);
    {
        // A first start: the interface, device ID 5, 45 ms between messages; Ok.
        auto ports = NamedPorts(rig.vm, sys, [&](std::function<void()> f) { rig.host.post(std::move(f)); });
        clsU220 model(rig.host, std::move(ports.output), std::move(ports.input));
        frmMIDISetupForm d(model);
        d.ComboMidiIn->setCurrentIndex(d.ComboMidiIn->findText("Interface In"));
        d.ComboMidiOut->setCurrentIndex(d.ComboMidiOut->findText("Interface Out"));
        d.comboDeviceID->setCurrentIndex(4);
        d.spinSendGap->setValue(45);
        if (!saved) SetSilent(*sys->module, true);  // no answer: nothing is remembered
        MessageBoxWatcher boxes;
        d.show();
        d.cmdOK->click();
        QCOMPARE(d.result(), int(saved ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(model.MIDIOutput1->sendGapMs(), 45);  // the real port keeps the pause chosen
        SetSilent(*sys->module, false);
    }
    if (moved) {
        sys->unplug();
        sys->plugIn(true);  // listed first now
    }
    if (gone) sys->unplug();

    // The next start.
    auto ports = NamedPorts(rig.vm, sys, [&](std::function<void()> f) { rig.host.post(std::move(f)); });
    clsU220 model(rig.host, std::move(ports.output), std::move(ports.input));
    frmMIDISetupForm d(model);
    QCOMPARE(d.ComboMidiIn->currentText(), inShown);
    QCOMPARE(d.ComboMidiOut->currentText(),
             inShown == "Interface In" ? QStringLiteral("Interface Out") : QString::fromLatin1(midi::VirtualU220::kDeviceName));
    QCOMPARE(d.comboDeviceID->currentText(), idShown);
    QCOMPARE(model.DeviceID(), int16_t(idShown.toInt() - 1));
    QCOMPARE(d.spinSendGap->value(), gapShown);
    QCOMPARE(d.spinSendGap->minimum(), 0);
    QCOMPARE(d.spinSendGap->maximum(), 200);
    QVERIFY(HasLabel(d, "&Pause between messages"));
    if (moved) QCOMPARE(d.ComboMidiIn->currentIndex(), 1);  // right after the built-in module
}

// The interface that worked last time is unplugged at the next start: the
// dialog names its ports, offers the built-in module, and Ok on that keeps
// the interface remembered, unless the user picked in the port lists.
void tst_Setup::missingPortsAreSaidAndKeptUntilOthersArePicked_data() {
    QTest::addColumn<bool>("pickIn");   // the user picks the built-in module in the MIDI In list
    QTest::addColumn<bool>("pickOut");  // ... in the MIDI Out list
    QTest::newRow("Ok as offered: both kept") << false << false;
    QTest::newRow("built-in module picked for In: Out kept") << true << false;
    QTest::newRow("built-in module picked for both: both given up") << true << true;
}

void tst_Setup::missingPortsAreSaidAndKeptUntilOthersArePicked() {
    QFETCH(bool, pickIn);
    QFETCH(bool, pickOut);
    ui::AppSettings()->clear();
    ui::PortChoice interface;
    interface.in = "Interface In";
    interface.out = "Interface Out";
    interface.virtualIn = interface.virtualOut = false;
    interface.deviceId = 4;
    ui::SaveLastChoice(interface);
    auto sys = std::make_shared<NamedMidiSystem>();
    sys->unplug();
    VirtualRig rig(false);
    auto ports = NamedPorts(rig.vm, sys, [&](std::function<void()> f) { rig.host.post(std::move(f)); });
    clsU220 model(rig.host, std::move(ports.output), std::move(ports.input));
    frmMIDISetupForm d(model);
    const QString builtIn = QString::fromLatin1(midi::VirtualU220::kDeviceName);
    QCOMPARE(d.ComboMidiIn->currentText(), builtIn);
    QCOMPARE(d.ComboMidiOut->currentText(), builtIn);
    const QString said = d.lblStatus->text();
    QVERIFY2(said.contains("MIDI In \"Interface In\"") && said.contains("MIDI Out \"Interface Out\"") &&
                 said.contains("built-in U-220 is selected"),
             qPrintable(said));
    if (pickIn) emit d.ComboMidiIn->activated(0);
    if (pickOut) emit d.ComboMidiOut->activated(0);
    d.comboDeviceID->setCurrentIndex(16);  // the built-in module answers as "17"
    d.show();
    d.cmdOK->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    const ui::PortChoice kept = ui::LoadLastChoice();
    QCOMPARE(kept.virtualIn, pickIn);
    QCOMPARE(kept.in, pickIn ? QString() : QString("Interface In"));
    QCOMPARE(kept.virtualOut, pickOut);
    QCOMPARE(kept.out, pickOut ? QString() : QString("Interface Out"));
    QCOMPARE(kept.deviceId, 16);  // what was chosen besides the ports is remembered

    // Plugged in again: the next start offers what was kept, and says nothing.
    sys->plugIn();
    frmMIDISetupForm again(model);
    QCOMPARE(again.ComboMidiIn->currentText(), pickIn ? builtIn : QString("Interface In"));
    QCOMPARE(again.ComboMidiOut->currentText(), pickOut ? builtIn : QString("Interface Out"));
    QCOMPARE(again.lblStatus->text(), QString());
}

// The main window's title says when the built-in module is connected, and
// no longer once the module's own ports are chosen from File > MIDI Setup.
void tst_Setup::titleSaysWhenTheBuiltInModuleIsConnected() {
    ui::AppSettings()->clear();
    auto sys = std::make_shared<NamedMidiSystem>();
    sys->module->withEmulator([](auto& e) {
        e.setDeviceId(16);
        return 0;
    });
    ui::frmMainOptions o;
    o.runSetup = [](frmMIDISetupForm& d) {
        d.cmdOK->click();
        return d.result();
    };
    o.runSetupAgain = [](frmMIDISetupForm& d) {
        for (QComboBox* c : {d.ComboMidiIn, d.ComboMidiOut}) {
            const int i = c->findText(c == d.ComboMidiIn ? "Interface In" : "Interface Out");
            c->setCurrentIndex(i);
            emit c->activated(i);
        }
        d.cmdOK->click();
        return d.result();
    };
    ui::frmMain w(VirtualRoot(nullptr, [sys](std::shared_ptr<midi::VirtualU220> vm, midi::PostFn post) {
        return NamedPorts(std::move(vm), sys, std::move(post));
    }), o);
    QVERIFY(w.Load());
    QCOMPARE(w.windowTitle(), QString::fromUtf8("Quorvane \u2014 virtual U-220"));
    QVERIFY(WaitFor([&] { return !w.Activating(); }, 60000));
    w.mnuFileMIDISetup->trigger();
    QCOMPARE(w.windowTitle(), QString("Quorvane"));
    QCOMPARE(ui::LoadLastChoice().in, QString("Interface In"));
}

// Every kind of request the model makes, left unanswered: the model hands the
// window the kind, and the advice under the box's first line words it.
void tst_Setup::notRespondingSaysWhatWasAskedInWords() {
    struct Case {
        const char* words;
        std::function<void(clsU220&)> prepare;  // runs while the module still answers
        std::function<void(clsU220&)> ask;
    };
    const auto none = [](clsU220&) {};
    const Case cases[] = {
        {"the master setup", none, [](clsU220& m) { m.MasterSetupLCD(); }},
        {"the patch being edited", none, [](clsU220& m) { m.PatchCommonPatchName(); }},
        {"the timbres of the patch being edited", none, [](clsU220& m) { m.TimbreTimbreName(2); }},
        {"the rhythm setup", none, [](clsU220& m) { m.RhythmSeupCommonSetupName(); }},
        {"a rhythm instrument", none, [](clsU220& m) { m.RhythmSetupInstInstLevel(35); }},
        {"a patch name", none, [](clsU220& m) { m.MemoryPatchName(7); }},
        {"a timbre name", none, [](clsU220& m) { m.MemoryTimbreName(9); }},
        {"a rhythm setup name", none, [](clsU220& m) { m.MemoryRhythmName(3); }},
        // The Rx channel and the name to compare with are read first.
        {"the confirmation of a patch change", [](clsU220& m) { m.MasterSetupLCD(), m.MemoryPatchName(4); },
         [](clsU220& m) { m.PatchChange(4); }},
        {"memory data", none, [](clsU220& m) {
             Bytes out;
             m.ReadRange(PatchMemoryAddress(2), 24, out);
         }},
    };
    for (const Case& c : cases) {
        VirtualRig rig;
        c.prepare(rig.u220());
        rig.u220().RequestTimeout = std::chrono::milliseconds(50);
        SetSilent(*rig.vm, true);
        QStringList advice;
        rig.u220().OnNotResponding = [&](RequestKind what) {
            advice << ui::NotRespondingAdvice(ui::PortChoice{}, what);
            return false;
        };
        c.ask(rig.u220());
        QVERIFY2(!advice.isEmpty(), c.words);
        const QString expected = QStringLiteral("No answer came to the request for %1.\n").arg(QLatin1String(c.words));
        QVERIFY2(advice.first().startsWith(expected), qPrintable(expected + " | " + advice.first()));
        QVERIFY(!advice.join(' ').contains(QLatin1String("Pacth")));
    }
}

QTEST_MAIN(tst_Setup)
#include "tst_setup.moc"
