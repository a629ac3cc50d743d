#include "ui/main/WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include "ui/setup/AppSettings.h"

namespace quorvane::ui {

namespace {

const char* const kPrefix = "quorvane::ui::frm";

// The part of `frame` that must be on a screen: its title bar, enough of it to
// grab. Else it is moved onto the screen nearest to where it was.
QPoint OnScreen(const QRect& frame) {
    const QRect grip(frame.topLeft(), QSize(std::min(frame.width(), 120), 24));
    const auto screens = QGuiApplication::screens();
    for (QScreen* s : screens)
        if (s->availableGeometry().contains(grip)) return frame.topLeft();
    QScreen* best = QGuiApplication::screenAt(frame.center());
    if (!best) best = QGuiApplication::primaryScreen();
    if (!best) return frame.topLeft();
    const QRect area = best->availableGeometry();
    const int x = std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() - frame.width() + 1));
    const int y = std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() - frame.height() + 1));
    return {x, y};
}

}  // namespace

void WindowPlacement::Install() {
    if (!qApp || qApp->findChild<WindowPlacement*>(QString(), Qt::FindDirectChildrenOnly)) return;
    qApp->installEventFilter(new WindowPlacement(qApp));
}

bool WindowPlacement::Kept(const QWidget& w) {
    return w.isWindow() && QLatin1String(w.metaObject()->className()).startsWith(QLatin1String(kPrefix));
}

QString WindowPlacement::KeyOf(const QWidget& w) {
    return QStringLiteral("windows/") + QString::fromLatin1(w.metaObject()->className()).mid(int(qstrlen("quorvane::ui::")));
}

void WindowPlacement::Save(QWidget& w) {
    const auto s = AppSettings();
    s->setValue(KeyOf(w), w.saveGeometry());
}

bool WindowPlacement::Restore(QWidget& w) {
    const auto s = AppSettings();
    const QByteArray saved = s->value(KeyOf(w)).toByteArray();
    if (saved.isEmpty() || !w.restoreGeometry(saved)) return false;
    const QPoint p = OnScreen(w.frameGeometry());
    if (p != w.frameGeometry().topLeft()) w.move(p);
    return true;
}

bool WindowPlacement::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type t = event->type();
    if ((t == QEvent::Show || t == QEvent::Hide) && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        // Spontaneous events come from the window system (minimising): not ours to track.
        if (Kept(*w) && !event->spontaneous()) {
            if (t == QEvent::Show) Restore(*w);
            else Save(*w);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace quorvane::ui
