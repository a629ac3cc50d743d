#include "ui/library/frmLibrary.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "device/clsU220.h"
#include "library/SysexFile.h"
#include "ui/backup/BackupUi.h"
#include "ui/library/LibraryAutoAdd.h"
#include "ui/library/LibraryImport.h"
#include "ui/library/LibraryModel.h"

#undef slots  // BankInfo::slots; nothing here is a Qt slot by that keyword

namespace quorvane::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString H(const std::string& s) { return Q(s).toHtmlEscaped(); }

// Device ID the files are saved for (17, as the command line's export).
constexpr uint8_t kFileDeviceId = 0x10;

QString MemoryText(library::SoundType t, int number) {
    switch (t) {
        case library::SoundType::Patch: return QStringLiteral("patch %1").arg(number);
        case library::SoundType::Timbre: return QStringLiteral("timbre %1").arg(number);
        case library::SoundType::Rhythm: return QStringLiteral("rhythm setup %1").arg(number);
        case library::SoundType::Working: return QStringLiteral("the working patch");
    }
    return {};
}

QString Capital(const QString& s) { return s.left(1).toUpper() + s.mid(1); }

QString Plural(size_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// "1-3, 7, 9-12"
QString Numbers(std::vector<int> n) {
    std::sort(n.begin(), n.end());
    QString out;
    for (size_t k = 0; k < n.size();) {
        size_t e = k;
        while (e + 1 < n.size() && n[e + 1] == n[e] + 1) ++e;
        if (!out.isEmpty()) out += QStringLiteral(", ");
        out += e == k ? QString::number(n[k]) : QStringLiteral("%1-%2").arg(n[k]).arg(n[e]);
        k = e + 1;
    }
    return out;
}

std::vector<int64_t> IdsIn(const QMimeData* m) {
    std::vector<int64_t> ids;
    if (!m) return ids;
    for (const QByteArray& line : m->data(QString::fromLatin1(LibraryModel::kMime)).split('\n'))
        if (const qlonglong id = line.trimmed().toLongLong(); id > 0) ids.push_back(id);
    return ids;
}

}  // namespace

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
    for (QAction* act : listKeys) lstItems->addAction(act);
    lstItems->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(lstItems->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now) { ShowDetails(model_->IdAt(now.row())); });

    // Duplicates: groups of the same sound under other names.
    treeDuplicates = new QTreeWidget(central);
    treeDuplicates->setObjectName(QStringLiteral("treeDuplicates"));
    treeDuplicates->setHeaderLabels({QStringLiteral("Same sound, other name"), QStringLiteral("Sources")});
    connect(treeDuplicates, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* it) {
        if (it && it->data(0, Qt::UserRole).toLongLong() > 0) ShowDetails(it->data(0, Qt::UserRole).toLongLong());
    });

    // User banks: numbered places the list's rows are dragged into.
    auto* bankPage = new QWidget(central);
    cboBank = new QComboBox(bankPage);
    cboBank->setObjectName(QStringLiteral("cboBank"));
    cboBank->setMinimumContentsLength(16);
    cboBankType = new QComboBox(bankPage);
    cboBankType->setObjectName(QStringLiteral("cboBankType"));
    cboBankType->addItem(QStringLiteral("64 patches"), static_cast<int>(library::SoundType::Patch));
    cboBankType->addItem(QStringLiteral("128 timbres"), static_cast<int>(library::SoundType::Timbre));
    cboBankType->addItem(QStringLiteral("4 rhythm setups"), static_cast<int>(library::SoundType::Rhythm));
    auto* newBank = new QPushButton(QStringLiteral("&New Bank..."), bankPage);
    newBank->setObjectName(QStringLiteral("cmdNewBank"));
    connect(newBank, &QPushButton::clicked, this, [this] { NewBank(); });
    connect(cboBank, &QComboBox::currentTextChanged, this, [this](const QString& name) { ShowBank(name); });
    lstBank = new QTableWidget(0, 2, bankPage);
    lstBank->setObjectName(QStringLiteral("lstBank"));
    lstBank->setHorizontalHeaderLabels({QStringLiteral("Place"), QStringLiteral("Name")});
    lstBank->horizontalHeader()->setStretchLastSection(true);
    lstBank->verticalHeader()->setVisible(false);
    lstBank->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstBank->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstBank->setSelectionMode(QAbstractItemView::SingleSelection);
    lstBank->setAcceptDrops(true);
    lstBank->viewport()->setAcceptDrops(true);
    lstBank->setDropIndicatorShown(true);
    lstBank->viewport()->installEventFilter(this);
    lstBank->installEventFilter(this);
    auto* saveBank = new QPushButton(QStringLiteral("&Save Bank as .syx..."), bankPage);
    saveBank->setObjectName(QStringLiteral("cmdSaveBank"));
    connect(saveBank, &QPushButton::clicked, this, [this] { ExportBank(); });
    cmdSendBank = new QPushButton(QStringLiteral("Send to &Module..."), bankPage);
    cmdSendBank->setObjectName(QStringLiteral("cmdSendBank"));
    cmdSendBank->setEnabled(options_.backup != nullptr);
    connect(cmdSendBank, &QPushButton::clicked, this, [this] { SendBank(); });
    auto* clearPlace = new QPushButton(QStringLiteral("&Empty Place"), bankPage);
    connect(clearPlace, &QPushButton::clicked, this, [this] { ClearBankPlace(); });
    auto* bankTop = new QHBoxLayout;
    bankTop->addWidget(cboBank, 1);
    bankTop->addWidget(cboBankType);
    bankTop->addWidget(newBank);
    auto* bankButtons = new QHBoxLayout;
    bankButtons->addWidget(clearPlace);
    bankButtons->addStretch(1);
    bankButtons->addWidget(saveBank);
    bankButtons->addWidget(cmdSendBank);
    auto* bankLayout = new QVBoxLayout(bankPage);
    bankLayout->addLayout(bankTop);
    bankLayout->addWidget(new QLabel(QStringLiteral("Drag sounds from the list into the numbered places."), bankPage));
    bankLayout->addWidget(lstBank, 1);
    bankLayout->addLayout(bankButtons);

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

bool frmLibrary::OpenLibrary() {
    lib_.reset();
    model_->SetLibrary(nullptr);
    const QString title = QStringLiteral("Sound Library");
    for (int attempt = 0; attempt < 2 && !lib_; ++attempt) {
        try {
            lib_ = std::make_unique<library::SoundLibrary>(path_.toStdString());
        } catch (const library::LibraryError& e) {
            if (e.kind() == library::LibraryError::Newer) {
                options_.prompts.tell(this, title,
                                      QStringLiteral("%1 was made by a newer version of Quorvane; this one leaves it as it is.\n\n%2")
                                          .arg(path_, Q(e.what())),
                                      true);
                break;
            }
            if (e.kind() != library::LibraryError::Damaged || attempt > 0) {
                options_.prompts.tell(this, title, QStringLiteral("The sound library %1 cannot be opened: %2").arg(path_, Q(e.what())), true);
                break;
            }
            const QString question = QStringLiteral(
                "The sound library %1 is damaged: %2\n\nMove it aside and start a new library? Nothing is deleted: the "
                "file is renamed and stays beside the new one.").arg(path_, Q(e.what()));
            if (options_.prompts.ask(this, title, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) break;
            std::string movedTo, error;
            if (!library::MoveLibraryAside(path_.toStdString(), movedTo, error)) {
                options_.prompts.tell(this, title, QStringLiteral("%1 could not be moved aside: %2").arg(path_, Q(error)), true);
                break;
            }
            ShowStatus(QStringLiteral("The damaged library is now %1; a new one was started.").arg(Q(movedTo)));
        }
    }
    centralWidget()->setEnabled(lib_ != nullptr);
    if (!lib_) {
        ShowStatus(QStringLiteral("No library is open."));
        return false;
    }
    model_->SetLibrary(lib_.get());
    seenVersion_ = DataVersion();
    seenCommits_ = lib_->Db().commits();
    FillBanks();
    // The first search reads every sound's search text into memory (a third of
    // a second for 200,000 sounds): done just after the window shows, before the
    // first keystroke rather than on it.
    QTimer::singleShot(150, this, [this] {
        if (!lib_) return;
        try {
            library::Query warm;
            warm.text = " ";
            lib_->Count(warm);
        } catch (const std::exception&) {
        }
    });
    if (lblStatus->text().isEmpty()) ShowStatus(QStringLiteral("%1 in %2").arg(Plural(lib_->ItemCount(), "sound", "sounds"), path_));
    return true;
}

int64_t frmLibrary::DataVersion() {
    if (!lib_) return -1;
    try {
        library::Statement s(lib_->Db(), "PRAGMA data_version");
        return s.step() ? s.integer(0) : -1;
    } catch (const std::exception&) {
        return -1;
    }
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

void frmLibrary::ShowDetails(int64_t id) {
    if (!lib_ || id <= 0) {
        txtDetails->clear();
        return;
    }
    std::optional<library::ItemDetails> d;
    try {
        d = lib_->Details(id);
    } catch (const std::exception& e) {
        txtDetails->setPlainText(QStringLiteral("The library failed: %1").arg(Q(e.what())));
        return;
    }
    if (!d) {
        txtDetails->clear();
        return;
    }
    QString html = QStringLiteral("<h3>%1</h3><p>%2").arg(H(d->row.name), LibraryModel::TypeText(d->row.type));
    if (!d->userName.empty()) html += QStringLiteral(", named &ldquo;%1&rdquo; in its bytes").arg(H(d->nameInBytes));
    if (d->row.favourite) html += QStringLiteral(", a favourite");
    html += QStringLiteral("</p>");
    if (!d->tags.empty()) {
        QStringList t;
        for (const std::string& s : d->tags) t << H(s);
        html += QStringLiteral("<p>Tags: %1</p>").arg(t.join(QStringLiteral(", ")));
    }
    if (!d->comment.empty()) html += QStringLiteral("<p>%1</p>").arg(H(d->comment));
    html += QStringLiteral("<p><b>Sources</b></p><ul>");
    for (const library::SourceInfo& s : d->sources)
        html += QStringLiteral("<li>%1 of <b>%2</b> (imported %3)<br><small>%4</small></li>")
                    .arg(MemoryText(d->row.type, s.number), H(s.fileName), H(s.imported), H(s.path));
    html += QStringLiteral("</ul>");
    if (!d->bank.empty()) {
        html += QStringLiteral("<p><b>Its bank</b> (the file it was first imported from): the timbres and the rhythm setup "
                               "its parts play are among these.</p><ul>");
        for (auto t : {library::SoundType::Patch, library::SoundType::Timbre, library::SoundType::Rhythm, library::SoundType::Working}) {
            QStringList names;
            for (const library::FileMember& m : d->bank)
                if (m.type == t) names << QStringLiteral("%1 %2").arg(m.number).arg(H(m.name));
            if (!names.isEmpty())
                html += QStringLiteral("<li>%1: %2</li>").arg(Capital(LibraryModel::TypePlural(t)), names.join(QStringLiteral("; ")));
        }
        html += QStringLiteral("</ul>");
    }
    if (!d->otherNames.empty()) html += QStringLiteral("<p>The same sound is in the library under %1.</p>").arg(Plural(d->otherNames.size(), "other name", "other names"));
    if (d->copyOf) html += QStringLiteral("<p>A copy kept on purpose.</p>");
    txtDetails->setHtml(html);
}

QString frmLibrary::AskText(const QString& title, const QString& label, const QString& text) {
    return options_.askText(this, title, label, text);
}

void frmLibrary::RemoveSelected() {
    const std::vector<int64_t> ids = SelectedIds();
    if (!lib_ || ids.empty()) return;
    const library::ItemRow* first = model_->RowAt(lstItems->currentIndex().row());
    const QString what = ids.size() == 1 && first ? QStringLiteral("\"%1\"").arg(Q(first->name)) : Plural(ids.size(), "sound", "sounds");
    if (options_.prompts.ask(this, QStringLiteral("Remove from Library"),
                             QStringLiteral("Remove %1 from the library? The files they came from are not changed.").arg(what),
                             QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const int row = lstItems->currentIndex().row();
    try {
        for (int64_t id : ids) lib_->Remove(id);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not everything was removed"), e);
    }
    ChangedHere(0);
    if (model_->rowCount() > 0) lstItems->setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1), LibraryModel::ColName));
    ShowStatus(QStringLiteral("Removed %1.").arg(what));
}

void frmLibrary::RenameCurrent() {
    const library::ItemRow* r = model_->RowAt(lstItems->currentIndex().row());
    if (!lib_ || !r) return;
    const int64_t id = r->id;
    const QString name = AskText(QStringLiteral("Rename"),
                                 QStringLiteral("The library's name for it (empty: the name in its bytes):"), Q(r->name));
    if (name.isNull()) return;
    try {
        lib_->Rename(id, name.trimmed().toStdString());
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not renamed"), e);
    }
    ChangedHere(id);
}

void frmLibrary::KeepCopyOfCurrent() {
    const library::ItemRow* r = model_->RowAt(lstItems->currentIndex().row());
    if (!lib_ || !r) return;
    try {
        const int64_t copy = lib_->KeepCopy(r->id);
        ChangedHere(copy);
        ShowStatus(QStringLiteral("A copy of \"%1\" is kept beside it.").arg(Q(r->name)));
    } catch (const std::exception& e) {
        Failed(QStringLiteral("No copy was made"), e);
    }
}

void frmLibrary::ApplyNameOfCurrent() {
    const library::ItemRow* r = model_->RowAt(lstItems->currentIndex().row());
    if (!lib_ || !r) return;
    const int64_t id = r->id;
    const QString name = Q(r->name);
    if (options_.prompts.ask(this, QStringLiteral("Write the Name into the Sound"),
                             QStringLiteral("Write \"%1\" into the sound's own name field? Its bytes change; the files it came "
                                            "from do not.").arg(name),
                             QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    try {
        lib_->ApplyNameToBytes(id);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The name was not written"), e);
    }
    ChangedHere(id);
}

void frmLibrary::ToggleFavourite() {
    const std::vector<int64_t> ids = SelectedIds();
    const library::ItemRow* r = model_->RowAt(lstItems->currentIndex().row());
    if (!lib_ || ids.empty() || !r) return;
    const bool on = !r->favourite;
    const int64_t keep = r->id;
    try {
        for (int64_t id : ids) lib_->SetFavourite(id, on);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not marked"), e);
    }
    ChangedHere(keep);
}

void frmLibrary::AddTagToSelected() {
    const std::vector<int64_t> ids = SelectedIds();
    if (!lib_ || ids.empty()) return;
    const QString tag = AskText(QStringLiteral("Add Tag"), QStringLiteral("Tag for %1:").arg(Plural(ids.size(), "sound", "sounds")), {}).trimmed();
    if (tag.isEmpty()) return;
    try {
        for (int64_t id : ids) lib_->AddTag(id, tag.toStdString());
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not tagged"), e);
    }
    ChangedHere(model_->IdAt(lstItems->currentIndex().row()));
}

bool frmLibrary::SaveImage(const QString& title, const QString& suggested, const library::MemoryImage& image,
                           const std::vector<library::Placement>& placed) {
    const QString path = options_.prompts.saveFile(this, title, suggested);
    if (path.isEmpty()) return false;
    std::string error;
    if (!library::SaveBackup(path.toStdString(), image, kFileDeviceId, error)) {
        options_.prompts.tell(this, title, QStringLiteral("%1 was not saved: %2").arg(path, Q(error)), true);
        return false;
    }
    ShowStatus(QStringLiteral("Saved %1 to %2.").arg(Plural(placed.size(), "sound", "sounds"), path));
    return true;
}

bool frmLibrary::ExportSelection() {
    const std::vector<int64_t> ids = SelectedIds();
    if (!lib_ || ids.empty()) return false;
    std::vector<library::Placement> placed;
    try {
        const library::MemoryImage image = lib_->ImageOf(ids, &placed);
        return SaveImage(QStringLiteral("Export Selection"), QStringLiteral("library selection.syx"), image, placed);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The selection cannot be exported"), e);
        return false;
    }
}

// What the send replaces, and for patches sent without their timbres what they
// will play with. A patch names the timbre memories its parts play, but where
// it names them lies inside the memory record, which is read only through the
// module: so the message says which timbres they will use, not their numbers.
bool frmLibrary::SendImage(const QString& title, const QString& what, const library::MemoryImage& image,
                           const std::vector<library::Placement>& placed) {
    if (!options_.backup) return false;
    std::map<library::SoundType, std::vector<int>> numbers;
    std::set<QString> patchFiles;
    for (const library::Placement& p : placed) {
        numbers[p.type].push_back(p.number);
        if (p.type != library::SoundType::Patch || !lib_) continue;
        try {
            if (auto d = lib_->Details(p.itemId); d && !d->sources.empty()) patchFiles.insert(Q(d->sources.front().fileName));
        } catch (const std::exception&) {
        }
    }
    QStringList replaced;
    for (const auto& [type, n] : numbers)
        replaced << (type == library::SoundType::Working ? QStringLiteral("the working patch")
                                                         : QStringLiteral("%1 %2").arg(n.size() > 1 ? LibraryModel::TypePlural(type)
                                                                                                    : LibraryModel::TypeText(type).toLower(),
                                                                                       Numbers(n)));
    QString question = QStringLiteral("Write %1 to the U-220? What it holds at %2 is replaced.")
                           .arg(what, replaced.join(QStringLiteral(", ")));
    const bool patches = numbers.count(library::SoundType::Patch) > 0;
    const bool timbres = numbers.count(library::SoundType::Timbre) > 0;
    if (patches && !timbres) {
        QStringList files(patchFiles.begin(), patchFiles.end());
        question += QStringLiteral(
                        "\n\nThese patches are sent without their timbres: each part plays the timbre the U-220 holds at "
                        "the number the part names, so they may sound different from where they came from. The timbres "
                        "they were made with are in the files they came from (%1).")
                        .arg(files.join(QStringLiteral(", ")));
    }
    bool ran = false, ok = false;
    const auto send = [&] {
        ran = true;
        ok = options_.backup->RestoreImage(title, image, question, {}, this);
    };
    if (options_.runTransfer) options_.runTransfer(send);
    else send();
    ShowStatus(ran ? options_.backup->LastResult()
                   : QStringLiteral("The U-220 is busy (the names are loading or a transfer runs): try again in a moment."));
    return ok;
}

bool frmLibrary::SendSelection() {
    const std::vector<int64_t> ids = SelectedIds();
    if (!lib_ || ids.empty() || !options_.backup) return false;
    std::vector<library::Placement> placed;
    library::MemoryImage image;
    try {
        image = lib_->ImageOf(ids, &placed);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The selection cannot be sent"), e);
        return false;
    }
    return SendImage(QStringLiteral("Send to Module"), Plural(ids.size(), "sound", "sounds"), image, placed);
}

void frmLibrary::FillBanks(const QString& select) {
    const QSignalBlocker block(cboBank);
    const QString keep = select.isEmpty() ? cboBank->currentText() : select;
    cboBank->clear();
    if (lib_) {
        try {
            for (const library::BankInfo& b : lib_->Banks()) cboBank->addItem(Q(b.name));
        } catch (const std::exception& e) {
            ShowStatus(QStringLiteral("The banks cannot be read: %1").arg(Q(e.what())));
        }
    }
    const int at = cboBank->findText(keep);
    cboBank->setCurrentIndex(at >= 0 ? at : (cboBank->count() ? 0 : -1));
    ShowBank(cboBank->currentText());
}

QString frmLibrary::CurrentBank() const { return cboBank->currentText(); }

bool frmLibrary::NewBank() {
    if (!lib_) return false;
    const QString name = AskText(QStringLiteral("New Bank"), QStringLiteral("Name of the new bank of %1:").arg(cboBankType->currentText()), {}).trimmed();
    if (name.isEmpty()) return false;
    try {
        lib_->MakeBank(name.toStdString(), static_cast<library::SoundType>(cboBankType->currentData().toInt()));
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The bank was not made"), e);
        return false;
    }
    FillBanks(name);
    tabs->setCurrentWidget(lstBank->parentWidget());
    return true;
}

void frmLibrary::ShowBank(const QString& name) {
    const int row = lstBank->currentRow();
    lstBank->setRowCount(0);
    if (!lib_ || name.isEmpty()) return;
    std::optional<library::BankInfo> b;
    try {
        b = lib_->Bank(name.toStdString());
    } catch (const std::exception& e) {
        ShowStatus(QStringLiteral("The bank cannot be read: %1").arg(Q(e.what())));
        return;
    }
    if (!b) return;
    {
        const QSignalBlocker block(cboBankType);
        cboBankType->setCurrentIndex(cboBankType->findData(static_cast<int>(b->type)));
    }
    const int places = library::SoundSlots(b->type);
    lstBank->setRowCount(places);
    for (int p = 1; p <= places; ++p) {
        lstBank->setItem(p - 1, 0, new QTableWidgetItem(QString::number(p)));
        lstBank->setItem(p - 1, 1, new QTableWidgetItem(QString()));
    }
    for (const auto& [place, item] : b->slots) {
        if (place < 1 || place > places) continue;
        lstBank->item(place - 1, 1)->setText(Q(item.name));
        lstBank->item(place - 1, 1)->setData(Qt::UserRole, static_cast<qlonglong>(item.id));
    }
    lstBank->resizeColumnToContents(0);
    if (row >= 0 && row < places) lstBank->setCurrentCell(row, 1);
}

bool frmLibrary::DropOnBank(int place, const std::vector<int64_t>& ids) {
    const QString bank = CurrentBank();
    if (!lib_ || bank.isEmpty()) {
        ShowStatus(QStringLiteral("Make a bank first (New Bank...), then drag sounds into its places."));
        return false;
    }
    std::optional<library::BankInfo> b;
    try {
        b = lib_->Bank(bank.toStdString());
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The bank cannot be read"), e);
        return false;
    }
    if (!b) return false;
    const int places = library::SoundSlots(b->type);
    int at = std::max(1, place);
    size_t wrongType = 0, noRoom = 0, placedCount = 0;
    try {
        for (int64_t id : ids) {
            const auto d = lib_->Details(id);
            if (!d || d->row.type != b->type) {
                ++wrongType;
                continue;
            }
            if (at > places) {
                ++noRoom;
                continue;
            }
            lib_->SetBankSlot(bank.toStdString(), at++, id);
            ++placedCount;
        }
    } catch (const std::exception& e) {
        Failed(QStringLiteral("Not everything went into the bank"), e);
    }
    ShowBank(bank);
    if (placedCount) lstBank->setCurrentCell(at - 2, 1);
    QString text = QStringLiteral("%1 put into \"%2\".").arg(Plural(placedCount, "sound", "sounds"), bank);
    if (wrongType) text += QStringLiteral(" %1 left out: this bank holds %2 only.").arg(wrongType).arg(LibraryModel::TypePlural(b->type));
    if (noRoom) text += QStringLiteral(" %1 left out: the bank ends at place %2.").arg(noRoom).arg(places);
    ShowStatus(text);
    return wrongType == 0 && noRoom == 0;
}

void frmLibrary::ClearBankPlace() {
    const int row = lstBank->currentRow();
    if (!lib_ || row < 0 || CurrentBank().isEmpty()) return;
    try {
        lib_->SetBankSlot(CurrentBank().toStdString(), row + 1, 0);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The place was not emptied"), e);
    }
    ShowBank(CurrentBank());
}

bool frmLibrary::ExportBank() {
    if (!lib_ || CurrentBank().isEmpty()) return false;
    std::vector<library::Placement> placed;
    try {
        const library::MemoryImage image = lib_->ImageOfBank(CurrentBank().toStdString(), &placed);
        return SaveImage(QStringLiteral("Save Bank"), CurrentBank() + QStringLiteral(".syx"), image, placed);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The bank cannot be saved"), e);
        return false;
    }
}

bool frmLibrary::SendBank() {
    if (!lib_ || CurrentBank().isEmpty() || !options_.backup) return false;
    std::vector<library::Placement> placed;
    library::MemoryImage image;
    try {
        image = lib_->ImageOfBank(CurrentBank().toStdString(), &placed);
    } catch (const std::exception& e) {
        Failed(QStringLiteral("The bank cannot be sent"), e);
        return false;
    }
    if (placed.empty()) {
        ShowStatus(QStringLiteral("The bank is empty: nothing to send."));
        return false;
    }
    return SendImage(QStringLiteral("Send to Module"), QStringLiteral("the bank \"%1\"").arg(CurrentBank()), image, placed);
}

void frmLibrary::ShowDuplicates() {
    treeDuplicates->clear();
    if (!lib_) return;
    std::vector<library::DuplicateGroup> groups;
    try {
        groups = lib_->Duplicates();
    } catch (const std::exception& e) {
        ShowStatus(QStringLiteral("The duplicates cannot be read: %1").arg(Q(e.what())));
        return;
    }
    for (const library::DuplicateGroup& g : groups) {
        auto* top = new QTreeWidgetItem(treeDuplicates);
        QStringList names;
        for (const library::ItemRow& r : g.items) names << Q(r.name);
        top->setText(0, QStringLiteral("%1: %2").arg(LibraryModel::TypeText(g.type), names.join(QStringLiteral(" = "))));
        for (const library::ItemRow& r : g.items) {
            auto* it = new QTreeWidgetItem(top);
            it->setText(0, Q(r.name));
            it->setText(1, QString::number(r.sources));
            it->setData(0, Qt::UserRole, static_cast<qlonglong>(r.id));
        }
    }
    treeDuplicates->resizeColumnToContents(0);
}

void frmLibrary::ImportFiles() {
    const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Import into Library"), QString(),
                                                            QStringLiteral("System Exclusive files (*.syx *.mid *.midi);;All files (*)"));
    if (!files.isEmpty()) ImportPaths(files);
}

void frmLibrary::ImportFolder() {
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Import Folder into Library"));
    if (!dir.isEmpty()) ImportPaths({dir});
}

bool frmLibrary::ImportPaths(const QStringList& paths) {
    if (!lib_ || paths.isEmpty()) return false;
    if (!import_->Start(path_, paths)) {
        ShowStatus(QStringLiteral("An import is running: wait for it or cancel it first."));
        return false;
    }
    importClock_.start();
    importBar->setValue(0);
    lblImport->setText(QStringLiteral("Importing..."));
    for (QWidget* w : {static_cast<QWidget*>(lblImport), static_cast<QWidget*>(importBar), static_cast<QWidget*>(cmdCancelImport)})
        w->setVisible(true);
    cmdCancelImport->setEnabled(true);
    return true;
}

bool frmLibrary::Importing() const { return import_ && import_->Running(); }

void frmLibrary::CancelImport() {
    if (!Importing()) return;
    import_->Cancel();
    cmdCancelImport->setEnabled(false);
    lblImport->setText(QStringLiteral("Cancelling after the file being read..."));
}

void frmLibrary::ImportFinished(const library::ImportReport& r) {
    for (QWidget* w : {static_cast<QWidget*>(lblImport), static_cast<QWidget*>(importBar), static_cast<QWidget*>(cmdCancelImport)})
        w->setVisible(false);
    lastImport_ = LibraryImport::Summary(r);
    ChangedHere(model_->IdAt(lstItems->currentIndex().row()));
    ShowStatus(lastImport_.section(QLatin1Char('\n'), 0, 0));
    options_.prompts.tell(this, QStringLiteral("Import into Library"), lastImport_, !r.error.empty() || !r.skipped.empty());
    if (!r.error.empty() && r.errorKind == library::LibraryError::Damaged) OpenLibrary();
}

void frmLibrary::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void frmLibrary::dropEvent(QDropEvent* e) {
    QStringList paths;
    for (const QUrl& u : e->mimeData()->urls())
        if (u.isLocalFile()) paths << u.toLocalFile();
    if (paths.isEmpty()) return;
    e->acceptProposedAction();
    ImportPaths(paths);
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
    if (lstBank && (watched == lstBank->viewport() || watched == lstBank)) {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
            ClearBankPlace();
            return true;
        }
        if (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove) {
            auto* d = static_cast<QDropEvent*>(e);
            if (!d->mimeData()->hasFormat(QString::fromLatin1(LibraryModel::kMime))) return false;
            d->setDropAction(Qt::CopyAction);
            d->accept();
            return true;
        }
        if (e->type() == QEvent::Drop) {
            auto* d = static_cast<QDropEvent*>(e);
            const std::vector<int64_t> ids = IdsIn(d->mimeData());
            if (ids.empty()) return false;
            const int row = lstBank->rowAt(d->position().toPoint().y());
            d->setDropAction(Qt::CopyAction);
            d->accept();
            // Below the last place: the first empty one.
            int place = row + 1;
            if (row < 0) {
                place = 1;
                for (int r = 0; r < lstBank->rowCount(); ++r)
                    if (lstBank->item(r, 1) && lstBank->item(r, 1)->data(Qt::UserRole).toLongLong() == 0) {
                        place = r + 1;
                        break;
                    }
            }
            DropOnBank(place, ids);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

}  // namespace quorvane::ui
