// Quorvane: starts the main window, which asks for the MIDI ports, connects to
// the module and loads its names. Cancel in the setup dialog ends the program.
#include <QApplication>

#include "ui/main/frmMain.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));

    quorvane::ui::frmMain window;
    if (!window.Load()) return 0;  // setup cancelled: the model closes both ports
    window.show();
    return app.exec();
}
