#include "ui/common/QtHost.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>

namespace quorvane::ui {

QtHost::QtHost(QObject* parent) : QObject(parent) {}
QtHost::~QtHost() = default;

bool QtHost::waitUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    if (done()) return true;
    QEventLoop loop;
    waits_.push_back({&loop, &done});
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        timer.start(static_cast<int>(std::min<long long>(left + 1, 24LL * 3600 * 1000)));
        loop.exec();
    }
    timer.stop();
    waits_.erase(std::find_if(waits_.begin(), waits_.end(), [&](const Wait& w) { return w.loop == &loop; }));
    return done();
}

void QtHost::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        this,
        [this, fn = std::move(fn)] {
            fn();
            notify();
        },
        Qt::QueuedConnection);
}

void QtHost::notify() {
    for (const Wait& w : waits_)
        if ((*w.done)()) w.loop->quit();
}

}  // namespace quorvane::ui
