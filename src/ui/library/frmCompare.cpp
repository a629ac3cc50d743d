#include "ui/library/frmCompare.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>


namespace quorvane::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

enum Column { ColSection, ColParameter, ColA, ColB, ColCount };

// An item gone since it was selected (removed beside the window, say) is a message, not an exception.
library::Comparison CompareOrExplain(library::SoundLibrary& lib, int64_t a, int64_t b) {
    try {
        return library::CompareItems(lib, a, b, false);
    } catch (const std::exception& e) {
        library::Comparison c;
        c.message = e.what();
        return c;
    }
}

}  // namespace

frmCompare::frmCompare(library::SoundLibrary& lib, int64_t a, int64_t b, QWidget* parent)
    : QDialog(parent), all_(CompareOrExplain(lib, a, b)) {
    setObjectName(QStringLiteral("frmCompare"));
    setWindowTitle(all_.ok || !all_.nameA.empty() ? QStringLiteral("Compare %1 and %2").arg(Q(all_.nameA), Q(all_.nameB))
                                                   : QStringLiteral("Compare"));
    setSizeGripEnabled(true);

    lblMessage = new QLabel(Q(all_.message), this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setWordWrap(true);
    lblMessage->setVisible(!all_.ok);

    lstRows = new QTableWidget(0, ColCount, this);
    lstRows->setObjectName(QStringLiteral("lstRows"));
    lstRows->setHorizontalHeaderLabels(
        {QStringLiteral("Section"), QStringLiteral("Parameter"), Q(all_.nameA), Q(all_.nameB)});
    lstRows->setAccessibleName(QStringLiteral("Parameters of %1 and %2").arg(Q(all_.nameA), Q(all_.nameB)));
    lstRows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstRows->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstRows->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstRows->setTabKeyNavigation(false);
    lstRows->setWordWrap(false);
    lstRows->verticalHeader()->setVisible(false);
    lstRows->horizontalHeader()->setStretchLastSection(true);
    lstRows->setVisible(all_.ok);
    lstRows->installEventFilter(this);  // Ctrl+C copies whole rows, not one cell

    chkOnlyDifferences = new QCheckBox(QStringLiteral("&Show only differences"), this);
    chkOnlyDifferences->setObjectName(QStringLiteral("chkOnlyDifferences"));
    chkOnlyDifferences->setEnabled(all_.ok);
    connect(chkOnlyDifferences, &QCheckBox::toggled, this, [this] { Fill(); });
    lblSummary = new QLabel(this);
    lblSummary->setObjectName(QStringLiteral("lblSummary"));
    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setAutoDefault(false);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(chkOnlyDifferences);
    bottom->addWidget(lblSummary, 1);
    bottom->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblMessage);
    layout->addWidget(lstRows, 1);
    layout->addLayout(bottom);
    setTabOrder(lstRows, chkOnlyDifferences);
    setTabOrder(chkOnlyDifferences, cmdClose);

    // Sized in the font's own units (so it scales with the screen's), wide
    // enough for the longest caption and value, at most most of the screen.
    const QFontMetrics fm(lstRows->font());
    const int rowHeight = fm.height() + fm.height() / 3;
    lstRows->verticalHeader()->setDefaultSectionSize(rowHeight);
    int widths[ColCount] = {fm.horizontalAdvance(QStringLiteral("Timbre of part 6")),
                            fm.horizontalAdvance(QStringLiteral("Control Parameter 1 Destination")),
                            fm.horizontalAdvance(QStringLiteral("Short Delay")), 0};
    for (const auto& r : all_.rows) {
        widths[ColA] = std::max(widths[ColA], fm.horizontalAdvance(Q(r.a)));
        widths[ColA] = std::max(widths[ColA], fm.horizontalAdvance(Q(r.b)));
    }
    widths[ColA] = std::max({widths[ColA], fm.horizontalAdvance(Q(all_.nameA)), fm.horizontalAdvance(Q(all_.nameB))});
    widths[ColB] = widths[ColA];
    const int pad = 2 * fm.averageCharWidth() + 8;
    int total = 0;
    for (int c = 0; c < ColCount; ++c) {
        lstRows->setColumnWidth(c, widths[c] + pad);
        total += widths[c] + pad;
    }
    QSize want(total + fm.averageCharWidth() * 6, rowHeight * 28 + fm.height() * 6);
    if (const QScreen* s = (parent ? parent->screen() : QGuiApplication::primaryScreen())) {
        const QSize room = s->availableGeometry().size() * 9 / 10;
        want = want.boundedTo(room);
    }
    resize(all_.ok ? want : QSize(fm.averageCharWidth() * 70, fm.height() * 8));

    Fill();
    (all_.ok ? static_cast<QWidget*>(lstRows) : cmdClose)->setFocus();
}

void frmCompare::Fill() {
    shown_.clear();
    for (const auto& r : all_.rows)
        if (!chkOnlyDifferences->isChecked() || r.differs) shown_.push_back(r);
    lstRows->setRowCount(0);
    lstRows->setRowCount(static_cast<int>(shown_.size()));
    // A tint of the selection colour: readable in light and dark palettes.
    QColor tint = palette().color(QPalette::Highlight);
    tint.setAlpha(70);
    size_t differing = 0;
    for (size_t i = 0; i < shown_.size(); ++i) {
        const auto& r = shown_[i];
        const QString texts[ColCount] = {Q(r.section), Q(r.parameter), Q(r.a), Q(r.b)};
        for (int c = 0; c < ColCount; ++c) {
            const bool unread = c >= ColA && texts[c].isEmpty();
            auto* item = new QTableWidgetItem(unread ? QStringLiteral("(not read)") : texts[c]);
            QFont f = item->font();
            f.setBold(r.differs);
            f.setItalic(unread);
            item->setFont(f);
            if (r.differs) item->setBackground(tint);
            if (unread) item->setToolTip(QStringLiteral("The audition of this sound did not read this part of it"));
            lstRows->setItem(static_cast<int>(i), c, item);
        }
    }
    for (const auto& r : all_.rows) differing += r.differs;
    if (all_.ok)
        lblSummary->setText(differing == 0 ? QStringLiteral("No parameter differs (%1 compared)").arg(all_.rows.size())
                                           : QStringLiteral("%1 of %2 parameters differ").arg(differing).arg(all_.rows.size()));
    if (lstRows->rowCount() > 0 && !lstRows->currentItem()) lstRows->setCurrentCell(0, ColParameter);
}

bool frmCompare::Highlighted(int row) const {
    const QTableWidgetItem* item = lstRows->item(row, ColParameter);
    return item && item->font().bold() && item->background().style() != Qt::NoBrush;
}

void frmCompare::CopySelection() const {
    QStringList lines;
    for (int row = 0; row < lstRows->rowCount(); ++row) {
        if (!lstRows->selectionModel()->isRowSelected(row, {})) continue;
        const auto& r = shown_[static_cast<size_t>(row)];
        lines << QStringList{Q(r.section), Q(r.parameter), Q(r.a), Q(r.b), r.differs ? QStringLiteral("*") : QString()}.join('\t');
    }
    if (!lines.isEmpty()) QApplication::clipboard()->setText(lines.join('\n') + '\n');
}

bool frmCompare::eventFilter(QObject* watched, QEvent* e) {
    if (watched == lstRows && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->matches(QKeySequence::Copy)) {
        CopySelection();
        return true;
    }
    return QDialog::eventFilter(watched, e);
}

frmCompare* ShowCompare(QWidget* parent, library::SoundLibrary* lib, const std::vector<int64_t>& ids) {
    if (!lib || ids.size() != 2) return nullptr;
    auto* w = new frmCompare(*lib, ids[0], ids[1], parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setModal(false);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

}  // namespace quorvane::ui
