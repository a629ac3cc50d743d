#include "ui/patch/frmPatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "device/NameCodec.h"
#include "device/clsU220.h"
#include "ui/common/EditorControls.h"
#include "ui/common/MainContext.h"
#include "ui/common/NameField.h"
#include "ui/common/PartColors.h"
#include "ui/common/Tooltips.h"
#include "ui/common/ValueLists.h"

#include "ui/keyboard/frmKeyboard.h"
#include "ui/rhythm/frmRhythm.h"
#include "ui/timbre/frmTimbre.h"

using quorvane::Param;

namespace quorvane::ui {
namespace {

constexpr int kTotalVoices = 30;

QString VeloLevels() { return "Above,Below"; }
QString OutputAssigns() { return "Dry,Rev,Cho,Dir1,Dir2"; }

// A drop-down list whose width is set by `chars` characters rather than by its
// longest entry, so the rows stay compact and the window size is known before
// the lists are filled.
QComboBox* MakeCombo(QWidget* parent, int chars, const QString& accessibleName) {
    auto* c = new QComboBox(parent);
    WheelOnlyWithFocus(c);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(chars);
    c->setMaxVisibleItems(20);
    c->setAccessibleName(accessibleName);
    return c;
}

// Appends the list's pieces and leaves the box with nothing selected (a filled
// list shows no value until activation selects the model's one).
void FillList(QComboBox* c, const QString& commaList) {
    lists::Fill(c, commaList);
    c->setCurrentIndex(-1);
}

void LetEvents() { QCoreApplication::processEvents(); }

}  // namespace

// ---------------------------------------------------------------------------
// Loading

frmPatch::frmPatch(MainContext& ctx, QWidget* parent) : EditorDialog(ctx, parent) {
    QLabel* status = ctx_.StatusLabel();
    QProgressBar* progress = ctx_.ProgressBar();
    auto showProgress = [&](int value, const QString& text) {
        if (status) {
            status->setVisible(true);
            status->setText(text);
        }
        if (progress) {
            progress->setVisible(true);
            progress->setValue(value);
        }
        LetEvents();
    };

    BuildUi();
    showProgress(10, "Initializing Patch Editor...");

    // Centre on the screen; the lists have fixed widths, so the size is known now.
    resize(sizeHint());
    if (QScreen* scr = screen()) {
        const QRect avail = scr->availableGeometry();
        const QSize frame = frameGeometry().size() - geometry().size();
        resize(std::min(width(), avail.width() - frame.width()), std::min(height(), avail.height() - frame.height()));
        const QRect whole = scr->geometry();
        move(whole.x() + (whole.width() - width()) / 2, whole.y() + (whole.height() - height()) / 2);
        // Keep the title bar reachable on a screen that has panels.
        if (!avail.contains(frameGeometry().topLeft())) move(avail.topLeft());
    }

    FillCommonLists();
    showProgress(30, "Initializing Rhythm Editor...");
    FillRhythmRow();
    for (int p = 1; p <= 6; ++p) {
        FillPartRow(p);
        showProgress(40 + 10 * p, QString("Initializing Part %1 Editor...").arg(p));
    }
    if (progress) {
        progress->setValue(0);
        progress->setVisible(false);
    }
    if (status) {
        status->setText(QString());
        status->setVisible(false);
    }

    ConnectHandlers();
}

void frmPatch::BuildUi() {
    setWindowTitle("Quorvane / Patch Editor");
    setSizeGripEnabled(true);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setMenuBar(MenuBar);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    outer->addWidget(scroll_);

    auto* content = new QWidget(scroll_);
    auto* main = new QVBoxLayout(content);
    main->setContentsMargins(8, 6, 8, 6);
    main->setSpacing(4);

    // Labels stand above their list, so one frame needs only two lines.
    auto labelled = [](QGridLayout* g, int col, const QString& text, QComboBox* combo) {
        auto* l = new QLabel(text);
        l->setBuddy(combo);
        g->addWidget(l, 0, col);
        g->addWidget(combo, 1, col);
    };
    auto frame = [content](const QString& title) {
        auto* box = new QGroupBox(title, content);
        auto* g = new QGridLayout(box);
        g->setContentsMargins(6, 2, 6, 4);
        g->setHorizontalSpacing(6);
        g->setVerticalSpacing(1);
        return std::pair{box, g};
    };

    // ---- top band: name, chorus, reverb, control parameters ----
    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    {
        auto* nameCol = new QVBoxLayout;
        auto* nameRow = new QHBoxLayout;
        PatchNameText = new QLineEdit(content);
        PatchNameText->setAccessibleName("Patch name");
        SetUpNameField(PatchNameText);
        PatchNoLabel = new QLabel("P-00", content);
        nameRow->addWidget(PatchNameText);
        nameRow->addWidget(PatchNoLabel);
        nameCol->addSpacing(PatchNameText->fontMetrics().height());
        nameCol->addLayout(nameRow);
        nameCol->addStretch(1);
        top->addLayout(nameCol);
    }
    // A frame of lists, each under its label: {list, width in characters,
    // accessible name, label}.
    struct Field {
        QComboBox** combo;
        int chars;
        const char* name;
        const char* label;
    };
    auto fieldFrame = [&](const QString& title, std::initializer_list<Field> fields) {
        auto [box, g] = frame(title);
        int col = 0;
        for (const Field& f : fields) {
            *f.combo = MakeCombo(box, f.chars, f.name);
            labelled(g, col++, f.label, *f.combo);
        }
        return std::pair{box, g};
    };
    top->addWidget(fieldFrame("Chorus", {{&ChorusTypeCombo, 11, "Chorus type", "Type"},
                                         {&ChorusOutModeCombo, 8, "Chorus out mode", "OutMode"},
                                         {&ChorusDelayCombo, 3, "Chorus delay", "Delay"}})
                       .first,
                   0, Qt::AlignTop);
    top->addWidget(fieldFrame("Chorus", {{&ChorusLevelCombo, 3, "Chorus level", "Level"},
                                         {&ChorusRateCombo, 3, "Chorus rate", "Rate"},
                                         {&ChorusDepthCombo, 3, "Chorus depth", "Depth"},
                                         {&ChorusFeedbackCombo, 3, "Chorus feedback", "Feedback"}})
                       .first,
                   0, Qt::AlignTop);
    top->addWidget(fieldFrame("Reverb", {{&ReverbTypeCombo, 10, "Reverb type", "Type"},
                                         {&ReverbTimeCombo, 3, "Reverb time", "Time"},
                                         {&ReverbLevelCombo, 3, "Reverb level", "Level"},
                                         {&ReverbDelayFeedbackCombo, 3, "Reverb delay feedback", "Delay Feedback"}})
                       .first,
                   0, Qt::AlignTop);
    top->addStretch(1);
    main->addLayout(top);

    // ---- part rows ----
    // One grid holds the column headings and all six rows, so every column
    // lines up; each row's frame spans its three grid rows behind the lists.
    auto* partsWidget = new QWidget(content);
    auto* grid = new QGridLayout(partsWidget);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(1);
    const QStringList headings = {"Timbre Name", "Voice\nReserve", "Rx Ch", "Key Low\nHi", "Velo. Level\nVelo. Thresh",
                                  "Level", "Output\nAssign", "Pan", "Rx Vol.", "Rx Pan", "Rx Hold"};
    const int firstCol = 1, lastCol = firstCol + headings.size() - 1;
    for (int i = 0; i < headings.size(); ++i) {
        auto* h = new QLabel(headings[i], partsWidget);
        h->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        grid->addWidget(h, 0, firstCol + i, Qt::AlignBottom);
        columnHeadings_.push_back(h);
    }
    grid->setColumnMinimumWidth(0, 14);  // the part's colour strip
    grid->setColumnMinimumWidth(lastCol + 1, 4);
    const int titleHeight = fontMetrics().height();
    for (int p = 1; p <= 6; ++p) {
        const int r = 1 + (p - 1) * 4;  // frame title, upper line, lower line, bottom margin
        auto* box = new QGroupBox(QString("Part %1").arg(p), partsWidget);
        grid->addWidget(box, r, 0, 4, lastCol + 2);
        // The part's colour, as its bar has it in the key range editor.
        PartColorStrip[p] = new QFrame(partsWidget);
        PartColorStrip[p]->setFixedWidth(8);
        PartColorStrip[p]->setFrameShape(QFrame::Box);
        PartColorStrip[p]->setAutoFillBackground(true);
        {
            QPalette pal = PartColorStrip[p]->palette();
            pal.setColor(QPalette::Window, PartColor(p));
            pal.setColor(QPalette::WindowText, Qt::darkGray);
            PartColorStrip[p]->setPalette(pal);
        }
        PartColorStrip[p]->setToolTip(QString("Part %1's colour in the key range editor").arg(p));
        grid->addWidget(PartColorStrip[p], r + 1, 0, 2, 1, Qt::AlignRight);
        grid->setRowMinimumHeight(r, titleHeight);
        grid->setRowMinimumHeight(r + 3, 3);
        const QString part = QString("Part %1 ").arg(p);
        TimbreNumberCombo[p] = MakeCombo(partsWidget, 18, part + "timbre");
        VoiceReserveCombo[p] = MakeCombo(partsWidget, 2, part + "voice reserve");
        ReceiveChannelCombo[p] = MakeCombo(partsWidget, 3, part + "receive channel");
        KeyRangeLowCombo[p] = MakeCombo(partsWidget, 4, part + "key low");
        VeloLevelCombo[p] = MakeCombo(partsWidget, 5, part + "velocity level");
        LevelCombo[p] = MakeCombo(partsWidget, 3, part + "level");
        OutputAssignCombo[p] = MakeCombo(partsWidget, 4, part + "output assign");
        PanCombo[p] = MakeCombo(partsWidget, 3, part + "pan");
        RxVolumeCombo[p] = MakeCombo(partsWidget, 3, part + "Rx volume");
        RxPanCombo[p] = MakeCombo(partsWidget, 3, part + "Rx pan");
        RxHoldCombo[p] = MakeCombo(partsWidget, 3, part + "Rx hold");
        EditTimbreCommand[p] = new QPushButton("Edit this Timbre", partsWidget);
        EditTimbreCommand[p]->setAutoDefault(false);
        EditTimbreCommand[p]->setAccessibleName(part + "edit this timbre");
        KeyRangeHiCombo[p] = MakeCombo(partsWidget, 4, part + "key high");
        VeloThresholdCombo[p] = MakeCombo(partsWidget, 5, part + "velocity threshold");
        QWidget* upper[] = {TimbreNumberCombo[p], VoiceReserveCombo[p], ReceiveChannelCombo[p], KeyRangeLowCombo[p],
                            VeloLevelCombo[p],    LevelCombo[p],        OutputAssignCombo[p],   PanCombo[p],
                            RxVolumeCombo[p],     RxPanCombo[p],        RxHoldCombo[p]};
        for (int i = 0; i < 11; ++i) grid->addWidget(upper[i], r + 1, firstCol + i);
        PlayCommand[p] = new QPushButton("Play", partsWidget);
        PlayCommand[p]->setAutoDefault(false);
        PlayCommand[p]->setAccessibleName(part + "play");
        PlayCommand[p]->setToolTip(QString("Plays a short middle C (C4) on part %1's receive channel").arg(p));
        auto* buttons = new QHBoxLayout;
        buttons->setSpacing(4);
        buttons->addWidget(EditTimbreCommand[p]);
        buttons->addWidget(PlayCommand[p]);
        grid->addLayout(buttons, r + 2, firstCol, Qt::AlignLeft);
        grid->addWidget(KeyRangeHiCombo[p], r + 2, firstCol + 3);
        grid->addWidget(VeloThresholdCombo[p], r + 2, firstCol + 4);
    }
    grid->setColumnStretch(lastCol + 2, 1);
    // Beside the rows: the control parameters, the sync check box and the buttons.
    auto* side = new QVBoxLayout;
    side->setSpacing(6);
    {
        auto [box, g] = frame("Control Parameters");
        QComboBox** ctrl[] = {&Param1Combo, &Param2Combo, &Param3Combo};
        QComboBox** dest[] = {&Param1ParamCombo, &Param2ParamCombo, &Param3ParamCombo};
        for (int i = 0; i < 3; ++i) {
            *ctrl[i] = MakeCombo(box, 3, QString("Control parameter %1 controller").arg(i + 1));
            *dest[i] = MakeCombo(box, 14, QString("Control parameter %1 destination").arg(i + 1));
            g->addWidget(*ctrl[i], i, 0);
            g->addWidget(*dest[i], i, 1);
        }
        side->addWidget(box);
    }
    side->addStretch(1);
    {
        SyncPartCheck = new QCheckBox("Synchronized editing of the same Timbre", content);
        SyncPartCheck->setChecked(false);
        cmdShowKeyboard = new QPushButton("Show Key Range Editor", content);
        cmdShowKeyboard->setAutoDefault(false);
        EndCommand = new QPushButton("Done", content);
        EndCommand->setDefault(true);
        side->addWidget(SyncPartCheck);
        side->addWidget(cmdShowKeyboard, 0, Qt::AlignLeft);
        side->addSpacing(titleHeight);
        side->addWidget(EndCommand, 0, Qt::AlignRight);
    }
    auto* partsRow = new QHBoxLayout;
    partsRow->setSpacing(10);
    partsRow->addWidget(partsWidget);
    partsRow->addLayout(side);
    partsRow->addStretch(1);
    main->addLayout(partsRow);

    // ---- rhythm part ----
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(8);
    {
        auto [box, g] = fieldFrame("Rhythm Part",
                                   {{&PatchRhythmRhythmSetupCombo, 16, "Rhythm setup", "Rhythm Setup"},
                                    {&PatchRhythmVoiceReserveCombo, 2, "Rhythm voice reserve", "Voice"},
                                    {&PatchRhythmReceiveChannelCombo, 3, "Rhythm receive channel", "Rx Ch"},
                                    {&PatchRhythmLevelCombo, 3, "Rhythm level", "Level"},
                                    {&PatchRhythmLevelBoostSwCombo, 3, "Rhythm level boost switch", "Level Boost Sw."},
                                    {&PatchRhythmRxVolumeCombo, 3, "Rhythm Rx volume", "Rx Vol."},
                                    {&PatchRhythmRxHoldCombo, 3, "Rhythm Rx hold", "Rx Hold"}});
        EditRhythmCommand = new QPushButton("Edit this Rhythm Set", box);
        EditRhythmCommand->setAutoDefault(false);
        g->addWidget(EditRhythmCommand, 1, 7);
        PlayRhythmCommand = new QPushButton("Play", box);
        PlayRhythmCommand->setAutoDefault(false);
        PlayRhythmCommand->setAccessibleName("Rhythm part play");
        PlayRhythmCommand->setToolTip("Plays a short middle C (C4) on the rhythm part's receive channel");
        g->addWidget(PlayRhythmCommand, 1, 8);
        bottom->addWidget(box, 0, Qt::AlignTop);
    }
    bottom->addStretch(1);
    main->addLayout(bottom);
    main->addStretch(1);
    // Tab through the rows first, then the check box and the buttons, "Done" last.
    setTabOrder(EditRhythmCommand, SyncPartCheck);
    setTabOrder(SyncPartCheck, cmdShowKeyboard);
    setTabOrder(cmdShowKeyboard, EndCommand);

    ApplyTooltips();

    scroll_->setWidget(content);
    // Without this the scroll area would ask for a small default size.
    const QSize want = content->sizeHint();
    scroll_->setMinimumSize(std::min(want.width(), 400), std::min(want.height(), 300));
    sizeHintContent_ = want;
}

void frmPatch::ApplyTooltips() {
    const QString reserve = "Voice reserve: voices kept for this part whatever the others play, 0..30. The six parts "
                            "and the rhythm part share the module's 30 voices, so each list offers only what the "
                            "others leave free.";
    const QString rxCh = "Receive channel: the MIDI channel the part plays from, 01..16, or Off (plays nothing).";
    const QString rxVol = "Receive volume: whether the part follows MIDI volume messages (controller 7), Off or On.";
    const QString rxHold = "Receive hold: whether the part follows the hold pedal (controller 64), Off or On.";
    // One tip per column heading, given to the heading and to that column's lists.
    const QString columns[] = {
        "The timbre the part plays: one of the 128 timbre memories, T-001..T-128.",
        reserve,
        rxCh,
        "Key range: the part plays the keys from Low up to Hi, C-1..G9 (C4 is middle C). The key range "
        "editor drags them on a keyboard.",
        "Velocity switch: with Above the part plays only notes struck at least as hard as the threshold, with "
        "Below only softer ones. Velo. Thresh: the threshold, 1..127.",
        "Part level: 0..127.",
        "Output assign: where the part's sound goes: Dry (no effect), Rev (through the reverb), Cho (through "
        "the chorus), Dir1 or Dir2 (direct outputs).",
        "Pan: the part's place in the stereo image, 7> .. >< (centre) .. <7, or Rnd (a random place for each "
        "note).",
        rxVol,
        "Receive pan: whether the part follows MIDI pan messages (controller 10), Off or On.",
        rxHold,
    };
    for (size_t i = 0; i < columnHeadings_.size() && i < std::size(columns); ++i) columnHeadings_[i]->setToolTip(columns[i]);
    ControlTips tips;
    for (int p = 1; p <= 6; ++p) {
        QWidget* column[][2] = {{TimbreNumberCombo[p], nullptr}, {VoiceReserveCombo[p], nullptr},
                                {ReceiveChannelCombo[p], nullptr}, {KeyRangeLowCombo[p], KeyRangeHiCombo[p]},
                                {VeloLevelCombo[p], VeloThresholdCombo[p]}, {LevelCombo[p], nullptr},
                                {OutputAssignCombo[p], nullptr}, {PanCombo[p], nullptr},
                                {RxVolumeCombo[p], nullptr}, {RxPanCombo[p], nullptr},
                                {RxHoldCombo[p], nullptr}};
        for (size_t i = 0; i < std::size(column); ++i)
            for (QWidget* w : column[i])
                if (w) tips.push_back({w, columns[i]});
    }
    const QString fx32 = " 0..31.";
    tips.insert(tips.end(), {
        {ChorusTypeCombo, "Chorus type: Chorus1, Chorus2, FB-Chorus (chorus with feedback), Flanger or Short Delay."},
        {ChorusOutModeCombo, "Chorus output mode: Pre Rev (the chorus goes on into the reverb) or Post Rev (it "
                             "joins after the reverb)."},
        {ChorusDelayCombo, "Chorus delay time:" + fx32},
        {ChorusLevelCombo, "Chorus level:" + fx32},
        {ChorusRateCombo, "Chorus rate (speed of the modulation):" + fx32},
        {ChorusDepthCombo, "Chorus depth (amount of the modulation):" + fx32},
        {ChorusFeedbackCombo, "Chorus feedback: -31..31 (negative values feed back inverted)."},
        {ReverbTypeCombo, "Reverb type: Room1..3, Hall1, Hall2, Gate, Delay or CrossDelay."},
        {ReverbTimeCombo, "Reverb time:" + fx32},
        {ReverbLevelCombo, "Reverb level:" + fx32},
        {ReverbDelayFeedbackCombo, "Delay feedback: how much of the echo is repeated, for the Delay and "
                                   "CrossDelay types," + fx32},
        {PatchRhythmRhythmSetupCombo, "The rhythm setup the rhythm part plays: R-1..R-4."},
        {PatchRhythmVoiceReserveCombo, reserve},
        {PatchRhythmReceiveChannelCombo, rxCh},
        {PatchRhythmLevelCombo, "Rhythm part level: 0..127."},
        {PatchRhythmLevelBoostSwCombo, "Level boost switch: On makes the rhythm part louder; Off or On."},
        {PatchRhythmRxVolumeCombo, rxVol},
        {PatchRhythmRxHoldCombo, rxHold},
    });
    const QString controller = "Controller: the MIDI control change number (00..05, 07..31, 64..95) that drives the "
                               "destination beside it, or off.";
    const QString destination = "Destination: the value the controller beside it changes, Timbre Level .. Delay "
                                "Feedback (Env: envelope, A.Bend: auto bend, Vib: vibrato, Chrs: chorus, Rev: "
                                "reverb).";
    for (QComboBox* c : {Param1Combo, Param2Combo, Param3Combo}) tips.push_back({c, controller});
    for (QComboBox* c : {Param1ParamCombo, Param2ParamCombo, Param3ParamCombo}) tips.push_back({c, destination});
    ApplyTips(this, tips);
}

QSize frmPatch::sizeHint() const {
    if (sizeHintContent_.isValid())
        return sizeHintContent_ + QSize(2, 2 + (MenuBar ? MenuBar->sizeHint().height() : 0));
    return QDialog::sizeHint();
}

void frmPatch::FillCommonLists() {
    FillList(ChorusTypeCombo, lists::ChorusTypes());
    FillList(ChorusOutModeCombo, lists::ChorusOutModes());
    FillList(ChorusDelayCombo, lists::Numbers(0, 31));
    FillList(ChorusLevelCombo, lists::Numbers(0, 31));
    FillList(ChorusRateCombo, lists::Numbers(0, 31));
    FillList(ChorusDepthCombo, lists::Numbers(0, 31));
    FillList(ChorusFeedbackCombo, lists::Numbers(-31, 31));
    FillList(ReverbTypeCombo, lists::ReverbTypes());
    FillList(ReverbTimeCombo, lists::Numbers(0, 31));
    FillList(ReverbLevelCombo, lists::Numbers(0, 31));
    FillList(ReverbDelayFeedbackCombo, lists::Numbers(0, 31));
    FillList(Param1Combo, lists::Controllers());
    FillList(Param1ParamCombo, lists::Destinations());
    FillList(Param2Combo, lists::Controllers());
    FillList(Param2ParamCombo, lists::Destinations());
    FillList(Param3Combo, lists::Controllers());
    FillList(Param3ParamCombo, lists::Destinations());
}

void frmPatch::FillRhythmRow() {
    for (int i = 1; i <= 4; ++i) {
        const std::string name = quorvane::NameBytesToUtf8(u220_.MemoryRhythmName(static_cast<int16_t>(i)));
        PatchRhythmRhythmSetupCombo->addItem(QString("R-%1 ").arg(i) + QString::fromStdString(name));
    }
    PatchRhythmRhythmSetupCombo->setCurrentIndex(-1);
    FillList(PatchRhythmVoiceReserveCombo, lists::Numbers(0, kTotalVoices));
    FillList(PatchRhythmReceiveChannelCombo, lists::ReceiveChannel());
    FillList(PatchRhythmLevelCombo, lists::Numbers(0, 127));
    FillList(PatchRhythmLevelBoostSwCombo, lists::OffOn());
    FillList(PatchRhythmRxVolumeCombo, lists::OffOn());
    FillList(PatchRhythmRxHoldCombo, lists::OffOn());
}

void frmPatch::FillPartRow(int p) {
    QComboBox* timbre = TimbreNumberCombo[p];
    for (int i = 1; i <= 128; ++i) {
        const std::string name = quorvane::NameBytesToUtf8(u220_.MemoryTimbreName(static_cast<int16_t>(i)));
        timbre->addItem(QString("T-%1 ").arg(i, 3, 10, QChar('0')) + QString::fromStdString(name));
    }
    timbre->setCurrentIndex(-1);
    FillList(VoiceReserveCombo[p], lists::Numbers(0, kTotalVoices));
    FillList(ReceiveChannelCombo[p], lists::ReceiveChannel());
    FillList(KeyRangeLowCombo[p], lists::NoteNames());
    FillList(KeyRangeHiCombo[p], lists::NoteNames());
    FillList(VeloLevelCombo[p], VeloLevels());
    FillList(VeloThresholdCombo[p], lists::Numbers(1, 127));
    FillList(LevelCombo[p], lists::Numbers(0, 127));
    FillList(OutputAssignCombo[p], OutputAssigns());
    FillList(PanCombo[p], lists::Pan());
    FillList(RxVolumeCombo[p], lists::OffOn());
    FillList(RxPanCombo[p], lists::OffOn());
    FillList(RxHoldCombo[p], lists::OffOn());
}

// ---------------------------------------------------------------------------
// Handlers

void frmPatch::ConnectHandlers() {
    // Every list writes its selected index to its member, unless the window is
    // filling itself or the list shows no selection (a value outside the list).
    // Each write is one undo step; during a key range drag the key lists'
    // writes of one drag are one step together.
    auto bind = [this](QComboBox* combo, Param param, int index) {
        const bool keyRange = param == Param::PatchPartKeyRangeLow || param == Param::PatchPartKeyRangeHi;
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, param, index, keyRange](int selected) {
            if (Updating || selected < 0) return;
            history_->Write(EditTarget::Of(param, index), selected, combo->accessibleName(),
                            {keyRange ? dragBurst_ : 0, {}});
        });
    };
    for (const auto& [combo, param] : CommonLists()) bind(combo, param, 0);
    for (const auto& [combo, param] : RhythmRowLists()) bind(combo, param, 0);

    for (int p = 1; p <= 6; ++p) {
        for (const auto& [combo, param] : PartLists(p)) bind(combo, param, p);
        connect(EditTimbreCommand[p], &QPushButton::clicked, this, [this, p] { OnEditTimbre(p); });
    }

    // The voice reserve lists keep the shared 30-voice budget, also while the
    // window fills itself (their write above is skipped then, not the limiting).
    for (int p = 1; p <= 6; ++p)
        connect(VoiceReserveCombo[p], &QComboBox::currentIndexChanged, this, [this] { LimitVoiceReserveLists(); });
    connect(PatchRhythmVoiceReserveCombo, &QComboBox::currentIndexChanged, this, [this] { LimitVoiceReserveLists(); });

    connect(PatchNameText, &QLineEdit::textChanged, this, &frmPatch::OnPatchNameEdited);
    connect(EditRhythmCommand, &QPushButton::clicked, this, &frmPatch::OnEditRhythm);
    for (int p = 1; p <= 6; ++p) {
        connect(PlayCommand[p], &QPushButton::clicked, this, [this, p] { OnPlay(p); });
        connect(ReceiveChannelCombo[p], &QComboBox::currentIndexChanged, this, [this] { UpdatePlayButtons(); });
    }
    connect(PlayRhythmCommand, &QPushButton::clicked, this, [this] { OnPlay(0); });
    connect(PatchRhythmReceiveChannelCombo, &QComboBox::currentIndexChanged, this, [this] { UpdatePlayButtons(); });
    UpdatePlayButtons();
    connect(cmdShowKeyboard, &QPushButton::clicked, this, &frmPatch::OnShowKeyboard);
    connect(EndCommand, &QPushButton::clicked, this, &QDialog::accept);
}

std::vector<std::pair<QComboBox*, quorvane::Param>> frmPatch::CommonLists() const {
    // In the order the lists are filled and refreshed.
    return {
        {ChorusTypeCombo, Param::PatchCommonChorusType},
        {ChorusOutModeCombo, Param::PatchCommonChorusOutMode},
        {ChorusDelayCombo, Param::PatchCommonChorusDelay},
        {ChorusLevelCombo, Param::PatchCommonChorusLevel},
        {ChorusRateCombo, Param::PatchCommonChorusRate},
        {ChorusDepthCombo, Param::PatchCommonChorusDepth},
        {ChorusFeedbackCombo, Param::PatchCommonChorusFeedback},
        {ReverbTypeCombo, Param::PatchCommonReverbType},
        {ReverbTimeCombo, Param::PatchCommonReverbTime},
        {ReverbLevelCombo, Param::PatchCommonReverbLevel},
        {ReverbDelayFeedbackCombo, Param::PatchCommonReverbDelayFeedback},
        {Param1Combo, Param::PatchCommonParam1},
        {Param1ParamCombo, Param::PatchCommonParam1Param},
        {Param2Combo, Param::PatchCommonParam2},
        {Param2ParamCombo, Param::PatchCommonParam2Param},
        {Param3Combo, Param::PatchCommonParam3},
        {Param3ParamCombo, Param::PatchCommonParam3Param},
    };
}

std::vector<std::pair<QComboBox*, quorvane::Param>> frmPatch::RhythmRowLists() const {
    // In the order the row is refreshed.
    return {
        {PatchRhythmRhythmSetupCombo, Param::PatchRhythmRhythmSetup},
        {PatchRhythmVoiceReserveCombo, Param::PatchRhythmVoiceReserve},
        {PatchRhythmReceiveChannelCombo, Param::PatchRhythmReceiveChannel},
        {PatchRhythmLevelCombo, Param::PatchRhythmLevel},
        {PatchRhythmLevelBoostSwCombo, Param::PatchRhythmLevelBoostSw},
        {PatchRhythmRxVolumeCombo, Param::PatchRhythmRxVolume},
        {PatchRhythmRxHoldCombo, Param::PatchRhythmRxHold},
    };
}

std::vector<std::pair<QComboBox*, quorvane::Param>> frmPatch::PartLists(int p) const {
    // In the order the row is refreshed.
    return {
        {TimbreNumberCombo[p], Param::PatchPartTimbreNumber},
        {VoiceReserveCombo[p], Param::PatchPartVoiceReserve},
        {ReceiveChannelCombo[p], Param::PatchPartReceiveChannel},
        {KeyRangeLowCombo[p], Param::PatchPartKeyRangeLow},
        {KeyRangeHiCombo[p], Param::PatchPartKeyRangeHi},
        {VeloLevelCombo[p], Param::PatchPartVeloLevel},
        {VeloThresholdCombo[p], Param::PatchPartVeloThreshold},
        {LevelCombo[p], Param::PatchPartLevel},
        {OutputAssignCombo[p], Param::PatchPartOutputAssign},
        {PanCombo[p], Param::PatchPartPan},
        {RxVolumeCombo[p], Param::PatchPartRxVolume},
        {RxPanCombo[p], Param::PatchPartRxPan},
        {RxHoldCombo[p], Param::PatchPartRxHold},
    };
}

void frmPatch::OnPatchNameEdited(const QString& text) {
    if (Updating) return;
    // Only a byte read from the module that has no character can fail here
    // (typing is filtered): the module keeps its name until it is removed.
    // The keystrokes of one burst (no pause over two seconds) undo as one step.
    if (const auto bytes = NameToSend(PatchNameText, text))
        history_->Write(EditTarget::Of(quorvane::NameParam::PatchCommonPatchName), *bytes, "Patch name",
                        NameTyping());
}

TimbreSync frmPatch::TimbreSyncSource() const {
    return {[this] { return SyncPartCheck && SyncPartCheck->isChecked(); },
            [this](int p) {
                const QComboBox* c = p >= 1 && p <= 6 ? TimbreNumberCombo[p] : nullptr;
                return c ? c->currentIndex() : -1;
            }};
}

void frmPatch::BeginKeyRangeDrag() { dragBurst_ = history_->NewBurst(); }
void frmPatch::EndKeyRangeDrag() { dragBurst_ = 0; }

void frmPatch::SetKeyRange(int p, bool high, int key) {
    if (p < 1 || p > 6) return;
    // The list's own handler writes the model (one step of the drag under way).
    QComboBox* combo = high ? KeyRangeHiCombo[p] : KeyRangeLowCombo[p];
    if (combo && key >= 0 && key < combo->count() && combo->currentIndex() != key) lists::Select(combo, key);
}

void frmPatch::ShowName(const EditTarget&, const std::string& bytes) {
    const auto updating = Filling();
    PatchNameText->setText(NameForDisplay(bytes));
}

void frmPatch::ShowIndex(const EditTarget& target, int index) {
    const auto updating = Filling();
    auto show = [&](const std::vector<std::pair<QComboBox*, Param>>& lists, int at) {
        if (target.index != at) return;
        for (const auto& [combo, param] : lists)
            if (param == target.param()) lists::Select(combo, index);
    };
    show(CommonLists(), 0);
    show(RhythmRowLists(), 0);
    for (int p = 1; p <= 6; ++p) show(PartLists(p), p);
}

// ---------------------------------------------------------------------------
// Activation

void frmPatch::UpdatePlayButtons() {
    // The lists show the module's receive channels; one showing nothing or
    // "Off" (index 16) has no channel to play on.
    for (int p = 1; p <= 6; ++p)
        PlayCommand[p]->setEnabled(TestNotes::Channel(ReceiveChannelCombo[p]->currentIndex()).has_value());
    PlayRhythmCommand->setEnabled(
        TestNotes::Channel(PatchRhythmReceiveChannelCombo->currentIndex()).has_value());
}

void frmPatch::OnPlay(int p) {
    if (!u220_.PatchDataLoaded()) return;  // no channel known without waiting
    const int rx = p == 0 ? u220_.PatchRhythmReceiveChannel() : u220_.PatchPartReceiveChannel(static_cast<int16_t>(p));
    if (const auto channel = TestNotes::Channel(rx))
        notes_->Play(*channel, TestNotes::kMiddleC);
}

void frmPatch::Activate() {
    // No row is selected when the working patch matches no patch memory (after a
    // restore wrote another working area, say): no number is claimed for it.
    const int selected = ctx_.SelectedPatchIndex();
    PatchNoLabel->setText(selected < 0 ? QStringLiteral("P-??") : QString("P-%1").arg(selected + 1, 2, 10, QChar('0')));

    // A read below may wait for the module while events run; a nested
    // activation (a child closing meanwhile) must not clear the flag early.
    const auto updating = Filling();
    WaitCursor hourglass;

    ResetVoiceReserveLists();

    // Values read afresh (another patch, or a new read after a failed one):
    // steps recorded against the values before can no longer be undone.
    auto showNothing = [this] {
        PatchNameText->clear();
        for (const auto& [combo, param] : CommonLists()) combo->setCurrentIndex(-1);
        for (const auto& [combo, param] : RhythmRowLists()) combo->setCurrentIndex(-1);
        for (int p = 1; p <= 6; ++p)
            for (const auto& [combo, param] : PartLists(p)) combo->setCurrentIndex(-1);
    };
    if (!u220_.PatchDataLoaded()) {
        history_->Clear();
        // The read below waits for the module while the window already shows
        // the new patch number: show nothing meanwhile, not the values of the
        // patch shown at the last opening.
        showNothing();
    }
    const std::string name = u220_.PatchCommonPatchName();
    if (!u220_.PatchDataLoaded()) {
        // The module did not answer and the user gave up: every other read
        // would ask again. Show nothing rather than another patch's values;
        // the next activation reads again.
        showNothing();
        return;
    }
    PatchNameText->setText(NameForDisplay(name));

    for (const auto& [combo, param] : CommonLists()) lists::Select(combo, u220_.get(param, 0));
    for (const auto& [combo, param] : RhythmRowLists()) lists::Select(combo, u220_.get(param, 0));
    for (int p = 1; p <= 6; ++p) RefreshPartRow(p);
}

void frmPatch::RefreshPartRow(int p) {
    for (const auto& [combo, param] : PartLists(p)) lists::Select(combo, u220_.get(param, p));
}

// ---------------------------------------------------------------------------
// Voice reserves

std::array<QComboBox*, 7> frmPatch::ReserveLists() const {
    // Part rows 1 to 6, then the rhythm part.
    return {VoiceReserveCombo[1], VoiceReserveCombo[2], VoiceReserveCombo[3], VoiceReserveCombo[4],
            VoiceReserveCombo[5], VoiceReserveCombo[6], PatchRhythmVoiceReserveCombo};
}

void frmPatch::ResetVoiceReserveLists() {
    for (QComboBox* c : ReserveLists()) {
        while (c->count() < kTotalVoices + 1) c->addItem(QString::number(c->count()));
        c->setCurrentIndex(-1);
    }
}

void frmPatch::LimitVoiceReserveLists() {
    if (limiting_) return;
    limiting_ = true;
    const auto all = ReserveLists();
    int sum = 0;
    for (QComboBox* c : all)
        if (c->currentIndex() >= 0) sum += c->currentIndex();
    const int free = kTotalVoices - sum;

    // Each list with a selection ends at its own value plus the free voices. When
    // the module reports more than 30 voices in all (free < 0) a list still keeps
    // its own value: it is never cut below the entry it shows.
    auto lastIndexFor = [free](int s) { return s + std::max(free, 0); };
    for (QComboBox* c : all) {
        const int s = c->currentIndex();
        if (s < 0) continue;
        while (c->count() - 1 > lastIndexFor(s)) c->removeItem(c->count() - 1);
    }
    for (QComboBox* c : all) {
        const int s = c->currentIndex();
        if (s < 0) continue;
        while (c->count() - 1 < lastIndexFor(s)) c->addItem(QString::number(c->count()));
    }
    limiting_ = false;
}

// ---------------------------------------------------------------------------
// Child windows


// The child windows work on this window's lists (the timbre editor's sync
// reads the timbre lists, the key range editor selects in the key lists): they
// open only once activation has filled them, not from a click while it waits.

void frmPatch::OnEditTimbre(int p) {
    if (Updating) return;
    // The editor closed while its read still waited for the module is hidden
    // but still in exec() until that wait ends, and this window takes clicks
    // again. A part picked then is opened once the running exec() has
    // returned (a second exec() of the same window cannot run, and its part
    // must not change under the read).
    timbrePending_ = p;
    if (timbreRunning_) return;
    timbreRunning_ = true;
    setCursor(Qt::WaitCursor);
    if (!timbreEditor_) timbreEditor_ = new frmTimbre(ctx_, TimbreSyncSource(), this);
    do {
        timbreEditor_->gintPartNo = static_cast<int16_t>(timbrePending_);
        timbrePending_ = 0;
        timbreEditor_->setWindowTitle(QString("Timbre for Patch Part %1").arg(timbreEditor_->gintPartNo));
        timbreEditor_->exec();
    } while (timbrePending_ > 0 && isVisible());  // not once this window has closed too
    timbrePending_ = 0;
    timbreRunning_ = false;
    unsetCursor();
    Activate();
}

void frmPatch::OnEditRhythm() {
    if (Updating) return;
    setCursor(Qt::WaitCursor);
    {
        // Destroyed when closed: each opening reads the rhythm setup afresh.
        frmRhythm editor(ctx_, this);
        editor.exec();
    }
    unsetCursor();
    Activate();
}

void frmPatch::OnShowKeyboard() {
    if (Updating) return;
    {
        // Destroyed when closed, like the rhythm setup editor.
        frmKeyboard editor(ctx_, *this, this);
        editor.exec();
    }
    Activate();
}

}  // namespace quorvane::ui
