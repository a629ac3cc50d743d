// What the back-up commands ask the user: file names, yes or no, a memory
// number, and what happened. The program shows the standard dialogs; window
// tests answer in their place.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace quorvane::ui {

struct BackupPrompts {
    // A file to read; empty when the user cancelled.
    std::function<QString(QWidget* parent, const QString& title)> openFile;
    // A file to write, starting from `suggested`; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& suggested)> saveFile;
    // A question with the given buttons; returns the one pressed.
    std::function<QMessageBox::StandardButton(QWidget* parent, const QString& title, const QString& text,
                                              QMessageBox::StandardButtons buttons)>
        ask;
    // A memory number in min..max; 0 when cancelled.
    std::function<int(QWidget* parent, const QString& title, const QString& label, int value, int min, int max)> number;
    // What happened; `warning` for a failure.
    std::function<void(QWidget* parent, const QString& title, const QString& text, bool warning)> tell;

    // The standard dialogs.
    static BackupPrompts Dialogs();
};

}  // namespace quorvane::ui
