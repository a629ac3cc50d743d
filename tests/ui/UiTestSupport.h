// Shared helpers for the window tests: a model on the built-in virtual module,
// a small MainContext for editor windows, views of what the module received,
// and a watcher that answers message boxes as they appear.
//
// Header-only. Additive changes only: several test programs include it.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Composition.h"
#include "device/Protocol.h"
#include "device/clsU220.h"
#include "emulator/VirtualU220.h"
#include "ports/PortSet.h"
#include "ui/common/MainContext.h"
#include "ui/common/QtHost.h"
#include "ui/main/frmMain.h"
#include "ui/setup/frmMIDISetupForm.h"

namespace quorvane::test {

using Bytes = std::vector<uint8_t>;

// What a main window is built on, as the program builds it: the virtual module
// `vm` (a new one when null) beside the machine's ports, or beside the stand-in
// ports `makePorts` makes; `system` stands in for the machine's MIDI system.
inline ui::MainParts VirtualRoot(std::shared_ptr<midi::VirtualU220> vm = nullptr, app::PortFactory makePorts = {},
                                 std::unique_ptr<midi::MidiSystem> system = nullptr) {
    return app::BuildMainParts(std::move(vm), std::move(makePorts), std::move(system));
}

// Window tests never read or write the user's settings: each test program
// starts with none, in a folder of its own that goes when it ends.
inline QTemporaryDir& TestSettingsDir() {
    static QTemporaryDir dir;
    return dir;
}
// Nor the user's data folder (the journal of overwritten memories): it is a
// temporary folder of the test program's own.
inline QTemporaryDir& TestDataDir() {
    static QTemporaryDir dir;
    return dir;
}
inline const bool kPrivateSettings = [] {
    qputenv("QUORVANE_DATA_DIR", TestDataDir().path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    for (QSettings::Format f : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(f, QSettings::UserScope, TestSettingsDir().path());
    return true;
}();

// A model connected to the built-in virtual module, both ports open.
// Members are destroyed in reverse order: the model (closing its ports) before
// the host it waits on.
struct VirtualRig {
    std::shared_ptr<midi::VirtualU220> vm = std::make_shared<midi::VirtualU220>();
    ui::QtHost host;
    std::unique_ptr<clsU220> model;

    explicit VirtualRig(bool openPorts = true) {
        auto ports = midi::CreatePorts([this](std::function<void()> f) { host.post(std::move(f)); }, vm);
        model = std::make_unique<clsU220>(host, std::move(ports.output), std::move(ports.input));
        if (openPorts) {
            model->MIDIOutput1->open(-1);
            model->MIDIInput1->open(0);
        }
    }
    clsU220& u220() { return *model; }
};

// A stand-in for the main window for editor tests: a status label, a progress
// bar and a selected patch index.
class TestContext : public ui::MainContext {
public:
    explicit TestContext(clsU220& model) : model_(model) {
        progress_.setRange(0, 100);
    }
    clsU220& U220() override { return model_; }
    QLabel* StatusLabel() override { return &status_; }
    QProgressBar* ProgressBar() override { return &progress_; }
    int SelectedPatchIndex() const override { return selectedPatch; }

    int selectedPatch = 0;  // 0-based, -1 for none

private:
    clsU220& model_;
    QLabel status_;
    QProgressBar progress_;
};

// ---- what the module received ----------------------------------------------

inline bool IsProgramChange(const Bytes& m) { return m.size() == 2 && (m[0] & 0xF0) == 0xC0; }

inline bool IsCommand(const Bytes& m, uint8_t command) {
    return m.size() > 5 && m[0] == sysex::kStart && m[1] == sysex::kManufacturer && m[3] == sysex::kModel &&
           m[4] == command;
}

// Data bytes of every Program Change, in order.
inline std::vector<int> ProgramChanges(const std::vector<Bytes>& log) {
    std::vector<int> out;
    for (const auto& m : log)
        if (IsProgramChange(m)) out.push_back(m[1]);
    return out;
}

// Every well-formed message with the given command (sysex::kRQ1 / kDT1), parsed.
inline std::vector<ParsedMessage> Messages(const std::vector<Bytes>& log, uint8_t command) {
    std::vector<ParsedMessage> out;
    for (const auto& m : log)
        if (IsCommand(m, command)) out.push_back(ParseMessage(m));
    return out;
}
inline std::vector<ParsedMessage> DataSets(const std::vector<Bytes>& log) { return Messages(log, sysex::kDT1); }
inline std::vector<ParsedMessage> Requests(const std::vector<Bytes>& log) { return Messages(log, sysex::kRQ1); }

// Number of System Exclusive messages plus channel messages: everything sent.
inline size_t SentCount(const midi::VirtualU220& vm) { return vm.received().size(); }

// The module's 16-nibble master setup block.
inline Bytes MasterBlock(midi::VirtualU220& vm) {
    return vm.withEmulator([](auto& e) { return e.read(Address{0, 0, 0}, 16); });
}

// `size` bytes of the module's memory from `a`.
inline Bytes ModuleBytes(midi::VirtualU220& vm, Address a, int size) {
    return vm.withEmulator([&](auto& e) { return e.read(a, size); });
}

// Ctrl+Z and Ctrl+Shift+Z pressed in `window` (made the active window first:
// shortcuts work only there), into its focus widget when it has one.
inline void PressUndo(QWidget* window, bool redo = false) {
    QApplication::setActiveWindow(window);
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keyClick(target, Qt::Key_Z, redo ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
}
inline void PressRedo(QWidget* window) { PressUndo(window, true); }

// Every note on and note off, in order, as {status, key, velocity}.
inline std::vector<Bytes> NoteMessages(const std::vector<Bytes>& log) {
    std::vector<Bytes> out;
    for (const auto& m : log)
        if (m.size() == 3 && (m[0] & 0xE0) == 0x80) out.push_back(m);
    return out;
}
inline Bytes NoteOn(int channel, int key) { return {uint8_t(0x90 + channel), uint8_t(key), 100}; }
inline Bytes NoteOff(int channel, int key) { return {uint8_t(0x80 + channel), uint8_t(key), 0x40}; }

// Sets a one-byte parameter in the module's memory (the model reads it afresh
// after InvalidateAll).
inline void PokeParam(midi::VirtualU220& vm, Param p, int index, int value) {
    vm.withEmulator([&](auto& e) {
        e.poke(ParamAddress(p, index), static_cast<uint8_t>(value + Info(p).bias));
        return 0;
    });
}

// Every list in `window` has a tooltip that names its first entry (its
// range's start), and every label naming a list has the list's tooltip.
// Returns the first fault found, empty when there is none.
inline QString ListTipFault(QWidget* window) {
    for (QComboBox* c : window->findChildren<QComboBox*>()) {
        const QString first = c->itemText(0).section(' ', 0, 0);
        if (c->count() > 0 && !c->toolTip().contains(first)) return c->accessibleName() + ": " + c->toolTip();
    }
    for (QLabel* l : window->findChildren<QLabel*>())
        if (l->buddy() && l->toolTip() != l->buddy()->toolTip()) return l->text() + ": " + l->toolTip();
    return {};
}

// ---- every list of an editor, picked once -------------------------------------

// The name a test gives an editor's list: its frame's title and its accessible
// name ("Vib/Delay Time"), or the accessible name alone outside a frame.
inline QString ListKey(QComboBox* c) {
    QString frame;
    for (QWidget* w = c->parentWidget(); w && !w->isWindow(); w = w->parentWidget())
        if (w->inherits("QGroupBox")) {
            frame = w->property("title").toString() + QLatin1Char('/');
            break;
        }
    return frame + c->accessibleName();
}

// An entry next to the one shown: one up (one down at the end of the list, or
// when `down` asks for it and there is one below).
inline int NeighbourEntry(QComboBox* c, bool down = false) {
    const int at = c->currentIndex();
    if (down && at > 0) return at - 1;
    return at + 1 < c->count() ? at + 1 : at - 1;
}

// Picks entry `pick` in `c` and looks at what reached the module: exactly one
// data set, at `at`, carrying `byte`. The fault in words, empty when none.
inline QString PickFault(midi::VirtualU220& vm, QComboBox* c, int pick, Address at, int byte) {
    vm.clearReceived();
    c->setCurrentIndex(pick);
    QCoreApplication::processEvents();
    const auto ds = DataSets(vm.received());
    const QString key = ListKey(c);
    if (ds.size() != 1) return QStringLiteral("%1: %2 data sets instead of one").arg(key).arg(ds.size());
    auto hex = [](const Bytes& b) {
        QStringList l;
        for (uint8_t x : b) l << QStringLiteral("%1").arg(x, 2, 16, QLatin1Char('0'));
        return l.join(QLatin1Char(' '));
    };
    if (!(ds[0].address == at) || ds[0].data != Bytes{static_cast<uint8_t>(byte)})
        return QStringLiteral("%1: sent %2 = %3, expected %4 = %5")
            .arg(key, QString::fromStdString(ds[0].address.toString()), hex(ds[0].data),
                 QString::fromStdString(at.toString()), hex(Bytes{static_cast<uint8_t>(byte)}));
    return {};
}

// ---- message boxes -----------------------------------------------------------

// Watches for message boxes and answers each one: the decider sees the box and
// returns the button to press (NoButton, or no decider: the box's default button).
// Every text seen is kept.
class MessageBoxWatcher : public QObject {
public:
    using Decider = std::function<QMessageBox::StandardButton(QMessageBox&)>;

    explicit MessageBoxWatcher(Decider decide = nullptr) : decide_(std::move(decide)) {
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start(20);
    }
    void setDecider(Decider d) { decide_ = std::move(d); }

    QStringList texts;                 // text of every box answered, in order
    std::vector<QStringList> buttons;  // button captions of each box answered

private:
    void poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible() || answered_.contains(box)) continue;
            QMessageBox::StandardButton which = decide_ ? decide_(*box) : QMessageBox::NoButton;
            if (which == QMessageBox::NoButton) {
                // Default answer: the box's default / escape button, else its first button.
                QAbstractButton* b = box->defaultButton();
                if (!b) b = box->escapeButton();
                if (!b && !box->buttons().isEmpty()) b = box->buttons().first();
                record(*box);
                answered_.append(box);
                if (b) b->click();
                return;
            }
            if (QAbstractButton* b = box->button(which)) {
                record(*box);
                answered_.append(box);
                b->click();
                return;
            }
        }
    }
    void record(QMessageBox& box) {
        texts << box.text();
        QStringList caps;
        for (QAbstractButton* b : box.buttons()) caps << b->text();
        buttons.push_back(caps);
    }

    Decider decide_;
    QTimer timer_;
    QList<QPointer<QMessageBox>> answered_;
};

// A silent module takes messages in (and applies them) but never answers.
inline void SetSilent(midi::VirtualU220& vm, bool silent) {
    vm.withEmulator([silent](auto& e) {
        e.setSilent(silent);
        return 0;
    });
}

// While it lives the module is silent: a request gives up after 50 ms, and
// each time the model asks whether to retry, the answer is Cancel and counted.
class SilentModule {
public:
    explicit SilentModule(VirtualRig& rig) : rig_(rig), timeout_(rig.u220().RequestTimeout) {
        rig.u220().RequestTimeout = std::chrono::milliseconds(50);
        rig.u220().OnNotResponding = [this](RequestKind) {
            ++asked;
            return false;
        };
        SetSilent(*rig.vm, true);
    }
    ~SilentModule() {
        SetSilent(*rig_.vm, false);
        rig_.u220().OnNotResponding = nullptr;
        rig_.u220().RequestTimeout = timeout_;
    }
    int asked = 0;

private:
    VirtualRig& rig_;
    std::chrono::milliseconds timeout_;
};

// Makes the virtual module answer every request `ms` late (0: at once again).
inline void SetAnswerDelay(midi::VirtualU220& vm, double ms) {
    vm.withEmulator([ms](auto& e) {
        emulator::WireModel w;
        w.enabled = ms > 0;
        w.answerDelayMs = ms;
        e.setWireModel(w);
        return 0;
    });
}

// ---- a module at a real module's pace ------------------------------------------

// A module on a real cable: answers come this long after each request, and a
// message that starts sooner than the gap after the previous one is lost. The
// windows keep the same gap between the messages they send.
constexpr double kRealAnswerDelayMs = 400;
constexpr double kRealMinGapMs = 20;
constexpr int kRealSendGapMs = 20;

// A main window on `vm` in realistic mode (see VirtualU220::setRealistic), its
// output keeping a 20 ms gap as on a real port; the setup dialog is answered
// with Ok. Start-up reads about 200 names one after the other: a test may start
// with a short `answerDelayMs` and slow the module down once the names are in
// (vm->setRealistic(kRealAnswerDelayMs, kRealMinGapMs)).
// `prompts` answers the back-up commands' questions (empty members: the dialogs).
inline std::unique_ptr<ui::frmMain> MakeRealisticMain(const std::shared_ptr<midi::VirtualU220>& vm,
                                                      double answerDelayMs = kRealAnswerDelayMs,
                                                      ui::BackupPrompts prompts = {}) {
    vm->setRealistic(answerDelayMs, kRealMinGapMs);
    ui::frmMainOptions o;
    o.backupPrompts = std::move(prompts);
    o.runSetup = [](ui::frmMIDISetupForm& d) {
        d.cmdOK->click();
        return d.result();
    };
    auto w = std::make_unique<ui::frmMain>(VirtualRoot(vm), o);
    w->U220().MIDIOutput1->setSendGapMs(kRealSendGapMs);  // taken over when the dialog opens the port
    return w;
}
// While it lives the virtual module keeps a real module's pace: it answers
// `answerDelayMs` after each request, takes its time on the 31,250-baud wire
// and loses a message that starts less than 20 ms after the previous one; the
// model's output keeps a 20 ms gap, as it does on a real port.
class RealModulePace {
public:
    explicit RealModulePace(VirtualRig& rig, double answerDelayMs = 400)
        : rig_(rig), gap_(rig.u220().MIDIOutput1->sendGapMs()) {
        rig.vm->withEmulator([answerDelayMs](auto& e) {
            emulator::WireModel w;
            w.enabled = true;
            w.answerDelayMs = answerDelayMs;
            w.minGapMs = 20;
            e.setWireModel(w);
            e.resetWire();
            return 0;
        });
        rig.u220().MIDIOutput1->setSendGapMs(20);
    }
    ~RealModulePace() {
        rig_.u220().MIDIOutput1->flush();
        rig_.u220().MIDIOutput1->setSendGapMs(gap_);
        SetAnswerDelay(*rig_.vm, 0);
    }
    // Messages the module lost because they came too close together.
    uint64_t lost() const {
        return rig_.vm->withEmulator([](auto& e) { return e.stats().lostToGap; });
    }

private:
    VirtualRig& rig_;
    int gap_;
};

// Runs dialog.exec(); `afterMs` into it runs `press` (say, a click on the
// dialog's "Done" while its opening still waits for the module). True when
// exec() ended by itself; a dialog still in exec() after 5 s (hidden, with
// nothing left to end it) is shown and ended, and false is returned.
inline bool ExecEnds(QDialog& dialog, int afterMs, const std::function<void()>& press) {
    QTimer::singleShot(afterMs, &dialog, press);
    bool rescued = false;
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, &dialog, [&] {
        rescued = true;
        dialog.show();
        dialog.done(QDialog::Rejected);
    });
    rescue.start(5000);
    dialog.exec();
    return !rescued;
}

// One notch of the mouse wheel (towards the user) over `w`.
inline void TurnWheel(QWidget* w) {
    QWheelEvent wheel(QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &wheel);
}

// Shows a window as its opener does and lets its activation, which runs from
// the event queue, finish. False when the window never got on screen.
inline bool ShowAndActivate(QWidget& window) {
    window.show();
    const bool exposed = QTest::qWaitForWindowExposed(&window);
    QCoreApplication::processEvents();
    return exposed;
}

// The pictures in docs/ are taken by the window tests when
// QUORVANE_SCREENSHOT_DIR names a folder; without it nothing is saved.
inline bool ScreenshotsWanted() { return !qgetenv("QUORVANE_SCREENSHOT_DIR").isEmpty(); }

// Saves the window as `file` in that folder once it has painted; true when
// no picture is wanted or it was saved.
inline bool SaveScreenshot(QWidget& window, const QString& file) {
    if (!ScreenshotsWanted()) return true;
    QTest::qWait(100);
    return window.grab().save(QDir(QString::fromLocal8Bit(qgetenv("QUORVANE_SCREENSHOT_DIR"))).filePath(file));
}

// ---- a MIDI system with named ports -----------------------------------------

// Stands in for the MIDI system of the machine: a few named ports, two of which
// ("Interface In" / "Interface Out") reach a second module, `module`. The
// interface can be unplugged (its ports leave the lists and the module hears
// nothing) and plugged in again; a connection made before a replug stays dead
// until the port is opened again, as on JACK or ALSA.
struct NamedMidiSystem {
    std::shared_ptr<midi::VirtualU220> module = std::make_shared<midi::VirtualU220>();
    std::vector<std::string> outs{"Thru Out", "Interface Out"};
    std::vector<std::string> ins{"Thru In", "Interface In"};
    std::string moduleOut = "Interface Out", moduleIn = "Interface In";
    int generation = 0;  // goes up at each replug
    bool plugged = true;
    int opens = 0;       // successful opens of either direction

    void unplug() {
        plugged = false;
        ++generation;
        std::erase(outs, moduleOut);
        std::erase(ins, moduleIn);
    }
    void plugIn(bool atTheFront = true) {
        plugged = true;
        ++generation;
        // Listed again, maybe under another number.
        outs.insert(atTheFront ? outs.begin() : outs.end(), moduleOut);
        ins.insert(atTheFront ? ins.begin() : ins.end(), moduleIn);
    }
    // A quick restart: the names never leave the lists, the connections break.
    void restart() { ++generation; }
};

class NamedOutput : public midi::MIDIOutput {
public:
    explicit NamedOutput(std::shared_ptr<NamedMidiSystem> sys) : sys_(std::move(sys)), inner_(sys_->module->makeOutput()) {}
    int deviceCount() const override { return static_cast<int>(sys_->outs.size()); }
    std::string deviceName(int i) const override { return i >= 0 && i < deviceCount() ? sys_->outs[i] : std::string(); }
    bool open(int i) override {
        close();
        if (i < 0 || i >= deviceCount()) {
            if (onError) onError(3, "The MIDI Out device number " + std::to_string(i) + " is no longer available.");
            return false;
        }
        open_ = true;
        toModule_ = sys_->outs[i] == sys_->moduleOut;
        generation_ = sys_->generation;
        ++sys_->opens;
        if (toModule_) inner_->open(-1);
        return true;
    }
    void close() override {
        inner_->close();
        open_ = toModule_ = false;
    }
    bool isOpen() const override { return open_; }
    void sendShort(uint8_t st, uint8_t d) override {
        if (live()) inner_->sendShort(st, d);
    }
    void sendSysEx(const midi::Bytes& f) override {
        if (live()) inner_->sendSysEx(f);
    }
    void setSendGapMs(int ms) override { gap_ = ms; }
    int sendGapMs() const override { return gap_; }

private:
    bool live() const { return open_ && toModule_ && sys_->plugged && generation_ == sys_->generation; }
    std::shared_ptr<NamedMidiSystem> sys_;
    std::unique_ptr<midi::MIDIOutput> inner_;
    bool open_ = false, toModule_ = false;
    int generation_ = 0, gap_ = 0;
};

class NamedInput : public midi::MIDIInput {
public:
    NamedInput(std::shared_ptr<NamedMidiSystem> sys, midi::PostFn post)
        : sys_(std::move(sys)), inner_(sys_->module->makeInput(std::move(post))) {
        inner_->onSysExReceived = [this] {
            if (onSysExReceived) onSysExReceived();
        };
    }
    int deviceCount() const override { return static_cast<int>(sys_->ins.size()); }
    std::string deviceName(int i) const override { return i >= 0 && i < deviceCount() ? sys_->ins[i] : std::string(); }
    bool open(int i) override {
        close();
        if (i < 0 || i >= deviceCount()) {
            if (onError) onError(3, "The MIDI In device number " + std::to_string(i) + " is no longer available.");
            return false;
        }
        open_ = true;
        generation_ = sys_->generation;
        ++sys_->opens;
        if (sys_->ins[i] == sys_->moduleIn) inner_->open(0);
        return true;
    }
    void close() override {
        inner_->close();
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    // A broken connection hears nothing: what arrives is thrown away.
    int messageCount() const override {
        if (!live())
            while (inner_->messageCount() > 0) inner_->discard();
        return inner_->messageCount();
    }
    midi::Bytes receivedMessage() const override { return live() ? inner_->receivedMessage() : midi::Bytes{}; }
    void discard() override { inner_->discard(); }

private:
    bool live() const { return open_ && sys_->plugged && generation_ == sys_->generation; }
    std::shared_ptr<NamedMidiSystem> sys_;
    std::unique_ptr<midi::MIDIInput> inner_;
    bool open_ = false;
    int generation_ = 0;
};

// Ports for a model: the built-in module `vm` first, then the named system.
inline midi::Ports NamedPorts(std::shared_ptr<midi::VirtualU220> vm, std::shared_ptr<NamedMidiSystem> sys,
                              midi::PostFn post) {
    return midi::CombinePorts(vm->makeOutput(), vm->makeInput(post), std::make_unique<NamedOutput>(sys),
                              std::make_unique<NamedInput>(sys, post));
}

// Runs events until pred holds or `ms` pass; true when it holds.
template <class Pred>
bool WaitFor(Pred pred, int ms = 10000) {
    return QTest::qWaitFor(pred, ms);
}

}  // namespace quorvane::test
