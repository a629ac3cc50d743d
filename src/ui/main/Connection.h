// Keeps the main window's connection to the module alive: while a port of the
// MIDI system is in use it looks at the port lists every so often (by name:
// numbers shift when ports come and go) and at the MIDI system itself. A port
// that vanished is reported; when it is listed again under the same name it is
// reopened through the model's own ports. A MIDI system that stopped (JACK
// server gone, or its client thrown out) is reported once.
//
// Also the status line texts about loading and the connection.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <string>

#include "ui/setup/PortChoice.h"

namespace quorvane {
class clsU220;
}
namespace quorvane::midi {
class MidiSystem;
}

namespace quorvane::ui {

namespace texts {
QString LoadStopped();
// After a transfer that was cancelled or not answered: names left unread.
QString NamesNotReadAgain();
QString PortGone(const QStringList& names);
QString Reconnected(const PortChoice& c);
QString MidiSystemStopped(const QString& system);
QString ClientDropped(const PortChoice& c);
}  // namespace texts

class ConnectionKeeper : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultIntervalMs = 1500;

    // `system` tells when the MIDI system stopped and what it is called.
    ConnectionKeeper(quorvane::clsU220& model, const midi::MidiSystem& system, QObject* parent = nullptr);

    // The ports now open on the model. Checks run while a real port is in use.
    void setConnection(const PortChoice& c);
    const PortChoice& connection() const { return choice_; }
    void setInterval(int ms) { timer_.setInterval(ms); }
    bool checking() const { return timer_.isActive(); }

    // One look at the port lists and the MIDI system (the timer runs it).
    void check();
    // Opens the real ports in use again, by name: after the module stopped
    // answering its connection may have gone and come back between two looks.
    // True when every port in use is open.
    bool reopen();

    bool portsGone() const { return gone_; }
    bool systemStopped() const { return stopped_; }

signals:
    // A line for the status bar.
    void news(const QString& text);
    // The ports are open again after they had gone.
    void reconnected();
    // The MIDI system behind the ports stopped; the text says so.
    void midiSystemStopped(const QString& text);

private:
    QStringList missingPorts();
    QString systemName() const;

    quorvane::clsU220& model_;
    const midi::MidiSystem& system_;
    PortChoice choice_;
    QTimer timer_;
    uint64_t failuresSeen_ = 0;
    bool gone_ = false;
    bool stopped_ = false;
    bool busy_ = false;
};

}  // namespace quorvane::ui
