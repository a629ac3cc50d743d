#include "ui/timbre/frmTimbre.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "device/clsU220.h"
#include "ui/common/EditorControls.h"
#include "ui/common/MainContext.h"
#include "ui/common/ValueLists.h"
#include "ui/common/NameField.h"
#include "ui/common/Tooltips.h"

using quorvane::Param;

namespace quorvane::ui {

frmTimbre::frmTimbre(MainContext& ctx, TimbreSync sync, QWidget* parent)
    : EditorDialog(ctx, parent), sync_(std::move(sync)) {
    BuildUi();
    ConnectHandlers();
}

void frmTimbre::BuildUi() {
    setWindowTitle("Timbre for Patch Part 1");

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(8, 8, 8, 8);
    main->setSpacing(6);
    main->setMenuBar(MenuBar);

    // Name and tone: [timbre name] [media] [number] [tone name]
    auto* toneRow = new QHBoxLayout;
    toneRow->setSpacing(6);
    TimbreTimbreNameText = new QLineEdit(this);
    TimbreTimbreNameText->setAccessibleName("Timbre name");
    SetUpNameField(TimbreTimbreNameText);
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
        if (title == "Vib") box->setToolTip("Vibrato");
        auto* g = new QGridLayout(box);
        g->setContentsMargins(6, 4, 6, 6);
        g->setHorizontalSpacing(8);
        g->setVerticalSpacing(3);
        int r = 0;
        for (const Row& row : rows) {
            *row.combo = AddParamRow(g, r++, 0, row.label, row.items);
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
                     {&WaveformCombo, Param::TimbreWaveform, "Waveform", lists::Waveforms()},
                     {&DepthCombo, Param::TimbreDepth, "Depth", sixteen},
                     {&DelayCombo, Param::TimbreDelay, "Delay Time", sixteen},
                     {&RiseTimeCombo, Param::TimbreRiseTime, "Rise Time", sixteen},
                     {&ModulationDepthCombo, Param::TimbreModulationDepth, "Modulation Depth", sixteen},
                     {&VibratoChAfterSensCombo, Param::TimbreVibratoChAfterSens, "Ch Aftertouch Sens", sixteen},
                     {&VibratoPolyAfterSensCombo, Param::TimbreVibratoPolyAfterSens, "Poly Aftertouch Sens", sixteen},
                 });

    auto* buttons = new QHBoxLayout;
    PlayButton = new QPushButton("Play", this);
    PlayButton->setAutoDefault(false);
    PlayButton->setToolTip("Plays a short middle C (C4) on this part's receive channel");
    PlayButton->setEnabled(false);  // until the part's channel is known
    buttons->addWidget(PlayButton);
    buttons->addStretch(1);
    EndButton = new QPushButton("Done", this);
    EndButton->setDefault(true);
    buttons->addWidget(EndButton);
    main->addLayout(buttons);
    main->addStretch(1);

    // A filled list would show its first entry; until activation selects the
    // module's values, the lists show nothing.
    for (const ParamCombo& pc : params_) pc.combo->setCurrentIndex(-1);

    const QString rate = " rate: a change of the timbre's envelope, -7..7 (negative is slower).";
    const QString sixteenth = ", 0..15.";
    ApplyTips(this, {
        {TimbreTimbreNameText, "Timbre name: up to 12 characters the module can show."},
        {ToneMediaCombo, "Tone media: I (the module's internal tones) or a card slot 01..31."},
        {ToneNumberCombo, "Tone number: the tone the timbre sounds, 001..128 on its media."},
        {TimbreLevelCombo, "Timbre level: 0..127."},
        {VelocitySensCombo, "Velocity sensitivity: how much the level follows how hard a key is struck, -7..7."},
        {ChannelPressSensCombo, "Channel aftertouch sensitivity: how much pressing a held key harder raises the "
                                "level, -7..7."},
        {EnvAttackRateCombo, "Envelope attack" + rate},
        {EnvDecayRateCombo, "Envelope decay" + rate},
        {EnvSustainLevelCombo, "Envelope sustain level: a change of the level held while a key is down, -7..7."},
        {EnvReleaseRateCombo, "Envelope release" + rate},
        {PitchShiftCoarseCombo, "Pitch shift coarse: -24..24 semitones."},
        {PitchShiftFineCombo, "Pitch shift fine: -50..50 cents (hundredths of a semitone)."},
        {BendRangeLowerCombo, "Bender range down: how far the pitch bender lowers the pitch, -36..0 semitones."},
        {BendRangeUpperCombo, "Bender range up: how far the pitch bender raises the pitch, 00..12 semitones."},
        {PitchChAfterSensCombo, "Channel aftertouch to pitch: the pitch change by channel aftertouch, -36..12 "
                                "semitones."},
        {PitchPolyAfterSensCombo, "Polyphonic aftertouch to pitch: the pitch change by key pressure, -36..12 "
                                  "semitones."},
        {AutoBendDepthCombo, "Auto bend depth: the pitch a note starts from and glides to its own, -36..12 "
                             "semitones."},
        {AutoBendRateCombo, "Auto bend rate: the speed of that glide" + sixteenth},
        {DetuneDepthCombo, "Detune depth" + sixteenth},
        {RateCombo, "Vibrato rate: its speed, 0..63."},
        {WaveformCombo, "Vibrato waveform: Tri (triangle), Sine, Square, SawUp, SawDwn (sawtooth up or down), "
                        "Randm1..4 (random)."},
        {DepthCombo, "Vibrato depth" + sixteenth},
        {DelayCombo, "Vibrato delay: the time before the vibrato starts" + sixteenth},
        {RiseTimeCombo, "Vibrato rise time: the time it takes to reach its depth" + sixteenth},
        {ModulationDepthCombo, "Modulation depth: the vibrato the modulation wheel adds" + sixteenth},
        {VibratoChAfterSensCombo, "Channel aftertouch to vibrato: the vibrato channel aftertouch adds" + sixteenth},
        {VibratoPolyAfterSensCombo, "Polyphonic aftertouch to vibrato: the vibrato key pressure adds" + sixteenth},
    });
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
    connect(PlayButton, &QPushButton::clicked, this, [this] {
        if (const auto channel = PartChannel()) notes_->Play(*channel, TestNotes::kMiddleC);
    });
    // "Done" only hides the window; it is kept for the next opening.
    connect(EndButton, &QPushButton::clicked, this, &QDialog::accept);
}

std::optional<int> frmTimbre::PartChannel() const {
    if (gintPartNo < 1 || gintPartNo > 6 || !u220_.PatchDataLoaded()) return std::nullopt;
    return TestNotes::Channel(u220_.PatchPartReceiveChannel(gintPartNo));
}

void frmTimbre::Activate() {
    PlayButton->setEnabled(PartChannel().has_value());
    if (gintPartNo < 1 || gintPartNo > 6) return;
    WaitCursor hourglass;
    // Set from the first read on: while it waits, the controls still show the
    // part edited last time, and an edit made then (the old name plus a typed
    // character, say) must not be written to this part.
    const auto guard = Filling();

    // The first read waits for the module while the window is already up with
    // this part's caption: show nothing meanwhile, not the part edited last time.
    if (!u220_.TimbreDataLoaded()) ClearControls();
    // Steps recorded for another part, or against values since read afresh,
    // are not offered here any more.
    if (!u220_.TimbreDataLoaded() || historyPart_ != gintPartNo) history_->Clear();
    historyPart_ = gintPartNo;
    const int16_t media = u220_.TimbreToneMedia(gintPartNo);
    if (!u220_.TimbreDataLoaded()) {
        // The module did not answer and the user gave up: show nothing rather
        // than another part's values, and ask no more for this opening.
        ClearControls();
        return;
    }
    ShowToneName(media, u220_.TimbreToneNumber(gintPartNo));
    TimbreTimbreNameText->setText(NameForDisplay(u220_.TimbreTimbreName(gintPartNo)));
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

void frmTimbre::Sync(const QString& what, const std::function<void(int16_t)>& write, Burst burst) {
    if (gintPartNo < 1 || gintPartNo > 6) return;
    history_->BeginStep(what, burst);
    write(gintPartNo);
    if (sync_.on && sync_.on()) {
        // The opener's lists decide which parts play the same timbre. The
        // edited part always matches itself (and so is written a second time); a
        // part whose list shows nothing matches no other part.
        auto timbreOf = [this](int p) { return sync_.timbreOf ? sync_.timbreOf(p) : -1; };
        const int timbre = timbreOf(gintPartNo);
        const auto guard = Filling();
        for (int16_t p = 1; p <= 6; ++p)
            if (p == gintPartNo || (timbre >= 0 && timbreOf(p) == timbre)) write(p);
    }
    history_->EndStep();
}

void frmTimbre::OnParamChanged(Param param, QComboBox* combo) {
    const int value = combo->currentIndex();
    if (Updating || value < 0) return;
    Sync(combo->accessibleName(), [&](int16_t p) {
        history_->Write(EditTarget::Of(param, p), value, combo->accessibleName());
    });
}

void frmTimbre::OnToneMediaChanged(int index) {
    if (Updating || index < 0) return;
    ShowToneName(index, u220_.TimbreToneNumber(gintPartNo));
    Sync("Tone media", [&](int16_t p) {
        history_->Write(EditTarget::Of(Param::TimbreToneMedia, p), index, "Tone media");
    });
}

void frmTimbre::OnToneNumberChanged(int index) {
    if (Updating || index < 0) return;
    ShowToneName(u220_.TimbreToneMedia(gintPartNo), index);
    Sync("Tone number", [&](int16_t p) {
        history_->Write(EditTarget::Of(Param::TimbreToneNumber, p), index, "Tone number");
    });
}

void frmTimbre::OnNameChanged(const QString& text) {
    if (Updating) return;
    const auto bytes = NameToSend(TimbreTimbreNameText, text);
    if (!bytes) return;
    // The keystrokes of one burst (no pause over two seconds) undo as one step.
    Sync(
        "Timbre name",
        [&](int16_t p) {
            history_->Write(EditTarget::Of(quorvane::NameParam::TimbreTimbreName, p), *bytes,
                            "Timbre name");
        },
        NameTyping());
}

void frmTimbre::ShowName(const EditTarget& target, const std::string& bytes) {
    if (target.index != gintPartNo) return;
    const auto guard = Filling();
    TimbreTimbreNameText->setText(NameForDisplay(bytes));
}

void frmTimbre::ShowIndex(const EditTarget& target, int index) {
    if (target.index != gintPartNo) return;
    const auto guard = Filling();
    for (const ParamCombo& pc : params_)
        if (pc.param == target.param()) lists::Select(pc.combo, index);
    if (target.param() == Param::TimbreToneMedia || target.param() == Param::TimbreToneNumber)
        ShowToneName(u220_.TimbreToneMedia(gintPartNo), u220_.TimbreToneNumber(gintPartNo));
}

}  // namespace quorvane::ui
