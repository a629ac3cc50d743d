#include "ui/rhythm/frmRhythm.h"

#include "device/clsU220.h"
#include "ui/common/MainContext.h"

frmRhythm::frmRhythm(quorvane::ui::MainContext& ctx, QWidget* parent)
    : QDialog(parent), ctx_(ctx), u220_(ctx.U220()) {}
frmRhythm::~frmRhythm() = default;
void frmRhythm::BuildUi() {}
void frmRhythm::ConnectHandlers() {}
void frmRhythm::ReadCommon() {}
void frmRhythm::OnInstChanged(int) {}
void frmRhythm::OnInstParamChanged(quorvane::Param, QComboBox*) {}
void frmRhythm::OnBenderChanged(quorvane::Param, QComboBox*) {}
void frmRhythm::OnNameChanged(const QString&) {}
