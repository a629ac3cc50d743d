#include "ui/keyboard/frmKeyboard.h"

#include <QShowEvent>

#include "device/clsU220.h"
#include "ui/common/MainContext.h"
#include "ui/patch/frmPatch.h"

frmKeyboard::frmKeyboard(quorvane::ui::MainContext& ctx, frmPatch& patch, QWidget* parent)
    : QDialog(parent), ctx_(ctx), u220_(ctx.U220()), patch_(patch) {
    setWindowTitle(QStringLiteral("Quorvane / Key Range Editor"));
}
frmKeyboard::~frmKeyboard() = default;
int frmKeyboard::KeyLeft(int) { return 0; }
bool frmKeyboard::IsBlackKey(int) { return false; }
QColor frmKeyboard::PartColor(int) { return {}; }
void frmKeyboard::Activate() {}
void frmKeyboard::showEvent(QShowEvent* event) { QDialog::showEvent(event); }
bool frmKeyboard::eventFilter(QObject* watched, QEvent* event) { return QDialog::eventFilter(watched, event); }
void frmKeyboard::PlaceBar(int) {}
void frmKeyboard::RestoreKeyColors() {}
void frmKeyboard::LightKeys(int) {}
void frmKeyboard::OnHandlePress(int, double) {}
void frmKeyboard::OnLeftHandleMove(int, double) {}
void frmKeyboard::OnRightHandleMove(int, double) {}
void frmKeyboard::OnHandleRelease() {}
