#include "ui/library/LibraryModel.h"

#include <QMimeData>
#include <algorithm>

namespace quorvane::ui {

const char* const LibraryModel::kMime = "application/x-quorvane-library-items";

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

library::SortColumn SortOf(int column) {
    switch (column) {
        case LibraryModel::ColType: return library::SortColumn::Type;
        case LibraryModel::ColFavourite: return library::SortColumn::Favourite;
        case LibraryModel::ColTags: return library::SortColumn::Tags;
        case LibraryModel::ColSources: return library::SortColumn::Sources;
        case LibraryModel::ColDate: return library::SortColumn::Date;
        default: return library::SortColumn::Name;
    }
}

// The library sorts names with SQLite's NOCASE: ASCII letters folded, bytes compared.
std::string FoldAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

LibraryModel::LibraryModel(QObject* parent) : QAbstractTableModel(parent) {}

QString LibraryModel::TypeText(library::SoundType t) {
    switch (t) {
        case library::SoundType::Patch: return QStringLiteral("Patch");
        case library::SoundType::Timbre: return QStringLiteral("Timbre");
        case library::SoundType::Rhythm: return QStringLiteral("Rhythm setup");
        case library::SoundType::Working: return QStringLiteral("Working patch");
    }
    return {};
}

QString LibraryModel::TypePlural(library::SoundType t) {
    return t == library::SoundType::Patch ? QStringLiteral("patches") : TypeText(t).toLower() + QStringLiteral("s");
}

void LibraryModel::SetLibrary(library::SoundLibrary* lib) {
    lib_ = lib;
    Refresh();
}

void LibraryModel::SetFilter(const library::Query& q) {
    const library::SortColumn sort = query_.sort;
    const bool descending = query_.descending;
    query_ = q;
    query_.sort = sort;
    query_.descending = descending;
    query_.limit = -1;
    query_.offset = 0;
    Refresh();
}

void LibraryModel::Refresh() {
    beginResetModel();
    pages_.clear();
    pagesRead_ = 0;
    count_ = 0;
    if (lib_) {
        try {
            count_ = static_cast<int>(lib_->Count(query_));
        } catch (const std::exception& e) {
            emit failed(Q(e.what()));
        }
    }
    endResetModel();
}

const std::vector<library::ItemRow>* LibraryModel::Page(int page) const {
    if (auto it = pages_.find(page); it != pages_.end()) return &it->second;
    if (!lib_) return nullptr;
    // Scrolling far keeps the memory bounded: the pages read longest ago go.
    if (static_cast<int>(pages_.size()) >= kPagesKept) pages_.erase(pages_.begin());
    library::Query q = query_;
    q.offset = page * kPageRows;
    q.limit = kPageRows;
    try {
        ++pagesRead_;
        return &(pages_[page] = lib_->List(q));
    } catch (const std::exception& e) {
        emit failed(Q(e.what()));
        return &(pages_[page] = {});
    }
}

const library::ItemRow* LibraryModel::RowAt(int row) const {
    if (row < 0 || row >= count_) return nullptr;
    const auto* page = Page(row / kPageRows);
    const size_t at = static_cast<size_t>(row % kPageRows);
    return page && at < page->size() ? &(*page)[at] : nullptr;
}

int64_t LibraryModel::IdAt(int row) const {
    const auto* r = RowAt(row);
    return r ? r->id : 0;
}

int LibraryModel::LoadedRowOf(int64_t id) const {
    for (const auto& [page, rows] : pages_)
        for (size_t k = 0; k < rows.size(); ++k)
            if (rows[k].id == id) return page * kPageRows + static_cast<int>(k);
    return -1;
}

int LibraryModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }
int LibraryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant LibraryModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::TextAlignmentRole) return {};
    const library::ItemRow* r = RowAt(index.row());
    if (!r) return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == ColSources ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    switch (index.column()) {
        case ColType: return TypeText(r->type);
        case ColName: return Q(r->name);
        case ColFavourite: return r->favourite ? QStringLiteral("\u2605") : QString();
        case ColTags: return Q(r->tags);
        case ColSources: return r->sources;
        case ColDate: return Q(r->added);
        default: return {};
    }
}

QVariant LibraryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[] = {"Type", "Name", "Favourite", "Tags", "Sources", "Added"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}

Qt::ItemFlags LibraryModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

void LibraryModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount) return;
    query_.sort = SortOf(column);
    query_.descending = order == Qt::DescendingOrder;
    emit layoutAboutToBeChanged();
    pages_.clear();
    pagesRead_ = 0;
    emit layoutChanged();
}

// Type-to-find: with the list in name order the first name starting with the
// text is found by halving (a dozen pages read, not every page); otherwise the
// pages are read in turn from `start`.
QModelIndexList LibraryModel::match(const QModelIndex& start, int role, const QVariant& value, int hits,
                                    Qt::MatchFlags flags) const {
    const bool startsWith = (flags & Qt::MatchTypeMask) == Qt::MatchStartsWith;
    if (role != Qt::DisplayRole || start.column() != ColName || !startsWith || hits != 1 ||
        query_.sort != library::SortColumn::Name || query_.descending)
        return QAbstractTableModel::match(start, role, value, hits, flags);
    const std::string want = FoldAscii(value.toString().toStdString());
    int lo = 0, hi = count_;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        const library::ItemRow* r = RowAt(mid);
        if (r && FoldAscii(r->name) < want) lo = mid + 1;
        else hi = mid;
    }
    const library::ItemRow* r = RowAt(lo);
    if (r && FoldAscii(r->name).compare(0, want.size(), want) == 0) return {index(lo, ColName)};
    return {};
}

QStringList LibraryModel::mimeTypes() const { return {QString::fromLatin1(kMime)}; }

QMimeData* LibraryModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<int> rows;
    for (const QModelIndex& i : indexes) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QByteArray ids;
    for (int row : rows)
        if (const int64_t id = IdAt(row)) ids += QByteArray::number(static_cast<qlonglong>(id)) + '\n';
    auto* m = new QMimeData;
    m->setData(QString::fromLatin1(kMime), ids);
    return m;
}

}  // namespace quorvane::ui
