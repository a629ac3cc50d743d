#include "ui/main/MasterSetupPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <cmath>

#include "ui/main/UpDown.h"
#include "device/clsU220.h"
#include "ui/common/EditorControls.h"
#include "ui/common/Tooltips.h"
#include "ui/common/ValueLists.h"

namespace quorvane::ui {

namespace {

const char* const kChannels = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,Off";
const char* const kChangeModes = "Map 1,Map 2,Map 3,Map 4,Dir,Off";

// The tune as the module holds it, in tenths of a hertz (the up-down position).
int TunePosition(float hz) {
    const long p = std::lround(static_cast<double>(hz) * 10.0);
    return static_cast<int>(std::clamp<long>(p, MasterSetupPanel::kTuneMin, MasterSetupPanel::kTuneMax));
}

}  // namespace

MasterSetupPanel::MasterSetupPanel(quorvane::clsU220& u220, bool& updating, QWidget* parent)
    : QGroupBox(QStringLiteral("Master Setup"), parent), Updating(updating), u220_(&u220) {
    setObjectName(QStringLiteral("MasterSetupFrame"));
    // Undo and redo of the master setup panel.
    masterView_ = std::make_unique<EditViewFunctions>(
        [this](const EditTarget& t, const EditValue& v) { ShowMasterEdit(t, v); },
        // Not while the panel is filled from the module, nor while it shows
        // nothing; the names loading after it does not stop undo.
        [this] { return Updating || !isEnabled(); });
    masterHistory_ = new EditHistory(*u220_, *masterView_, this);
    tuneBurst_ = masterHistory_->NewBurst();

    MTuneCombo = new QComboBox(this);
    MTuneCombo->setObjectName(QStringLiteral("MTuneCombo"));
    MTuneCombo->setEditable(true);
    // The tune changes only through the up-down; typed text would show a tune
    // the module does not have.
    MTuneCombo->lineEdit()->setReadOnly(true);
    MTuneCombo->setMinimumContentsLength(6);
    UpDown = new quorvane::ui::UpDown(this);
    UpDown->setObjectName(QStringLiteral("UpDown"));
    UpDown->setRange(kTuneMin, kTuneMax);
    UpDown->setValue(4400);
    UpDown->setAccessibleName(QStringLiteral("Master Tune"));
    connect(UpDown, &UpDown::valueChanged, this, [this](int p) { UpDown_Change(p); });

    ChorusCheck = new QCheckBox(QStringLiteral("Chorus"), this);
    ChorusCheck->setObjectName(QStringLiteral("ChorusCheck"));
    ReverbCheck = new QCheckBox(QStringLiteral("Reverb"), this);
    ReverbCheck->setObjectName(QStringLiteral("ReverbCheck"));
    connect(ChorusCheck, &QCheckBox::toggled, this, [this] { MasterCheck_Click(ChorusCheck); });
    connect(ReverbCheck, &QCheckBox::toggled, this, [this] { MasterCheck_Click(ReverbCheck); });

    auto makeCombo = [this](const char* name) {
        auto* c = new QComboBox(this);
        c->setObjectName(QString::fromLatin1(name));
        WheelOnlyWithFocus(c);  // each change sends the whole master setup block
        connect(c, &QComboBox::currentIndexChanged, this, [this, c](int i) { MasterCombo_Click(c, i); });
        return c;
    };
    LCDCombo = makeCombo("LCDCombo");
    MIDIRxChCombo = makeCombo("MIDIRxChCombo");
    PaChCombo = makeCombo("PaChCombo");
    TiChCombo = makeCombo("TiChCombo");
    RhChCombo = makeCombo("RhChCombo");
    RInstChCombo = makeCombo("RInstChCombo");

    auto* grid = new QGridLayout(this);
    int row = 0;
    auto addRow = [&](const char* text, QWidget* field, QWidget* buddy) {
        auto* label = new QLabel(QString::fromLatin1(text), this);
        label->setBuddy(buddy);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    };
    auto* tuneRow = new QWidget(this);
    auto* tuneLayout = new QHBoxLayout(tuneRow);
    tuneLayout->setContentsMargins(0, 0, 0, 0);
    tuneLayout->setSpacing(2);
    tuneLayout->addWidget(MTuneCombo, 1);
    tuneLayout->addWidget(UpDown);
    UpDown->setFixedHeight(MTuneCombo->sizeHint().height());
    addRow("Master Tune", tuneRow, UpDown);
    auto* checks = new QHBoxLayout;
    checks->addWidget(ChorusCheck);
    checks->addWidget(ReverbCheck);
    checks->addStretch(1);
    grid->addLayout(checks, row++, 1);
    addRow("LCD Contrast", LCDCombo, LCDCombo);
    addRow("Rx Control Ch", MIDIRxChCombo, MIDIRxChCombo);
    addRow("Patch Change", PaChCombo, PaChCombo);
    addRow("Timbre Change", TiChCombo, TiChCombo);
    addRow("Rhythm Change", RhChCombo, RhChCombo);
    addRow("R.Inst Assign", RInstChCombo, RInstChCombo);
    {
        const QString modes = QStringLiteral(
            ": Dir (program change n selects number n directly), Map 1..Map 4 (through one of the module's four "
            "program change maps) or Off (program changes are ignored).");
        ApplyTips(this,
                  {{UpDown, QStringLiteral("Master tune: the pitch of A4, 427.4..452.9 Hz in steps of 0.1 Hz.")},
                   {MTuneCombo, QStringLiteral("Master tune: the pitch of A4, 427.4..452.9 Hz; the arrows beside it "
                                               "change it.")},
                   {ChorusCheck, QStringLiteral("Chorus: the module's chorus effect on or off.")},
                   {ReverbCheck, QStringLiteral("Reverb: the module's reverb effect on or off.")},
                   {LCDCombo, QStringLiteral("LCD contrast of the module's display: 0..15.")},
                   {MIDIRxChCombo, QStringLiteral("Rx control channel: the MIDI channel on which the module takes "
                                                  "patch changes, 1..16, or Off.")},
                   {PaChCombo, QStringLiteral("Patch change: how a program change on the control channel selects a "
                                              "patch") + modes},
                   {TiChCombo, QStringLiteral("Timbre change: how a program change on a part's channel selects a "
                                              "timbre") + modes},
                   {RhChCombo, QStringLiteral("Rhythm change: how a program change on the rhythm part's channel "
                                              "selects a rhythm setup") + modes},
                   {RInstChCombo, QStringLiteral("R.Inst Assign (rhythm instrument assign): how a program change "
                                                 "assigns a rhythm instrument") + modes}});
    }
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
}

void MasterSetupPanel::FillMasterSetupLists() {
    // Filling selects entries; nothing may reach the module.
    Updating = true;
    lists::Fill(LCDCombo, lists::Numbers(0, 15));
    lists::Fill(MIDIRxChCombo, QString::fromLatin1(kChannels));
    for (QComboBox* c : {PaChCombo, TiChCombo, RhChCombo, RInstChCombo}) lists::Fill(c, QString::fromLatin1(kChangeModes));
    ClearMasterSetup();
    // Nothing to edit until the module's master setup has been read.
    setEnabled(false);
    Updating = false;
}

void MasterSetupPanel::ClearMasterSetup() {
    MTuneCombo->setEditText(QString());
    for (QComboBox* c : {LCDCombo, MIDIRxChCombo, PaChCombo, TiChCombo, RhChCombo, RInstChCombo}) c->setCurrentIndex(-1);
    ChorusCheck->setChecked(false);
    ReverbCheck->setChecked(false);
}

bool MasterSetupPanel::ShowMasterSetup() {
    Updating = true;
    // Read afresh: steps recorded against the values before are forgotten.
    if (!u220_->MasterSetupLoaded()) masterHistory_->Clear();
    const float tune = u220_->MasterSetupMTune();  // the first read fetches the block
    if (!u220_->MasterSetupLoaded()) {
        // Not answered: show nothing rather than zeros, and take no edits (a
        // master setup write sends the whole block).
        ClearMasterSetup();
        setEnabled(false);
        Updating = false;
        return false;
    }
    // General number format: 440 shows as "440", 441.5 as "441.5".
    MTuneCombo->setEditText(QString::number(std::round(static_cast<double>(tune) * 10.0) / 10.0, 'g', 10));
    // The up-down steps from the tune shown, not from where it last stood.
    UpDown->setValue(TunePosition(tune));
    lists::Select(LCDCombo, u220_->MasterSetupLCD());
    lists::Select(MIDIRxChCombo, u220_->MasterSetupMIDIRxCh());
    ChorusCheck->setChecked(u220_->MasterSetupChorus() != 0);
    ReverbCheck->setChecked(u220_->MasterSetupReverb() != 0);
    lists::Select(PaChCombo, u220_->MasterSetupPaCh());
    lists::Select(TiChCombo, u220_->MasterSetupTiCh());
    lists::Select(RhChCombo, u220_->MasterSetupRhCh());
    lists::Select(RInstChCombo, u220_->MasterSetupRInstCh());
    setEnabled(true);
    Updating = false;
    return true;
}

void MasterSetupPanel::MasterCheck_Click(QCheckBox* box) {
    if (Updating) return;
    const int16_t v = box->isChecked() ? 1 : 0;
    if (box == ChorusCheck)
        masterHistory_->Write(EditTarget::Of(MasterParam::MasterSetupChorus), v, QStringLiteral("Chorus"));
    else
        masterHistory_->Write(EditTarget::Of(MasterParam::MasterSetupReverb), v, QStringLiteral("Reverb"));
}

namespace {
// The master setup lists and the fields they edit, with their step names.
struct MasterList {
    QComboBox* combo;
    MasterParam param;
    const char* what;
};
}  // namespace

void MasterSetupPanel::MasterCombo_Click(QComboBox* combo, int index) {
    if (Updating || index < 0) return;
    const MasterList lists[] = {
        {LCDCombo, MasterParam::MasterSetupLCD, "LCD contrast"},
        {MIDIRxChCombo, MasterParam::MasterSetupMIDIRxCh, "Rx control channel"},
        {PaChCombo, MasterParam::MasterSetupPaCh, "Patch change"},
        {TiChCombo, MasterParam::MasterSetupTiCh, "Timbre change"},
        {RhChCombo, MasterParam::MasterSetupRhCh, "Rhythm change"},
        {RInstChCombo, MasterParam::MasterSetupRInstCh, "Rhythm instrument assign"},
    };
    for (const MasterList& l : lists)
        if (l.combo == combo) masterHistory_->Write(EditTarget::Of(l.param), index, QString::fromLatin1(l.what));
}

void MasterSetupPanel::UpDown_Change(int position) {
    if (Updating) return;
    MTuneCombo->setEditText(QString::number(position / 10.0, 'f', 1));
    // Steps that follow each other within a second (a held arrow) undo together.
    masterHistory_->Write(EditTarget::Tune(), position, QStringLiteral("Master tune"),
                          {tuneBurst_, std::chrono::seconds(1)});
}

void MasterSetupPanel::ShowMasterEdit(const EditTarget& target, const EditValue& value) {
    const int* v = std::get_if<int>(&value);
    if (!v) return;
    const bool was = Updating;
    Updating = true;
    if (target.kind == EditTarget::Kind::Tune) {
        UpDown->setValue(*v);
        MTuneCombo->setEditText(QString::number(*v / 10.0, 'f', 1));
    } else if (target.kind == EditTarget::Kind::Master) {
        switch (target.master()) {
        case MasterParam::MasterSetupChorus: ChorusCheck->setChecked(*v != 0); break;
        case MasterParam::MasterSetupReverb: ReverbCheck->setChecked(*v != 0); break;
        case MasterParam::MasterSetupLCD: lists::Select(LCDCombo, *v); break;
        case MasterParam::MasterSetupMIDIRxCh: lists::Select(MIDIRxChCombo, *v); break;
        case MasterParam::MasterSetupPaCh: lists::Select(PaChCombo, *v); break;
        case MasterParam::MasterSetupTiCh: lists::Select(TiChCombo, *v); break;
        case MasterParam::MasterSetupRhCh: lists::Select(RhChCombo, *v); break;
        case MasterParam::MasterSetupRInstCh: lists::Select(RInstChCombo, *v); break;
        default: break;
        }
    }
    Updating = was;
}

}  // namespace quorvane::ui
