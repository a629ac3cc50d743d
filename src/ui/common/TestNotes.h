// Short test notes from the editors, so a user without a keyboard can hear
// what an edit did: each note is switched off again after a moment, and every
// note still sounding is switched off when the window hides or goes away.
#pragma once

#include <QObject>
#include <cstdint>
#include <optional>
#include <vector>

class QTimer;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

class TestNotes : public QObject {
    Q_OBJECT
public:
    static constexpr int kLengthMs = 400;
    static constexpr int kVelocity = 100;
    static constexpr int kMiddleC = 60;

    explicit TestNotes(quorvane::clsU220& model, QObject* parent = nullptr);
    ~TestNotes() override;  // switches off what still sounds

    // Note on now for `key` on MIDI channel 0..15, note off kLengthMs later.
    // The same key played again on its channel starts afresh (off, then on).
    void Play(int channel, int key);
    // Switches off every note still sounding, at once.
    void StopAll();
    // Notes on whose note off has not gone out yet.
    int Sounding() const { return static_cast<int>(notes_.size()); }

    // The MIDI channel (0..15) of a receive channel value, nullopt for "Off"
    // (16) or anything else.
    static std::optional<int> Channel(int receiveChannel) {
        if (receiveChannel >= 0 && receiveChannel <= 15) return receiveChannel;
        return std::nullopt;
    }

private:
    struct Note {
        int channel, key;
        QTimer* timer;
    };
    void Stop(size_t i);

    quorvane::clsU220& model_;
    std::vector<Note> notes_;
};

}  // namespace quorvane::ui
