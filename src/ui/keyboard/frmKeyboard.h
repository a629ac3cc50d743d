// The key range editor: a drawn 88-key keyboard with one coloured bar per part
// under it. Dragging a bar's left or right handle moves that part's low or high
// key; every step of a drag sets the new key through the window it edits for
// (KeyRangeTarget: the patch editor, whose key range list of that part writes
// the model), so the module follows while the mouse moves.
//
// A key outside the 88 (the module allows C-1..G9) is drawn at the keyboard's
// edge, so every handle stays in the window and can be grabbed; a handle moves
// to another key only once the pointer has gone half the way there, so the
// small wiggle of a press changes nothing. A drag gives low keys A0..C8 and
// high keys A0..B7 (the right handle's left edge marks where the range ends).
//
// Geometry is kept in twips (1/1440 inch) as the layout was designed, and drawn
// at 15 twips to a device-independent pixel: every position used here is a
// multiple of 15, so the picture stays sharp at any screen scale.
//
// The opener owns the window: it is meant to be created, exec()'d and destroyed
// (e.g. on the stack); each opening builds it anew.
#pragma once

#include <QColor>
#include <QDialog>
#include <QRect>
#include <array>
#include <cstdint>

#include "ui/common/TestNotes.h"
#include "ui/keyboard/KeyRangeTarget.h"

class QMenuBar;
class QPushButton;
class QHideEvent;
class QShowEvent;

namespace quorvane {
class clsU220;
}
namespace quorvane::ui {
class MainContext;
}

namespace quorvane::ui::keyboard {
class KeyboardCanvas;
}  // namespace keyboard

namespace quorvane::ui {

class frmKeyboard : public QDialog {
    Q_OBJECT
public:
    frmKeyboard(MainContext& ctx, KeyRangeTarget& target, QWidget* parent = nullptr);
    ~frmKeyboard() override;

    // ---- fixed geometry (twips) ----
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kClientWidth = 12555;
    static constexpr int kClientHeight = 3840;
    static constexpr int kFirstKey = 21;  // A0
    static constexpr int kLastKey = 108;  // C8
    // Left edge of the key with MIDI note number k (0..128). Keys below A0 lie
    // at -300 and keys above C8 at 12900 (128, the end of a range ending at 127,
    // at 12960): outside the visible keyboard, but every note has an edge.
    static int KeyLeft(int k);
    static bool IsBlackKey(int k);

    // The key drawn at `twips` (a point on the drawing), -1 for none: black
    // keys lie over the white ones.
    static int KeyAt(QPoint twips);
    // A click on a key plays it, briefly, on the receive channel of every part
    // whose range holds it (once per channel; parts set to "Off" are skipped).
    void PlayKey(int k);
    TestNotes* Notes() const { return notes_; }

    // Reads the six key ranges from the model and places the bars and handles.
    // Runs from the event queue each time the window is shown.
    void Activate();

    // ---- state, indexes 1..6 = part number, element 0 unused ----
    // Low and high key of each part as drawn. A high key read below the low key
    // is drawn (and kept here) as the low key: a bar one key wide.
    std::array<int16_t, 7> RangeLow{};
    std::array<int16_t, 7> RangeHigh{};
    // Where inside the handle (twips) the button went down; shared by all handles.
    int16_t DragOffset = 0;
    // Bars as drawn, in twips (a key beyond the keyboard drawn at its edge).
    std::array<QRect, 7> KeyRange{};
    // The drag handles (children of the keyboard drawing; geometry in pixels).
    std::array<QWidget*, 7> LeftHandle{};
    std::array<QWidget*, 7> RightHandle{};
    QPushButton* cmdDone = nullptr;
    // "Edit": undo and redo of the target's steps (the patch editor's), key range drags among them.
    QMenuBar* MenuBar = nullptr;

    // Current colour of key k (0..128): white/black, or a part's colour while
    // one of its handles is held.
    QColor KeyColor(int k) const { return keyColor_[static_cast<size_t>(k)]; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Reads each part's range from the model and draws its bar and handles.
    void ShowRanges();
    void PlaceBar(int p);
    void RestoreKeyColors();
    void LightKeys(int p);
    // canvasX: the pointer's position on the drawing, in twips.
    void OnHandlePress(int p, bool left, double localX, double canvasX);
    void OnLeftHandleMove(int p, double canvasX);
    void OnRightHandleMove(int p, double canvasX);
    void OnHandleRelease();

    quorvane::clsU220& u220_;
    KeyRangeTarget& target_;
    TestNotes* notes_ = nullptr;
    keyboard::KeyboardCanvas* canvas_ = nullptr;
    std::array<QColor, 129> keyColor_{};
    std::array<QColor, 129> savedKeyColor_{};
    // The drag under way: part (0 for none), which handle, where the pointer
    // went down (twips on the drawing) and the key the handle held then.
    int dragPart_ = 0;
    bool dragLeft_ = false;
    double pressX_ = 0;
    int dragStartKey_ = 0;
};

}  // namespace quorvane::ui
