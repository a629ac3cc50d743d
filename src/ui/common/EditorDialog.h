// The skeleton of the patch, timbre and rhythm setup editors: what each of them
// does the same way, so that a window of that kind only builds its controls,
// reads the module's values into them and writes what the user picks.
//
//  - an undo history (EditHistory) the handlers write through, and its "Edit"
//    menu (Undo Ctrl+Z, Redo Ctrl+Shift+Z) in MenuBar;
//  - test notes (TestNotes), all switched off when the window hides;
//  - activation: Activate() runs from the event queue after the window is
//    shown (at every showing, or at the first one only), so that it runs in the
//    modal loop of exec() and a "Done" pressed while it waits for the module
//    ends exec();
//  - the Updating flag, set while the controls are filled from the model;
//  - a name field whose keystrokes undo as one step per typing burst;
//  - on destruction, nothing of the window hears its controls any more.
//
// The editors block the window they were opened from, and only that one.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "device/ParamTable.h"
#include "ui/common/EditHistory.h"
#include "ui/common/EditorControls.h"
#include "ui/common/TestNotes.h"

class QComboBox;
class QHideEvent;
class QLineEdit;
class QMenuBar;
class QShowEvent;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

class MainContext;

class EditorDialog : public QDialog, public EditView {
    Q_OBJECT
public:
    // When Activate() runs: after every showing, or after the first one only
    // (a window made anew for each opening, whose later showings must not read
    // again).
    enum class Activation { EveryShow, FirstShow };

    ~EditorDialog() override;

    // Reads the module's values into the controls (Updating set, so nothing is
    // written back).
    virtual void Activate() = 0;

    // True while the controls are being filled from the model; the handlers
    // write nothing while it is set.
    bool Updating = false;

    // "Edit" menu: undo and redo of this window's edits.
    QMenuBar* MenuBar = nullptr;
    EditHistory* History() const { return history_; }
    TestNotes* Notes() const { return notes_; }

    // EditView: a step's name bytes go to ShowName, its list index to
    // ShowIndex; anything else is not this window's.
    void ShowEdit(const EditTarget& target, const EditValue& value) final;
    bool EditsBlocked() const override { return Updating; }

protected:
    EditorDialog(MainContext& ctx, QWidget* parent, Activation when = Activation::EveryShow);

    // One parameter list and the model member it edits.
    struct ParamCombo {
        QComboBox* combo;
        quorvane::Param param;
    };

    // Shows an undone or redone value without writing it again; a target the
    // window does not show now is left alone.
    virtual void ShowName(const EditTarget& target, const std::string& bytes) = 0;
    virtual void ShowIndex(const EditTarget& target, int index) = 0;

    // Keeps Updating set while it lives; nested ones keep it set until the
    // outermost ends (a read that waits may let another fill run).
    [[nodiscard]] UpdatingGuard Filling() { return UpdatingGuard(Updating, updatingDepth_); }

    // Makes `edit` the window's name field: module characters only, at most
    // twelve, its keys undoing the window's steps, and leaving it (or Return)
    // ending a typing burst.
    void SetUpNameField(QLineEdit* edit);
    // The burst a name field's keystrokes are written under: those with no
    // pause over two seconds undo as one step.
    Burst NameTyping() const;

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    MainContext& ctx_;
    quorvane::clsU220& u220_;
    EditHistory* history_ = nullptr;
    TestNotes* notes_ = nullptr;

private:
    int updatingDepth_ = 0;
    uint64_t nameBurst_ = 0;
    Activation when_;
    bool activated_ = false;  // Activate() has been queued once
};

}  // namespace quorvane::ui
