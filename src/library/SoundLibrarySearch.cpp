#include "library/SoundLibrarySearch.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

#include "library/SoundLibraryStore.h"
#include "library/SoundLibraryText.h"

namespace quorvane::library {

namespace {

int64_t DataVersion(Database& db) {
    Statement s(db, "PRAGMA data_version");
    return s.step() ? s.integer(0) : -1;
}

}  // namespace

void SearchIndex::Load(Database& db) {
    text_.clear();
    start_.clear();
    ids_.clear();
    type_.clear();
    favourite_.clear();
    soundHash_.clear();
    hash_.clear();
    dataVersion_ = DataVersion(db);
    commits_ = db.commits();
    // Each item's search text is its name, its tags and the names of the files
    // it came from (each once), folded, a tab between: built here from one
    // pass over each table in the order of the ids, joined by id in memory (no
    // look-up per row), and sorted here: the list's order by name
    // (SoundLibraryQuery.cpp), ASCII letters folded, then by id.
    struct Entry {
        int64_t id;
        uint8_t type, favourite;
        int64_t soundHash, hash;
        std::string text;
        int64_t lastFile;
    };
    std::vector<std::pair<std::string, uint32_t>> order;  // folded name, entry (in id order)
    std::vector<Entry> entries;
    {
        Statement items(db, "SELECT id, type, favourite, display, sound_hash, hash, tags FROM item ORDER BY id");
        while (items.step()) {
            std::string name = FoldCase(items.text(3));
            std::string text = name;
            text += '\t';
            text += FoldCase(items.text(6));
            text += '\t';
            order.emplace_back(std::move(name), static_cast<uint32_t>(entries.size()));
            entries.push_back({items.integer(0), static_cast<uint8_t>(items.integer(1)),
                               static_cast<uint8_t>(items.integer(2) != 0), items.integer(4), items.integer(5),
                               std::move(text), 0});
        }
        std::unordered_map<int64_t, std::string> files;
        Statement fileNames(db, "SELECT id, name FROM file");
        while (fileNames.step()) files.emplace(fileNames.integer(0), FoldCase(fileNames.text(1)));
        // The sources' key is (item, file, number): in item order, each item's
        // files ascending, so a file met twice comes right after itself.
        Statement sources(db, "SELECT item_id, file_id FROM source ORDER BY item_id, file_id");
        size_t at = 0;
        while (sources.step()) {
            const int64_t id = sources.integer(0), file = sources.integer(1);
            while (at < entries.size() && entries[at].id < id) ++at;
            if (at == entries.size()) break;
            Entry& e = entries[at];
            if (e.id != id || e.lastFile == file) continue;
            const auto f = files.find(file);
            if (f == files.end()) continue;
            if (e.lastFile != 0) e.text += '\t';
            e.text += f->second;
            e.lastFile = file;
        }
    }
    std::sort(order.begin(), order.end());
    size_t total = 0;
    for (const Entry& e : entries) total += e.text.size() + 1;
    text_.reserve(total);
    ids_.reserve(entries.size());
    type_.reserve(entries.size());
    favourite_.reserve(entries.size());
    soundHash_.reserve(entries.size());
    hash_.reserve(entries.size());
    start_.reserve(entries.size() + 1);
    for (const auto& [key, k] : order) {
        Entry& e = entries[k];
        start_.push_back(static_cast<uint32_t>(text_.size()));
        ids_.push_back(e.id);
        type_.push_back(e.type);
        favourite_.push_back(e.favourite);
        soundHash_.push_back(e.soundHash);
        hash_.push_back(e.hash);
        std::replace(e.text.begin(), e.text.end(), '\n', ' ');
        text_ += e.text;
        text_ += '\n';
    }
    start_.push_back(static_cast<uint32_t>(text_.size()));
}

std::vector<int64_t> SearchIndex::SameSound(SoundType type, int64_t soundHash, int64_t hash) const {
    std::vector<int64_t> out;
    for (size_t k = 0; k < ids_.size(); ++k)
        if (soundHash_[k] == soundHash && hash_[k] != hash && type_[k] == static_cast<uint8_t>(type))
            out.push_back(ids_[k]);
    std::sort(out.begin(), out.end());
    return out;
}

bool SearchIndex::Current(Database& db) const {
    return dataVersion_ >= 0 && commits_ == db.commits() && dataVersion_ == DataVersion(db);
}

std::vector<uint8_t> SearchIndex::Hits(const std::string& foldedText) const {
    std::vector<uint8_t> hit(ids_.size(), 0);
    if (foldedText.empty() || foldedText.find('\n') != std::string::npos) {
        if (foldedText.empty()) std::fill(hit.begin(), hit.end(), 1);
        return hit;
    }
    const std::boyer_moore_horspool_searcher searcher(foldedText.begin(), foldedText.end());
    size_t entry = 0;
    auto from = text_.begin();
    while (true) {
        const auto at = std::search(from, text_.end(), searcher);
        if (at == text_.end()) break;
        const auto pos = static_cast<uint32_t>(at - text_.begin());
        while (start_[entry + 1] <= pos) ++entry;
        hit[entry] = 1;
        // The rest of this entry cannot add anything.
        from = text_.begin() + start_[entry + 1];
    }
    return hit;
}

void SearchIndex::MarkMatches(const std::string& foldedText, std::vector<uint8_t>& byId) const {
    const std::vector<uint8_t> hit = Hits(foldedText);
    int64_t last = 0;
    for (int64_t id : ids_) last = std::max(last, id);
    byId.assign(static_cast<size_t>(last) + 1, 0);
    for (size_t k = 0; k < ids_.size(); ++k)
        if (hit[k]) byId[static_cast<size_t>(ids_[k])] = 1;
}

SearchIndex::Found SearchIndex::Find(const std::string& foldedText, std::optional<SoundType> type, bool favouritesOnly,
                                     bool descending, int offset, int limit) const {
    Found out;
    const size_t n = ids_.size();
    const std::vector<uint8_t> hit = Hits(foldedText);
    for (size_t k = 0; k < n; ++k) {
        const size_t i = descending ? n - 1 - k : k;
        if (!hit[i] || (type && type_[i] != static_cast<uint8_t>(*type)) || (favouritesOnly && !favourite_[i])) continue;
        if (out.count >= static_cast<size_t>(offset) &&
            (limit < 0 || out.page.size() < static_cast<size_t>(limit)))
            out.page.push_back(ids_[i]);
        ++out.count;
    }
    return out;
}

}  // namespace quorvane::library
