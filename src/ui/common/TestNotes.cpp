#include "ui/common/TestNotes.h"

#include <QTimer>

#include "device/clsU220.h"

namespace quorvane::ui {

TestNotes::TestNotes(quorvane::clsU220& model, QObject* parent) : QObject(parent), model_(model) {}

TestNotes::~TestNotes() { StopAll(); }

void TestNotes::Play(int channel, int key) {
    for (size_t i = 0; i < notes_.size(); ++i)
        if (notes_[i].channel == channel && notes_[i].key == key) {
            Stop(i);
            break;
        }
    if (!model_.SendNote(static_cast<int16_t>(channel), static_cast<int16_t>(key), kVelocity)) return;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        for (size_t i = 0; i < notes_.size(); ++i)
            if (notes_[i].timer == timer) {
                Stop(i);
                return;
            }
    });
    notes_.push_back({channel, key, timer});
    timer->start(kLengthMs);
}

void TestNotes::Stop(size_t i) {
    const Note note = notes_[i];
    notes_.erase(notes_.begin() + static_cast<std::ptrdiff_t>(i));
    note.timer->stop();
    note.timer->deleteLater();
    model_.SendNoteOff(static_cast<int16_t>(note.channel), static_cast<int16_t>(note.key));
}

void TestNotes::StopAll() {
    while (!notes_.empty()) Stop(0);
}

}  // namespace quorvane::ui
