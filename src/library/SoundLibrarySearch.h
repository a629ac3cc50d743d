// Search as you type over the whole library: every item's search text (name,
// tags, the names of the files it came from; folded to lower case) held in
// memory in name order, so that a keystroke is one pass over a few megabytes
// instead of a query that reads every row. Matches come out already sorted by
// name; with no text it is the whole list in name order (the library keeps no
// index on the names). Standard C++ only.
//
// The copy is current while the library has not changed: the owner compares
// the connection's own commit count and PRAGMA data_version (which changes when
// another connection, such as the CLI beside the editor, commits).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/SoundLibraryItems.h"

namespace quorvane::library {

class Database;

class SearchIndex {
public:
    // Builds every item's search text, in the order of the list sorted by name.
    void Load(Database& db);
    bool Current(Database& db) const;

    struct Found {
        size_t count = 0;            // every match that passes the filters
        std::vector<int64_t> page;   // ids of matches [offset, offset + limit) in name order
    };
    // `foldedText` as FoldCase makes it; limit -1: all.
    Found Find(const std::string& foldedText, std::optional<SoundType> type, bool favouritesOnly, bool descending,
               int offset, int limit) const;

    // `byId[id]` 1 for each item `foldedText` matches, 0 for the others.
    void MarkMatches(const std::string& foldedText, std::vector<uint8_t>& byId) const;

    // Ids of the items of `type` whose sound hash is `soundHash` but whose whole
    // hash is not `hash` (candidates for "same sound, other name"), by id.
    std::vector<int64_t> SameSound(SoundType type, int64_t soundHash, int64_t hash) const;

private:
    std::vector<uint8_t> Hits(const std::string& foldedText) const;  // by entry

    std::string text_;             // each entry's text with '\n' after it
    std::vector<uint32_t> start_;  // where each entry begins, and the end
    std::vector<int64_t> ids_;
    std::vector<uint8_t> type_, favourite_;
    std::vector<int64_t> soundHash_, hash_;
    int64_t dataVersion_ = -1;
    uint64_t commits_ = 0;
};

}  // namespace quorvane::library
