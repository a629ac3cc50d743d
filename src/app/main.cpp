// Quorvane: starts the main window, which asks for the MIDI ports, connects to
// the module and loads its names. Cancel in the setup dialog ends the program.
//
// The command line is read before any window exists: --help and --version need
// no display. --in/--out or --virtual connect without the dialog; when the module
// does not answer there, the dialog opens with those ports picked.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QTimer>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/Composition.h"
#include "ui/main/frmMain.h"
#include "ui/setup/frmMIDISetupForm.h"
#ifdef Q_OS_UNIX
#include "app/SignalQuit.h"
#endif

namespace {

using quorvane::app::CommandLine;
using quorvane::ui::frmMIDISetupForm;

void SetNames() {
    QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
}

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

// Picks the command line's ports and device ID in the dialog's lists. False
// (with the reason in `why`) when a port is not found.
bool Preselect(frmMIDISetupForm& setup, const CommandLine& cl, QString* why) {
    if (cl.deviceId) setup.comboDeviceID->setCurrentIndex(*cl.deviceId - 1);
    if (!cl.connect) return false;
    if (cl.useVirtual) {
        // Input 0 and output -1 are the built-in virtual module.
        setup.ComboMidiIn->setCurrentIndex(0);
        setup.ComboMidiOut->setCurrentIndex(0);
        return setup.ComboMidiIn->count() > 0;
    }
    const auto in = quorvane::app::MatchPort(cl.in, Items(setup.ComboMidiIn), 0, QStringLiteral("input"), why);
    if (!in) return false;
    const auto out = quorvane::app::MatchPort(cl.out, Items(setup.ComboMidiOut), 0, QStringLiteral("output"), why);
    if (!out) return false;
    setup.ComboMidiIn->setCurrentIndex(*in);
    setup.ComboMidiOut->setCurrentIndex(*out);
    return true;
}

// Once the program is ending, a dialog that opens after all (the "not
// responding" box of a probe that was already waiting) is cancelled as soon as
// it shows, so that nothing waits for a user who asked the program to end.
class CancelNewDialogs : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && dialog->isWindow())
                QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
        return false;
    }
};

// Closes every window as its Cancel or close button would, innermost question
// first, then the main window: the waits unwind and the program ends as after
// File > Exit, its destructors closing the ports.
void CloseEverything(QWidget& mainWindow) {
    static CancelNewDialogs* filter = nullptr;
    if (!filter) {
        filter = new CancelNewDialogs(qApp);
        qApp->installEventFilter(filter);
    }
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        else modal->close();
        if (modal->isVisible()) break;  // refused to close: leave it to quit()
    }
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &mainWindow && w->isVisible() && w->isModal()) {
            if (auto* dialog = qobject_cast<QDialog*>(w)) dialog->reject();
            else w->close();
        }
    mainWindow.close();
    QCoreApplication::quit();
}

}  // namespace

int main(int argc, char* argv[]) {
    CommandLine cl;
    {
        // No display yet: a plain core application reads the command line.
        QCoreApplication core(argc, argv);
        SetNames();
        cl = quorvane::app::ParseCommandLine(QCoreApplication::arguments());
    }
    if (cl.exitCode) {
        if (!cl.output.isEmpty()) std::fputs(cl.output.toLocal8Bit().constData(), stdout);
        if (!cl.error.isEmpty()) std::fprintf(stderr, "quorvane: %s\n", cl.error.toLocal8Bit().constData());
        return *cl.exitCode;
    }

    QApplication app(argc, argv);
    SetNames();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/icons/quorvane-%1.png").arg(size));
    QApplication::setWindowIcon(icon);

    bool quitting = false;
    quorvane::ui::frmMainOptions options;
    options.runSetup = [&](frmMIDISetupForm& setup) -> int {
        QString why;
        if (!quitting && Preselect(setup, cl, &why)) {
            // The dialog's own Ok: opens the ports and asks the module; when it
            // does not answer, says so, and the dialog opens below.
            setup.cmdOK_Click();
            if (setup.result() == QDialog::Accepted) return QDialog::Accepted;
        } else if (!why.isEmpty()) {
            std::fprintf(stderr, "quorvane: %s; choose the ports in the dialog\n", why.toLocal8Bit().constData());
            setup.lblStatus->setText(why[0].toUpper() + why.mid(1) + QLatin1Char('.'));
        }
        if (quitting) return QDialog::Rejected;
        return setup.exec();
    };

    // Installed before the window makes its MIDI clients, so that a signal from
    // then on always ends the program through the destructors. The byte the
    // handler writes is read once events run (in the dialog or later).
    QWidget* mainWindow = nullptr;
#ifdef Q_OS_UNIX
    quorvane::app::SignalQuit signalQuit([&](int) {
        quitting = true;
        if (mainWindow) CloseEverything(*mainWindow);
    });
#endif
    quorvane::ui::frmMain window(quorvane::app::BuildMainParts(), options);
    mainWindow = &window;

    if (!window.Load() || quitting) return 0;  // setup cancelled: the model closes both ports
    window.show();
    if (!cl.backUp.isEmpty()) {
        // Once the first load has ended (complete or not), as the menu would.
        auto* start = new QTimer(&window);
        QObject::connect(start, &QTimer::timeout, &window, [&window, start, path = cl.backUp] {
            if (window.ActivationCount() == 0 || window.Activating()) return;
            start->stop();
            start->deleteLater();
            window.BackUpModuleTo(path);
        });
        start->start(100);
    }
    return app.exec();
}
