// The library's list as a Qt table model: the rows are read from the library a
// page at a time as the view shows them, so a library of 200,000 sounds opens
// and filters as fast as one of 200. Columns: type, name, favourite, tags,
// sources, date. A header click sorts by that column (through the library's
// query); type-to-find on the name column finds the row without reading every
// page. Rows drag out as their item ids (kMime), which the bank editor takes.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <map>
#include <vector>

#include "ui/library/LibraryApi.h"

namespace quorvane::ui {

class LibraryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColType, ColName, ColFavourite, ColTags, ColSources, ColDate, ColumnCount };
    static constexpr int kPageRows = 256;
    static constexpr int kPagesKept = 64;  // about 16,000 rows in memory at most
    static const char* const kMime;        // item ids, one a line

    explicit LibraryModel(QObject* parent = nullptr);

    // Null shows nothing. The model does not own the library.
    void SetLibrary(library::SoundLibrary* lib);
    library::SoundLibrary* Library() const { return lib_; }
    // The filters; the model's own sort column and direction are kept.
    void SetFilter(const library::Query& q);
    const library::Query& CurrentQuery() const { return query_; }
    // Reads the count again and forgets the pages read (after a change).
    void Refresh();

    // The item at `row`, or null when out of range or unreadable.
    const library::ItemRow* RowAt(int row) const;
    int64_t IdAt(int row) const;
    // The row of item `id` among the pages read so far; -1 when not there.
    int LoadedRowOf(int64_t id) const;

    static QString TypeText(library::SoundType t);
    // "patches", "timbres", "rhythm setups", "working patches"
    static QString TypePlural(library::SoundType t);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order) override;
    QModelIndexList match(const QModelIndex& start, int role, const QVariant& value, int hits,
                          Qt::MatchFlags flags) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

    // Pages read from the library since the last Refresh (the benchmark counts them).
    int PagesRead() const { return pagesRead_; }

signals:
    // The library failed while the list was read (a damaged page, a busy lock).
    void failed(const QString& text) const;

private:
    const std::vector<library::ItemRow>* Page(int page) const;

    library::SoundLibrary* lib_ = nullptr;
    library::Query query_;
    int count_ = 0;
    mutable std::map<int, std::vector<library::ItemRow>> pages_;
    mutable int pagesRead_ = 0;
};

}  // namespace quorvane::ui
