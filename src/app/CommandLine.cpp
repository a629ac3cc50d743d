#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include "ports/PortMatch.h"

namespace quorvane::app {

namespace {

// Whole decimal numbers only: "17", "+17"; no blanks, no hex.
std::optional<long long> WholeNumber(const QString& text) {
    static const QRegularExpression plain(QStringLiteral("^\\+?[0-9]{1,9}$"));
    if (!plain.match(text).hasMatch()) return std::nullopt;
    return text.toLongLong();
}

// Qt's own options, which QApplication takes out of the command line itself.
// They are known here only so that "-platform offscreen --version" is not an
// unknown option; they are not listed in --help.
void AddQtOptions(QCommandLineParser& parser) {
    const char* const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                     "qwindowicon", "qwindowtitle", "style", "stylesheet", "display", "geometry",
                                     "session", "title", "font", "name"};
    const char* const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    for (const char* name : withValue) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    for (const char* name : flags) {
        QCommandLineOption o(QString::fromLatin1(name));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
}

CommandLine Usage(const QString& message) {
    CommandLine c;
    c.exitCode = 2;
    c.error = message + QStringLiteral(" (see --help)");
    return c;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Edits every setting of a U-220 sound module over MIDI, or of the built-in virtual U-220.\n"
                       "Without --in/--out or --virtual the MIDI setup dialog asks for the ports; with them\n"
                       "Quorvane connects at once, and shows the dialog only when the module does not answer."));
    // "-platform" is one option, not -p -l -a ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption in(QStringLiteral("in"),
                                QStringLiteral("MIDI input: its index (as quorvane-cli ports lists it) or a part of its name."),
                                QStringLiteral("PORT"));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("MIDI output: its index or a part of its name."), QStringLiteral("PORT"));
    const QCommandLineOption deviceId(QStringLiteral("device-id"),
                                      QStringLiteral("The module's device ID, 1..32 as the module shows it (default 17)."),
                                      QStringLiteral("N"));
    const QCommandLineOption useVirtual(QStringLiteral("virtual"), QStringLiteral("Connect to the built-in virtual U-220."));
    const QCommandLineOption backUp(QStringLiteral("back-up"),
                                    QStringLiteral("Once the names are loaded, back up the module to FILE as File > Back "
                                                   "Up Module... does."),
                                    QStringLiteral("FILE"));
    parser.addOptions({in, out, deviceId, useVirtual, backUp});
    AddQtOptions(parser);

    if (!parser.parse(arguments)) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.'))) error.chop(1);
        return Usage(error);
    }

    CommandLine c;
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        c.exitCode = 0;
        c.output = parser.helpText();
        return c;
    }
    if (parser.isSet(version)) {
        c.exitCode = 0;
        c.output = QStringLiteral("quorvane %1\n").arg(QCoreApplication::applicationVersion());
        return c;
    }
    if (!parser.positionalArguments().isEmpty())
        return Usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(useVirtual) && (parser.isSet(in) || parser.isSet(out)))
        return Usage(QStringLiteral("--virtual cannot be combined with --in or --out"));
    if (parser.isSet(in) != parser.isSet(out))
        return Usage(QStringLiteral("give both --in and --out (only %1 was given)")
                         .arg(parser.isSet(in) ? QStringLiteral("--in") : QStringLiteral("--out")));
    if (parser.isSet(deviceId)) {
        const QString text = parser.value(deviceId);
        const auto id = WholeNumber(text);
        if (!id || *id < 1 || *id > 32)
            return Usage(QStringLiteral("--device-id takes a whole decimal number 1..32, not '%1'").arg(text));
        c.deviceId = static_cast<int>(*id);
    }
    if (parser.isSet(backUp)) {
        c.backUp = parser.value(backUp);
        if (c.backUp.trimmed().isEmpty()) return Usage(QStringLiteral("--back-up needs a file name"));
    }
    c.useVirtual = parser.isSet(useVirtual);
    c.connect = c.useVirtual || parser.isSet(in);
    c.in = parser.value(in);
    c.out = parser.value(out);
    return c;
}

std::optional<int> MatchPort(const QString& wanted, const QStringList& names, int firstIndex, const QString& direction,
                             QString* why) {
    std::vector<std::string> list;
    for (const QString& n : names) list.push_back(n.toStdString());
    const midi::PortMatch m = midi::MatchPort(wanted.toStdString(), list, firstIndex);
    switch (m.result) {
        case midi::PortMatch::Result::Found: return m.position;
        case midi::PortMatch::Result::EmptyName:
            *why = QStringLiteral("an empty name picks no MIDI %1 port").arg(direction);
            break;
        case midi::PortMatch::Result::NoSuchNumber:
            *why = QStringLiteral("there is no MIDI %1 port %2").arg(direction, wanted);
            break;
        case midi::PortMatch::Result::NoMatch:
            *why = QStringLiteral("no MIDI %1 port matches '%2'").arg(direction, wanted);
            break;
        case midi::PortMatch::Result::Ambiguous: {
            QStringList fits;
            for (int i : m.candidates) fits << QStringLiteral("%1 \"%2\"").arg(i + firstIndex).arg(names[i]);
            *why = QStringLiteral("'%1' fits more than one MIDI %2 port: %3").arg(wanted, direction, fits.join(QStringLiteral(", ")));
            break;
        }
    }
    return std::nullopt;
}

}  // namespace quorvane::app
