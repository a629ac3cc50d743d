#include "ui/main/ModuleQuestions.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

#include "ui/main/Connection.h"
#include "device/clsU220.h"
#include "ui/setup/frmMIDISetupForm.h"

namespace quorvane::ui {

namespace {

// Whichever window is in front: a message box must sit over the modal window
// that is waiting, not behind it.
QWidget* FrontWindow(QWidget* fallback) {
    if (QWidget* w = QApplication::activeModalWidget()) return w;
    return fallback;
}

}  // namespace

ModuleQuestions::ModuleQuestions(QWidget* window, quorvane::clsU220& u220, ConnectionKeeper& keeper, QLabel* status,
                                 const bool& quitRequested, const QPointer<frmMIDISetupForm>& setup)
    : window_(window), u220_(&u220), keeper_(&keeper), statusLabel_(status), quitRequested_(quitRequested),
      setup_(setup) {}

bool ModuleQuestions::AskRetry(quorvane::RequestKind what) {
    if (quitRequested_) return false;
    // A port that has gone or a MIDI system that stopped is the likelier cause.
    keeper_->check();
    PortChoice now = keeper_->connection();
    now.deviceId = u220_->DeviceID();
    // The hourglass is up during waits; the question needs the normal pointer.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                    QString::fromLatin1(kNotRespondingText), QMessageBox::Retry | QMessageBox::Cancel,
                    FrontWindow(window_));
    box.setInformativeText(keeper_->systemStopped() || keeper_->portsGone() ? statusLabel_->text()
                                                                            : NotRespondingAdvice(now, what));
    box.setDefaultButton(QMessageBox::Retry);
    box.setEscapeButton(QMessageBox::Cancel);
    const int answer = box.exec();
    QApplication::restoreOverrideCursor();
    const bool retry = answer == QMessageBox::Retry && !quitRequested_;
    // The module's ports may have gone and come back between two looks at the
    // lists (a quick restart): the request goes out on them opened afresh.
    if (retry && now.real() && !keeper_->portsGone()) keeper_->reopen();
    return retry;
}

void ModuleQuestions::ShowPortError(const std::string& text) {
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), QString::fromStdString(text),
                    QMessageBox::Ok, FrontWindow(window_->isVisible() ? window_ : static_cast<QWidget*>(setup_.data())));
    box.exec();
    QApplication::restoreOverrideCursor();
}

}  // namespace quorvane::ui
