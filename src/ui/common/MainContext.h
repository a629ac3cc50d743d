// What the editor windows use of the main window: the one model, the status
// line and progress bar that show loading progress, and the patch list's
// selection. The main window implements it; window tests may supply their own.
#pragma once

class QLabel;
class QProgressBar;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

class MainContext {
public:
    virtual ~MainContext() = default;
    virtual quorvane::clsU220& U220() = 0;
    virtual QLabel* StatusLabel() = 0;
    virtual QProgressBar* ProgressBar() = 0;
    // 0-based index of the patch selected in the main window's list, -1 for none.
    virtual int SelectedPatchIndex() const = 0;
};

}  // namespace quorvane::ui
