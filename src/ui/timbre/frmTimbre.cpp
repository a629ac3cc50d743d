#include "ui/timbre/frmTimbre.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "device/clsU220.h"
#include "ui/common/EditorControls.h"
#include "ui/common/MainContext.h"
#include "ui/common/ValueLists.h"
#include "ui/patch/frmPatch.h"
#include "ui/common/NameField.h"

using quorvane::Param;
using quorvane::ui::MakeParamCombo;
using quorvane::ui::UpdatingGuard;
namespace lists = quorvane::ui::lists;

namespace {

QString Waveforms() { return "Tri,Sine,Square,SawUp,SawDwn,Randm1,Randm2,Randm3,Randm4"; }

}  // namespace

frmTimbre::frmTimbre(quorvane::ui::MainContext& ctx, frmPatch& patch, QWidget* parent)
    : QDialog(parent), ctx_(ctx), u220_(ctx.U220()), patch_(patch) {
    BuildUi();
    ConnectHandlers();
}

frmTimbre::~frmTimbre() = default;

void frmTimbre::BuildUi() {
    setWindowTitle("Timbre for Patch Part 1");

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(8, 8, 8, 8);
    main->setSpacing(6);

    // Name and tone: [timbre name] [media] [number] [tone name]
    auto* toneRow = new QHBoxLayout;
    toneRow->setSpacing(6);
    TimbreTimbreNameText = new QLineEdit(this);
    TimbreTimbreNameText->setAccessibleName("Timbre name");
    quorvane::ui::MakeNameField(TimbreTimbreNameText);
    ToneMediaCombo = MakeParamCombo(this, "Tone media");
    ToneNumberCombo = MakeParamCombo(this, "Tone number");
    ToneNameText = new QLineEdit(this);
    ToneNameText->setReadOnly(true);
    ToneNameText->setFocusPolicy(Qt::NoFocus);
    ToneNameText->setAccessibleName("Tone name");
    ToneNameText->setMinimumWidth(ToneNameText->fontMetrics().horizontalAdvance(QString(12, 'W')));
    toneRow->addWidget(TimbreTimbreNameText);
    toneRow->addWidget(ToneMediaCombo);
    toneRow->addWidget(ToneNumberCombo);
    toneRow->addWidget(ToneNameText, 1);
    main->addLayout(toneRow);

    auto* frames = new QHBoxLayout;
    frames->setSpacing(6);
    main->addLayout(frames);

    struct Row {
        QComboBox** combo;
        Param param;
        const char* label;
        QString items;
    };
    auto frame = [&](const QString& title, std::initializer_list<Row> rows) {
        auto* box = new QGroupBox(title, this);
        auto* g = new QGridLayout(box);
        g->setContentsMargins(6, 4, 6, 6);
        g->setHorizontalSpacing(8);
        g->setVerticalSpacing(3);
        int r = 0;
        for (const Row& row : rows) {
            *row.combo = quorvane::ui::AddParamRow(g, r++, 0, row.label, row.items);
            params_.push_back({*row.combo, row.param});
        }
        g->setRowStretch(r, 1);
        frames->addWidget(box, 0, Qt::AlignTop);
    };

    // The two tone lists come first, so params_ is in the order activation reads.
    lists::Fill(ToneMediaCombo, lists::ToneMedia());
    lists::Fill(ToneNumberCombo, lists::ToneNumber());
    params_.push_back({ToneMediaCombo, Param::TimbreToneMedia});
    params_.push_back({ToneNumberCombo, Param::TimbreToneNumber});

    const QString sixteen = lists::Numbers(0, 15);
    frame("Level", {
                       {&TimbreLevelCombo, Param::TimbreTimbreLevel, "Timbre Level", lists::Numbers(0, 127)},
                       {&VelocitySensCombo, Param::TimbreVelocitySens, "Velocity Sensitivity", lists::MinusSeven()},
                       {&ChannelPressSensCombo, Param::TimbreChannelPressSens, "Ch Aftertouch Sens", lists::MinusSeven()},
                       {&EnvAttackRateCombo, Param::TimbreEnvAttackRate, "Env Attack Rate", lists::MinusSeven()},
                       {&EnvDecayRateCombo, Param::TimbreEnvDecayRate, "Env Decay Rate", lists::MinusSeven()},
                       {&EnvSustainLevelCombo, Param::TimbreEnvSustainLevel, "Env Sustain Level", lists::MinusSeven()},
                       {&EnvReleaseRateCombo, Param::TimbreEnvReleaseRate, "Env Release Rate", lists::MinusSeven()},
                   });
    frame("Pitch", {
                       {&PitchShiftCoarseCombo, Param::TimbrePitchShiftCoarse, "Pitch Shift Coarse", lists::Numbers(-24, 24)},
                       {&PitchShiftFineCombo, Param::TimbrePitchShiftFine, "Pitch Shift Fine", lists::MinusFifty()},
                       {&BendRangeLowerCombo, Param::TimbreBendRangeLower, "Bender Range (Down)", lists::BendDown()},
                       {&BendRangeUpperCombo, Param::TimbreBendRangeUpper, "Bender Range (Up)", lists::NumbersPadded(0, 12, 2)},
                       {&PitchChAfterSensCombo, Param::TimbrePitchChAfterSens, "Ch Aftertouch Sens", lists::PitchSens()},
                       {&PitchPolyAfterSensCombo, Param::TimbrePitchPolyAfterSens, "Poly Aftertouch Sens", lists::PitchSens()},
                       {&AutoBendDepthCombo, Param::TimbreAutoBendDepth, "Auto Bend Depth", lists::PitchSens()},
                       {&AutoBendRateCombo, Param::TimbreAutoBendRate, "Auto Bend Rate", sixteen},
                       {&DetuneDepthCombo, Param::TimbreDetuneDepth, "Detune Depth", sixteen},
                   });
    frame("Vib", {
                     {&RateCombo, Param::TimbreRate, "Rate", lists::Numbers(0, 63)},
                     {&WaveformCombo, Param::TimbreWaveform, "Waveform", Waveforms()},
                     {&DepthCombo, Param::TimbreDepth, "Depth", sixteen},
                     {&DelayCombo, Param::TimbreDelay, "Delay Time", sixteen},
                     {&RiseTimeCombo, Param::TimbreRiseTime, "Rise Time", sixteen},
                     {&ModulationDepthCombo, Param::TimbreModulationDepth, "Modulation Depth", sixteen},
                     {&VibratoChAfterSensCombo, Param::TimbreVibratoChAfterSens, "Ch Aftertouch Sens", sixteen},
                     {&VibratoPolyAfterSensCombo, Param::TimbreVibratoPolyAfterSens, "Poly Aftertouch Sens", sixteen},
                 });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    EndButton = new QPushButton("Done", this);
    EndButton->setDefault(true);
    buttons->addWidget(EndButton);
    main->addLayout(buttons);
    main->addStretch(1);

    // A filled list would show its first entry; until activation selects the
    // module's values, the lists show nothing.
    for (const ParamCombo& pc : params_) pc.combo->setCurrentIndex(-1);
}

void frmTimbre::ConnectHandlers() {
    connect(TimbreTimbreNameText, &QLineEdit::textChanged, this, &frmTimbre::OnNameChanged);
    connect(ToneMediaCombo, &QComboBox::currentIndexChanged, this, &frmTimbre::OnToneMediaChanged);
    connect(ToneNumberCombo, &QComboBox::currentIndexChanged, this, &frmTimbre::OnToneNumberChanged);
    for (const ParamCombo& pc : params_) {
        if (pc.combo == ToneMediaCombo || pc.combo == ToneNumberCombo) continue;
        connect(pc.combo, &QComboBox::currentIndexChanged, this,
                [this, pc](int) { OnParamChanged(pc.param, pc.combo); });
    }
    // "Done" only hides the window; it is kept for the next opening.
    connect(EndButton, &QPushButton::clicked, this, &QDialog::accept);
}

void frmTimbre::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Activation may wait for the module while events run. Run it once the
    // modal loop of exec() is running: a "Done" pressed during that wait must
    // end exec(), which it cannot do while exec() is still inside show().
    if (!event->spontaneous()) QMetaObject::invokeMethod(this, [this] { Activate(); }, Qt::QueuedConnection);
}

void frmTimbre::Activate() {
    if (gintPartNo < 1 || gintPartNo > 6) return;
    quorvane::ui::WaitCursor hourglass;
    // Set from the first read on: while it waits, the controls still show the
    // part edited last time, and an edit made then (the old name plus a typed
    // character, say) must not be written to this part.
    UpdatingGuard guard(Updating, updatingDepth_);

    // The first read waits for the module while the window is already up with
    // this part's caption: show nothing meanwhile, not the part edited last time.
    if (!u220_.TimbreDataLoaded()) ClearControls();
    const int16_t media = u220_.TimbreToneMedia(gintPartNo);
    if (!u220_.TimbreDataLoaded()) {
        // The module did not answer and the user gave up: show nothing rather
        // than another part's values, and ask no more for this opening.
        ClearControls();
        return;
    }
    ShowToneName(media, u220_.TimbreToneNumber(gintPartNo));
    TimbreTimbreNameText->setText(quorvane::ui::NameForDisplay(u220_.TimbreTimbreName(gintPartNo)));
    // A value outside a list's range leaves that list with no selection.
    for (const ParamCombo& pc : params_) lists::Select(pc.combo, u220_.get(pc.param, gintPartNo));
}

void frmTimbre::ClearControls() {
    TimbreTimbreNameText->clear();
    ToneNameText->clear();
    for (const ParamCombo& pc : params_) pc.combo->setCurrentIndex(-1);
}

void frmTimbre::ShowToneName(int media, int number) {
    // The model names the tones of media 0 and 1 only; other media show no name.
    ToneNameText->setText(QString::fromStdString(
        u220_.ToneName(static_cast<int16_t>(media), static_cast<int16_t>(number))));
}

void frmTimbre::Sync(const std::function<void(int16_t)>& write) {
    if (!patch_.SyncPartCheck || !patch_.SyncPartCheck->isChecked()) return;
    if (gintPartNo < 1 || gintPartNo > 6) return;
    // The patch editor's lists decide which parts play the same timbre. The
    // edited part always matches itself (and so is written a second time); a
    // part whose list shows nothing matches no other part.
    const QComboBox* own = patch_.TimbreNumberCombo[gintPartNo];
    const int timbre = own ? own->currentIndex() : -1;
    UpdatingGuard guard(Updating, updatingDepth_);
    for (int16_t p = 1; p <= 6; ++p) {
        const QComboBox* c = patch_.TimbreNumberCombo[p];
        if (p == gintPartNo || (timbre >= 0 && c && c->currentIndex() == timbre)) write(p);
    }
}

void frmTimbre::OnParamChanged(Param param, QComboBox* combo) {
    const int value = combo->currentIndex();
    if (Updating || value < 0) return;
    u220_.let(param, gintPartNo, static_cast<int16_t>(value));
    Sync([&](int16_t p) { u220_.let(param, p, static_cast<int16_t>(value)); });
}

void frmTimbre::OnToneMediaChanged(int index) {
    if (Updating || index < 0) return;
    ShowToneName(index, u220_.TimbreToneNumber(gintPartNo));
    u220_.TimbreToneMedia(gintPartNo, static_cast<int16_t>(index));
    Sync([&](int16_t p) { u220_.TimbreToneMedia(p, static_cast<int16_t>(index)); });
}

void frmTimbre::OnToneNumberChanged(int index) {
    if (Updating || index < 0) return;
    ShowToneName(u220_.TimbreToneMedia(gintPartNo), index);
    u220_.TimbreToneNumber(gintPartNo, static_cast<int16_t>(index));
    Sync([&](int16_t p) { u220_.TimbreToneNumber(p, static_cast<int16_t>(index)); });
}

void frmTimbre::OnNameChanged(const QString& text) {
    if (Updating) return;
    const auto bytes = quorvane::ui::NameToSend(TimbreTimbreNameText, text);
    if (!bytes) return;
    u220_.TimbreTimbreName(gintPartNo, *bytes);
    Sync([&](int16_t p) { u220_.TimbreTimbreName(p, *bytes); });
}
