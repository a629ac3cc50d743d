#include "library/SoundLibrarySearch.h"

#include <algorithm>
#include <functional>

#include "library/SoundLibraryStore.h"

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
    dataVersion_ = DataVersion(db);
    commits_ = db.commits();
    // The same order as the list sorted by name (SoundLibraryQuery.cpp).
    Statement s(db,
                "SELECT i.id, i.type, i.favourite, s.text FROM item i JOIN search s ON s.item_id = i.id"
                " ORDER BY i.display COLLATE NOCASE, i.id");
    while (s.step()) {
        start_.push_back(static_cast<uint32_t>(text_.size()));
        ids_.push_back(s.integer(0));
        type_.push_back(static_cast<uint8_t>(s.integer(1)));
        favourite_.push_back(s.integer(2) != 0);
        std::string t = s.text(3);
        std::replace(t.begin(), t.end(), '\n', ' ');
        text_ += t;
        text_ += '\n';
    }
    start_.push_back(static_cast<uint32_t>(text_.size()));
}

bool SearchIndex::Current(Database& db) const {
    return dataVersion_ >= 0 && commits_ == db.commits() && dataVersion_ == DataVersion(db);
}

SearchIndex::Found SearchIndex::Find(const std::string& foldedText, std::optional<SoundType> type, bool favouritesOnly,
                                     bool descending, int offset, int limit) const {
    Found out;
    const size_t n = ids_.size();
    std::vector<uint8_t> hit(n, 0);
    if (foldedText.empty() || foldedText.find('\n') != std::string::npos) {
        if (foldedText.empty()) std::fill(hit.begin(), hit.end(), 1);
    } else {
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
    }
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
