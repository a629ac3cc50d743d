// Undo and redo for the editor windows. Each window keeps one EditHistory: its
// handlers write every edit through it, and it records the edit (what was
// written, where, the value it replaced and the new one) as one step of the
// window's QUndoStack. Undo writes the replaced value through the model, which
// sends it to the module like any edit, and has the window show it; redo does
// the same with the new value.
//
// Steps: each list pick is one step. Writes made under one burst (the
// keystrokes typed into one name field, a held arrow, one drag of a key range
// handle) merge into one step with the value before the first write and after
// the last; a burst that ends where it began leaves no step.
#pragma once

#include <QObject>
#include <QString>
#include <QUndoCommand>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "device/EditTarget.h"
#include "device/ParamTable.h"

class QAction;
class QLineEdit;
class QMenu;
class QUndoStack;
class QWidget;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

using quorvane::EditTarget;
using quorvane::EditValue;

// One write of a step, with the value it replaced.
struct EditWrite {
    EditTarget target;
    EditValue before, after;
};

// The window an EditHistory serves.
class EditView {
public:
    virtual ~EditView() = default;
    // Shows `value` in the control of `target` without writing it again (the
    // window's Updating flag set); a target the window does not show now is
    // left alone.
    virtual void ShowEdit(const EditTarget& target, const EditValue& value) = 0;
    // True while the window fills its controls from the model: undo and redo
    // wait until it has finished.
    virtual bool EditsBlocked() const = 0;
};

// An EditView made of two functions, for a panel inside a larger window.
class EditViewFunctions : public EditView {
public:
    EditViewFunctions(std::function<void(const EditTarget&, const EditValue&)> show, std::function<bool()> blocked)
        : show_(std::move(show)), blocked_(std::move(blocked)) {}
    void ShowEdit(const EditTarget& target, const EditValue& value) override { show_(target, value); }
    bool EditsBlocked() const override { return blocked_(); }

private:
    std::function<void(const EditTarget&, const EditValue&)> show_;
    std::function<bool()> blocked_;
};

// Which writes merge into one step: those with the same non-zero token that
// follow each other with no pause longer than maxPause (0: any pause).
struct Burst {
    uint64_t token = 0;
    std::chrono::milliseconds maxPause{0};
};

class EditHistory : public QObject {
    Q_OBJECT
public:
    EditHistory(quorvane::clsU220& model, EditView& view, QObject* parent = nullptr);
    ~EditHistory() override;

    QUndoStack* Stack() const { return stack_; }

    // Writes `value` to `target` through the model (as a handler does) and
    // records it as one step. Nothing is recorded when the target's block is
    // not loaded (there is no known value to go back to) or nothing changed.
    void Write(const EditTarget& target, const EditValue& value, const QString& what, Burst burst = {});

    // Writes made between BeginStep and EndStep form one step (a synchronized
    // edit that writes several parts); the value of a target written twice is
    // taken from before its first write. Nested pairs join the outer step.
    void BeginStep(const QString& what, Burst burst = {});
    void EndStep();

    // A fresh token for Burst::token.
    uint64_t NewBurst() { return ++lastBurst_; }

    // Forgets every step (the module's values were read afresh, so going back
    // to values recorded before would be wrong).
    void Clear();

    // Undo and redo the latest step; nothing while the window is filling
    // itself or while a step is being undone or redone.
    void Undo();
    void Redo();
    bool Replaying() const { return replaying_; }

    // "Undo ..." (Ctrl+Z) and "Redo ..." (Ctrl+Shift+Z) actions, enabled while
    // there is something to undo or redo, added to `menu`. Each call adds a
    // pair of its own (another window may offer the same history); the
    // first pair is UndoAction() and RedoAction().
    void AddActions(QMenu* menu);
    QAction* UndoAction() const { return undoAction_; }
    QAction* RedoAction() const { return redoAction_; }

    // A name field keeps its own character undo for itself; in an editor the
    // keys undo the window's steps instead (name bursts included).
    static void LeaveUndoToWindow(QLineEdit* edit);

    // The model's value of `target`, nullopt when its block is not loaded.
    std::optional<EditValue> Current(const EditTarget& target) const;
    // Writes `value` to `target` through the model; false when refused.
    bool Send(const EditTarget& target, const EditValue& value);
    // Shows `value` in the window (used by the steps).
    void Show(const EditTarget& target, const EditValue& value);

private:
    quorvane::clsU220& model_;
    EditView& view_;
    QUndoStack* stack_;
    QAction* undoAction_ = nullptr;
    QAction* redoAction_ = nullptr;
    uint64_t lastBurst_ = 0;
    bool replaying_ = false;
    int stepDepth_ = 0;
    QString stepText_;
    Burst stepBurst_;
    std::vector<EditWrite> stepWrites_;
};

}  // namespace quorvane::ui
