#include "ui/main/UpDown.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

namespace quorvane::ui {

UpDown::UpDown(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    setFocusPolicy(Qt::StrongFocus);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        // The arrows take no focus of their own; a click on one focuses the
        // control, as a click focuses a list.
        b->installEventFilter(this);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setAccessibleName(tr("Up"));
    down_->setAccessibleName(tr("Down"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(up_);
    layout->addWidget(down_);
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
    updateButtons();
}

void UpDown::setRange(int min, int max) {
    min_ = min;
    max_ = std::max(min, max);
    const int clamped = std::clamp(value_, min_, max_);
    if (clamped != value_) {
        value_ = clamped;
        emit valueChanged(value_);
    }
    updateButtons();
}

void UpDown::setValue(int v) {
    v = std::clamp(v, min_, max_);
    if (v == value_) return;
    value_ = v;
    updateButtons();
    emit valueChanged(value_);
}

void UpDown::updateButtons() {
    up_->setEnabled(isEnabled() && value_ < max_);
    down_->setEnabled(isEnabled() && value_ > min_);
}

void UpDown::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange) updateButtons();
    QWidget::changeEvent(e);
}

void UpDown::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Up: stepUp(); break;
    case Qt::Key_Down: stepDown(); break;
    default: QWidget::keyPressEvent(e); return;
    }
    e->accept();
}

bool UpDown::eventFilter(QObject* watched, QEvent* e) {
    if (watched == up_ || watched == down_) {
        if (e->type() == QEvent::MouseButtonPress && focusPolicy() != Qt::NoFocus) setFocus(Qt::MouseFocusReason);
        // The wheel over an arrow is the wheel over the control: taken here
        // (whatever way the event came), it follows the same focus rule.
        if (e->type() == QEvent::Wheel && hasFocus()) {
            wheelEvent(static_cast<QWheelEvent*>(e));
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

void UpDown::wheelEvent(QWheelEvent* e) {
    // Each step is sent to the module at once: like the lists, the control
    // follows the wheel only while it has the focus, so turning the wheel over
    // the window (to scroll it, or by accident) changes nothing.
    if (!hasFocus()) {
        e->ignore();
        return;
    }
    const int dy = e->angleDelta().y();
    if (dy > 0) stepUp();
    else if (dy < 0) stepDown();
    e->accept();
}

}  // namespace quorvane::ui
