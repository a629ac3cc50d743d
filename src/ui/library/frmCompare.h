// Two library sounds side by side, parameter by parameter, from what their
// auditions read (library/Compare.h): a row for each parameter with its
// section, the editors' caption and both values in the editors' words; rows
// whose values differ are highlighted (a tinted background and bold text, so
// they stand out without colour too), and "Show only differences" hides the
// others; a value one side never read shows "(not read)". A sound without a
// reading gets the message in place of the rows.
//
// The rows are read once when the window opens: it holds no reference to the
// library afterwards. Keyboard: the table has the focus (arrows, Page Up and
// Down, Ctrl+C copies the selected rows as tab-separated text), Alt+S toggles
// the check box, Esc closes.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "library/Compare.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace quorvane::ui {

class frmCompare : public QDialog {
    Q_OBJECT
public:
    // An unknown id shows the library's message in place of the rows.
    frmCompare(library::SoundLibrary& lib, int64_t a, int64_t b, QWidget* parent = nullptr);

    // The rows shown now (all, or only the differing ones).
    const std::vector<library::CompareRow>& ShownRows() const { return shown_; }
    // True when table row `row` is highlighted as differing.
    bool Highlighted(int row) const;

    QTableWidget* lstRows = nullptr;
    QCheckBox* chkOnlyDifferences = nullptr;
    QLabel* lblMessage = nullptr;  // why there are no rows; hidden when there are
    QLabel* lblSummary = nullptr;  // "12 of 214 parameters differ"
    QPushButton* cmdClose = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Fill();
    void CopySelection() const;

    library::Comparison all_;
    std::vector<library::CompareRow> shown_;
};

// Opens a compare window for two items of `lib` (non-modal, closed with
// `parent`); the window, or nullptr when `ids` are not two items.
frmCompare* ShowCompare(QWidget* parent, library::SoundLibrary* lib, const std::vector<int64_t>& ids);

}  // namespace quorvane::ui
