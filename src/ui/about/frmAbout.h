// The About box: the program's title, its version from the build, a line on
// what it is and which MIDI library it uses (the text handed in), a disclaimer, and a button that
// starts the platform's own system information tool. Its texts are Japanese.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;

namespace quorvane::ui {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // `midiText`: the MIDI library and the systems compiled in, for the description.
    explicit frmAbout(const QString& midiText, QWidget* parent = nullptr);
    ~frmAbout() override;

    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblDescription = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QLabel* picIconIn = nullptr;
    QLabel* picIconOut = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;

    // "major.minor.revision" of this build (from the project version).
    static QString VersionText();
    // Programs tried, in order, as this platform's system information tool.
    static QStringList SysInfoCandidates();

    // Starts the system information tool; when there is none, or it cannot be
    // started, says so in a message box. Returns true when a tool was started.
    bool StartSysInfo();
};

}  // namespace quorvane::ui
