// The lines of the MIDI monitor: every message the model sends or receives,
// with its time and its meaning in words, in a table model that a view shows.
// Messages may arrive from any thread; they wait in a buffer that is moved
// into the table every 100 ms, so a burst (the name load) costs one view
// update per tick, not one per message. The table keeps the latest `cap`
// lines and counts the older ones it dropped.
//
// Every line also goes to the logging category "quorvane.midi" at debug
// level, which is off by default: QT_LOGGING_RULES=quorvane.midi.debug=true
// shows the lines on the console.
#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMutex>
#include <QTimer>
#include <atomic>
#include <deque>

#include "device/MonitorEvent.h"

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

Q_DECLARE_LOGGING_CATEGORY(lcMidi)

class MonitorLog : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, DeltaColumn, DirectionColumn, MessageColumn, BytesColumn, ColumnCount };
    static constexpr int kDefaultCap = 5000;
    static constexpr int kFlushMs = 100;

    explicit MonitorLog(QObject* parent = nullptr);
    ~MonitorLog() override;

    // Watches the model: every message it sends or receives becomes a line.
    void attach(clsU220& model);
    // Takes one message. Callable from any thread; the line reaches the table
    // at the next flush.
    void add(const MonitorEvent& e);
    // Moves the waiting lines into the table (unless paused). Runs every 100 ms.
    void flush();
    // Forgets every line, waiting ones included, and the dropped count.
    void clear();
    // While paused the table stands still; new lines wait (the cap holds there too).
    void setPaused(bool paused);
    bool paused() const { return paused_; }
    // Most lines kept (at least 1); older ones are dropped and counted.
    void setCap(int lines);
    int cap() const { return cap_.load(); }
    // Lines dropped to keep the cap since the last clear.
    quint64 droppedLines() const { return dropped_.load(); }
    // Lines waiting for the next flush.
    int waitingLines() const;

    // One line as text: "20:31:02.123  +12 ms  out  Patch part 2 pan = <2  [F0 41 ...]".
    QString lineText(int row) const;
    // The rows given (in table order), one line each; every row when `rows` is empty.
    QString text(QList<int> rows = {}) const;
    // Writes every line to a file (UTF-8). False with a reason when it could not.
    bool saveAsText(const QString& path, QString* error = nullptr) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // The lines or the counters changed.
    void changed();

private:
    struct Line {
        QString time;   // hh:mm:ss.zzz
        qint64 deltaMs;  // since the line before
        bool in;
        QString text;
        QString bytes;
    };
    void trimLocked(std::deque<Line>& lines, size_t keep);

    mutable QMutex mutex_;      // guards pending_ and lastMs_
    std::deque<Line> pending_;
    qint64 lastMs_ = -1;
    QElapsedTimer clock_;

    std::deque<Line> lines_;  // GUI thread only
    std::atomic<quint64> dropped_{0};
    std::atomic<int> cap_{kDefaultCap};
    bool paused_ = false;
    QTimer timer_;
};

}  // namespace quorvane::ui
