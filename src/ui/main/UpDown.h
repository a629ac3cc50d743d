// A plain up-down control: two arrow buttons that step an integer position
// within a range, with no text of its own. It sits beside the text box it drives.
#pragma once

#include <QWidget>

class QToolButton;

namespace quorvane::ui {

class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    int value() const { return value_; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    void setRange(int min, int max);
    // Clamped to the range; emits valueChanged only when the position moves.
    void setValue(int v);
    void stepUp() { setValue(value_ + 1); }
    void stepDown() { setValue(value_ - 1); }

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

signals:
    void valueChanged(int value);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void updateButtons();

    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0, max_ = 99, value_ = 0;
};

}  // namespace quorvane::ui
