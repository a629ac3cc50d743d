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
    void showEvent(QShowEvent* e) override;

private:
    void UpdateCount();
    // The first place: beside `owner`, as large as its screen allows.
    void PlaceBeside(const QWidget& owner);
    // The whole window on the screen it is on, shrunk to fit when need be.
    void KeepOnScreen();

    MonitorLog& log_;
    bool atBottom_ = true;    // the view stands at the end: it follows new lines
    bool following_ = false;  // the view is being moved to the end, not by the user
};

}  // namespace quorvane::ui
