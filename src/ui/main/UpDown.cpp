#include "UpDown.h"

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

void UpDown::wheelEvent(QWheelEvent* e) {
    const int dy = e->angleDelta().y();
    if (dy > 0) stepUp();
    else if (dy < 0) stepDown();
    e->accept();
}

}  // namespace quorvane::ui
