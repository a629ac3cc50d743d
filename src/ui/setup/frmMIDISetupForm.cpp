#include "ui/setup/frmMIDISetupForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "device/clsU220.h"

namespace quorvane::ui {

frmMIDISetupForm::frmMIDISetupForm(quorvane::clsU220& u220, QWidget* parent) : QDialog(parent), U220(u220) {
    setWindowTitle(QStringLiteral("Quorvane / MIDI Setup"));
    setModal(true);

    ComboMidiIn = new QComboBox(this);
    ComboMidiIn->setObjectName(QStringLiteral("ComboMidiIn"));
    ComboMidiOut = new QComboBox(this);
    ComboMidiOut->setObjectName(QStringLiteral("ComboMidiOut"));
    comboDeviceID = new QComboBox(this);
    comboDeviceID->setObjectName(QStringLiteral("comboDeviceID"));
    spinSendGap = new QSpinBox(this);
    spinSendGap->setObjectName(QStringLiteral("spinSendGap"));
    spinSendGap->setRange(0, kMaxSendGapMs);
    spinSendGap->setSuffix(QStringLiteral(" ms"));
    spinSendGap->setValue(kDefaultSendGapMs);
    spinSendGap->setToolTip(QStringLiteral("Least pause between two messages sent to a MIDI port (0 to %1 ms; "
                                           "%2 ms suits the module, more helps slow interfaces)")
                                .arg(kMaxSendGapMs)
                                .arg(kDefaultSendGapMs));
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);  // a note on missing ports runs to two lines
    cmdOK = new QPushButton(QStringLiteral("Ok"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    CmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    CmdCancel->setObjectName(QStringLiteral("CmdCancel"));

    for (QComboBox* c : {ComboMidiIn, ComboMidiOut}) {
        c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        c->setMinimumContentsLength(24);
    }

    auto* grid = new QGridLayout;
    // Alt plus the underlined letter moves to the field.
    auto addRow = [&](int row, const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
    };
    addRow(0, QStringLiteral("MIDI &In Device"), ComboMidiIn);
    addRow(1, QStringLiteral("MIDI &Out Device"), ComboMidiOut);
    addRow(2, QStringLiteral("U-220 &Device ID"), comboDeviceID);
    addRow(3, QStringLiteral("&Pause between messages"), spinSendGap);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(cmdOK, QDialogButtonBox::AcceptRole);
    buttons->addButton(CmdCancel, QDialogButtonBox::RejectRole);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(lblStatus);
    layout->addWidget(buttons);

    // The button box would accept on Ok by itself; Ok must first find the module.
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(CmdCancel, &QPushButton::clicked, this, [this] { CmdCancel_Click(); });
    setTabOrder(ComboMidiIn, ComboMidiOut);
    setTabOrder(ComboMidiOut, comboDeviceID);
    setTabOrder(comboDeviceID, spinSendGap);
    setTabOrder(spinSendGap, cmdOK);
    setTabOrder(cmdOK, CmdCancel);

    connect(comboDeviceID, &QComboBox::currentIndexChanged, this, [this](int i) { comboDeviceID_Click(i); });
    // A pick by the user, even of the entry shown: only then is a remembered
    // port that is missing now given up.
    connect(ComboMidiIn, &QComboBox::activated, this, [this] { pickedIn_ = true; });
    connect(ComboMidiOut, &QComboBox::activated, this, [this] { pickedOut_ = true; });
    for (int id = 1; id <= 32; ++id) comboDeviceID->addItem(QString::number(id));
    ShowChoice(LoadLastChoice());
}

void frmMIDISetupForm::FillDevices() {
    ComboMidiOut->clear();
    ComboMidiIn->clear();
    // Output devices from -1 (listed first) upwards; entry i is device i - 1.
    midi::MIDIOutput& out = *U220.MIDIOutput1;
    for (int i = -1; i < out.deviceCount(); ++i)
        ComboMidiOut->addItem(QString::fromStdString(out.deviceName(i)));
    ComboMidiOut->setCurrentIndex(ComboMidiOut->count() > 0 ? 0 : -1);

    midi::MIDIInput& in = *U220.MIDIInput1;
    const int inputs = in.deviceCount();
    for (int i = 0; i < inputs; ++i) ComboMidiIn->addItem(QString::fromStdString(in.deviceName(i)));
    const bool any = inputs > 0;
    ComboMidiIn->setCurrentIndex(any ? 0 : -1);
    ComboMidiIn->setEnabled(any);
    cmdOK->setEnabled(any);
    lblStatus->setText(any ? QString() : QStringLiteral("No MIDI In Device is available."));
}

void frmMIDISetupForm::ShowChoice(const PortChoice& c) {
    opened_ = false;
    FillDevices();
    // By name: a port listed under another number is still found; one that is
    // gone leaves the built-in module (entry 0 of both lists) selected.
    if (!c.virtualIn && ComboMidiIn->count() > 1) {
        const int i = ComboMidiIn->findText(c.in, Qt::MatchExactly);
        if (i > 0) ComboMidiIn->setCurrentIndex(i);
    }
    if (!c.virtualOut && ComboMidiOut->count() > 1) {
        const int o = ComboMidiOut->findText(c.out, Qt::MatchExactly);
        if (o > 0) ComboMidiOut->setCurrentIndex(o);
    }
    comboDeviceID->setCurrentIndex(c.deviceId >= 0 && c.deviceId <= 31 ? c.deviceId : 16);
    comboDeviceID_Click(comboDeviceID->currentIndex());  // also when the entry was already selected
    spinSendGap->setValue(c.sendGapMs);

    // The ports that last worked and are not listed now: said, not silently
    // replaced by the built-in module.
    remembered_ = LoadLastChoice();
    pickedIn_ = pickedOut_ = false;
    QStringList missing;
    if (!remembered_.virtualIn && ComboMidiIn->findText(remembered_.in, Qt::MatchExactly) <= 0)
        missing << QStringLiteral("MIDI In \"%1\"").arg(remembered_.in);
    if (!remembered_.virtualOut && ComboMidiOut->findText(remembered_.out, Qt::MatchExactly) <= 0)
        missing << QStringLiteral("MIDI Out \"%1\"").arg(remembered_.out);
    note_.clear();
    if (!missing.isEmpty())
        note_ = QStringLiteral("%1, used last time, %2 not listed now; the built-in U-220 is selected instead. "
                               "Ok keeps %3 remembered for the next start until you pick another port.")
                    .arg(missing.join(QStringLiteral(" and ")),
                         missing.size() > 1 ? QStringLiteral("are") : QStringLiteral("is"),
                         missing.size() > 1 ? QStringLiteral("them") : QStringLiteral("it"));
    if (ComboMidiIn->count() > 0) lblStatus->setText(note_);
}

PortChoice frmMIDISetupForm::ToRemember() const {
    PortChoice c = Chosen();
    // The built-in module in a list the user did not touch stands in for the
    // real port remembered there: that port is kept.
    if (!remembered_.virtualIn && !pickedIn_ && c.virtualIn) {
        c.in = remembered_.in;
        c.virtualIn = false;
    }
    if (!remembered_.virtualOut && !pickedOut_ && c.virtualOut) {
        c.out = remembered_.out;
        c.virtualOut = false;
    }
    return c;
}

PortChoice frmMIDISetupForm::Chosen() const {
    PortChoice c;
    c.in = ComboMidiIn->currentText();
    c.out = ComboMidiOut->currentText();
    c.virtualIn = ComboMidiIn->currentIndex() <= 0;
    c.virtualOut = ComboMidiOut->currentIndex() <= 0;
    c.deviceId = comboDeviceID->currentIndex() >= 0 ? comboDeviceID->currentIndex() : 16;
    c.sendGapMs = spinSendGap->value();
    return c;
}

frmMIDISetupForm::~frmMIDISetupForm() = default;

void frmMIDISetupForm::comboDeviceID_Click(int index) {
    if (index >= 0 && index <= 31) U220.DeviceID(static_cast<int16_t>(index));
}

void frmMIDISetupForm::MIDIInOpen() {
    midi::MIDIInput& in = *U220.MIDIInput1;
    if (in.isOpen()) in.close();
    in.open(ComboMidiIn->currentIndex());  // a failure is reported through the model's port error hook
}

void frmMIDISetupForm::MIDIOutOpen() {
    midi::MIDIOutput& out = *U220.MIDIOutput1;
    if (out.isOpen()) out.close();
    // The built-in module needs no pause; a real port gets the one chosen.
    if (ComboMidiOut->currentIndex() > 0) out.setSendGapMs(spinSendGap->value());
    out.open(ComboMidiOut->currentIndex() - 1);
}

void frmMIDISetupForm::cmdOK_Click() {
    // The probe lets events run for up to 3 s; a second Ok in that time must not
    // start a probe of its own.
    if (probing_ || !cmdOK->isEnabled()) return;
    probing_ = true;
    rejected_ = false;
    cmdOK->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);

    opened_ = true;
    MIDIInOpen();
    MIDIOutOpen();
    lblStatus->setText(QStringLiteral("Please wait..."));
    const bool answering = U220.Responding();
    lblStatus->setText(note_);

    QApplication::restoreOverrideCursor();
    probing_ = false;
    cmdOK->setEnabled(true);

    // Cancel or the window frame during the probe: the dialog is already closed
    // as cancelled, and a late answer must not turn that into Ok.
    if (rejected_) return;

    if (answering) {
        // The next start offers this choice first.
        SaveLastChoice(ToRemember());
        accept();
        return;
    }
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                    QString::fromLatin1(kNotRespondingText), QMessageBox::Ok, this);
    box.setInformativeText(NotRespondingAdvice(Chosen()));
    box.exec();
}

void frmMIDISetupForm::CmdCancel_Click() { reject(); }

void frmMIDISetupForm::done(int r) {
    if (r == QDialog::Rejected) rejected_ = true;
    QDialog::done(r);
}

}  // namespace quorvane::ui
