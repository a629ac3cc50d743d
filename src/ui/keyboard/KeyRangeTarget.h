// What the key range editor needs of the window whose key ranges it drags (the
// patch editor): the undo history its Edit menu shares, the brackets around a
// drag, and a way to set one part's low or high key. The key range editor knows
// nothing else of that window.
#pragma once

namespace quorvane::ui {

class EditHistory;

class KeyRangeTarget {
public:
    virtual ~KeyRangeTarget() = default;
    // The steps the key range editor's Edit > Undo and Redo take back; each drag
    // is one of them.
    virtual EditHistory& KeyRangeHistory() = 0;
    // Every key set between these two is one undo step together.
    virtual void BeginKeyRangeDrag() = 0;
    virtual void EndKeyRangeDrag() = 0;
    // Part p's (1..6) low key, or its high key, is now `key` (0..127): written
    // to the model as a pick in that part's key list is, when it differs.
    virtual void SetKeyRange(int p, bool high, int key) = 0;
};

}  // namespace quorvane::ui
