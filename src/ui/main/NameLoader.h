// Loading the module's names into the main window: the 64 patch names into the
// patch list, then the 128 timbre and 4 rhythm setup names for the editors,
// with the progress bar and status line, going on where a stopped load ended
// (F5 loads only what is missing).
#pragma once

#include <QString>
#include <functional>

class QLabel;
class QListWidget;
class QProgressBar;

namespace quorvane {
class clsU220;
}

namespace quorvane::ui {

class NameLoader {
public:
    // The list, status line and bar are the main window's; so are the flags:
    // `updating` is set while the list is filled, `quitRequested` ends a load,
    // the progress shows only while `activating`. `pickFirst` puts the list on
    // patch 1 after the first load (unless a patch has been picked meanwhile).
    NameLoader(quorvane::clsU220& u220, QListWidget* list, QLabel* status, QProgressBar* bar, bool& updating,
               const bool& quitRequested, const bool& activating, std::function<void()> pickFirst,
               std::function<void(const QString&)> showStatus);

    // The patch names into the list, in patch order. False when the module did
    // not answer or the load was given up.
    bool LoadPatchList();
    // After a command wrote memories: the names it read again go into the
    // list, without asking the module. False when some are still missing.
    bool ShowNamesReadAgain();
    // The timbre and rhythm setup names, read once so the editors can list them.
    bool LoadOtherNames();
    // "P-01   " and the patch's name (read when not yet held).
    QString PatchEntryText(int patchNo);
    // Sets the counters to the names already held, before a load.
    void SyncNameProgress();
    // After a load: a line saying it stopped and how to go on, or that line cleared.
    void ShowLoadOutcome(bool complete);

    // Names received so far: none (a load from the start).
    void ResetCounts() { PatchNamesReceived = TimbreNamesReceived = RhythmNamesReceived = 0; }

private:
    void NameReceived(int& counter, int limit, const char* text);

    int PatchNamesReceived = 0;
    int TimbreNamesReceived = 0;
    int RhythmNamesReceived = 0;

    QListWidget* pnameListBox;
    QLabel* statusLabel_;
    QProgressBar* progressBar_;
    bool& Updating;
    const bool& quitRequested_;
    const bool& activating_;
    std::function<void()> PickFirst;
    std::function<void(const QString&)> ShowStatus;
    quorvane::clsU220* u220_;
    float progress_ = 0.0f;  // the bar's value with its fractions
};

}  // namespace quorvane::ui
