#include "ui/patch/frmPatch.h"

#include <QShowEvent>

#include "device/clsU220.h"
#include "ui/common/MainContext.h"

frmPatch::frmPatch(quorvane::ui::MainContext& ctx, QWidget* parent)
    : QDialog(parent), ctx_(ctx), u220_(ctx.U220()) {}

frmPatch::~frmPatch() = default;

void frmPatch::Activate() {}
void frmPatch::ResetVoiceReserveLists() {}
void frmPatch::LimitVoiceReserveLists() {}
void frmPatch::showEvent(QShowEvent* event) { QDialog::showEvent(event); }
void frmPatch::BuildUi() {}
void frmPatch::FillCommonLists() {}
void frmPatch::FillRhythmRow() {}
void frmPatch::FillPartRow(int) {}
void frmPatch::RefreshRhythmRow() {}
void frmPatch::RefreshPartRow(int) {}
void frmPatch::ConnectHandlers() {}
void frmPatch::OnPatchNameEdited(const QString&) {}
void frmPatch::OnEditTimbre(int) {}
void frmPatch::OnEditRhythm() {}
void frmPatch::OnShowKeyboard() {}
