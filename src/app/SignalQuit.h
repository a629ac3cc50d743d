// SIGINT and SIGTERM as an ordinary event: the handler only writes a byte to a
// socket pair, and a QSocketNotifier on the other end calls `onSignal` on the
// GUI thread, where the program can close its windows and ports as File > Exit
// does.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace quorvane::app {

class SignalQuit : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for SIGINT and SIGTERM. One instance at a time.
    explicit SignalQuit(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    // Puts the default handlers back.
    ~SignalQuit() override;

    // True once a signal has come (and been handed to onSignal).
    bool Signalled() const { return signalled_; }

private:
    void Read();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    bool signalled_ = false;
};

}  // namespace quorvane::app
