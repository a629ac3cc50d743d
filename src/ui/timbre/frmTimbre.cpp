#include "ui/timbre/frmTimbre.h"

#include <QShowEvent>

#include "device/clsU220.h"
#include "ui/common/MainContext.h"
#include "ui/patch/frmPatch.h"

frmTimbre::frmTimbre(quorvane::ui::MainContext& ctx, frmPatch& patch, QWidget* parent)
    : QDialog(parent), ctx_(ctx), u220_(ctx.U220()), patch_(patch) {}
frmTimbre::~frmTimbre() = default;
void frmTimbre::Activate() {}
void frmTimbre::showEvent(QShowEvent* event) { QDialog::showEvent(event); }
void frmTimbre::BuildUi() {}
void frmTimbre::ConnectHandlers() {}
void frmTimbre::OnParamChanged(quorvane::Param, QComboBox*) {}
void frmTimbre::OnToneMediaChanged(int) {}
void frmTimbre::OnToneNumberChanged(int) {}
void frmTimbre::OnNameChanged(const QString&) {}
void frmTimbre::Sync(const std::function<void(int16_t)>&) {}
void frmTimbre::ShowToneName(int, int) {}
