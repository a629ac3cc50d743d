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
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/monitor/MonitorLog.h"

namespace quorvane::ui {

frmMonitor::frmMonitor(MonitorLog& log, QWidget* parent) : QWidget(parent, Qt::Window), log_(log) {
    setWindowTitle(QStringLiteral("Quorvane / MIDI Monitor"));
    setObjectName(QStringLiteral("frmMonitor"));

    MessageView = new QTableView(this);
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

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(PauseButton);
    buttons->addWidget(ClearButton);
    buttons->addWidget(CopyButton);
    buttons->addWidget(SaveButton);
    buttons->addSpacing(12);
    buttons->addWidget(CountLabel, 1);
    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(6, 6, 6, 6);
    main->addLayout(buttons);
    main->addWidget(MessageView, 1);

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

    // Follow new lines while the last one is in view; stay put while the user reads older ones.
    connect(&log_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar* bar = MessageView->verticalScrollBar();
        atBottom_ = bar->value() >= bar->maximum();
    });
    connect(&log_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (atBottom_) MessageView->scrollToBottom();
    });
    connect(&log_, &MonitorLog::changed, this, &frmMonitor::UpdateCount);
    PauseButton->setChecked(log_.paused());
    UpdateCount();
    MessageView->scrollToBottom();
    MessageView->setFocus();
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
