// The editor's command line: --help, --version, a connection to try before
// the MIDI setup dialog (--in PORT --out PORT [--device-id N], or --virtual),
// and a back-up to start once connected (--back-up FILE). Parsed before any window exists, so that --help and --version
// work without a display.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quorvane::app {

struct CommandLine {
    // Set when the program ends here: 0 after --help or --version, 2 for a bad
    // command line. `output` is printed on stdout, `error` on stderr.
    std::optional<int> exitCode;
    QString output;
    QString error;

    // The connection asked for; without --in/--out/--virtual the dialog decides.
    bool connect = false;
    bool useVirtual = false;
    QString in, out;  // PORT as given: an index or a part of a name
    std::optional<int> deviceId;  // 1..32 as the module shows it
    // --back-up FILE: once the names are loaded, File > Back Up Module... to FILE
    // (the progress shows in the window; the program goes on afterwards).
    QString backUp;
};

// `arguments` as QCoreApplication::arguments() gives them (the program first).
// Qt's own window options (-platform, -style, ...) are passed over here: the
// QApplication takes them later.
CommandLine ParseCommandLine(const QStringList& arguments);

// Finds PORT among `names` whose first entry has index `firstIndex` (0 for both
// lists, as quorvane-cli ports numbers them): an index, the exact name in any
// case, or a part of one name in any case. A part that fits several names is
// refused. Returns the list position (0-based), or nullopt with `why` filled.
std::optional<int> MatchPort(const QString& wanted, const QStringList& names, int firstIndex, const QString& direction,
                             QString* why);

}  // namespace quorvane::app
