// The About box: its Japanese texts, the build's version, and the system
// information button with and without a tool on the PATH.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "ui/UiTestSupport.h"
#include "ui/about/frmAbout.h"

using quorvane::test::MessageBoxWatcher;
using quorvane::ui::frmAbout;

namespace {
// The MIDI text the program hands the box: the machine's MIDI system's.
QString MidiText() { return QString::fromStdString(quorvane::midi::MachineMidiSystem()->aboutText()); }
}  // namespace

class tst_about : public QObject {
    Q_OBJECT

private slots:
    void textsAndVersion() {
        frmAbout box(MidiText());
        QCOMPARE(box.windowTitle(), QString::fromUtf8(u8"Quorvane のﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(box.lblTitle->text(), QString("Quorvane"));
        QCOMPARE(box.lblDisclaimer->text(),
                 QString::fromUtf8(u8"このﾌﾟﾛｸﾞﾗﾑの使用によって生じたいかなる損害に対しても作者は何ら責任を負いません。"
                                   u8"自己責任でお使い下さい。"));
        QCOMPARE(box.cmdOK->text(), QString("OK"));
        QCOMPARE(box.cmdSysInfo->text(), QString::fromUtf8(u8"ｼｽﾃﾑ情報(&S)..."));

        // The version of this build, as major.minor.revision.
        const QString version = box.lblVersion->text();
        QVERIFY2(QRegularExpression(QString::fromUtf8(u8"^ﾊﾞｰｼﾞｮﾝ \\d+\\.\\d+\\.\\d+$")).match(version).hasMatch(),
                 qPrintable(version));
        const QStringList built = QStringLiteral(QUORVANE_VERSION).split('.');
        QVERIFY(version.endsWith(QStringLiteral(" %1.%2.%3")
                                     .arg(built.value(0).toInt())
                                     .arg(built.value(1).toInt())
                                     .arg(built.value(2).toInt())));

        // The description names the MIDI library this program uses.
        const QStringList lines = box.lblDescription->text().split('\n');
        QVERIFY(lines.size() >= 3);
        QCOMPARE(lines[0], QString::fromUtf8(u8"RtMidiを使い、Roland U-220の設定を編集するﾌﾟﾛｸﾞﾗﾑです。"));
        QCOMPARE(lines[1], QString("2004/4/10"));
        QVERIFY(lines[2].contains("RtMidi"));
        QVERIFY(!box.picIconIn->pixmap().isNull());
        QVERIFY(!box.picIconOut->pixmap().isNull());
    }

#ifdef Q_OS_LINUX
    void sysInfoWithoutToolSaysSo() {
        QTemporaryDir empty;
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(empty.path()));
        frmAbout box(MidiText());
        MessageBoxWatcher watcher;
        const bool started = box.StartSysInfo();
        qputenv("PATH", savedPath);
        QVERIFY(!started);
        QCOMPARE(watcher.texts, QStringList{QString::fromUtf8(u8"現時点ではｼｽﾃﾑ情報を使用できません")});
        QCOMPARE(watcher.buttons.at(0).size(), 1);
    }

    void sysInfoStartsToolFromPath() {
        QTemporaryDir dir;
        const QString marker = dir.filePath("started");
        const QString tool = dir.filePath("hardinfo");
        {
            QFile script(tool);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(QStringLiteral("#!/bin/sh\n: > '%1'\n").arg(marker).toUtf8());
        }
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.path()));
        frmAbout box(MidiText());
        MessageBoxWatcher watcher;
        const bool started = box.StartSysInfo();
        qputenv("PATH", savedPath);
        QVERIFY(started);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(marker); }, 10000));
        QVERIFY(watcher.texts.isEmpty());
    }
#endif

    // With QUORVANE_SCREENSHOT_DIR set: the box as shown.
    void screenshot() {
        if (!quorvane::test::ScreenshotsWanted()) QSKIP("QUORVANE_SCREENSHOT_DIR not set");
        frmAbout box(MidiText());
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(quorvane::test::SaveScreenshot(box, "about.png"));
    }
};

QTEST_MAIN(tst_about)
#include "tst_about.moc"
