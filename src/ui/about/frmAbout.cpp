#include "ui/about/frmAbout.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>


namespace {

const char8_t* const kNoSysInfo = u8"現時点ではｼｽﾃﾑ情報を使用できません";

// A MIDI DIN socket, drawn at the screen's pixel density so it stays sharp.
QPixmap DinSocket(const QString& caption, qreal dpr) {
    const int size = 40;
    QPixmap pm(QSize(size, size) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(4, 2, 32, 32);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(90, 90, 90));
    p.drawEllipse(body);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 230, 230));
    // Five pins on a half circle, the key notch at the top.
    const QPointF c = body.center();
    const double angles[5] = {180, 225, 270, 315, 0};
    for (double a : angles) {
        const double rad = a * 3.14159265358979 / 180.0;
        p.drawEllipse(QPointF(c.x() + 9 * std::cos(rad), c.y() - 9 * std::sin(rad) * -1), 2.2, 2.2);
    }
    p.drawRect(QRectF(c.x() - 2, body.top() + 1, 4, 4));
    QFont f = p.font();
    f.setPointSizeF(f.pointSizeF() * 0.7);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(40, 40, 40));
    p.drawText(QRectF(0, 33, size, 8), Qt::AlignCenter | Qt::TextDontClip, caption);
    return pm;
}

bool StartDetached(const QString& program, const QStringList& args = {}) {
    return !program.isEmpty() && QProcess::startDetached(program, args);
}

}  // namespace

namespace quorvane::ui {

frmAbout::frmAbout(const QString& midiText, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(u8"Quorvane のﾊﾞｰｼﾞｮﾝ情報"));

    lblTitle = new QLabel(QStringLiteral("Quorvane"), this);
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.8);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);

    lblVersion = new QLabel(QString::fromUtf8(u8"ﾊﾞｰｼﾞｮﾝ ") + VersionText(), this);

    const QString description =
        QString::fromUtf8(u8"RtMidiを使い、Roland U-220の設定を編集するﾌﾟﾛｸﾞﾗﾑです。") + QLatin1Char('\n') +
        QStringLiteral("2004/4/10") + QLatin1Char('\n') +
        QStringLiteral("MIDI: ") + midiText;
    lblDescription = new QLabel(description, this);
    lblDescription->setWordWrap(true);
    lblDescription->setTextInteractionFlags(Qt::TextSelectableByMouse);

    lblDisclaimer = new QLabel(
        QString::fromUtf8(u8"このﾌﾟﾛｸﾞﾗﾑの使用によって生じたいかなる損害に対しても作者は何ら責任を負いません。"
                          u8"自己責任でお使い下さい。"),
        this);
    lblDisclaimer->setWordWrap(true);

    const qreal dpr = devicePixelRatioF();
    picIconIn = new QLabel(this);
    picIconIn->setPixmap(DinSocket(QStringLiteral("IN"), dpr));
    picIconOut = new QLabel(this);
    picIconOut->setPixmap(DinSocket(QStringLiteral("OUT"), dpr));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QString::fromUtf8(u8"ｼｽﾃﾑ情報(&S)..."), this);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { StartSysInfo(); });

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* icons = new QVBoxLayout;
    icons->addWidget(picIconIn);
    icons->addWidget(picIconOut);
    icons->addStretch(1);

    auto* texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblVersion);
    texts->addSpacing(8);
    texts->addWidget(lblDescription);
    texts->addStretch(1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    buttons->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->addLayout(icons, 0, 0, 3, 1);
    grid->addLayout(texts, 0, 1);
    grid->addWidget(line, 1, 1, 1, 2);
    grid->addWidget(lblDisclaimer, 2, 1);
    grid->addLayout(buttons, 2, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 360);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();
}

frmAbout::~frmAbout() = default;

QString frmAbout::VersionText() {
    // The build's project version, always shown as major.minor.revision.
    const QStringList parts = QStringLiteral(QUORVANE_VERSION).split(QLatin1Char('.'));
    int numbers[3] = {0, 0, 0};
    for (int i = 0; i < 3 && i < parts.size(); ++i) numbers[i] = parts[i].toInt();
    return QStringLiteral("%1.%2.%3").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]);
}

QStringList frmAbout::SysInfoCandidates() {
#if defined(Q_OS_WIN)
    return {QStringLiteral("msinfo32")};
#elif defined(Q_OS_MACOS)
    return {QStringLiteral("System Information")};
#else
    return {QStringLiteral("gnome-system-monitor"), QStringLiteral("plasma-systemmonitor"),
            QStringLiteral("ksysguard"),            QStringLiteral("xfce4-taskmanager"),
            QStringLiteral("mate-system-monitor"),  QStringLiteral("hardinfo2"),
            QStringLiteral("hardinfo"),             QStringLiteral("lxtask")};
#endif
}

bool frmAbout::StartSysInfo() {
    bool started = false;
#if defined(Q_OS_WIN)
    // Where Windows records the tool, then the shared tools folder, then the PATH.
    const QSettings msinfo(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                           QSettings::NativeFormat);
    started = StartDetached(msinfo.value(QStringLiteral("PATH")).toString());
    if (!started) {
        const QSettings location(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location"),
                                 QSettings::NativeFormat);
        const QString folder = location.value(QStringLiteral("MSINFO")).toString();
        const QString exe = folder + QStringLiteral("\\MSINFO32.EXE");
        if (!folder.isEmpty() && QFileInfo::exists(exe)) started = StartDetached(exe);
    }
    for (const QString& name : SysInfoCandidates()) {
        if (started) break;
        started = StartDetached(QStandardPaths::findExecutable(name));
    }
#elif defined(Q_OS_MACOS)
    // "open -a" fails at once when the application is not installed.
    QProcess open;
    open.start(QStringLiteral("open"), {QStringLiteral("-a"), SysInfoCandidates().value(0)});
    started = open.waitForFinished(10000) && open.exitStatus() == QProcess::NormalExit && open.exitCode() == 0;
#else
    for (const QString& name : SysInfoCandidates()) {
        started = StartDetached(QStandardPaths::findExecutable(name));
        if (started) break;
    }
#endif
    if (!started) {
        QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), QString::fromUtf8(kNoSysInfo),
                        QMessageBox::Ok, this);
        box.exec();
    }
    return started;
}

}  // namespace quorvane::ui
