#include "ui/keyboard/frmKeyboard.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QUndoStack>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>

#include "device/clsU220.h"
#include "ui/common/EditHistory.h"
#include "ui/common/EditorControls.h"
#include "ui/common/MainContext.h"
#include "ui/common/PartColors.h"

namespace quorvane::ui::keyboard {
namespace {

// Layout in twips.
constexpr int kWhiteWidth = 255, kWhiteHeight = 1335, kWhiteStep = 240;
constexpr int kBlackWidth = 195, kBlackHeight = 975, kBlackOffset = 150;
constexpr int kOffLeft = -300;      // keys below A0
constexpr int kOffRight = 12900;    // keys above C8
constexpr int kEndOfRange = 12960;  // "key" 128, the end of a range ending at 127
constexpr int kBarTop = 1440, kBarStep = 240, kBarHeight = 180;
constexpr int kHandleWidth = 75;
// The drawn keyboard ends at the right edge of C8.
constexpr int kKeysEnd = 12240 + kWhiteWidth;
// A range that lies beyond an end of the keyboard is drawn as a short bar at
// that edge, wide enough to show between its two handles.
constexpr int kOffRightBarWidth = 180;
constexpr int kOffLeftBarWidth = 90;
// The right handle stands just right of its bar, but never beyond the window.
constexpr int kLastHandleLeft = frmKeyboard::kClientWidth - kHandleWidth;
constexpr int kLabelTop = 1080, kLabelLeft = 510, kLabelStep = 1680, kLabelSize = 255;
constexpr int kCanvasHeight = 3120;  // the button row starts here
constexpr int kDoneWidth = 1215, kDoneHeight = 495;
constexpr int kDoneRightMargin = frmKeyboard::kClientWidth - 10920 - kDoneWidth;
constexpr int kDoneBottomMargin = frmKeyboard::kClientHeight - kCanvasHeight - kDoneHeight;

constexpr int Px(int twips) { return twips / frmKeyboard::kTwipsPerPixel; }
QRect Px(const QRect& r) { return {Px(r.x()), Px(r.y()), Px(r.width()), Px(r.height())}; }

int BarTop(int p) { return kBarTop + kBarStep * (p - 1); }

bool BelowKeyboard(int k) { return k < frmKeyboard::kFirstKey; }
bool AboveKeyboard(int k) { return k > frmKeyboard::kLastKey; }

// Where a bar starts and ends as drawn: a key outside A0..C8 is drawn at the
// keyboard's edge, so its handle stays in the window and can be grabbed.
int BarLeft(int low) {
    if (BelowKeyboard(low)) return 0;
    if (AboveKeyboard(low)) return kKeysEnd - kOffRightBarWidth;
    return frmKeyboard::KeyLeft(low);
}
int BarRight(int low, int high) {
    int right = high >= frmKeyboard::kLastKey ? kKeysEnd : frmKeyboard::KeyLeft(high + 1);
    if (BelowKeyboard(low) && BelowKeyboard(high)) right = kOffLeftBarWidth;
    return std::max(right, BarLeft(low) + 1);
}

// Positions the drag snaps between, in twips: the left edge of each low key a
// drag can give (A0..C8) and the end of each high key (A0, ending where A#0
// starts, .. B7, ending where C8 starts). A key outside the keyboard, which a
// handle may hold from the module, lies a white key beyond the edge's key.
constexpr int kFirstDragLow = frmKeyboard::kFirstKey, kLastDragLow = frmKeyboard::kLastKey;
constexpr int kFirstDragHigh = frmKeyboard::kFirstKey, kLastDragHigh = frmKeyboard::kLastKey - 1;
int LowSnap(int low) {
    if (BelowKeyboard(low)) return -kWhiteStep;
    if (AboveKeyboard(low)) return kKeysEnd;
    return frmKeyboard::KeyLeft(low);
}
int HighSnap(int high) {
    if (high < kFirstDragHigh) return frmKeyboard::KeyLeft(kFirstDragHigh + 1) - kWhiteStep;
    if (high > kLastDragHigh) return kKeysEnd;
    return frmKeyboard::KeyLeft(high + 1);
}

// The key whose snap position lies nearest `pos`; the key the drag started
// from wins a tie, so the value changes only once the pointer has gone past
// half the way to the next key.
int NearestKey(double pos, int startKey, int first, int last, int (*snap)(int)) {
    int best = startKey;
    double bestDistance = std::abs(pos - snap(startKey));
    for (int k = first; k <= last; ++k) {
        const double d = std::abs(pos - snap(k));
        if (d < bestDistance) best = k, bestDistance = d;
    }
    return best;
}

std::array<int, 129> MakeKeyLefts() {
    std::array<int, 129> lefts{};
    int whiteLeft = -kWhiteStep;  // the white key before A0 would lie here
    for (int k = 0; k <= 128; ++k) {
        if (k < frmKeyboard::kFirstKey) {
            lefts[k] = kOffLeft;
        } else if (k > frmKeyboard::kLastKey) {
            lefts[k] = k == 128 ? kEndOfRange : kOffRight;
        } else if (frmKeyboard::IsBlackKey(k)) {
            lefts[k] = whiteLeft + kBlackOffset;  // over the edge of its white neighbours
        } else {
            whiteLeft += kWhiteStep;
            lefts[k] = whiteLeft;
        }
    }
    return lefts;
}

}  // namespace

// The keyboard, the bars and the octave labels, painted from the window's state.
class KeyboardCanvas : public QWidget {
public:
    explicit KeyboardCanvas(frmKeyboard* owner) : QWidget(owner), owner_(owner) {
        setFixedSize(Px(frmKeyboard::kClientWidth), Px(kCanvasHeight));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, false);
        const QPen outline(Qt::black, 0);  // cosmetic: one device pixel at any scale
        auto drawKey = [&](int k, int width, int height) {
            const QRect r = Px(QRect(frmKeyboard::KeyLeft(k), 0, width, height));
            p.fillRect(r, owner_->KeyColor(k));
            p.setPen(outline);
            p.setBrush(Qt::NoBrush);
            p.drawRect(r.adjusted(0, 0, -1, -1));
        };
        for (int k = frmKeyboard::kFirstKey; k <= frmKeyboard::kLastKey; ++k)
            if (!frmKeyboard::IsBlackKey(k)) drawKey(k, kWhiteWidth, kWhiteHeight);
        for (int k = frmKeyboard::kFirstKey; k <= frmKeyboard::kLastKey; ++k)
            if (frmKeyboard::IsBlackKey(k)) drawKey(k, kBlackWidth, kBlackHeight);

        p.setPen(Qt::black);
        for (int n = 1; n <= 8; ++n) {
            // The label box is one key wide: centre the text on it, kept inside the window.
            const QRect box = Px(QRect(kLabelLeft + kLabelStep * (n - 1), kLabelTop, kLabelSize, kLabelSize));
            const QString text = QStringLiteral("C%1").arg(n);
            const int textWidth = p.fontMetrics().horizontalAdvance(text);
            const int x = std::min(box.center().x() - textWidth / 2, width() - textWidth - 6);
            p.drawText(QRect(x, box.top(), textWidth + 1, p.fontMetrics().height()),
                       Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
        }

        // Each bar carries its part's number: inside, just after its left
        // handle, where there is room; else beside it.
        QFont small = font();
        small.setPixelSize(Px(kBarHeight) - 1);
        small.setBold(true);
        p.setFont(small);
        for (int part = 1; part <= 6; ++part) {
            const QRect bar = owner_->KeyRange[part];
            if (bar.width() <= 0) continue;
            const QRect r = Px(bar);
            p.fillRect(r, PartColor(part));
            const QString number = QString::number(part);
            const int textWidth = p.fontMetrics().horizontalAdvance(number);
            const int handle = Px(kHandleWidth);
            int x = r.left() + handle + 2;  // inside the bar
            const QColor c = PartColor(part);
            const int luma = (299 * c.red() + 587 * c.green() + 114 * c.blue()) / 1000;
            QColor ink = luma < 128 ? Qt::white : Qt::black;
            if (x + textWidth > r.right() - 1) {
                ink = Qt::black;
                x = r.right() + 1 + handle + 2;                                     // right of the right handle
                if (x + textWidth > width()) x = r.left() - textWidth - 2;          // or left of the left one
            }
            p.setPen(ink);
            p.drawText(QRect(x, r.top(), textWidth + 1, r.height()), Qt::AlignLeft | Qt::AlignVCenter, number);
        }
    }

    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
        const QPointF at = e->position() * frmKeyboard::kTwipsPerPixel;
        const int k = frmKeyboard::KeyAt(QPoint(static_cast<int>(at.x()), static_cast<int>(at.y())));
        if (k >= 0) owner_->PlayKey(k);
    }

private:
    frmKeyboard* owner_;
};

// A small caption-less button at one end of a bar; the window handles its mouse.
class KeyRangeHandle : public QWidget {
public:
    explicit KeyRangeHandle(QWidget* parent) : QWidget(parent) {
        setFixedSize(Px(kHandleWidth), Px(kBarHeight));
        setCursor(Qt::SizeHorCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        // A raised button face framed in dark grey, so it shows on the white
        // background as well as on the bar it sits on.
        const QRect r = rect();
        p.fillRect(r, palette().button());
        p.setPen(QPen(palette().light().color(), 0));
        p.drawLine(r.topLeft() + QPoint(1, 1), r.bottomLeft() + QPoint(1, -1));
        p.setPen(QPen(palette().shadow().color(), 0));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
};

}  // namespace keyboard

using quorvane::ui::keyboard::KeyboardCanvas;
using quorvane::ui::keyboard::KeyRangeHandle;
namespace kb = quorvane::ui::keyboard;

namespace quorvane::ui {

int frmKeyboard::KeyLeft(int k) {
    static const std::array<int, 129> lefts = kb::MakeKeyLefts();
    return lefts[static_cast<size_t>(std::clamp(k, 0, 128))];
}

bool frmKeyboard::IsBlackKey(int k) {
    switch (k % 12) {
    case 1: case 3: case 6: case 8: case 10: return true;
    default: return false;
    }
}

int frmKeyboard::KeyAt(QPoint t) {
    auto inside = [&](int k, int width, int height) {
        return t.y() >= 0 && t.y() < height && t.x() >= KeyLeft(k) && t.x() < KeyLeft(k) + width;
    };
    for (int k = kFirstKey; k <= kLastKey; ++k)
        if (IsBlackKey(k) && inside(k, kb::kBlackWidth, kb::kBlackHeight)) return k;
    for (int k = kFirstKey; k <= kLastKey; ++k)
        if (!IsBlackKey(k) && inside(k, kb::kWhiteWidth, kb::kWhiteHeight)) return k;
    return -1;
}

void frmKeyboard::PlayKey(int k) {
    if (k < 0 || k > 127 || !u220_.PatchDataLoaded()) return;
    std::vector<int> channels;
    for (int p = 1; p <= 6; ++p) {
        if (LeftHandle[p]->isHidden() || k < RangeLow[p] || k > RangeHigh[p]) continue;
        const auto channel = TestNotes::Channel(u220_.PatchPartReceiveChannel(static_cast<int16_t>(p)));
        if (channel && std::find(channels.begin(), channels.end(), *channel) == channels.end())
            channels.push_back(*channel);
    }
    for (int channel : channels) notes_->Play(channel, k);
}

void frmKeyboard::hideEvent(QHideEvent* event) {
    // A test note still sounding is switched off with the window, and a drag
    // cut short by the closing ends its undo step.
    notes_->StopAll();
    if (dragPart_ != 0) OnHandleRelease();
    QDialog::hideEvent(event);
}

frmKeyboard::frmKeyboard(MainContext& ctx, KeyRangeTarget& target, QWidget* parent)
    : QDialog(parent), u220_(ctx.U220()), target_(target) {
    notes_ = new TestNotes(u220_, this);
    setWindowTitle(QStringLiteral("Quorvane / Key Range Editor"));
    ModalToOpener(this);

    // The drawing stands on the window background, which is white like the keys.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);

    canvas_ = new KeyboardCanvas(this);
    for (int p = 1; p <= 6; ++p) {
        LeftHandle[p] = new KeyRangeHandle(canvas_);
        RightHandle[p] = new KeyRangeHandle(canvas_);
        LeftHandle[p]->setObjectName(QStringLiteral("LeftHandle%1").arg(p));
        RightHandle[p]->setObjectName(QStringLiteral("RightHandle%1").arg(p));
        LeftHandle[p]->installEventFilter(this);
        RightHandle[p]->installEventFilter(this);
        // Offered once activation has read the part's range and placed them.
        LeftHandle[p]->hide();
        RightHandle[p]->hide();
    }

    cmdDone = new QPushButton(QStringLiteral("Done"), this);
    cmdDone->setObjectName(QStringLiteral("cmdDone"));
    cmdDone->setMinimumSize(kb::Px(kb::kDoneWidth), kb::Px(kb::kDoneHeight));
    cmdDone->setDefault(true);
    connect(cmdDone, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, kb::Px(kb::kDoneRightMargin), kb::Px(kb::kDoneBottomMargin));
    buttons->addStretch(1);
    buttons->addWidget(cmdDone);
    // Edit > Undo and Redo work on the patch editor's history: a drag is a step
    // there, undone here at once (and the bars follow).
    MenuBar = new QMenuBar(this);
    EditHistory& history = target_.KeyRangeHistory();
    history.AddActions(MenuBar->addMenu(QStringLiteral("&Edit")));
    connect(history.Stack(), &QUndoStack::indexChanged, this, [this] {
        if (target_.KeyRangeHistory().Replaying() && isVisible() && dragPart_ == 0) ShowRanges();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MenuBar);
    layout->addWidget(canvas_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Keys start white or black; these are the colours a released handle restores.
    for (int k = 0; k <= 128; ++k) keyColor_[k] = IsBlackKey(k) ? QColor(Qt::black) : QColor(Qt::white);
    savedKeyColor_ = keyColor_;
}

frmKeyboard::~frmKeyboard() {
    if (dragPart_ != 0) target_.EndKeyRangeDrag();
}

void frmKeyboard::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // As in the patch editor: run activation (which may wait for the module)
    // from the modal loop, so that "Done" during the wait ends exec().
    if (!event->spontaneous()) QMetaObject::invokeMethod(this, [this] { Activate(); }, Qt::QueuedConnection);
}

void frmKeyboard::Activate() {
    std::optional<WaitCursor> hourglass;
    if (!u220_.PatchDataLoaded()) hourglass.emplace();  // the first read will wait
    ShowRanges();
}

void frmKeyboard::ShowRanges() {
    for (int p = 1; p <= 6; ++p) {
        const int16_t moduleLow = u220_.PatchPartKeyRangeLow(static_cast<int16_t>(p));
        if (!u220_.PatchDataLoaded()) {
            // The module did not answer and the user gave up: draw no bars and
            // offer no handles rather than ask again for every key.
            for (int q = 1; q <= 6; ++q) {
                KeyRange[q] = QRect();
                LeftHandle[q]->hide();
                RightHandle[q]->hide();
            }
            canvas_->update();
            break;
        }
        const int low = std::clamp<int>(moduleLow, 0, 127);
        const int high = std::clamp<int>(u220_.PatchPartKeyRangeHi(static_cast<int16_t>(p)), 0, 127);
        RangeLow[p] = static_cast<int16_t>(low);
        // A high key below the low key cannot span a bar: draw it one key wide.
        RangeHigh[p] = static_cast<int16_t>(std::max(high, low));
        PlaceBar(p);
        LeftHandle[p]->show();
        RightHandle[p]->show();
    }
}

void frmKeyboard::PlaceBar(int p) {
    const int left = kb::BarLeft(RangeLow[p]);
    const int right = kb::BarRight(RangeLow[p], RangeHigh[p]);
    KeyRange[p] = QRect(left, kb::BarTop(p), right - left, kb::kBarHeight);
    // The left handle covers the start of the bar, the right one stands just after it.
    LeftHandle[p]->move(kb::Px(left), kb::Px(kb::BarTop(p)));
    RightHandle[p]->move(kb::Px(std::min(right, kb::kLastHandleLeft)), kb::Px(kb::BarTop(p)));
    canvas_->update();
}

void frmKeyboard::RestoreKeyColors() {
    keyColor_ = savedKeyColor_;
    canvas_->update();
}

void frmKeyboard::LightKeys(int p) {
    keyColor_ = savedKeyColor_;
    for (int k = std::max<int>(RangeLow[p], 0); k <= std::min<int>(RangeHigh[p], 128); ++k)
        keyColor_[static_cast<size_t>(k)] = PartColor(p);
    canvas_->update();
}

bool frmKeyboard::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return QDialog::eventFilter(watched, event);
    int part = 0;
    bool left = false;
    for (int p = 1; p <= 6 && part == 0; ++p) {
        if (watched == LeftHandle[p]) part = p, left = true;
        else if (watched == RightHandle[p]) part = p;
    }
    if (part == 0) return QDialog::eventFilter(watched, event);

    auto* me = static_cast<QMouseEvent*>(event);
    const double x = me->position().x();
    // The pointer on the drawing, in twips: the handle itself moves during a drag.
    const double canvasX = (static_cast<QWidget*>(watched)->x() + x) * kTwipsPerPixel;
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        OnHandlePress(part, left, x, canvasX);
        break;
    case QEvent::MouseMove:
        // A drag is the left button alone; any other state of the buttons is ignored.
        if (me->buttons() == Qt::LeftButton && dragPart_ == part && dragLeft_ == left) {
            if (left) OnLeftHandleMove(part, canvasX);
            else OnRightHandleMove(part, canvasX);
        }
        break;
    default:
        OnHandleRelease();
        break;
    }
    return true;
}

void frmKeyboard::OnHandlePress(int p, bool left, double localX, double canvasX) {
    DragOffset = static_cast<int16_t>(std::lround(localX * kTwipsPerPixel));
    // A drag moves the handle by as much as the pointer moved since the press,
    // from where the key it holds lies (which, for a key beyond the keyboard,
    // is not where its handle is drawn).
    dragPart_ = p;
    dragLeft_ = left;
    pressX_ = canvasX;
    dragStartKey_ = left ? RangeLow[p] : RangeHigh[p];
    // Everything one drag sets is one undo step in the target's history.
    target_.BeginKeyRangeDrag();
    LightKeys(p);
}

void frmKeyboard::OnLeftHandleMove(int p, double canvasX) {
    const double pos = kb::LowSnap(dragStartKey_) + (canvasX - pressX_);
    int low = kb::NearestKey(pos, dragStartKey_, kb::kFirstDragLow, kb::kLastDragLow, kb::LowSnap);
    // The handle stops at the high key: a part never ends below where it starts.
    low = std::min(low, static_cast<int>(RangeHigh[p]));
    RangeLow[p] = static_cast<int16_t>(low);
    PlaceBar(p);
    LightKeys(p);
    target_.SetKeyRange(p, false, low);
}

void frmKeyboard::OnRightHandleMove(int p, double canvasX) {
    const double pos = kb::HighSnap(dragStartKey_) + (canvasX - pressX_);
    int high = kb::NearestKey(pos, dragStartKey_, kb::kFirstDragHigh, kb::kLastDragHigh, kb::HighSnap);
    // The handle stops at the low key.
    high = std::max(high, static_cast<int>(RangeLow[p]));
    RangeHigh[p] = static_cast<int16_t>(high);
    PlaceBar(p);
    LightKeys(p);
    target_.SetKeyRange(p, true, high);
}

void frmKeyboard::OnHandleRelease() {
    dragPart_ = 0;
    target_.EndKeyRangeDrag();
    RestoreKeyColors();
}

}  // namespace quorvane::ui
