// Pieces the windows share: a parameter list box and its labelled row, the guard that keeps a
// window's Updating flag set while it fills its controls, and the hourglass
// shown while the module is asked.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QString>

#include "ui/common/ValueLists.h"

namespace quorvane::ui {

// The mouse wheel changes a list only while it has the focus: every change is
// sent to the module at once, so turning the wheel over a window (to scroll
// it, or by accident) must not edit it.
class WheelGuard : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel) {
            auto* w = qobject_cast<QWidget*>(watched);
            if (w && !w->hasFocus()) {
                event->ignore();
                return true;
            }
        }
        return false;
    }
};

inline void WheelOnlyWithFocus(QComboBox* combo) {
    static WheelGuard* guard = new WheelGuard(qApp);
    combo->setFocusPolicy(Qt::StrongFocus);  // the wheel does not take the focus either
    combo->installEventFilter(guard);
}

// A drop-down list for one parameter, as wide as its longest entry.
inline QComboBox* MakeParamCombo(QWidget* parent, const QString& accessibleName) {
    auto* c = new QComboBox(parent);
    WheelOnlyWithFocus(c);
    c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    c->setMaxVisibleItems(20);
    c->setAccessibleName(accessibleName);
    return c;
}

// A labelled parameter list in a grid laid out on a frame: the label at
// (row, col), beside it the list, filled with the pieces of `items`.
inline QComboBox* AddParamRow(QGridLayout* grid, int row, int col, const QString& label, const QString& items) {
    QWidget* frame = grid->parentWidget();
    QComboBox* combo = MakeParamCombo(frame, label);
    lists::Fill(combo, items);
    auto* text = new QLabel(label, frame);
    text->setBuddy(combo);
    grid->addWidget(text, row, col);
    grid->addWidget(combo, row, col + 1);
    return combo;
}

// The editors block the windows they were opened from (the main window, the
// patch editor beneath a timbre editor), and only those: exec() alone would
// block every window of the program, the MIDI monitor among them, which must
// stay usable to watch, pause and copy what an editor's reads send.
inline void ModalToOpener(QDialog* editor) { editor->setWindowModality(Qt::WindowModal); }

// Sets a window's Updating flag for the guard's lifetime. A model read may
// wait and let other events run, among them another fill of the same window:
// nested guards keep the flag set until the outermost one ends.
class UpdatingGuard {
public:
    UpdatingGuard(bool& flag, int& depth) : flag_(flag), depth_(depth) {
        ++depth_;
        flag_ = true;
    }
    ~UpdatingGuard() {
        if (--depth_ == 0) flag_ = false;
    }
    UpdatingGuard(const UpdatingGuard&) = delete;
    UpdatingGuard& operator=(const UpdatingGuard&) = delete;

private:
    bool& flag_;
    int& depth_;
};

// Shows the hourglass for the guard's lifetime, however the stretch ends.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace quorvane::ui
