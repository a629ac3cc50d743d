#include "ui/main/NameLoader.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <algorithm>

#include "ui/main/Connection.h"
#include "device/NameCodec.h"
#include "device/clsU220.h"

namespace quorvane::ui {

NameLoader::NameLoader(quorvane::clsU220& u220, QListWidget* list, QLabel* status, QProgressBar* bar, bool& updating,
                       const bool& quitRequested, const bool& activating, std::function<void()> pickFirst,
                       std::function<void(const QString&)> showStatus)
    : pnameListBox(list), statusLabel_(status), progressBar_(bar), Updating(updating), quitRequested_(quitRequested),
      activating_(activating), PickFirst(std::move(pickFirst)), ShowStatus(std::move(showStatus)), u220_(&u220) {
    u220_->MemoryPatchNameOneReceived = [this] {
        NameReceived(PatchNamesReceived, 64, "Loading 64 Patch Names...");
    };
    u220_->MemoryTimbreNameOneReceived = [this] {
        NameReceived(TimbreNamesReceived, 128, "Loading 128 Timbre Names...");
    };
    u220_->MemoryRhythmNameOneReceived = [this] {
        NameReceived(RhythmNamesReceived, 4, "Loading 4 Rhythm Names...");
    };
}

void NameLoader::SyncNameProgress() {
    // Each counter goes on from the names already held, so that it reaches its
    // limit (and the bar goes away) when the last missing name arrives.
    auto held = [](int limit, auto loaded) {
        int n = 0;
        for (int i = 1; i <= limit; ++i) n += loaded(i) ? 1 : 0;
        return n >= limit ? 0 : n;
    };
    PatchNamesReceived = held(64, [this](int i) { return u220_->MemoryPatchNameLoaded(i); });
    TimbreNamesReceived = held(128, [this](int i) { return u220_->MemoryTimbreNameLoaded(i); });
    RhythmNamesReceived = held(4, [this](int i) { return u220_->MemoryRhythmNameLoaded(i); });
}

void NameLoader::ShowLoadOutcome(bool complete) {
    if (complete) {
        // Everything is there: a "loading stopped" line has had its day.
        if (statusLabel_->text() == texts::LoadStopped() || statusLabel_->text() == texts::NamesNotReadAgain())
            ShowStatus(QString());
        return;
    }
    // A stopped load leaves no bar behind, only what happened and how to go on.
    progress_ = 0.0f;
    progressBar_->setValue(0);
    progressBar_->setVisible(false);
    ShowStatus(texts::LoadStopped());
}

QString NameLoader::PatchEntryText(int patchNo) {
    return QStringLiteral("P-%1   ").arg(patchNo, 2, 10, QLatin1Char('0')) +
           QString::fromStdString(NameBytesToUtf8(u220_->MemoryPatchName(static_cast<int16_t>(patchNo))));
}

bool NameLoader::LoadPatchList() {
    // Names a write made the model forget and nothing read again (the module
    // stopped answering, or the reading was cancelled).
    for (int n = 1; n <= pnameListBox->count(); ++n) {
        if (u220_->MemoryPatchNameLoaded(n)) continue;
        const QString entry = PatchEntryText(n);
        if (quitRequested_ || !u220_->MemoryPatchNameLoaded(n)) return false;
        Updating = true;
        pnameListBox->item(n - 1)->setText(entry);
        Updating = false;
    }
    if (pnameListBox->count() >= 64) return true;
    // Entries are added in patch order as their names arrive, so an earlier run
    // that stopped left patches 1..count: go on after them. The selection (the
    // patch the module is on) stays as it is.
    for (int n = pnameListBox->count() + 1; n <= 64; ++n) {
        const QString entry = PatchEntryText(n);  // waits for this name's reply
        if (quitRequested_) return false;
        if (!u220_->MemoryPatchNameLoaded(n)) return false;  // the user gave up on the module
        Updating = true;
        pnameListBox->addItem(entry);
        Updating = false;
    }
    // Selecting patch 1 switches the module to it, unless the user has already
    // picked a patch from the entries listed so far.
    if (pnameListBox->currentRow() < 0) {
        PickFirst();
    }
    return true;
}

bool NameLoader::ShowNamesReadAgain() {
    // The names written have been read again: no request for the list.
    bool unread = false;
    for (int n = 1; n <= pnameListBox->count(); ++n) {
        if (!u220_->MemoryPatchNameLoaded(n)) {
            unread = true;
            continue;
        }
        Updating = true;
        pnameListBox->item(n - 1)->setText(PatchEntryText(n));
        Updating = false;
    }
    return !unread;
}

bool NameLoader::LoadOtherNames() {
    // Read once here so the editors can list them without waiting.
    for (int t = 1; t <= 128; ++t) {
        u220_->MemoryTimbreName(static_cast<int16_t>(t));
        if (quitRequested_ || !u220_->MemoryTimbreNameLoaded(t)) return false;
    }
    for (int r = 1; r <= 4; ++r) {
        u220_->MemoryRhythmName(static_cast<int16_t>(r));
        if (quitRequested_ || !u220_->MemoryRhythmNameLoaded(r)) return false;
    }
    return true;
}

void NameLoader::NameReceived(int& counter, int limit, const char* text) {
    // Only the load shows its progress here; a command that reads a few names
    // again shows them under its own.
    if (!activating_) return;
    ++counter;
    if (counter >= limit) {
        counter = 0;
        statusLabel_->setVisible(false);
        progressBar_->setVisible(false);
        progress_ = 0.0f;
        progressBar_->setValue(0);
        statusLabel_->setText(QString());
        return;
    }
    progressBar_->setVisible(true);
    statusLabel_->setVisible(true);
    // From the count, not by steps: a reload after a stop goes on where it was.
    progress_ = 100.0f * static_cast<float>(counter) / static_cast<float>(limit);
    progressBar_->setValue(std::clamp(static_cast<int>(progress_), 0, 100));
    statusLabel_->setText(QString::fromLatin1(text));
}

}  // namespace quorvane::ui
