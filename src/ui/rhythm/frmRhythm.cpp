#include "ui/rhythm/frmRhythm.h"

#include <QApplication>
#include <QComboBox>
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

// The values are read once per window, when it is first shown: it is then in
// front, so the patch editor behind it takes no clicks while the module is
// asked.
frmRhythm::frmRhythm(MainContext& ctx, QWidget* parent)
    : EditorDialog(ctx, parent, Activation::FirstShow) {
    BuildUi();
    ConnectHandlers();
}

std::optional<int> frmRhythm::RhythmChannel() const {
    if (!u220_.PatchDataLoaded()) return std::nullopt;
    return TestNotes::Channel(u220_.PatchRhythmReceiveChannel());
}

void frmRhythm::Activate() {
    PlayButton->setEnabled(RhythmChannel().has_value());
    WaitCursor hourglass;
    // Every opening starts at "B1", whichever instrument was shown last time.
    // When the module did not answer for the common values (the user gave
    // up), the instrument is not asked for as well.
    CurrentInstNo = 0;
    if (ReadCommon()) {
        if (InstCombo->currentIndex() == 0)
            OnInstChanged(0);
        else
            InstCombo->setCurrentIndex(0);  // runs OnInstChanged
    }
}

void frmRhythm::BuildUi() {
    setWindowTitle("Quorvane / Rhythm Set Editor");

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(8, 8, 8, 8);
    main->setSpacing(6);
    main->setMenuBar(MenuBar);

    // ---- "Setup": name and bender range ----
    {
        auto* box = new QGroupBox("Setup", this);
        auto* g = new QHBoxLayout(box);
        g->setContentsMargins(6, 4, 6, 6);
        g->setSpacing(8);
        SetupNameText = new QLineEdit(box);
        SetupNameText->setAccessibleName("Rhythm setup name");
        SetUpNameField(SetupNameText);
        BenderRangeLowerCombo = MakeParamCombo(box, "Bender Range Lower");
        lists::Fill(BenderRangeLowerCombo, lists::BendDown());
        BenderRangeHigherCombo = MakeParamCombo(box, "Bender Range Upper");
        lists::Fill(BenderRangeHigherCombo, lists::Numbers(0, 12));
        auto* lower = new QLabel("Bender Range Lower", box);
        lower->setBuddy(BenderRangeLowerCombo);
        auto* upper = new QLabel("Bender Range Upper", box);
        upper->setBuddy(BenderRangeHigherCombo);
        g->addWidget(SetupNameText);
        g->addSpacing(12);
        g->addWidget(lower);
        g->addWidget(BenderRangeLowerCombo);
        g->addSpacing(12);
        g->addWidget(upper);
        g->addWidget(BenderRangeHigherCombo);
        g->addStretch(1);
        main->addWidget(box);
    }

    // ---- "Instrument": the key, then its twenty parameters in two columns ----
    auto* box = new QGroupBox("Instrument", this);
    auto* g = new QGridLayout(box);
    g->setContentsMargins(6, 4, 6, 6);
    g->setHorizontalSpacing(8);
    g->setVerticalSpacing(3);
    InstCombo = MakeParamCombo(box, "Instrument");
    lists::Fill(InstCombo, lists::RhythmKeyNames());
    g->addWidget(InstCombo, 0, 0, 1, 2, Qt::AlignLeft);

    struct Row {
        QComboBox** combo;
        Param param;
        const char* label;
        QString items;
    };
    const QString sixteen = lists::Numbers(0, 15);
    const Row rows[] = {
        {&ToneMediaCombo, Param::RhythmSetupInstToneMedia, "Tone Media", lists::ToneMedia()},
        {&ToneNumberCombo, Param::RhythmSetupInstToneNumber, "Tone Number", lists::ToneNumber()},
        {&SourceKeyCombo, Param::RhythmSetupInstSourceKey, "Source Key", lists::Numbers(0, 127)},
        {&MuteInstCombo, Param::RhythmSetupInstMuteInst, "Mute Inst", "Off," + lists::RhythmKeyNames()},
        {&InstLevelCombo, Param::RhythmSetupInstInstLevel, "Inst Level", lists::Numbers(0, 31)},
        {&VelocitySensCombo, Param::RhythmSetupInstVelocitySens, "Velocity Sens", lists::MinusSeven()},
        {&EnvModeCombo, Param::RhythmSetupInstEnvMode, "Env Mode", "Sustain,No Sustain"},
        {&EnvAttackRateCombo, Param::RhythmSetupInstEnvAttackRate, "Env Attack Rate", lists::MinusSeven()},
        {&EnvDecayRateCombo, Param::RhythmSetupInstEnvDecayRate, "Env Decay Rate", lists::MinusSeven()},
        {&EnvReleaseRateCombo, Param::RhythmSetupInstEnvReleaseRate, "Env Release Rate", lists::MinusSeven()},
        {&PitchShiftCoarseCombo, Param::RhythmSetupInstPitchShiftCoarse, "Pitch Shift Coarse", lists::PitchSens()},
        {&PitchShiftFineCombo, Param::RhythmSetupInstPitchShiftFine, "Pitch Shift Fine", lists::MinusFifty()},
        {&ChannelAfterSensCombo, Param::RhythmSetupInstChannelAfterSens, "Channel After Sens", lists::PitchSens()},
        {&PolyAfterSensCombo, Param::RhythmSetupInstPolyAfterSens, "Poly After Sens", lists::PitchSens()},
        {&RandomCombo, Param::RhythmSetupInstRandom, "Random", lists::NumbersPadded(0, 15, 2)},
        {&AutoBendDepthCombo, Param::RhythmSetupInstAutoBendDepth, "Auto Bend Depth", lists::PitchSens()},
        {&AutoBendRateCombo, Param::RhythmSetupInstAutoBendRate, "Auto Bend Rate", sixteen},
        {&DetuneDepthCombo, Param::RhythmSetupInstDetuneDepth, "Detune Depth", sixteen},
        {&OutputAssignCombo, Param::RhythmSetupInstOutputAssign, "Output Assign", "Dry,Rev,Cho,Dir1"},
        {&PanCombo, Param::RhythmSetupInstPan, "Pan", lists::Pan()},
    };
    constexpr int kPerColumn = 10;
    int i = 0;
    for (const Row& row : rows) {
        const int col = (i / kPerColumn) * 3;  // label, list, gap
        *row.combo = AddParamRow(g, 1 + i % kPerColumn, col, row.label, row.items);
        instParams_.push_back({*row.combo, row.param});
        ++i;
    }
    g->setColumnMinimumWidth(2, 24);
    g->setColumnStretch(5, 1);
    main->addWidget(box);

    auto* buttons = new QHBoxLayout;
    PlayButton = new QPushButton("Play", this);
    PlayButton->setAutoDefault(false);
    PlayButton->setToolTip("Plays the instrument shown, a short note on its key, on the rhythm part's receive channel");
    PlayButton->setEnabled(false);  // until the rhythm part's channel is known
    buttons->addWidget(PlayButton);
    buttons->addStretch(1);
    EndButton = new QPushButton("Done", this);
    EndButton->setDefault(true);
    buttons->addWidget(EndButton);
    main->addLayout(buttons);

    // A filled list would show its first entry; until the module's values are
    // read, the lists show nothing ("B1" stays: it names what will be read).
    BenderRangeLowerCombo->setCurrentIndex(-1);
    BenderRangeHigherCombo->setCurrentIndex(-1);
    for (const ParamCombo& pc : instParams_) pc.combo->setCurrentIndex(-1);

    const QString sixteenth = ", 0..15.";
    const QString rate = " rate: a change of the instrument's envelope, -7..7 (negative is slower).";
    ApplyTips(this, {
        {SetupNameText, "Rhythm setup name: up to 12 characters the module can show."},
        {BenderRangeLowerCombo, "Bender range lower: how far the pitch bender lowers the pitch, -36..0 semitones."},
        {BenderRangeHigherCombo, "Bender range upper: how far the pitch bender raises the pitch, 0..12 semitones."},
        {InstCombo, "Instrument: the key it plays on, B1..D7 (MIDI keys 35..98)."},
        {ToneMediaCombo, "Tone media: I (the module's internal tones) or a card slot 01..31."},
        {ToneNumberCombo, "Tone number: the tone the instrument sounds, 001..128 on its media."},
        {SourceKeyCombo, "Source key: the key (0..127) of the tone that sounds, so its pitch."},
        {MuteInstCombo, "Mute instrument: the instrument this one cuts off when it sounds (an open hi-hat closed "
                        "by the closed one), B1..D7, or Off."},
        {InstLevelCombo, "Instrument level: 0..31."},
        {VelocitySensCombo, "Velocity sensitivity: how much the level follows how hard a key is struck, -7..7."},
        {EnvModeCombo, "Envelope mode: Sustain (the sound lasts while the key is held) or No Sustain (it dies "
                       "away by itself)."},
        {EnvAttackRateCombo, "Envelope attack" + rate},
        {EnvDecayRateCombo, "Envelope decay" + rate},
        {EnvReleaseRateCombo, "Envelope release" + rate},
        {PitchShiftCoarseCombo, "Pitch shift coarse: -36..12 semitones."},
        {PitchShiftFineCombo, "Pitch shift fine: -50..50 cents (hundredths of a semitone)."},
        {ChannelAfterSensCombo, "Channel aftertouch sensitivity: the pitch change by channel aftertouch, -36..12 "
                                "semitones."},
        {PolyAfterSensCombo, "Polyphonic aftertouch sensitivity: the pitch change by key pressure, -36..12 "
                             "semitones."},
        {RandomCombo, "Random pitch: how much the pitch varies from note to note, 00..15."},
        {AutoBendDepthCombo, "Auto bend depth: the pitch a note starts from and glides to its own, -36..12 "
                             "semitones."},
        {AutoBendRateCombo, "Auto bend rate: the speed of that glide" + sixteenth},
        {DetuneDepthCombo, "Detune depth" + sixteenth},
        {OutputAssignCombo, "Output assign: where the instrument's sound goes: Dry (no effect), Rev (through the "
                            "reverb), Cho (through the chorus) or Dir1 (direct output)."},
        {PanCombo, "Pan: the instrument's place in the stereo image, 7> .. >< (centre) .. <7, or Rnd (a random "
                   "place for each note)."},
    });
}

void frmRhythm::ConnectHandlers() {
    connect(SetupNameText, &QLineEdit::textChanged, this, &frmRhythm::OnNameChanged);
    connect(BenderRangeLowerCombo, &QComboBox::currentIndexChanged, this,
            [this](int) { OnBenderChanged(Param::RhythmSetupCommonBenderRangeLower, BenderRangeLowerCombo); });
    connect(BenderRangeHigherCombo, &QComboBox::currentIndexChanged, this,
            [this](int) { OnBenderChanged(Param::RhythmSetupCommonBenderRangeHigher, BenderRangeHigherCombo); });
    connect(InstCombo, &QComboBox::currentIndexChanged, this, &frmRhythm::OnInstChanged);
    for (const ParamCombo& pc : instParams_)
        connect(pc.combo, &QComboBox::currentIndexChanged, this,
                [this, pc](int) { OnInstParamChanged(pc.param, pc.combo); });
    connect(PlayButton, &QPushButton::clicked, this, [this] {
        if (const auto channel = RhythmChannel()) notes_->Play(*channel, CurrentInstNo + 35);
    });
    // "Done" closes the window; the opener destroys it, so the next opening
    // starts afresh at "B1".
    connect(EndButton, &QPushButton::clicked, this, &QDialog::accept);
}

bool frmRhythm::ReadCommon() {
    const auto guard = Filling();
    const std::string name = u220_.RhythmSeupCommonSetupName();
    const bool read = u220_.RhythmCommonLoaded();
    if (read) {
        SetupNameText->setText(NameForDisplay(name));
        lists::Select(BenderRangeLowerCombo, u220_.RhythmSetupCommonBenderRangeLower());
        lists::Select(BenderRangeHigherCombo, u220_.RhythmSetupCommonBenderRangeHigher());
    }
    return read;
}

void frmRhythm::OnInstChanged(int index) {
    if (index < 0) return;
    wantedInst_ = static_cast<int16_t>(index);
    // The first read of an instrument waits for the module while events run.
    // Picks made meanwhile (a held arrow key, a turned wheel) only record the
    // newest instrument: the running read ends, then that one is read and
    // shown. Reading every instrument passed over would keep the module busy,
    // and the lists rolling, long after the user stopped.
    if (instReading_) return;
    instReading_ = true;
    const auto guard = Filling();
    bool superseded = true;
    while (superseded) {
        superseded = false;
        CurrentInstNo = wantedInst_;
        for (const ParamCombo& pc : instParams_) {
            const int16_t value = u220_.get(pc.param, CurrentInstNo);
            if (wantedInst_ != CurrentInstNo) {
                superseded = true;
                break;
            }
            if (!u220_.RhythmInstLoaded(CurrentInstNo)) {
                // Not answered and given up: show nothing, ask no more for this key.
                for (const ParamCombo& c : instParams_) c.combo->setCurrentIndex(-1);
                break;
            }
            lists::Select(pc.combo, value);
        }
        // Closed meanwhile: nothing left to show.
        if (!isVisible()) break;
    }
    instReading_ = false;
}

void frmRhythm::OnInstParamChanged(Param param, QComboBox* combo) {
    const int value = combo->currentIndex();
    if (Updating || value < 0) return;
    history_->Write(EditTarget::Of(param, CurrentInstNo), value,
                    QString("%1 %2").arg(InstCombo->currentText(), combo->accessibleName()));
}

void frmRhythm::OnBenderChanged(Param param, QComboBox* combo) {
    const int value = combo->currentIndex();
    if (Updating || value < 0) return;
    history_->Write(EditTarget::Of(param), value, combo->accessibleName());
}

void frmRhythm::OnNameChanged(const QString& text) {
    if (Updating) return;
    // The keystrokes of one burst (no pause over two seconds) undo as one step.
    if (const auto bytes = NameToSend(SetupNameText, text))
        history_->Write(EditTarget::Of(quorvane::NameParam::RhythmSeupCommonSetupName), *bytes,
                        "Rhythm setup name", NameTyping());
}

void frmRhythm::ShowName(const EditTarget&, const std::string& bytes) {
    const auto guard = Filling();
    SetupNameText->setText(NameForDisplay(bytes));
}

void frmRhythm::ShowIndex(const EditTarget& target, int index) {
    const quorvane::Block block = quorvane::Info(target.param()).block;
    if (block == quorvane::Block::RhythmInst && target.index != CurrentInstNo) {
        // Show the instrument the step changed: its lists are read from the
        // model, which holds the value just written.
        InstCombo->setCurrentIndex(target.index);
        return;
    }
    const auto guard = Filling();
    if (target.param() == Param::RhythmSetupCommonBenderRangeLower) lists::Select(BenderRangeLowerCombo, index);
    if (target.param() == Param::RhythmSetupCommonBenderRangeHigher) lists::Select(BenderRangeHigherCombo, index);
    for (const ParamCombo& pc : instParams_)
        if (pc.param == target.param()) lists::Select(pc.combo, index);
}

}  // namespace quorvane::ui
