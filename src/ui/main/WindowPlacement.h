// Remembers where the program's windows were. The main window and every editor
// (the widgets of class frm...) save their geometry in the settings when they
// are hidden or closed, and get it back when they are shown, kept on a screen
// that is there now. Works for every such window through one event filter on
// the application, so no window needs code of its own for it.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace quorvane::ui {

class WindowPlacement : public QObject {
    Q_OBJECT
public:
    // Installs the filter once for the running application.
    static void Install();
    // Whether `w` is a window whose place is kept, and under which key.
    static bool Kept(const QWidget& w);
    static QString KeyOf(const QWidget& w);
    static void Save(QWidget& w);
    // False when nothing was saved for it (it stays where it was put).
    static bool Restore(QWidget& w);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};

}  // namespace quorvane::ui
