// The model's event-loop services on the Qt GUI thread: waits run a nested event
// loop (so the windows stay responsive) that ends when the awaited condition
// holds or a timer fires; work from port threads is queued to the GUI thread.
#pragma once

#include <QObject>
#include <vector>

#include "device/Host.h"

class QEventLoop;

namespace quorvane::ui {

class QtHost : public QObject, public quorvane::Host {
    Q_OBJECT
public:
    explicit QtHost(QObject* parent = nullptr);
    ~QtHost() override;
    bool waitUntil(const std::function<bool()>& done, Clock::time_point deadline) override;
    void post(std::function<void()> fn) override;
    void notify() override;
    // Number of waits running now (nested).
    int activeWaits() const { return static_cast<int>(waits_.size()); }

private:
    struct Wait {
        QEventLoop* loop;
        const std::function<bool()>* done;
    };
    std::vector<Wait> waits_;
};

}  // namespace quorvane::ui
