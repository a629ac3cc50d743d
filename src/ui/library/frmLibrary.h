// The sound library window: every sound imported, in one list that filters as
// you type (names, tags, file names), by type, favourites, a tag and a source
// file, sorted by any column; a details pane with every source and, for a
// patch, the bank it came from; the duplicates ("same sound, other name");
// user banks built by dragging sounds into numbered places, saved as a .syx or
// sent to the module through the verified restore; imports of files and
// folders on a worker thread with progress, time left and Cancel.
//
// Keyboard first: arrows move, typing finds a name, Delete asks before removing,
// F2 renames, Ctrl+D marks a favourite, Ctrl+T adds a tag.
//
// The definitions live in a file per concern: frmLibrary.cpp (the window, the
// filters, the list, the keys), frmLibraryOpen.cpp (the library file),
// frmLibraryDetails.cpp (details and duplicates), frmLibraryEdit.cpp (the
// item commands), frmLibraryBanks.cpp (user banks, saving and sending) and
// frmLibraryImport.cpp (imports).
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "ui/library/LibraryApi.h"
#include "ui/backup/BackupPrompts.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTextBrowser;
class QTimer;
class QTreeWidget;

namespace quorvane {
class clsU220;
class Host;
}  // namespace quorvane
namespace quorvane::library {
struct StorePlan;
}

namespace quorvane::ui {

class BackupUi;
class LibraryImport;
class LibraryModel;

struct LibraryWindowOptions {
    // The library file; empty: the same default as the command line.
    QString path;
    // Sends banks and selections to the module; null: "Send to Module" is off.
    BackupUi* backup = nullptr;
    // Runs a transfer as the main window runs its back-up commands (counted as
    // a wait for the module; refused while the names load or another transfer
    // runs, by not calling it). Empty: called at once.
    std::function<void(const std::function<void()>& transfer)> runTransfer;
    // Files, questions and messages; empty members show the standard dialogs.
    BackupPrompts prompts;
    // A line of text (a new name, a tag, a bank's name); empty when cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& label, const QString& text)> askText;
    // Waits this long after a keystroke before the list is filtered again.
    int filterDelayMs = 120;

    // ---- playing and storing through the module (frmLibraryModule.cpp) ----
    // The module the sounds are auditioned on and stored into; null: those
    // commands are off. The journal is `backup`'s.
    quorvane::clsU220* model = nullptr;
    quorvane::Host* host = nullptr;
    // The patch the module is on (1..64; 0 when not known): where an audition
    // plays unless another place is set. Empty: the last program change sent.
    std::function<int()> modulePatch;
    // The main window's status line: "Auditioning <name> — not stored" after an
    // audition in patch memory `patchNo`; empty once the sound is stored.
    std::function<void(const QString& text, int patchNo)> auditionShown;
    // The store plan for the user: returns 0 (Cancel), 1 (Store) or 2 (Store
    // the patch alone). Empty: the plan dialog.
    std::function<int(QWidget* parent, const library::StorePlan& plan)> askPlan;
};

class frmLibrary : public QMainWindow {
    Q_OBJECT
public:
    explicit frmLibrary(LibraryWindowOptions options = {}, QWidget* parent = nullptr);
    ~frmLibrary() override;

    // Opens the library file; a damaged one is offered to be moved aside, a
    // newer one refused. False when the window has no library to show.
    bool OpenLibrary();
    library::SoundLibrary* Library() const { return lib_.get(); }
    LibraryModel* Model() const { return model_; }

    // Filters the list with the filter controls now (the typing timer's work).
    void ApplyFilter();
    // Reads the list again when the library changed (here or in another
    // program, such as the command line beside the editor).
    void RefreshIfChanged();

    // Imports files and folders on the worker thread (as a drop does). False
    // when one is running already or there is no library.
    bool ImportPaths(const QStringList& paths);
    bool Importing() const;
    void CancelImport();
    // What the last import reported (the summary shown at its end).
    const QString& LastImportSummary() const { return lastImport_; }

    // The ids of the selected rows, in list order.
    std::vector<int64_t> SelectedIds() const;
    // Selects item `id` when it is in the list (reading pages as needed).
    bool SelectId(int64_t id);

    // The commands (menus, keys and buttons call them).
    void ImportFiles();
    void ImportFolder();
    void RemoveSelected();
    void RenameCurrent();
    void ToggleFavourite();
    void AddTagToSelected();
    void KeepCopyOfCurrent();
    void ApplyNameOfCurrent();  // asks first
    bool ExportSelection();
    bool SendSelection();
    // User banks.
    bool NewBank();
    void ShowBank(const QString& name);
    QString CurrentBank() const;
    // Puts the items into the current bank from `place` (from 1) on; false and
    // the reason in the status line when some did not go in.
    bool DropOnBank(int place, const std::vector<int64_t>& ids);
    void ClearBankPlace();
    bool ExportBank();
    bool SendBank();
    void ShowDuplicates();

    // ---- playing and storing through the module (frmLibraryModule.cpp) ----
    // Auditions the current item (Play, Enter): the newest pick only, when one
    // runs already. False when it could not start.
    bool PlayCurrent();
    bool Audition(int64_t id);
    // True while one runs or a pick waits to start one.
    bool Auditioning() const { return auditionRuns_ > 0 || auditionPosted_; }
    // Where auditions play: a patch memory 1..64, 0 for the patch the module is
    // on; the part a timbre plays on (1..6).
    static int AuditionPlace();
    static void SetAuditionPlace(int patch);
    static int AuditionPart();
    static void SetAuditionPart(int part);
    // Stores library patch `id` into patch memory `slot` (asked when 0) after
    // showing the plan. False when cancelled or it failed.
    bool StoreTo(int64_t id, int slot = 0);
    bool ReadModuleIndex();
    // Writes back what the last store replaced.
    bool PutBackLastStore();
    // "store Brass Sect into patch 12" for the store Put back would undo; empty when none.
    QString LastStore();
    QCheckBox* chkAuditionOnSelect = nullptr;
    QPushButton* cmdPlay = nullptr;
    QAction* actStoreTo = nullptr;
    QAction* actReadModuleIndex = nullptr;
    QAction* actPutBackStore = nullptr;

    // Controls (tests drive them).
    QLineEdit* txtFilter = nullptr;
    QComboBox* cboType = nullptr;
    QCheckBox* chkFavourites = nullptr;
    QLineEdit* txtTag = nullptr;
    QLineEdit* txtSource = nullptr;
    QTableView* lstItems = nullptr;
    QTextBrowser* txtDetails = nullptr;
    QTabWidget* tabs = nullptr;
    QTreeWidget* treeDuplicates = nullptr;
    QComboBox* cboBank = nullptr;
    QComboBox* cboBankType = nullptr;
    QTableWidget* lstBank = nullptr;
    QPushButton* cmdSendBank = nullptr;
    QLabel* lblStatus = nullptr;
    QLabel* lblImport = nullptr;
    QProgressBar* importBar = nullptr;
    QPushButton* cmdCancelImport = nullptr;
    QAction* actSendSelection = nullptr;

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void BuildWindow();
    QWidget* BuildBankPage(QWidget* parent);
    bool BankPlacesEvent(QEvent* e);  // true when it was handled
    void ShowDetails(int64_t id);
    void AddReading(QString& html, const library::ItemDetails& d);
    void ShowStatus(const QString& text);
    void Failed(const QString& what, const std::exception& e);
    void ChangedHere(int64_t keepId);  // after an edit: the list again, the item kept selected
    void FillBanks(const QString& select = {});
    bool SaveImage(const QString& title, const QString& suggested, const library::MemoryImage& image,
                   const std::vector<library::Placement>& placed);
    bool SendImage(const QString& title, const QString& what, const library::MemoryImage& image,
                   const std::vector<library::Placement>& placed);
    void ImportFinished(const library::ImportReport& r);
    QString AskText(const QString& title, const QString& label, const QString& text);
    int64_t DataVersion();
    // Playing and storing through the module (frmLibraryModule.cpp).
    QWidget* BuildModuleCommands(QWidget* parent, std::vector<QAction*>& listKeys);
    void RunAuditions();
    // A pick in the list: auditioned once the event that picked has ended (a
    // mouse press selects its row only then), or by the one running.
    void PostAudition(int64_t id);
    void UpdateModuleActions();
    int64_t wantedAudition_ = 0;  // the newest pick to audition (0: none)
    int auditionRuns_ = 0;
    bool auditionPosted_ = false;
    int auditionedIn_ = 0;        // the patch memory the last audition played in
    bool listMoved_ = false;      // the window, not the user, is moving the list's current row

    LibraryWindowOptions options_;
    QString path_;
    // Shared: a wait for the module that outlives the window keeps it open.
    std::shared_ptr<library::SoundLibrary> lib_;
    LibraryModel* model_ = nullptr;
    QTimer* filterTimer_ = nullptr;
    LibraryImport* import_ = nullptr;
    QElapsedTimer importClock_;
    QString lastImport_;
    int64_t seenVersion_ = -1;
    uint64_t seenCommits_ = 0;
    QString findText_;         // type-to-find: the letters typed so far
    QElapsedTimer findClock_;  // since the last of them
};

}  // namespace quorvane::ui
