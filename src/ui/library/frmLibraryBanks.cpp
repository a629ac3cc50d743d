// The library window's user banks (numbered places filled by dragging sounds
// in) and the saving or sending of a bank or a selection as a memory image.
#include "ui/library/frmLibrary.h"

#include <QComboBox>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <set>

#include "library/SysexFile.h"
#include "ui/backup/BackupUi.h"
#include "ui/library/LibraryModel.h"
#include "ui/library/frmLibraryText.h"

#undef slots  // BankInfo::slots; nothing here is a Qt slot by that keyword

namespace quorvane::ui {

using namespace library_window;

namespace {

// Device ID the files are saved for (17, as the command line's export).
constexpr uint8_t kFileDeviceId = 0x10;

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

// User banks: numbered places the list's rows are dragged into.
QWidget* frmLibrary::BuildBankPage(QWidget* parent) {
    auto* bankPage = new QWidget(parent);
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
    return bankPage;
}

// The places of the current bank: Delete empties one; the list's rows dropped
// on a place go in from there on (below the last: from the first empty one).
bool frmLibrary::BankPlacesEvent(QEvent* e) {
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
    return false;
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

}  // namespace quorvane::ui
