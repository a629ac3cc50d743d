#include "ui/main/Connection.h"

#include "device/clsU220.h"
#include "ports/MidiSystem.h"

namespace quorvane::ui {

namespace texts {

QString NamesNotReadAgain() {
    return QStringLiteral("Some names of the memories written were not read again: File > Reload (F5) reads them.");
}

QString LoadStopped() {
    return QStringLiteral(
        "Loading stopped: the module did not answer. Check the setup, then File > Reload (F5) loads the rest.");
}

QString PortGone(const QStringList& names) {
    QStringList quoted;
    for (const QString& n : names) quoted << QLatin1Char('"') + n + QLatin1Char('"');
    return QStringLiteral("MIDI port %1 %2 gone. Quorvane reconnects when it is back; File > MIDI Setup... "
                          "chooses other ports.")
        .arg(quoted.join(QStringLiteral(" and ")), names.size() > 1 ? QStringLiteral("are") : QStringLiteral("is"));
}

QString Reconnected(const PortChoice& c) {
    QStringList parts;
    if (!c.virtualIn) parts << QStringLiteral("MIDI In \"%1\"").arg(c.in);
    if (!c.virtualOut) parts << QStringLiteral("MIDI Out \"%1\"").arg(c.out);
    return QStringLiteral("Reconnected to %1.").arg(parts.join(QStringLiteral(" and ")));
}

QString MidiSystemStopped(const QString& system) {
    const QString which = system.isEmpty() ? QStringLiteral("The MIDI system") : QStringLiteral("The MIDI system (%1)").arg(system);
    return which + QStringLiteral(" has stopped. Quorvane reconnects when the ports are back; File > MIDI Setup... "
                                  "chooses other ports.");
}

QString ClientDropped(const PortChoice& c) {
    return QStringLiteral("The MIDI system dropped Quorvane's connection. ") + Reconnected(c);
}

}  // namespace texts

ConnectionKeeper::ConnectionKeeper(clsU220& model, const midi::MidiSystem& system, QObject* parent)
    : QObject(parent), model_(model), system_(system) {
    timer_.setInterval(kDefaultIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] { check(); });
    failuresSeen_ = system_.failures();
}

void ConnectionKeeper::setConnection(const PortChoice& c) {
    choice_ = c;
    gone_ = false;
    stopped_ = false;
    failuresSeen_ = system_.failures();
    if (c.real()) timer_.start();
    else timer_.stop();
}

QString ConnectionKeeper::systemName() const {
    return QString::fromStdString(system_.name((choice_.virtualOut ? choice_.in : choice_.out).toStdString()));
}

QStringList ConnectionKeeper::missingPorts() {
    QStringList missing;
    if (!choice_.virtualIn && InputIndexOf(model_, choice_) == -2) missing << choice_.in;
    if (!choice_.virtualOut && OutputIndexOf(model_, choice_) == -2) missing << choice_.out;
    return missing;
}

bool ConnectionKeeper::reopen() {
    if (!choice_.real()) return true;
    return OpenChoice(model_, choice_, nullptr, !choice_.virtualIn, !choice_.virtualOut);
}

void ConnectionKeeper::check() {
    // Reopening can show nothing, but a slot of the timer may still run inside
    // a nested event loop: one check at a time.
    if (busy_ || !choice_.real()) return;
    busy_ = true;

    const uint64_t failures = system_.failures();
    if (failures != failuresSeen_) {
        failuresSeen_ = failures;
        const std::string label = (choice_.virtualOut ? choice_.in : choice_.out).toStdString();
        if (!system_.running(label)) {
            if (!stopped_) {
                stopped_ = true;
                gone_ = true;
                emit midiSystemStopped(texts::MidiSystemStopped(systemName()));
            }
        } else if (!stopped_ && !gone_ && missingPorts().isEmpty() && reopen()) {
            // The server runs and the ports are there: it threw our client out.
            emit news(texts::ClientDropped(choice_));
            emit reconnected();
        }
    }

    const QStringList missing = missingPorts();
    if (!missing.isEmpty()) {
        if (!gone_) {
            gone_ = true;
            emit news(texts::PortGone(missing));
        }
    } else if (gone_ && reopen()) {
        gone_ = false;
        stopped_ = false;
        emit news(texts::Reconnected(choice_));
        emit reconnected();
    }
    busy_ = false;
}

}  // namespace quorvane::ui
