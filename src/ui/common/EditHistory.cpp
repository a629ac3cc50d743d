#include "ui/common/EditHistory.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QUndoStack>
#include <algorithm>

#include "device/clsU220.h"

namespace quorvane::ui {

namespace {

using Clock = std::chrono::steady_clock;

// Names are compared and restored as the module holds them: 12 bytes, blank padded.
EditValue Normalized(const EditTarget& t, EditValue v) {
    if (t.kind == EditTarget::Kind::Name) {
        if (auto* s = std::get_if<std::string>(&v)) {
            s->resize(sysex::kNameChars, ' ');
        }
    }
    return v;
}

// One undo step: the writes of one edit (several for a synchronized edit),
// each with the value it replaced.
class EditCommand : public QUndoCommand {
public:
    EditCommand(EditHistory& history, std::vector<EditWrite> writes, const QString& text, Burst burst)
        : history_(history), writes_(std::move(writes)), burst_(burst), time_(Clock::now()) {
        setText(text);
    }

    int id() const override { return 0x4544; }

    // The edit itself has already been written when the step is recorded;
    // only a later redo writes again.
    void redo() override {
        if (fresh_) {
            fresh_ = false;
            return;
        }
        for (const EditWrite& w : writes_) Apply(w.target, w.after);
    }
    void undo() override {
        for (auto it = writes_.rbegin(); it != writes_.rend(); ++it) Apply(it->target, it->before);
    }

    bool mergeWith(const QUndoCommand* other) override {
        const auto* o = static_cast<const EditCommand*>(other);
        if (burst_.token == 0 || o->burst_.token != burst_.token) return false;
        if (burst_.maxPause.count() > 0 && o->time_ - time_ > burst_.maxPause) return false;
        if (o->writes_.size() != writes_.size()) return false;
        for (size_t i = 0; i < writes_.size(); ++i)
            if (!(writes_[i].target == o->writes_[i].target)) return false;
        bool unchanged = true;
        for (size_t i = 0; i < writes_.size(); ++i) {
            writes_[i].after = o->writes_[i].after;
            unchanged = unchanged && writes_[i].after == writes_[i].before;
        }
        time_ = o->time_;
        // A burst that ended where it began is no step at all.
        setObsolete(unchanged);
        return true;
    }

private:
    void Apply(const EditTarget& t, const EditValue& v) {
        history_.Send(t, v);
        history_.Show(t, v);
    }

    EditHistory& history_;
    std::vector<EditWrite> writes_;
    Burst burst_;
    Clock::time_point time_;
    bool fresh_ = true;
};

// Keeps a name field's own undo keys from it, so they reach the window's actions.
class UndoKeysToWindow : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            const QKeySequence shiftZ(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
            if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
                QKeySequence(key->keyCombination()) == shiftZ) {
                // Not the field's: left unaccepted, the override lets the
                // window's shortcut take the keys.
                event->ignore();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

EditHistory::EditHistory(quorvane::clsU220& model, EditView& view, QObject* parent)
    : QObject(parent), model_(model), view_(view), stack_(new QUndoStack(this)) {
    stack_->setUndoLimit(500);
}

EditHistory::~EditHistory() = default;

std::optional<EditValue> EditHistory::Current(const EditTarget& t) const {
    const std::optional<EditValue> v = LoadedValue(model_, t);
    if (!v) return std::nullopt;
    return Normalized(t, *v);
}

bool EditHistory::Send(const EditTarget& t, const EditValue& v) { return WriteTarget(model_, t, v); }

void EditHistory::Show(const EditTarget& t, const EditValue& v) { view_.ShowEdit(t, v); }

void EditHistory::Write(const EditTarget& target, const EditValue& value, const QString& what, Burst burst) {
    const std::optional<EditValue> before = Current(target);
    if (!Send(target, value) || !before || replaying_) return;
    const EditValue after = Normalized(target, value);
    if (stepDepth_ > 0) {
        auto same = [&](const EditWrite& w) { return w.target == target; };
        auto it = std::find_if(stepWrites_.begin(), stepWrites_.end(), same);
        if (it != stepWrites_.end()) it->after = after;
        else stepWrites_.push_back({target, *before, after});
        return;
    }
    if (*before == after) return;
    stack_->push(new EditCommand(*this, {{target, *before, after}}, what, burst));
}

void EditHistory::BeginStep(const QString& what, Burst burst) {
    if (stepDepth_++ > 0) return;
    stepText_ = what;
    stepBurst_ = burst;
    stepWrites_.clear();
}

void EditHistory::EndStep() {
    if (stepDepth_ == 0 || --stepDepth_ > 0) return;
    std::vector<EditWrite> writes;
    for (const EditWrite& w : stepWrites_)
        if (!(w.before == w.after)) writes.push_back(w);
    stepWrites_.clear();
    if (!writes.empty()) stack_->push(new EditCommand(*this, std::move(writes), stepText_, stepBurst_));
}

void EditHistory::Clear() { stack_->clear(); }

void EditHistory::Undo() {
    if (replaying_ || view_.EditsBlocked() || !stack_->canUndo()) return;
    replaying_ = true;
    stack_->undo();
    replaying_ = false;
}

void EditHistory::Redo() {
    if (replaying_ || view_.EditsBlocked() || !stack_->canRedo()) return;
    replaying_ = true;
    stack_->redo();
    replaying_ = false;
}

void EditHistory::AddActions(QMenu* menu) {
    // A window may offer the history of another (the key range editor offers
    // the patch editor's): each menu gets actions of its own on the one stack.
    QAction* undo = menu->addAction(tr("&Undo"));
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = menu->addAction(tr("&Redo"));
    QList<QKeySequence> redoKeys{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)};
    for (const QKeySequence& k : QKeySequence::keyBindings(QKeySequence::Redo))
        if (!redoKeys.contains(k)) redoKeys << k;
    redo->setShortcuts(redoKeys);
    undo->setEnabled(stack_->canUndo());
    redo->setEnabled(stack_->canRedo());
    if (!undoAction_) {
        undoAction_ = undo;
        redoAction_ = redo;
    }
    connect(undo, &QAction::triggered, this, [this] { Undo(); });
    connect(redo, &QAction::triggered, this, [this] { Redo(); });
    connect(stack_, &QUndoStack::canUndoChanged, undo, &QAction::setEnabled);
    connect(stack_, &QUndoStack::canRedoChanged, redo, &QAction::setEnabled);
    // The stack announces its emptying when it is destroyed, as a child of this
    // object, after this object's own destructor has run: the handlers must not
    // touch this object, only the actions they are tied to.
    auto undoText = [undo](const QString& text) {
        undo->setText(text.isEmpty() ? tr("&Undo") : tr("&Undo %1").arg(text));
    };
    auto redoText = [redo](const QString& text) {
        redo->setText(text.isEmpty() ? tr("&Redo") : tr("&Redo %1").arg(text));
    };
    undoText(stack_->undoText());
    redoText(stack_->redoText());
    connect(stack_, &QUndoStack::undoTextChanged, undo, undoText);
    connect(stack_, &QUndoStack::redoTextChanged, redo, redoText);
}

void EditHistory::LeaveUndoToWindow(QLineEdit* edit) {
    static UndoKeysToWindow* filter = new UndoKeysToWindow(qApp);
    edit->installEventFilter(filter);
}

}  // namespace quorvane::ui
