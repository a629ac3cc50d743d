#include "ui/monitor/MonitorLog.h"

#include <QFont>
#include <QFontDatabase>
#include <QMutexLocker>
#include <QPointer>
#include <QSaveFile>
#include <algorithm>

#include "device/MessageDecoder.h"
#include "device/clsU220.h"
#include "device/ParamValueText.h"

namespace quorvane::ui {

Q_LOGGING_CATEGORY(lcMidi, "quorvane.midi", QtInfoMsg)

namespace {

// Longest message shown byte by byte; the module's own are at most 60 bytes.
constexpr size_t kMaxHexBytes = 256;

QString HexOf(const std::vector<uint8_t>& m) {
    if (m.size() <= kMaxHexBytes) return QString::fromStdString(HexBytes(m));
    const std::vector<uint8_t> head(m.begin(), m.begin() + kMaxHexBytes);
    return QString::fromStdString(HexBytes(head)) + QString(" ... (%1 bytes)").arg(m.size());
}

std::optional<std::string> ListText(Param p, int value) { return ParamValueText(p, value); }

}  // namespace

MonitorLog::MonitorLog(QObject* parent) : QAbstractTableModel(parent) {
    clock_.start();
    timer_.setInterval(kFlushMs);
    connect(&timer_, &QTimer::timeout, this, &MonitorLog::flush);
    timer_.start();
}

MonitorLog::~MonitorLog() = default;

void MonitorLog::attach(clsU220& model) {
    // The model reports on the GUI thread; a log already gone is skipped.
    model.OnMessage = [log = QPointer<MonitorLog>(this)](const MonitorEvent& e) {
        if (log) log->add(e);
    };
}

void MonitorLog::add(const MonitorEvent& e) {
    Line line;
    line.in = e.kind == MonitorEvent::Kind::Received;
    line.text = QString::fromStdString(DescribeEvent(e, ListText));
    line.bytes = HexOf(e.message);
    qCDebug(lcMidi).noquote() << DirectionOf(e.kind) << line.text << "[" + line.bytes + "]";
    QMutexLocker lock(&mutex_);
    const qint64 now = clock_.elapsed();
    line.time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    line.deltaMs = lastMs_ < 0 ? 0 : now - lastMs_;
    lastMs_ = now;
    pending_.push_back(std::move(line));
    trimLocked(pending_, static_cast<size_t>(cap_.load()));
}

void MonitorLog::trimLocked(std::deque<Line>& lines, size_t keep) {
    if (lines.size() <= keep) return;
    const size_t n = lines.size() - keep;
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(n));
    dropped_ += n;
}

int MonitorLog::waitingLines() const {
    QMutexLocker lock(&mutex_);
    return static_cast<int>(pending_.size());
}

void MonitorLog::flush() {
    if (paused_) {
        emit changed();  // the count of waiting lines
        return;
    }
    std::deque<Line> fresh;
    {
        QMutexLocker lock(&mutex_);
        fresh.swap(pending_);
    }
    if (fresh.empty()) return;
    const size_t cap = static_cast<size_t>(cap_.load());
    // Older table rows make way for the new ones.
    const size_t total = lines_.size() + fresh.size();
    if (total > cap) {
        const size_t drop = std::min(lines_.size(), total - cap);
        if (drop > 0) {
            beginRemoveRows({}, 0, static_cast<int>(drop) - 1);
            lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(drop));
            endRemoveRows();
            dropped_ += drop;
        }
    }
    const int first = static_cast<int>(lines_.size());
    beginInsertRows({}, first, first + static_cast<int>(fresh.size()) - 1);
    for (Line& l : fresh) lines_.push_back(std::move(l));
    endInsertRows();
    emit changed();
}

void MonitorLog::clear() {
    {
        QMutexLocker lock(&mutex_);
        pending_.clear();
        lastMs_ = -1;
    }
    beginResetModel();
    lines_.clear();
    endResetModel();
    dropped_ = 0;
    emit changed();
}

void MonitorLog::setPaused(bool paused) {
    if (paused_ == paused) return;
    paused_ = paused;
    if (!paused_) flush();
    emit changed();
}

void MonitorLog::setCap(int lines) {
    cap_ = std::max(1, lines);
    {
        QMutexLocker lock(&mutex_);
        trimLocked(pending_, static_cast<size_t>(cap_.load()));
    }
    const size_t cap = static_cast<size_t>(cap_.load());
    if (lines_.size() > cap) {
        const size_t drop = lines_.size() - cap;
        beginRemoveRows({}, 0, static_cast<int>(drop) - 1);
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(drop));
        endRemoveRows();
        dropped_ += drop;
    }
    emit changed();
}

QString MonitorLog::lineText(int row) const {
    if (row < 0 || row >= static_cast<int>(lines_.size())) return {};
    const Line& l = lines_[static_cast<size_t>(row)];
    return QStringLiteral("%1  %2 ms  %3  %4  [%5]")
        .arg(l.time)
        .arg(QStringLiteral("+%1").arg(l.deltaMs), 6)
        .arg(l.in ? QStringLiteral("in ") : QStringLiteral("out"))
        .arg(l.text, l.bytes);
}

QString MonitorLog::text(QList<int> rows) const {
    QStringList out;
    if (rows.isEmpty()) {
        for (int r = 0; r < rowCount(); ++r) out << lineText(r);
    } else {
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        for (int r : rows) out << lineText(r);
    }
    return out.isEmpty() ? QString() : out.join('\n') + '\n';
}

bool MonitorLog::saveAsText(const QString& path, QString* error) const {
    QSaveFile file(path);
    const QByteArray bytes = text().toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

int MonitorLog::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

int MonitorLog::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant MonitorLog::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(lines_.size())) return {};
    const Line& l = lines_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
            case TimeColumn: return l.time;
            case DeltaColumn: return QStringLiteral("+%1").arg(l.deltaMs);
            case DirectionColumn: return l.in ? QStringLiteral("in") : QStringLiteral("out");
            case MessageColumn: return l.text;
            case BytesColumn: return l.bytes;
        }
    } else if (role == Qt::TextAlignmentRole && index.column() == DeltaColumn) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    } else if (role == Qt::FontRole && index.column() == BytesColumn) {
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    }
    return {};
}

QVariant MonitorLog::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case TimeColumn: return QStringLiteral("Time");
        case DeltaColumn: return QStringLiteral("ms");
        case DirectionColumn: return QStringLiteral("Dir");
        case MessageColumn: return QStringLiteral("Message");
        case BytesColumn: return QStringLiteral("Bytes");
    }
    return {};
}

}  // namespace quorvane::ui
