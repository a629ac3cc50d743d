#include "ui/monitor/frmMonitor.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "ui/monitor/MonitorLog.h"

namespace quorvane::ui {

namespace {

// The list of lines. Lines dropped at the top (the cap) must not move the
// view: Qt moves the current line off a dropped row onto the next one and
// scrolls to it, which would throw the view to the top of the table.
class MessageTable : public QTableView {
public:
    using QTableView::QTableView;
    void dropEnded() { dropping_ = false; }

protected:
    // Runs before the selection model moves the current line.
    void rowsAboutToBeRemoved(const QModelIndex& parent, int first, int last) override {
        dropping_ = true;
        QTableView::rowsAboutToBeRemoved(parent, first, last);
    }
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override {
        if (!dropping_) {
            QTableView::currentChanged(current, previous);
            return;
        }
        const bool scroll = hasAutoScroll();
        setAutoScroll(false);
        QTableView::currentChanged(current, previous);
        setAutoScroll(scroll);
    }

private:
    bool dropping_ = false;
};

}  // namespace

frmMonitor::frmMonitor(MonitorLog& log, QWidget* parent) : QWidget(parent, Qt::Window), log_(log) {
    setWindowTitle(QStringLiteral("Quorvane / MIDI Monitor"));
    setObjectName(QStringLiteral("frmMonitor"));

    auto* table = new MessageTable(this);
    MessageView = table;
    MessageView->setObjectName(QStringLiteral("MessageView"));
    MessageView->setAccessibleName(QStringLiteral("MIDI messages"));
    MessageView->setModel(&log_);
    MessageView->setSelectionBehavior(QAbstractItemView::SelectRows);
    MessageView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    MessageView->setWordWrap(false);
    MessageView->setShowGrid(false);
    MessageView->setAlternatingRowColors(true);
    MessageView->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Rows of one height: the view then never measures the lines it does not show.
    QHeaderView* rows = MessageView->verticalHeader();
    rows->setVisible(false);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(MessageView->fontMetrics().height() + 4);
    QHeaderView* columns = MessageView->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    const QFontMetrics fm = MessageView->fontMetrics();
    columns->resizeSection(MonitorLog::TimeColumn, fm.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16);
    columns->resizeSection(MonitorLog::DeltaColumn, fm.horizontalAdvance(QStringLiteral("+000000")) + 16);
    columns->resizeSection(MonitorLog::DirectionColumn, fm.horizontalAdvance(QStringLiteral("Dir out")) + 8);
    columns->resizeSection(MonitorLog::MessageColumn, fm.horizontalAdvance(QLatin1Char('M')) * 48);
    columns->setStretchLastSection(true);

    PauseButton = new QPushButton(QStringLiteral("&Pause"), this);
    PauseButton->setCheckable(true);
    PauseButton->setToolTip(QStringLiteral("Stop the list while you read it; new messages wait and appear on resume"));
    ClearButton = new QPushButton(QStringLiteral("C&lear"), this);
    CopyButton = new QPushButton(QStringLiteral("&Copy"), this);
    CopyButton->setToolTip(QStringLiteral("Copy the selected lines, or every line when none is selected (Ctrl+C)"));
    SaveButton = new QPushButton(QStringLiteral("&Save as Text..."), this);
    SaveButton->setToolTip(QStringLiteral("Save every line to a text file (Ctrl+S)"));
    CountLabel = new QLabel(this);
    CountLabel->setObjectName(QStringLiteral("CountLabel"));

    // The counts get a line of their own under the list, wrapped when the
    // window is narrow: they grow long ("... older lines dropped ..., paused:
    // ... waiting") and must never be cut off.
    CountLabel->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(PauseButton);
    buttons->addWidget(ClearButton);
    buttons->addWidget(CopyButton);
    buttons->addWidget(SaveButton);
    buttons->addStretch(1);
    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(6, 6, 6, 6);
    main->addLayout(buttons);
    main->addWidget(MessageView, 1);
    main->addWidget(CountLabel);

    auto* copy = new QAction(this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WindowShortcut);
    addAction(copy);
    connect(copy, &QAction::triggered, this, &frmMonitor::CopyLines);
    auto* save = new QAction(this);
    save->setShortcut(QKeySequence::Save);
    save->setShortcutContext(Qt::WindowShortcut);
    addAction(save);
    connect(save, &QAction::triggered, this, &frmMonitor::SaveButton_Click);

    connect(PauseButton, &QPushButton::toggled, this, [this](bool on) { log_.setPaused(on); });
    connect(ClearButton, &QPushButton::clicked, this, [this] { log_.clear(); });
    connect(CopyButton, &QPushButton::clicked, this, &frmMonitor::CopyLines);
    connect(SaveButton, &QPushButton::clicked, this, &frmMonitor::SaveButton_Click);

    // Follow new lines while the view stands at the end; stay with the line the
    // user reads otherwise. Where the view stands is taken from the scroll bar
    // as it moves (by the user, or clamped when the range shrinks), not
    // measured when lines arrive: the range grows later, when the view lays
    // itself out again, and not at all while the window is hidden.
    QScrollBar* bar = MessageView->verticalScrollBar();
    connect(bar, &QAbstractSlider::valueChanged, this, [this, bar](int value) {
        if (!following_) atBottom_ = value >= bar->maximum();
    });
    connect(bar, &QAbstractSlider::rangeChanged, this, [this, bar](int, int max) {
        if (!atBottom_) return;
        following_ = true;
        bar->setValue(max);
        following_ = false;
    });
    // Older lines dropped above the one the user reads move it up the table:
    // the view moves with it (one step of the bar is one line).
    connect(&log_, &QAbstractItemModel::rowsRemoved, this, [this, bar, table](const QModelIndex&, int first, int last) {
        table->dropEnded();
        if (atBottom_ || first > bar->value()) return;
        bar->setValue(bar->value() - (std::min(last, bar->value() - 1) - first + 1));
    });
    connect(&log_, &MonitorLog::changed, this, &frmMonitor::UpdateCount);
    PauseButton->setChecked(log_.paused());
    UpdateCount();
    MessageView->scrollToBottom();
    MessageView->setFocus();
    if (parent) PlaceBeside(*parent->window());
}

frmMonitor::~frmMonitor() = default;

// Escape closes the window (it is kept, and the log goes on).
void frmMonitor::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(e);
}

void frmMonitor::showEvent(QShowEvent* e) {
    // A window opened from the main window is its transient child, and so
    // blocked by whatever blocks the main window: an editor open over it. The
    // monitor belongs to none of them (it watches them all), so it stands on
    // its own; the main window still owns and deletes it.
    if (QWindow* w = windowHandle(); w && w->transientParent()) w->setTransientParent(nullptr);
    QWidget::showEvent(e);
    // Where it was last time may lie partly off the screens there are now.
    KeepOnScreen();
}

void frmMonitor::PlaceBeside(const QWidget& owner) {
    QScreen* s = owner.screen();
    if (!s) return;
    const QRect area = s->availableGeometry();
    resize(sizeHint().boundedTo(area.size() * 9 / 10));
    // Beside the window it was opened from, on whichever side has room.
    const QRect o = owner.frameGeometry();
    int x = area.left();
    if (o.right() + 8 + width() <= area.right()) x = o.right() + 8;
    else if (o.left() - 8 - width() >= area.left()) x = o.left() - 8 - width();
    move(x, o.top());
    KeepOnScreen();
}

void frmMonitor::KeepOnScreen() {
    QScreen* s = screen();
    if (!s) return;
    const QRect area = s->availableGeometry();
    const QRect frame = frameGeometry();
    const QSize margins = frame.size() - size();
    const QSize inner = size().boundedTo(area.size() - margins);
    if (inner != size()) resize(inner);
    const QSize outer = inner + margins;
    const int x = std::clamp(frame.x(), area.left(), area.right() - outer.width() + 1);
    const int y = std::clamp(frame.y(), area.top(), area.bottom() - outer.height() + 1);
    if (QPoint(x, y) != frame.topLeft()) move(x, y);
}

QSize frmMonitor::sizeHint() const {
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(QLatin1Char('M')) * 100, fm.height() * 30};
}

void frmMonitor::UpdateCount() {
    QString text = QStringLiteral("%1 lines").arg(log_.rowCount());
    if (log_.droppedLines() > 0)
        text += QStringLiteral(", %1 older lines dropped (the latest %2 are kept)").arg(log_.droppedLines()).arg(log_.cap());
    if (log_.paused()) text += QStringLiteral(", paused: %1 waiting").arg(log_.waitingLines());
    CountLabel->setText(text);
}

void frmMonitor::CopyLines() {
    QList<int> rows;
    for (const QModelIndex& i : MessageView->selectionModel()->selectedRows()) rows << i.row();
    const QString text = log_.text(rows);
    QApplication::clipboard()->setText(text);
}

void frmMonitor::SaveButton_Click() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save MIDI Monitor as Text"),
                                                      QStringLiteral("quorvane-midi.txt"),
                                                      QStringLiteral("Text files (*.txt);;All files (*)"));
    if (!path.isEmpty()) SaveAsText(path);
}

bool frmMonitor::SaveAsText(const QString& path) {
    QString error;
    if (log_.saveAsText(path, &error)) return true;
    QMessageBox::warning(this, QStringLiteral("Quorvane"),
                         QStringLiteral("The MIDI monitor could not be saved to %1:\n%2").arg(path, error));
    return false;
}

}  // namespace quorvane::ui
