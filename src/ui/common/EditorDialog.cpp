#include "ui/common/EditorDialog.h"

#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <chrono>

#include "ui/common/MainContext.h"
#include "ui/common/NameField.h"

namespace quorvane::ui {

EditorDialog::EditorDialog(MainContext& ctx, QWidget* parent, Activation when)
    : QDialog(parent), ctx_(ctx), u220_(ctx.U220()), when_(when) {
    ModalToOpener(this);
    history_ = new EditHistory(u220_, *this, this);
    notes_ = new TestNotes(u220_, this);
    // The window's layout takes it with setMenuBar().
    MenuBar = new QMenuBar(this);
    history_->AddActions(MenuBar->addMenu("&Edit"));
}

EditorDialog::~EditorDialog() {
    // QDialog's destructor hides the window, which takes the focus from a text
    // field and makes it report "editing finished"; by then this window is no
    // longer whole, so nothing of its own may hear the controls any more.
    for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

void EditorDialog::ShowEdit(const EditTarget& target, const EditValue& value) {
    if (target.kind == EditTarget::Kind::Name) {
        if (const auto* bytes = std::get_if<std::string>(&value)) ShowName(target, *bytes);
        return;
    }
    if (const int* index = std::get_if<int>(&value); index && target.kind == EditTarget::Kind::Param)
        ShowIndex(target, *index);
}

void EditorDialog::SetUpNameField(QLineEdit* edit) {
    MakeNameField(edit);
    EditHistory::LeaveUndoToWindow(edit);
    nameBurst_ = history_->NewBurst();
    connect(edit, &QLineEdit::editingFinished, this, [this] { nameBurst_ = history_->NewBurst(); });
}

Burst EditorDialog::NameTyping() const { return {nameBurst_, std::chrono::seconds(2)}; }

void EditorDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Activation may wait for the module while events run. Run it once the
    // modal loop of exec() is running: a "Done" pressed during that wait must
    // end exec(), which it cannot do while exec() is still inside show().
    if (event->spontaneous() || (when_ == Activation::FirstShow && activated_)) return;
    activated_ = true;
    QMetaObject::invokeMethod(this, [this] { Activate(); }, Qt::QueuedConnection);
}

void EditorDialog::hideEvent(QHideEvent* event) {
    // A test note still sounding is switched off with the window.
    notes_->StopAll();
    QDialog::hideEvent(event);
}

}  // namespace quorvane::ui
