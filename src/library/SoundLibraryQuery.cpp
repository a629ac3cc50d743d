// Reading the library: lists for the window and the CLI, details, duplicates.
#include "library/SoundLibrary.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "library/SoundLibrarySearch.h"
#include "library/SoundLibraryText.h"

namespace quorvane::library {

namespace {

const char* const kRowColumns = "i.id, i.type, i.display, i.favourite, i.tags, i.source_count, i.added";

ItemRow RowAt(const Statement& s, int first = 0) {
    ItemRow r;
    r.id = s.integer(first);
    r.type = static_cast<SoundType>(s.integer(first + 1));
    r.name = s.text(first + 2);
    r.favourite = s.integer(first + 3) != 0;
    r.tags = s.text(first + 4);
    r.sources = static_cast<int>(s.integer(first + 5));
    r.added = s.text(first + 6);
    return r;
}

const char* OrderOf(SortColumn c) {
    switch (c) {
        case SortColumn::Type: return "i.type";
        case SortColumn::Name: return "i.display COLLATE NOCASE";
        case SortColumn::Favourite: return "i.favourite";
        case SortColumn::Tags: return "i.tags COLLATE NOCASE";
        case SortColumn::Sources: return "i.source_count";
        case SortColumn::Date: return "i.added";  // no index: the ids are in the order added, nearly
    }
    return "i.id";
}

// The FROM and WHERE part of a query and its values, bound in order.
struct Where {
    std::string sql;
    std::vector<std::string> texts;
    std::optional<int64_t> type;
};

Where WhereOf(const Query& q) {
    Where w;
    w.sql = " FROM item i";
    std::vector<std::string> conds;
    if (q.favouritesOnly) conds.push_back("i.favourite = 1");
    if (!q.tag.empty()) {
        conds.push_back("i.id IN (SELECT item_id FROM tag WHERE tag = ?)");
        w.texts.push_back(q.tag);
    }
    if (!q.sourceFile.empty()) {
        conds.push_back(
            "i.id IN (SELECT o.item_id FROM source o JOIN file f ON f.id = o.file_id WHERE f.name = ? OR f.path = ?)");
        w.texts.push_back(q.sourceFile);
        w.texts.push_back(q.sourceFile);
    }
    // The items the text matches are marked by the search copy in memory
    // (SoundLibrary::MarkTextHits), last: the other conditions are cheaper.
    if (!q.text.empty()) conds.push_back("quorvane_text_hit(i.id)");
    for (size_t i = 0; i < conds.size(); ++i) w.sql += (i ? " AND " : " WHERE ") + conds[i];
    if (q.type) {
        w.sql += conds.empty() ? " WHERE i.type = ?" : " AND i.type = ?";
        w.type = static_cast<int64_t>(*q.type);
    }
    return w;
}

void BindWhere(Statement& s, const Where& w) {
    int n = 0;
    for (const std::string& t : w.texts) s.bind(++n, t);
    if (w.type) s.bind(++n, *w.type);
}

// Text (with the type and favourite filters, or none of them) is matched in
// memory, where the items are kept in name order: the library has no index on
// the names.
bool InMemory(const Query& q) { return q.tag.empty() && q.sourceFile.empty(); }

// quorvane_text_hit(id): whether the last text searched for matched item id
// (the user data is the marks by id).
void TextHit(sqlite3_context* context, int, sqlite3_value** values) {
    const auto* hits = static_cast<const std::vector<uint8_t>*>(sqlite3_user_data(context));
    const sqlite3_int64 id = sqlite3_value_int64(values[0]);
    sqlite3_result_int(context, id >= 0 && static_cast<uint64_t>(id) < hits->size() && (*hits)[static_cast<size_t>(id)]);
}

}  // namespace

void SoundLibrary::MarkTextHits(const Query& q) {
    if (q.text.empty()) return;
    if (!textHitsRegistered_) {
        const int rc = sqlite3_create_function_v2(db_.handle(), "quorvane_text_hit", 1, SQLITE_UTF8, &textHits_,
                                                  TextHit, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) db_.fail(rc, "preparing a search");
        textHitsRegistered_ = true;
    }
    Search().MarkMatches(FoldCase(q.text), textHits_);
}

SearchIndex& SoundLibrary::Search() {
    if (!search_) search_ = std::make_unique<SearchIndex>();
    if (!search_->Current(db_)) search_->Load(db_);
    return *search_;
}

std::vector<ItemRow> SoundLibrary::Rows(const std::vector<int64_t>& ids) {
    if (ids.empty()) return {};
    std::string sql = std::string("SELECT ") + kRowColumns + " FROM item i WHERE i.id IN (";
    for (size_t k = 0; k < ids.size(); ++k) sql += (k ? "," : "") + std::to_string(ids[k]);
    sql += ")";
    Statement s(db_, sql.c_str());
    std::map<int64_t, ItemRow> byId;
    while (s.step()) {
        ItemRow r = RowAt(s);
        byId.emplace(r.id, std::move(r));
    }
    std::vector<ItemRow> out;
    for (int64_t id : ids)
        if (auto it = byId.find(id); it != byId.end()) out.push_back(std::move(it->second));
    return out;
}

std::vector<ItemRow> SoundLibrary::List(const Query& q) {
    if (InMemory(q) && q.sort == SortColumn::Name)
        return Rows(Search().Find(FoldCase(q.text), q.type, q.favouritesOnly, q.descending, q.offset, q.limit).page);
    MarkTextHits(q);
    const Where w = WhereOf(q);
    std::string sql = std::string("SELECT ") + kRowColumns + w.sql + " ORDER BY " + OrderOf(q.sort) +
                      (q.descending ? " DESC" : "") + ", i.id" + (q.descending ? " DESC" : "");
    if (q.limit >= 0 || q.offset > 0)
        sql += " LIMIT " + std::to_string(q.limit >= 0 ? q.limit : -1) + " OFFSET " + std::to_string(q.offset);
    Statement s(db_, sql.c_str());
    BindWhere(s, w);
    std::vector<ItemRow> out;
    while (s.step()) out.push_back(RowAt(s));
    return out;
}

size_t SoundLibrary::Count(const Query& q) {
    if (InMemory(q)) return Search().Find(FoldCase(q.text), q.type, q.favouritesOnly, false, 0, 0).count;
    MarkTextHits(q);
    const Where w = WhereOf(q);
    const std::string sql = "SELECT count(*)" + w.sql;
    Statement s(db_, sql.c_str());
    BindWhere(s, w);
    return s.step() ? static_cast<size_t>(s.integer(0)) : 0;
}

size_t SoundLibrary::ItemCount() {
    Statement s(db_, "SELECT count(*) FROM item");
    return s.step() ? static_cast<size_t>(s.integer(0)) : 0;
}

std::optional<ItemDetails> SoundLibrary::Details(int64_t id) {
    ItemDetails d;
    {
        Statement s(db_, (std::string("SELECT ") + kRowColumns +
                          ", i.name, COALESCE(i.user_name, ''), i.comment, i.bytes, i.copy_of, i.sound_hash, i.hash"
                          " FROM item i WHERE i.id = ?1").c_str());
        s.bind(1, id);
        if (!s.step()) return std::nullopt;
        d.row = RowAt(s);
        d.nameInBytes = s.text(7);
        d.userName = s.text(8);
        d.comment = s.text(9);
        d.bytes = s.blob(10);
        if (!s.isNull(11)) d.copyOf = s.integer(11);
        const int64_t soundHash = s.integer(12), hash = s.integer(13);
        // The library keeps no index on the sound hash (an import would pay for
        // it on every file): the candidates come from the search copy when it is
        // in memory and current, else from one pass over the items.
        std::string sql;
        if (search_ && search_->Current(db_)) {
            const std::vector<int64_t> candidates = search_->SameSound(d.row.type, soundHash, hash);
            sql = "SELECT id, bytes FROM item WHERE id IN (";
            for (size_t k = 0; k < candidates.size(); ++k) sql += (k ? "," : "") + std::to_string(candidates[k]);
            sql += ") ORDER BY id";
        } else {
            sql = "SELECT id, bytes FROM item WHERE sound_hash = " + std::to_string(soundHash) +
                  " AND type = " + std::to_string(static_cast<int>(d.row.type)) + " AND hash != " + std::to_string(hash) +
                  " ORDER BY id";
        }
        Statement o(db_, sql.c_str());
        while (o.step()) {
            // The hash says "probably the same sound"; the bytes past the name decide.
            const Bytes other = o.blob(1);
            if (other.size() == d.bytes.size() && other.size() >= sysex::kNameBytes &&
                std::equal(other.begin() + sysex::kNameBytes, other.end(), d.bytes.begin() + sysex::kNameBytes))
                d.otherNames.push_back(o.integer(0));
        }
    }
    {
        Statement s(db_, "SELECT tag FROM tag WHERE item_id = ?1 ORDER BY tag");
        s.bind(1, id);
        while (s.step()) d.tags.push_back(s.text(0));
    }
    {
        Statement s(db_,
                    "SELECT f.id, f.path, f.name, o.number, f.imported FROM source o JOIN file f ON f.id = o.file_id"
                    " WHERE o.item_id = ?1 ORDER BY f.id, o.number");
        s.bind(1, id);
        while (s.step()) d.sources.push_back({s.integer(0), s.text(1), s.text(2), static_cast<int>(s.integer(3)), s.text(4)});
    }
    if (d.row.type == SoundType::Patch && !d.sources.empty()) {
        for (FileMember& m : FileMembers(d.sources.front().fileId))
            if (m.itemId != id) d.bank.push_back(std::move(m));
    }
    return d;
}

std::vector<FileMember> SoundLibrary::FileMembers(int64_t fileId) {
    Statement s(db_,
                "SELECT i.type, o.number, i.id, i.display FROM source o JOIN item i ON i.id = o.item_id"
                " WHERE o.file_id = ?1 ORDER BY i.type, o.number");
    s.bind(1, fileId);
    std::vector<FileMember> out;
    while (s.step())
        out.push_back({static_cast<SoundType>(s.integer(0)), static_cast<int>(s.integer(1)), s.integer(2), s.text(3)});
    return out;
}

std::vector<DuplicateGroup> SoundLibrary::Duplicates() {
    std::vector<DuplicateGroup> out;
    Statement groups(db_,
                     "SELECT type, sound_hash FROM item GROUP BY type, sound_hash HAVING count(DISTINCT hash) > 1"
                     " ORDER BY type, min(display)");
    // Every member of every group in one pass (the hashes have no index).
    Statement members(db_, (std::string("SELECT ") + kRowColumns +
                            ", i.bytes, i.sound_hash FROM item i WHERE (i.type, i.sound_hash) IN (SELECT type, sound_hash"
                            " FROM item GROUP BY type, sound_hash HAVING count(DISTINCT hash) > 1)"
                            " ORDER BY i.display COLLATE NOCASE, i.id").c_str());
    std::map<std::pair<int64_t, int64_t>, std::vector<std::pair<ItemRow, Bytes>>> byGroup;
    while (members.step()) {
        ItemRow row = RowAt(members);
        byGroup[{static_cast<int64_t>(row.type), members.integer(8)}].emplace_back(std::move(row), members.blob(7));
    }
    while (groups.step()) {
        // The hash says "probably the same sound"; the bytes past the name decide.
        const std::vector<std::pair<ItemRow, Bytes>>& found = byGroup[{groups.integer(0), groups.integer(1)}];
        auto body = [](const Bytes& b) {
            return Bytes(b.begin() + std::min<size_t>(sysex::kNameBytes, b.size()), b.end());
        };
        std::vector<bool> used(found.size(), false);
        for (size_t a = 0; a < found.size(); ++a) {
            if (used[a]) continue;
            DuplicateGroup g{static_cast<SoundType>(groups.integer(0)), {}};
            bool otherName = false;
            for (size_t b = a; b < found.size(); ++b) {
                if (used[b] || body(found[b].second) != body(found[a].second)) continue;
                used[b] = true;
                otherName = otherName || found[b].second != found[a].second;
                g.items.push_back(found[b].first);
            }
            if (otherName) out.push_back(std::move(g));
        }
    }
    return out;
}

}  // namespace quorvane::library
