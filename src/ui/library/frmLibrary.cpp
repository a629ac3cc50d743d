#include "ui/library/frmLibrary.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/library/LibraryAutoAdd.h"
#include "ui/library/LibraryImport.h"
#include "ui/library/LibraryModel.h"
#include "ui/library/frmCompare.h"
#include "ui/library/frmLibraryText.h"

namespace quorvane::ui {

using namespace library_window;

frmLibrary::frmLibrary(LibraryWindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    const BackupPrompts dialogs = BackupPrompts::Dialogs();
    if (!options_.prompts.openFile) options_.prompts.openFile = dialogs.openFile;
    if (!options_.prompts.saveFile) options_.prompts.saveFile = dialogs.saveFile;
    if (!options_.prompts.ask) options_.prompts.ask = dialogs.ask;
    if (!options_.prompts.tell) options_.prompts.tell = dialogs.tell;
    if (!options_.prompts.number) options_.prompts.number = dialogs.number;
    if (!options_.askText)
        options_.askText = [](QWidget* p, const QString& title, const QString& label, const QString& text) {
            bool ok = false;
            const QString s = QInputDialog::getText(p, title, label, QLineEdit::Normal, text, &ok);
            return ok ? s : QString();
        };
    path_ = options_.path.isEmpty() ? WindowLibraryPath() : options_.path;
    model_ = new LibraryModel(this);
    connect(model_, &LibraryModel::failed, this, [this](const QString& t) { ShowStatus(QStringLiteral("The library failed: ") + t); });
    import_ = new LibraryImport(this);
    BuildWindow();
}

frmLibrary::~frmLibrary() {
    // The worker ends before the window's library goes.
    delete import_;
    import_ = nullptr;
}

void frmLibrary::BuildWindow() {
    setWindowTitle(QStringLiteral("Sound Library"));
    setObjectName(QStringLiteral("frmLibrary"));
    setAcceptDrops(true);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* a = file->addAction(QStringLiteral("&Import into Library..."), this, [this] { ImportFiles(); });
    a->setShortcut(QKeySequence::Open);
    file->addAction(QStringLiteral("Import &Folder into Library..."), this, [this] { ImportFolder(); });
    file->addSeparator();
    file->addAction(QStringLiteral("&Export Selection as .syx..."), this, [this] { ExportSelection(); });
    actSendSelection = file->addAction(QStringLiteral("&Send Selection to Module..."), this, [this] { SendSelection(); });
    actSendSelection->setEnabled(options_.backup != nullptr);
    file->addSeparator();
    QAction* addSaved = file->addAction(QStringLiteral("&Add Back-ups and Saved Patches to the Library"));
    addSaved->setCheckable(true);
    addSaved->setChecked(AddSavedFilesToLibrary());
    connect(addSaved, &QAction::toggled, this, [](bool on) { SetAddSavedFilesToLibrary(on); });
    file->addSeparator();
    file->addAction(QStringLiteral("&Close"), this, [this] { close(); })->setShortcut(QKeySequence::Close);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    // The list's own keys act only while it has the focus (not in the text
    // fields, not in a bank's places): the keys sit on actions of the list; the
    // menu's entries only name them.
    std::vector<QAction*> listKeys;
    const auto listAction = [&](const QString& text, const QKeySequence& key, std::function<void()> f) {
        edit->addAction(text + QLatin1Char('\t') + key.toString(QKeySequence::NativeText), this, f);
        auto* act = new QAction(text, this);
        act->setShortcut(key);
        act->setShortcutContext(Qt::WidgetShortcut);
        connect(act, &QAction::triggered, this, std::move(f));
        listKeys.push_back(act);
    };
    listAction(QStringLiteral("&Rename..."), QKeySequence(Qt::Key_F2), [this] { RenameCurrent(); });
    listAction(QStringLiteral("Re&move from Library..."), QKeySequence::Delete, [this] { RemoveSelected(); });
    listAction(QStringLiteral("&Favourite"), QKeySequence(Qt::CTRL | Qt::Key_D), [this] { ToggleFavourite(); });
    listAction(QStringLiteral("Add &Tag..."), QKeySequence(Qt::CTRL | Qt::Key_T), [this] { AddTagToSelected(); });
    edit->addSeparator();
    // The two changes that make another sound of it: kept in the library and in the list's menu too.
    QAction* keepCopy = edit->addAction(QStringLiteral("&Keep a Copy"), this, [this] { KeepCopyOfCurrent(); });
    QAction* applyName = edit->addAction(QStringLiteral("&Write the Name into the Sound"), this, [this] { ApplyNameOfCurrent(); });
    listKeys.push_back(keepCopy);
    listKeys.push_back(applyName);
    // Two selected sounds side by side (frmCompare.h); on only while two are selected.
    QAction* compare = edit->addAction(QStringLiteral("&Compare"), this, [this] { ShowCompare(this, lib_.get(), SelectedIds()); });
    compare->setObjectName(QStringLiteral("actCompare"));
    listKeys.push_back(compare);

    auto* central = new QWidget(this);
    setCentralWidget(central);

    // Filters: the text (as you type), type, favourites, a tag, a source file.
    txtFilter = new QLineEdit(central);
    txtFilter->setObjectName(QStringLiteral("txtFilter"));
    txtFilter->setPlaceholderText(QStringLiteral("Find: part of a name, a tag or a file name"));
    txtFilter->setClearButtonEnabled(true);
    cboType = new QComboBox(central);
    cboType->setObjectName(QStringLiteral("cboType"));
    cboType->addItem(QStringLiteral("All types"), -1);
    for (auto t : {library::SoundType::Patch, library::SoundType::Timbre, library::SoundType::Rhythm, library::SoundType::Working})
        cboType->addItem(Capital(LibraryModel::TypePlural(t)), static_cast<int>(t));
    chkFavourites = new QCheckBox(QStringLiteral("Favourites"), central);
    chkFavourites->setObjectName(QStringLiteral("chkFavourites"));
    txtTag = new QLineEdit(central);
    txtTag->setObjectName(QStringLiteral("txtTag"));
    txtTag->setPlaceholderText(QStringLiteral("Tag"));
    txtSource = new QLineEdit(central);
    txtSource->setObjectName(QStringLiteral("txtSource"));
    txtSource->setPlaceholderText(QStringLiteral("Source file"));
    auto* filters = new QHBoxLayout;
    filters->addWidget(txtFilter, 3);
    filters->addWidget(cboType);
    filters->addWidget(chkFavourites);
    filters->addWidget(txtTag, 1);
    filters->addWidget(txtSource, 1);

    filterTimer_ = new QTimer(this);
    filterTimer_->setSingleShot(true);
    filterTimer_->setInterval(options_.filterDelayMs);
    connect(filterTimer_, &QTimer::timeout, this, [this] { ApplyFilter(); });
    for (QLineEdit* e : {txtFilter, txtTag, txtSource})
        connect(e, &QLineEdit::textChanged, filterTimer_, qOverload<>(&QTimer::start));
    connect(cboType, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(chkFavourites, &QCheckBox::toggled, this, [this] { ApplyFilter(); });

    // The list: a view on the model, which reads the rows a page at a time.
    lstItems = new QTableView(central);
    lstItems->setObjectName(QStringLiteral("lstItems"));
    lstItems->setModel(model_);
    lstItems->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstItems->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstItems->setSortingEnabled(true);
    lstItems->horizontalHeader()->setSortIndicator(LibraryModel::ColName, Qt::AscendingOrder);
    lstItems->horizontalHeader()->setStretchLastSection(true);
    lstItems->verticalHeader()->setVisible(false);
    lstItems->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lstItems->setDragEnabled(true);
    lstItems->setDragDropMode(QAbstractItemView::DragOnly);
    lstItems->setWordWrap(false);
    lstItems->setTabKeyNavigation(false);
    lstItems->installEventFilter(this);
    {
        const QFontMetrics fm(lstItems->font());
        lstItems->verticalHeader()->setDefaultSectionSize(fm.height() + 6);
        // Wide enough for what each column holds, in the font's own units.
        const char* const samples[] = {"Rhythm setup", "Warm Air Pad 2", "Favourite", "brass, pads, mine", "Sources"};
        for (int c = 0; c < LibraryModel::ColDate; ++c)
            lstItems->setColumnWidth(c, fm.horizontalAdvance(QLatin1String(samples[c])) + 24);
    }
    QWidget* moduleRow = BuildModuleCommands(central, listKeys);  // Play, audition on select, store
    for (QAction* act : listKeys) lstItems->addAction(act);
    lstItems->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(lstItems->selectionModel(), &QItemSelectionModel::selectionChanged, compare,
            [this, compare] { compare->setEnabled(SelectedIds().size() == 2); });
    compare->setEnabled(false);
    connect(lstItems->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now) { ShowDetails(model_->IdAt(now.row())); });

    // Duplicates: groups of the same sound under other names.
    treeDuplicates = new QTreeWidget(central);
    treeDuplicates->setObjectName(QStringLiteral("treeDuplicates"));
    treeDuplicates->setHeaderLabels({QStringLiteral("Same sound, other name"), QStringLiteral("Sources")});
    connect(treeDuplicates, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* it) {
        if (it && it->data(0, Qt::UserRole).toLongLong() > 0) ShowDetails(it->data(0, Qt::UserRole).toLongLong());
    });

    QWidget* bankPage = BuildBankPage(central);

    tabs = new QTabWidget(central);
    tabs->setObjectName(QStringLiteral("tabs"));
    tabs->addTab(bankPage, QStringLiteral("&Banks"));
    // Read when shown: finding the duplicates goes through the whole library.
    tabs->addTab(treeDuplicates, QStringLiteral("D&uplicates"));
    connect(tabs, &QTabWidget::currentChanged, this, [this](int i) {
        if (tabs->widget(i) == treeDuplicates) ShowDuplicates();
    });

    txtDetails = new QTextBrowser(central);
    txtDetails->setObjectName(QStringLiteral("txtDetails"));
    txtDetails->setOpenLinks(false);

    auto* right = new QSplitter(Qt::Vertical, central);
    right->addWidget(txtDetails);
    right->addWidget(tabs);
    right->setStretchFactor(0, 1);
    right->setStretchFactor(1, 1);
    auto* split = new QSplitter(Qt::Horizontal, central);
    split->addWidget(lstItems);
    split->addWidget(right);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setSizes({3000, 2000});

    // The import's progress: the window stays usable meanwhile.
    lblImport = new QLabel(central);
    lblImport->setObjectName(QStringLiteral("lblImport"));
    importBar = new QProgressBar(central);
    importBar->setObjectName(QStringLiteral("importBar"));
    importBar->setRange(0, 1000);
    cmdCancelImport = new QPushButton(QStringLiteral("Cancel"), central);
    cmdCancelImport->setObjectName(QStringLiteral("cmdCancelImport"));
    connect(cmdCancelImport, &QPushButton::clicked, this, [this] { CancelImport(); });
    auto* importRow = new QHBoxLayout;
    importRow->addWidget(lblImport, 2);
    importRow->addWidget(importBar, 1);
    importRow->addWidget(cmdCancelImport);
    for (QWidget* w : {static_cast<QWidget*>(lblImport), static_cast<QWidget*>(importBar), static_cast<QWidget*>(cmdCancelImport)})
        w->setVisible(false);

    auto* layout = new QVBoxLayout(central);
    layout->addLayout(filters);
    layout->addWidget(split, 1);
    layout->addWidget(moduleRow);
    layout->addLayout(importRow);

    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    statusBar()->addWidget(lblStatus, 1);

    connect(import_, &LibraryImport::progress, this, [this](qulonglong done, qulonglong total) {
        importBar->setValue(total ? static_cast<int>(1000 * done / total) : 0);
        QString text = QStringLiteral("Importing: %1 of %2 files").arg(done).arg(total);
        const qint64 ms = importClock_.elapsed();
        if (done > 0 && done < total && ms > 1000) {
            const qint64 left = ms * static_cast<qint64>(total - done) / static_cast<qint64>(done) / 1000;
            text += left >= 60 ? QStringLiteral(", about %1 min %2 s left").arg(left / 60).arg(left % 60)
                               : QStringLiteral(", about %1 s left").arg(std::max<qint64>(1, left));
        }
        lblImport->setText(text);
    });
    connect(import_, &LibraryImport::finished, this, [this](const library::ImportReport& r) { ImportFinished(r); });

    // Big enough for the six columns and the details beside them, in the
    // font's own units so that it scales with the screen.
    const QFontMetrics fm(font());
    resize(fm.averageCharWidth() * 170, fm.lineSpacing() * 40);
    lstItems->setFocus();
}

void frmLibrary::ApplyFilter() {
    filterTimer_->stop();
    library::Query q;
    q.text = txtFilter->text().trimmed().toStdString();
    if (const int t = cboType->currentData().toInt(); t >= 0) q.type = static_cast<library::SoundType>(t);
    q.favouritesOnly = chkFavourites->isChecked();
    q.tag = txtTag->text().trimmed().toStdString();
    q.sourceFile = txtSource->text().trimmed().toStdString();
    model_->SetFilter(q);
    // The first column: a current cell further right would scroll the list sideways.
    const QScopedValueRollback<bool> moved(listMoved_, true);  // not a pick to audition
    if (model_->rowCount() > 0) lstItems->setCurrentIndex(model_->index(0, 0));
    else txtDetails->clear();
    ShowStatus(Plural(static_cast<size_t>(model_->rowCount()), "sound", "sounds"));
}

void frmLibrary::RefreshIfChanged() {
    if (!lib_) return;
    const int64_t v = DataVersion();
    if (v == seenVersion_ && lib_->Db().commits() == seenCommits_) return;
    ChangedHere(model_->IdAt(lstItems->currentIndex().row()));
}

void frmLibrary::ChangedHere(int64_t keepId) {
    seenVersion_ = DataVersion();
    if (lib_) seenCommits_ = lib_->Db().commits();
    const int column = std::max(0, lstItems->currentIndex().column());
    const QScopedValueRollback<bool> moved(listMoved_, true);  // not a pick to audition
    model_->Refresh();
    if (keepId && !SelectId(keepId) && model_->rowCount() > 0)
        lstItems->setCurrentIndex(model_->index(0, column));
    if (tabs->currentWidget() == treeDuplicates) ShowDuplicates();
    ShowBank(CurrentBank());
}

std::vector<int64_t> frmLibrary::SelectedIds() const {
    std::vector<int> rows;
    for (const QModelIndex& i : lstItems->selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    std::vector<int64_t> ids;
    for (int r : rows)
        if (const int64_t id = model_->IdAt(r)) ids.push_back(id);
    return ids;
}

bool frmLibrary::SelectId(int64_t id) {
    int row = model_->LoadedRowOf(id);
    // Not among the pages read: read on until it turns up (a few pages at most
    // for an item that was on screen).
    for (int r = 0; row < 0 && r < model_->rowCount(); r += LibraryModel::kPageRows) {
        model_->RowAt(r);
        row = model_->LoadedRowOf(id);
        if (r > 64 * LibraryModel::kPageRows) break;
    }
    if (row < 0) return false;
    const QModelIndex i = model_->index(row, 0);
    lstItems->selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    lstItems->scrollTo(i);
    return true;
}

void frmLibrary::ShowStatus(const QString& text) { lblStatus->setText(text); }

void frmLibrary::Failed(const QString& what, const std::exception& e) {
    options_.prompts.tell(this, QStringLiteral("Sound Library"), QStringLiteral("%1: %2").arg(what, Q(e.what())), true);
}

QString frmLibrary::AskText(const QString& title, const QString& label, const QString& text) {
    return options_.askText(this, title, label, text);
}

void frmLibrary::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    // Back from another window (a back-up added, the command line imported): the list as it is now.
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) RefreshIfChanged();
}

bool frmLibrary::eventFilter(QObject* watched, QEvent* e) {
    if (watched == lstItems && e->type() == QEvent::KeyPress) {
        // Type-to-find: the letters typed in quick succession find a name.
        auto* k = static_cast<QKeyEvent*>(e);
        const QString t = k->text();
        if (!t.isEmpty() && t.at(0).isPrint() && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            if (!findClock_.isValid() || findClock_.elapsed() > QApplication::keyboardInputInterval()) findText_.clear();
            findClock_.start();
            findText_ += t;
            const QModelIndexList hit = model_->match(model_->index(0, LibraryModel::ColName), Qt::DisplayRole, findText_, 1,
                                                      Qt::MatchStartsWith | Qt::MatchWrap);
            if (!hit.isEmpty())
                lstItems->selectionModel()->setCurrentIndex(model_->index(hit.front().row(), 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            else ShowStatus(QStringLiteral("No name starts with \"%1\".").arg(findText_));
            return true;
        }
    }
    if (lstBank && (watched == lstBank->viewport() || watched == lstBank) && BankPlacesEvent(e)) return true;
    return QMainWindow::eventFilter(watched, e);
}

}  // namespace quorvane::ui
