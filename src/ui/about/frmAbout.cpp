#include "ui/about/frmAbout.h"

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {}
frmAbout::~frmAbout() = default;
QString frmAbout::VersionText() { return QStringLiteral(QUORVANE_VERSION); }
QStringList frmAbout::SysInfoCandidates() { return {}; }
bool frmAbout::StartSysInfo() { return false; }
