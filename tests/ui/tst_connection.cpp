// Main window and its connection to the module: a load that stopped and the
// Reload command, the setup dialog opened again to switch ports or device ID,
// ports that vanish and come back, the "not responding" box's advice, window
// places remembered, and (on a JACK server of its own, when jackd is there) the
// real MIDI system: a simulator restarted and a server stopped under the editor.
#include <QAction>
#include <QFileInfo>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>

#include "device/NameCodec.h"
#include "ui/UiTestSupport.h"
#include "ui/main/Connection.h"
#include "ui/main/WindowPlacement.h"
#include "ui/main/frmMain.h"
#include "ui/setup/AppSettings.h"
#include "ui/setup/frmMIDISetupForm.h"

using namespace quorvane;
using namespace quorvane::test;
using quorvane::ui::frmMain;
using quorvane::ui::frmMainOptions;
using quorvane::ui::frmMIDISetupForm;
namespace texts = quorvane::ui::texts;

namespace {

QString ModulePatchName(midi::VirtualU220& vm, int n) {
    const Bytes b = vm.withEmulator([n](auto& e) { return e.read(PatchMemoryAddress(n), 24); });
    return QString::fromStdString(NameBytesToUtf8(DecodeName(b.data())));
}

void RenamePatch(midi::VirtualU220& vm, int n, const std::string& name) {
    vm.withEmulator([&](auto& e) {
        const Bytes nibbles = EncodeName(name);
        for (size_t i = 0; i < nibbles.size(); ++i) e.poke(PatchMemoryAddress(n).plus(static_cast<int>(i)), nibbles[i]);
        return 0;
    });
}

// Requests for memory names (24 bytes in the timbre, patch or rhythm memories)
// sent to `vm`; the working patch's name read after a patch change is not one.
int NameRequests(midi::VirtualU220& vm) {
    int n = 0;
    for (const auto& r : Requests(vm.received()))
        n += r.size == 24 && (r.address.a1 == 0x02 || r.address.a1 == 0x03 || r.address.a1 == 0x05);
    return n;
}

void Select(QComboBox* c, const QString& text) {
    const int i = c->findText(text);
    QVERIFY2(i >= 0, qPrintable(text));
    c->setCurrentIndex(i);
}

// A main window whose model reaches the built-in module `vm` and the named
// system `sys`. The setup dialog is answered by `choose` (if set), then Ok.
// Every message box is answered by `decide` (default: its default button);
// the informative text of each is kept.
// A MIDI system the test stops, starts and makes drop our client.
struct SystemState {
    uint64_t failures = 0;
    bool running = true;
};
class StandInSystem : public midi::MidiSystem {
public:
    explicit StandInSystem(std::shared_ptr<SystemState> s) : s_(std::move(s)) {}
    uint64_t failures() const override { return s_->failures; }
    bool running(const std::string&) const override { return s_->running; }
    std::string name(const std::string&) const override { return "Stand-in"; }
    std::string aboutText() const override { return "Stand-in MIDI"; }

private:
    std::shared_ptr<SystemState> s_;
};

struct Rig {
    std::shared_ptr<midi::VirtualU220> vm = std::make_shared<midi::VirtualU220>();
    std::shared_ptr<NamedMidiSystem> sys = std::make_shared<NamedMidiSystem>();
    // Null: the machine's MIDI system judges.
    std::shared_ptr<SystemState> system;
    std::function<void(frmMIDISetupForm&)> choose;
    MessageBoxWatcher::Decider decide;
    QStringList advice;
    MessageBoxWatcher boxes{[this](QMessageBox& b) {
        advice << b.informativeText();
        return decide ? decide(b) : QMessageBox::NoButton;
    }};
    std::unique_ptr<frmMain> w;

    explicit Rig(std::shared_ptr<SystemState> standIn = nullptr) : system(std::move(standIn)) {
        frmMainOptions o;
        o.runSetup = [this](frmMIDISetupForm& d) {
            if (choose) choose(d);
            d.cmdOK->click();
            return d.result();
        };
        o.runSetupAgain = o.runSetup;
        w = std::make_unique<frmMain>(VirtualRoot(vm, [s = sys](std::shared_ptr<midi::VirtualU220> v, midi::PostFn post) {
            return NamedPorts(std::move(v), s, std::move(post));
        }, system ? std::make_unique<StandInSystem>(system) : nullptr), o);
        w->Connection().setInterval(50);
    }
    clsU220& model() { return w->U220(); }
    bool loaded() { return w->cmdEditPatch->isVisible() && !w->Activating(); }
    bool start() {
        if (!w->Load()) return false;
        w->show();
        return WaitFor([&] { return loaded(); }, 60000);
    }
    QString status() { return w->StatusLabel()->isVisible() ? w->StatusLabel()->text() : QString(); }
};

void ChooseInterface(frmMIDISetupForm& d, const QString& id) {
    Select(d.ComboMidiIn, "Interface In");
    Select(d.ComboMidiOut, "Interface Out");
    Select(d.comboDeviceID, id);
}

}  // namespace

class tst_Connection : public QObject {
    Q_OBJECT
private slots:
    void init() {
        ui::AppSettings()->clear();
    }
    void reloadAfterAStoppedLoadCompletesTheList_data();
    void reloadAfterAStoppedLoadCompletesTheList();
    void setupAgainSwitchesPortsOrGoesBack();
    void vanishedPortsAreReconnected_data();
    void vanishedPortsAreReconnected();
    void windowPlacesAreRememberedOnScreen();
    void jackSimulatorRestartAndServerStop();
    void aStoppedSystemIsToldOnceAndADroppedClientReconnects();
    void aReconnectAndReloadReadTheModuleAgain();
};

void tst_Connection::reloadAfterAStoppedLoadCompletesTheList_data() {
    QTest::addColumn<int>("stopAfter");  // names stored before the module falls silent
    QTest::addColumn<bool>("paced");     // the module at a cable's pace, 20 ms between messages
    QTest::addColumn<QString>("asked");  // what the box says went unanswered
    QTest::newRow("in the patch names") << 20 << false << "a patch name";
    QTest::newRow("in the timbre names, at a module's pace") << 64 + 30 << true << "a timbre name";
}

void tst_Connection::reloadAfterAStoppedLoadCompletesTheList() {
    QFETCH(int, stopAfter);
    QFETCH(bool, paced);
    QFETCH(QString, asked);
    Rig rig;
    rig.decide = [](QMessageBox&) { return QMessageBox::Cancel; };
    if (paced) {
        rig.vm->withEmulator([](auto& e) {
            emulator::WireModel wire;
            wire.enabled = true;
            wire.answerDelayMs = 40;
            wire.minGapMs = 20;
            e.setWireModel(wire);
            return 0;
        });
        rig.choose = [&](frmMIDISetupForm&) { rig.model().MIDIOutput1->setSendGapMs(20); };
    }
    int stored = 0;
    for (auto* hook : {&rig.model().MemoryPatchNameOneReceived, &rig.model().MemoryTimbreNameOneReceived}) {
        *hook = [&, original = *hook] {
            original();
            if (++stored == stopAfter) {
                rig.model().RequestTimeout = std::chrono::milliseconds(300);
                SetSilent(*rig.vm, true);
            }
        };
    }
    QVERIFY(rig.w->Load());
    rig.w->show();
    const int width = rig.w->width();
    QVERIFY(WaitFor([&] { return rig.w->ActivationCount() == 1 && !rig.w->Activating(); }, 60000));

    // Stopped: a line that says so and how to go on; no bar left behind.
    QCOMPARE(rig.boxes.texts, QStringList{QString::fromLatin1(ui::kNotRespondingText)});
    QVERIFY2(rig.advice.value(0).contains(asked), qPrintable(rig.advice.value(0)));
    for (const char* check : {"cables", "device ID", "System Exclusive", "17"})
        QVERIFY2(rig.advice.value(0).contains(QLatin1String(check)), check);
    QCOMPARE(rig.status(), texts::LoadStopped());
    QVERIFY(rig.status().contains("Reload"));
    QVERIFY(!rig.w->ProgressBar()->isVisible());
    QVERIFY(!rig.w->cmdEditPatch->isVisible());
    QCOMPARE(rig.w->pnameListBox->count(), std::min(stopAfter, 64));
    QVERIFY(rig.w->mnuFileReload->isEnabled());
    QCOMPARE(rig.w->mnuFileReload->shortcut(), QKeySequence(QKeySequence::Refresh));
    // The line fits the window as it was laid out: it wraps, it does not widen it.
    QCOMPARE(rig.w->width(), width);
    if (!paced) QVERIFY(SaveScreenshot(*rig.w, "main-window-load-stopped.png"));

    // Reload loads the rest: each name asked once more only where it was lost.
    SetSilent(*rig.vm, false);
    rig.model().RequestTimeout = std::chrono::milliseconds(3000);
    rig.w->mnuFileReload->trigger();
    QVERIFY(WaitFor([&] { return rig.loaded(); }, 60000));
    QCOMPARE(rig.w->pnameListBox->count(), 64);
    QSet<QString> entries;
    for (int i = 0; i < 64; ++i) {
        const QString entry = rig.w->pnameListBox->item(i)->text();
        QCOMPARE(entry, QStringLiteral("P-%1   ").arg(i + 1, 2, 10, QLatin1Char('0')) + ModulePatchName(*rig.vm, i + 1));
        entries.insert(entry);
    }
    QCOMPARE(entries.size(), 64);
    QCOMPARE(NameRequests(*rig.vm), 64 + 128 + 4 + 1);
    QCOMPARE(ProgramChanges(rig.vm->received()), std::vector<int>{0});
    QCOMPARE(rig.status(), QString());
    QVERIFY(!rig.w->ProgressBar()->isVisible());
    QCOMPARE(rig.boxes.texts.size(), 1);
}

void tst_Connection::setupAgainSwitchesPortsOrGoesBack() {
    Rig rig;
    rig.sys->module->withEmulator([](auto& e) {
        e.setDeviceId(4);  // shown as "5"
        return 0;
    });
    RenamePatch(*rig.sys->module, 1, "Other Module");
    QVERIFY(rig.start());
    QCOMPARE(rig.w->pnameListBox->item(0)->text(), "P-01   " + ModulePatchName(*rig.vm, 1));
    QVERIFY(!rig.w->Connection().checking());  // the built-in module needs no watching

    // File > MIDI Setup...: the interface's ports and device ID 5.
    rig.choose = [](frmMIDISetupForm& d) { ChooseInterface(d, "5"); };
    QVERIFY(rig.w->mnuFileMIDISetup->isEnabled());
    rig.w->mnuFileMIDISetup->trigger();
    QVERIFY(WaitFor([&] { return rig.loaded(); }, 60000));
    QCOMPARE(rig.model().DeviceID(), int16_t(4));
    QCOMPARE(rig.w->pnameListBox->count(), 64);
    QCOMPARE(rig.w->pnameListBox->item(0)->text(), QStringLiteral("P-01   Other Module"));
    QCOMPARE(rig.w->cmdEditPatch->text(), QStringLiteral("Edit  Other Module"));
    QCOMPARE(NameRequests(*rig.sys->module), 64 + 128 + 4);  // every name from the new module
    for (const auto& r : Requests(rig.sys->module->received())) QCOMPARE(r.deviceId, uint8_t(4));
    QCOMPARE(ProgramChanges(rig.sys->module->received()), std::vector<int>{0});
    QVERIFY(rig.w->MasterSetupFrame->isEnabled());
    QVERIFY(rig.w->Connection().checking());
    QCOMPARE(rig.w->Connection().connection().out, QStringLiteral("Interface Out"));
    QVERIFY(rig.boxes.texts.isEmpty());

    // Again, with a device ID the module does not answer to: Ok finds nothing,
    // the user cancels, and the model is back on the interface with ID 5.
    rig.choose = [](frmMIDISetupForm& d) {
        Select(d.ComboMidiIn, QString::fromLatin1(midi::VirtualU220::kDeviceName));
        Select(d.ComboMidiOut, "Thru Out");
        Select(d.comboDeviceID, "9");
    };
    const size_t before = rig.sys->module->received().size();
    rig.w->mnuFileMIDISetup->trigger();
    QCOMPARE(rig.boxes.texts, QStringList{QString::fromLatin1(ui::kNotRespondingText)});
    QCOMPARE(rig.model().DeviceID(), int16_t(4));
    QCOMPARE(rig.w->pnameListBox->count(), 64);  // nothing forgotten
    QVERIFY(rig.model().Responding());
    // That check went to the interface, with its device ID.
    const auto after = rig.sys->module->received();
    const auto asked = Requests(std::vector<Bytes>(after.begin() + static_cast<long>(before), after.end()));
    QVERIFY(!asked.empty());
    for (const auto& r : asked) QCOMPARE(r.deviceId, uint8_t(4));
    QCOMPARE(rig.w->Connection().connection().out, QStringLiteral("Interface Out"));
}

void tst_Connection::vanishedPortsAreReconnected_data() {
    QTest::addColumn<bool>("quick");  // restarted between two looks at the lists
    QTest::newRow("unplugged, plugged in again at another number") << false;
    QTest::newRow("restarted quickly: Retry reconnects") << true;
}

void tst_Connection::vanishedPortsAreReconnected() {
    QFETCH(bool, quick);
    Rig rig;
    rig.choose = [](frmMIDISetupForm& d) { ChooseInterface(d, "17"); };
    QVERIFY(rig.start());
    QVERIFY(rig.w->Connection().checking());
    const int opens = rig.sys->opens;
    const int width = rig.w->width();

    if (!quick) {
        rig.sys->unplug();
        QVERIFY(WaitFor([&] { return rig.w->Connection().portsGone(); }, 5000));
        QCOMPARE(rig.status(), texts::PortGone({"Interface In", "Interface Out"}));
        QCOMPARE(rig.w->width(), width);  // a long line wraps
        QVERIFY(rig.status().contains("\"Interface Out\" are gone"));
        rig.sys->plugIn();  // listed first now: found by name
        QVERIFY(WaitFor([&] { return !rig.w->Connection().portsGone(); }, 5000));
        QCOMPARE(rig.status(), QStringLiteral("Reconnected to MIDI In \"Interface In\" and MIDI Out \"Interface Out\"."));
        QCOMPARE(rig.sys->opens, opens + 2);
        QVERIFY(rig.boxes.texts.isEmpty());
    } else {
        rig.sys->restart();
        rig.decide = [](QMessageBox&) { return QMessageBox::Retry; };
        rig.model().RequestTimeout = std::chrono::milliseconds(300);
    }
    // The module answers on the reopened ports: a read of the patch data.
    rig.model().InvalidateAll();
    const int16_t level = rig.model().PatchPartLevel(1);
    QVERIFY(rig.model().PatchDataLoaded());
    QCOMPARE(level, rig.model().PatchPartLevel(1));
    QCOMPARE(rig.boxes.texts.size(), quick ? 1 : 0);
    QCOMPARE(rig.sys->opens, opens + 2);
}

void tst_Connection::windowPlacesAreRememberedOnScreen() {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        QPoint movedTo;
        bool onScreen;
    };
    const Case cases[] = {{area.topLeft() + QPoint(37, 41), true}, {area.bottomRight() + QPoint(500, 400), false}};
    for (const Case& c : cases) {
        ui::AppSettings()->clear();
        {
            Rig first;
            first.decide = [](QMessageBox&) { return QMessageBox::Cancel; };
            first.w->show();
            QVERIFY(QTest::qWaitForWindowExposed(first.w.get()));
            first.w->move(c.movedTo);
            QTest::qWait(50);
            first.w->close();
        }
        Rig second;
        second.decide = [](QMessageBox&) { return QMessageBox::Cancel; };  // no ports open: no module
        second.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(second.w.get()));
        const QRect frame = second.w->frameGeometry();
        if (c.onScreen) QCOMPARE(frame.topLeft(), c.movedTo);
        else QVERIFY2(area.contains(frame.topLeft()), qPrintable(QStringLiteral("%1,%2").arg(frame.x()).arg(frame.y())));
        second.w->close();
    }
}

namespace {

// A JACK server of this test's own (dummy driver) and the simulator on it.
// Processes are ended by their own handles only.
class JackBench {
public:
    JackBench() : server_(QStringLiteral("quorvane-tst-%1").arg(QCoreApplication::applicationPid())) {
        qputenv("JACK_DEFAULT_SERVER", server_.toLocal8Bit());
        qputenv("JACK_NO_START_SERVER", "1");
        qputenv("JACK_NO_AUDIO_RESERVATION", "1");
        const QString here = QCoreApplication::applicationDirPath();
        sim_ = qEnvironmentVariable("QUORVANE_U220SIM", here + "/../tools/quorvane-u220sim/quorvane-u220sim");
        jackd_ = QStandardPaths::findExecutable(QStringLiteral("jackd"));
    }
    ~JackBench() {
        stop(simulator_);
        stop(server);
    }
    bool usable() const { return !jackd_.isEmpty() && QFileInfo(sim_).isExecutable(); }

    bool startServer() {
        server.setProgram(jackd_);
        server.setArguments({"-n", server_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "512"});
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start();
        return server.waitForStarted(10000);
    }
    // Starts the simulator (retrying while the server comes up) at a module's pace.
    bool startSimulator() {
        for (int attempt = 0; attempt < 40; ++attempt) {
            simulator_.setProgram(sim_);
            // At a cable's pace, losing what comes closer than 20 ms. The
            // answer delay can be raised to a real module's 400 ms by hand
            // (QUORVANE_TEST_ANSWER_DELAY_MS); the suite keeps it short.
            const QString delay = qEnvironmentVariable("QUORVANE_TEST_ANSWER_DELAY_MS", QStringLiteral("5"));
            simulator_.setArguments(
                {"--api", "jack", "--wire", "--min-gap-ms", "20", "--answer-delay-ms", delay});
            simulator_.start();
            if (!simulator_.waitForStarted(10000)) return false;
            const bool ready = WaitFor(
                [&] {
                    return simulator_.state() != QProcess::Running ||
                           simulator_.readAllStandardOutput().contains("ready");
                },
                10000);
            if (ready && simulator_.state() == QProcess::Running) return true;
            simulator_.waitForFinished(2000);
            QTest::qWait(250);
        }
        return false;
    }
    void stopSimulator() { stop(simulator_); }
    void stopServer() { stop(server); }

    QProcess server;

private:
    static void stop(QProcess& p) {
        if (p.state() == QProcess::NotRunning) return;
        p.terminate();
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(5000);
        }
    }
    QString server_, sim_, jackd_;
    QProcess simulator_;
};

}  // namespace

void tst_Connection::jackSimulatorRestartAndServerStop() {
    JackBench bench;
    if (!bench.usable()) QSKIP("jackd or the simulator is not there");
    QVERIFY(bench.startServer());
    QVERIFY(bench.startSimulator());

    QStringList seen;  // every status line, in order
    // A request lost on a busy machine is asked again, as a user would.
    MessageBoxWatcher::Decider decide = [](QMessageBox& b) {
        for (QMessageBox::StandardButton x : {QMessageBox::Close, QMessageBox::Retry})
            if (b.button(x)) return x;
        return QMessageBox::NoButton;
    };
    QList<QStringList> offered;
    MessageBoxWatcher boxes([&](QMessageBox& b) {
        QStringList caps;
        for (QAbstractButton* x : b.buttons()) caps << x->text();
        offered << caps;
        return decide(b);
    });
    frmMainOptions o;
    o.runSetup = [](frmMIDISetupForm& d) {
        for (QComboBox* c : {d.ComboMidiIn, d.ComboMidiOut}) {
            const QString want = c == d.ComboMidiIn ? QStringLiteral("u220sim-out:out") : QStringLiteral("u220sim:in");
            for (int i = 0; i < c->count(); ++i)
                if (c->itemText(i).endsWith(want)) c->setCurrentIndex(i);
        }
        d.cmdOK->click();
        return d.result();
    };
    auto w = std::make_unique<frmMain>(VirtualRoot(), o);
    w->Connection().setInterval(200);
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        const QString t = w->StatusLabel()->isVisible() ? w->StatusLabel()->text() : QString();
        if (!t.isEmpty() && (seen.isEmpty() || seen.back() != t)) seen << t;
    });
    watch.start(20);
    QVERIFY(w->Load());
    QVERIFY(w->Connection().connection().real());
    w->show();
    QVERIFY2(WaitFor([&] { return w->cmdEditPatch->isVisible() && !w->Activating(); }, 600000),
             qPrintable(boxes.texts.join('|') + " / " + seen.join('|')));
    const qsizetype retries = boxes.texts.size();

    auto readsAgain = [&] {
        w->U220().InvalidateAll();
        w->U220().PatchPartLevel(1);
        return w->U220().PatchDataLoaded();
    };
    auto said = [&](const QString& part) {
        return WaitFor([&] { return !seen.isEmpty() && seen.back().contains(part); }, 20000);
    };

    // The simulator goes away and comes back under the same names.
    bench.stopSimulator();
    QVERIFY2(said("gone. Quorvane reconnects"), qPrintable(seen.join('|')));
    QVERIFY(bench.startSimulator());
    QVERIFY2(said("Reconnected to"), qPrintable(seen.join('|')));
    QVERIFY(readsAgain());
    QCOMPARE(boxes.texts.size(), retries);

    // The server stops: the window stays, says so and offers the setup dialog.
    bench.stopSimulator();
    bench.stopServer();
    QVERIFY2(said("MIDI system"), qPrintable(seen.join('|')));
    QVERIFY(seen.back().contains("JACK"));
    QVERIFY(w->isVisible());
    QVERIFY(WaitFor([&] { return !offered.isEmpty(); }, 10000));
    QVERIFY2(offered.back().contains("&MIDI Setup..."), qPrintable(offered.back().join('|')));

    // A server and a simulator again: connected again, answering.
    QVERIFY(bench.startServer());
    QVERIFY(bench.startSimulator());
    QVERIFY2(said("Reconnected to"), qPrintable(seen.join('|')));
    QVERIFY(readsAgain());
    w->close();
}

// A module that was away (switched off and on: another patch, another master
// setup) is read again when its ports come back, and again on File > Reload:
// the master setup and the working patch's name, not the memory names. The
// list goes where the module is, and a pick of the patch it was on before goes
// out again. The module answers at a real module's pace (the named ports of
// this rig keep no gap of their own, so the wire's gap is not modelled).
void tst_Connection::aReconnectAndReloadReadTheModuleAgain() {
    Rig rig;
    SetAnswerDelay(*rig.sys->module, 5);
    rig.choose = [](frmMIDISetupForm& d) { ChooseInterface(d, "17"); };
    QVERIFY(rig.start());
    SetAnswerDelay(*rig.sys->module, kRealAnswerDelayMs);
    auto idle = [&] {
        return !rig.w->Activating() && !rig.w->PatchChanging() && !rig.model().RequestOpen() &&
               rig.model().RequestsQueued() == 0;
    };
    rig.w->pnameListBox->setCurrentRow(4);
    QVERIFY(WaitFor(idle, 20000));

    // The module behind the ports: switched to another patch, its LCD contrast changed.
    auto changeModule = [&](int patch, int lcd) {
        rig.sys->module->withEmulator([&](auto& e) {
            e.receive({uint8_t(0xC0 + e.rxChannel()), uint8_t(patch - 1)});
            e.poke(Address{0, 0, 2}, uint8_t(lcd));
            return 0;
        });
    };
    struct Case {
        const char* what;
        std::function<void()> act;
        int patch, lcd;
    };
    const Case cases[] = {
        {"unplugged, switched off and on, plugged in again",
         [&] {
             rig.sys->unplug();
             QVERIFY(WaitFor([&] { return rig.w->Connection().portsGone(); }, 5000));
             changeModule(12, 11);
             rig.sys->module->clearReceived();
             rig.sys->plugIn();
             QVERIFY(WaitFor([&] { return rig.status().startsWith("Reconnected"); }, 5000));
         },
         12, 11},
        {"File > Reload", [&] {
             changeModule(20, 3);
             rig.sys->module->clearReceived();
             rig.w->mnuFileReload->trigger();
         },
         20, 3},
    };
    for (const Case& c : cases) {
        c.act();
        QVERIFY2(WaitFor(idle, 30000), c.what);
        const auto requests = Requests(rig.sys->module->received());
        int master = 0, working = 0, names = 0;
        for (const auto& r : requests) {
            master += r.address == Address{0, 0, 0};
            working += r.address.a1 == 0x10;
            names += r.size == 24 && r.address.a1 != 0x10;
        }
        QVERIFY2(master == 1 && working >= 1 && names == 0,
                 qPrintable(QStringLiteral("%1: %2 master setup, %3 working patch, %4 name requests").arg(c.what).arg(master).arg(working).arg(names)));
        QVERIFY2(ProgramChanges(rig.sys->module->received()).empty(), c.what);
        QCOMPARE(rig.w->LCDCombo->currentIndex(), c.lcd);
        QCOMPARE(rig.w->pnameListBox->currentRow(), c.patch - 1);
        QCOMPARE(rig.w->cmdEditPatch->text(), "Edit  " + ModulePatchName(*rig.sys->module, c.patch));
    }
    // P-05, where the editor last sent the module, is sent again.
    rig.sys->module->clearReceived();
    rig.w->pnameListBox->setCurrentRow(4);
    QVERIFY(WaitFor(idle, 20000));
    QCOMPARE(ProgramChanges(rig.sys->module->received()), std::vector<int>{4});
    QCOMPARE(rig.sys->module->withEmulator([](auto& e) { return e.currentPatch(); }), 5);
    QVERIFY2(rig.boxes.texts.isEmpty(), qPrintable(rig.boxes.texts.join('|')));
}

// The keeper asks the MIDI system it was handed: a stop is told once with the
// system's name (the ports gone with it), the ports back reconnect, and a
// failure while the system runs and the ports are listed is a dropped client,
// reopened at once.
void tst_Connection::aStoppedSystemIsToldOnceAndADroppedClientReconnects() {
    auto state = std::make_shared<SystemState>();
    Rig rig(state);
    rig.choose = [](frmMIDISetupForm& d) { ChooseInterface(d, "17"); };
    int stopBoxes = 0;
    rig.decide = [&](QMessageBox& b) {
        if (b.text() == texts::MidiSystemStopped(QStringLiteral("Stand-in"))) ++stopBoxes;
        return QMessageBox::Close;
    };
    QVERIFY(rig.start());
    const int opens = rig.sys->opens;

    state->running = false;
    ++state->failures;
    rig.sys->unplug();
    QVERIFY(WaitFor([&] { return rig.w->Connection().systemStopped(); }, 5000));
    QCOMPARE(rig.status(), texts::MidiSystemStopped(QStringLiteral("Stand-in")));
    ++state->failures;  // its clients keep failing while it is down: still told once
    QTest::qWait(200);
    QCOMPARE(stopBoxes, 1);
    QCOMPARE(rig.sys->opens, opens);

    state->running = true;
    rig.sys->plugIn(false);
    QVERIFY(WaitFor([&] { return !rig.w->Connection().portsGone(); }, 5000));
    QCOMPARE(rig.status(), texts::Reconnected(rig.w->Connection().connection()));
    QCOMPARE(rig.sys->opens, opens + 2);

    ++state->failures;
    rig.sys->restart();  // the names stay listed, the connections broke
    QVERIFY(WaitFor([&] { return rig.sys->opens == opens + 4; }, 5000));
    QCOMPARE(rig.status(), texts::ClientDropped(rig.w->Connection().connection()));
    QVERIFY(!rig.w->Connection().systemStopped());
    // The module answers on the reopened ports.
    rig.model().InvalidateAll();
    const int16_t level = rig.model().PatchPartLevel(1);
    QVERIFY(rig.model().PatchDataLoaded());
    QCOMPARE(level, rig.model().PatchPartLevel(1));
    QCOMPARE(stopBoxes, 1);
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
