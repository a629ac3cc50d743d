// The message boxes the model asks for while it talks to the module: the
// question when the module does not answer (Retry or Cancel, with advice about
// the ports in use) and the report of a port error. They sit over whichever
// window is in front and show the normal pointer over the hourglass.
#pragma once

#include <QPointer>
#include <string>

#include "device/RequestKind.h"

class QLabel;
class QWidget;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

class ConnectionKeeper;
class frmMIDISetupForm;

class ModuleQuestions {
public:
    // `status` is the main window's status line (it says what happened to the
    // ports when they are gone); `setup` parents a port error while the main
    // window is not shown yet.
    ModuleQuestions(QWidget* window, quorvane::clsU220& u220, ConnectionKeeper& keeper, QLabel* status,
                    const bool& quitRequested, const QPointer<frmMIDISetupForm>& setup);

    // True to send the request again; false once the program is closing.
    bool AskRetry(quorvane::RequestKind what);
    void ShowPortError(const std::string& text);

private:
    QWidget* window_;
    quorvane::clsU220* u220_;
    ConnectionKeeper* keeper_;
    QLabel* statusLabel_;
    const bool& quitRequested_;
    const QPointer<frmMIDISetupForm>& setup_;
};

}  // namespace quorvane::ui
