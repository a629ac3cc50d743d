// The MIDI monitor: a tool window that lists every message sent to and
// received from the module, with its time and its meaning in words, and the
// send queue's merged and dropped messages. Opened from View > MIDI Monitor,
// non-modal, and kept: the lines are collected from start-up on, whether the
// window is open or not.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTableView;

namespace quorvane::ui {

class MonitorLog;

class frmMonitor : public QWidget {
    Q_OBJECT
public:
    explicit frmMonitor(MonitorLog& log, QWidget* parent = nullptr);
    ~frmMonitor() override;

    QTableView* MessageView = nullptr;
    QPushButton* PauseButton = nullptr;  // checkable
    QPushButton* ClearButton = nullptr;
    QPushButton* CopyButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QLabel* CountLabel = nullptr;

    // Copies the selected lines to the clipboard, or every line when none is selected.
    void CopyLines();
    // Asks for a file and saves every line there.
    void SaveButton_Click();
    // Saves every line to `path`; a failure is shown in a message box.
    bool SaveAsText(const QString& path);

    QSize sizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void UpdateCount();

    MonitorLog& log_;
    bool atBottom_ = true;  // the view follows new lines while it shows the last one
};

}  // namespace quorvane::ui
