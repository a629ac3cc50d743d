// The sound library: every patch, timbre, rhythm setup and working-area sound
// ever imported from .syx and .mid files, in one SQLite file, deduplicated,
// with where each came from and the user's own data (favourite, tags, comment,
// a name of the library's own, user banks). Standard C++ only; no Qt, so the
// CLI and the window share it.
//
// What it promises:
// - Identical bytes of one type are one item with several sources (file,
//   number there, import date). Items that differ only in the name field are
//   "the same sound under another name" (Duplicates()). A copy kept on purpose
//   (KeepCopy) is an item of its own with the same bytes.
// - One file is imported in one transaction: a kill leaves the library as it
//   was before that file. A file that cannot be read is skipped with its
//   reason and the import goes on. Importing a file again adds only its
//   sources.
// - The bytes of an item change only through ApplyNameToBytes; a rename stays
//   in the library.
// - Errors are thrown as LibraryError (SoundLibraryStore.h): Damaged for a
//   file that is not a library or is corrupt (offer MoveLibraryAside), Newer
//   for a library of a newer version, Input for a request that cannot be done
//   (an unknown id, a full bank), Busy and Failed for the rest.
// Not thread-safe: use one SoundLibrary per thread (each opens its own
// connection; SQLite serialises the writers).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/SoundLibraryItems.h"
#include "library/SoundLibraryStore.h"

namespace quorvane::library {

class SearchIndex;

// DataFolder()/library.sqlite
std::string DefaultLibraryPath();

struct ImportOptions {
    // After each file: files done, files in all (for a time-left estimate).
    std::function<void(size_t done, size_t total)> onProgress;
    // Set from another thread to stop after the file being imported.
    const std::atomic<bool>* cancel = nullptr;
};

struct SkippedFile {
    std::string path;
    std::string reason;
};

struct ImportReport {
    size_t files = 0;        // files imported
    size_t sounds = 0;       // sounds read from them
    size_t newItems = 0;     // of those, new to the library
    size_t partial = 0;      // memories only partly in a file (left out)
    std::vector<SkippedFile> skipped;
    bool cancelled = false;
    // Set when the library itself failed (a full disk, a damaged library): the
    // import stopped there; the files before it are in.
    std::string error;
    LibraryError::Kind errorKind = LibraryError::Failed;
};

enum class SortColumn { Type, Name, Favourite, Tags, Sources, Date };

struct Query {
    std::string text = {};               // part of a name, tag or file name; any case
    std::optional<SoundType> type = {};
    bool favouritesOnly = false;
    std::string tag = {};                // exact tag
    std::string sourceFile = {};         // a file's name or its whole path
    SortColumn sort = SortColumn::Name;
    bool descending = false;
    int limit = -1;                      // -1: all
    int offset = 0;
};

struct ItemRow {
    int64_t id = 0;
    SoundType type = SoundType::Patch;
    std::string name;      // the user's name when given, else the one in the bytes
    bool favourite = false;
    std::string tags;      // sorted, ", " between
    int sources = 0;
    std::string added;     // "YYYY-MM-DD HH:MM:SS" (UTC)
};

struct SourceInfo {
    int64_t fileId = 0;
    std::string path;
    std::string fileName;
    int number = 0;        // the memory's number in that file
    std::string imported;  // (UTC)
};

// One memory of an imported file.
struct FileMember {
    SoundType type = SoundType::Patch;
    int number = 0;
    int64_t itemId = 0;
    std::string name;
};

struct ItemDetails {
    ItemRow row;
    std::string nameInBytes;
    std::string userName;           // "" when not renamed
    std::string comment;
    std::vector<std::string> tags;
    Bytes bytes;
    std::vector<SourceInfo> sources;  // oldest import first
    // For a patch: the other memories of the file it was first imported from,
    // where its timbres and rhythm setup are.
    std::vector<FileMember> bank;
    std::vector<int64_t> otherNames;  // items of the same sound under another name
    std::optional<int64_t> copyOf;
};

struct DuplicateGroup {
    SoundType type = SoundType::Patch;
    std::vector<ItemRow> items;  // same bytes but the name, by name
};

struct BankInfo {
    int64_t id = 0;
    std::string name;
    SoundType type = SoundType::Patch;
    std::vector<std::pair<int, ItemRow>> slots;  // slot number (from 1), item; ascending
};

// Where an export put each item.
struct Placement {
    int64_t itemId = 0;
    SoundType type = SoundType::Patch;
    int number = 0;
    std::string name;
};

class SoundLibrary {
public:
    // Opens or creates the library at `path` (see Database::open).
    explicit SoundLibrary(const std::string& path);
    ~SoundLibrary();
    const std::string& Path() const { return db_.path(); }
    Database& Db() { return db_; }

    // Files and folders (read recursively: *.syx, *.mid, *.midi) in name order.
    ImportReport Import(const std::vector<std::string>& paths, const ImportOptions& options = {});
    // One file's bytes under a name, as a back-up or Save Patch As... just wrote
    // them. Skipped (with the reason in the report) when they cannot be read.
    ImportReport ImportBytes(const std::string& path, const Bytes& fileBytes);

    // Without a tag or file filter, the count and the list by name come from
    // memory (see SoundLibrarySearch.h); the first after a change reads the
    // texts again.
    std::vector<ItemRow> List(const Query& q);
    size_t Count(const Query& q);
    std::optional<ItemDetails> Details(int64_t id);
    std::vector<FileMember> FileMembers(int64_t fileId);
    std::vector<DuplicateGroup> Duplicates();
    size_t ItemCount();

    // The user's data. Each throws LibraryError(Input) for an unknown id.
    void SetFavourite(int64_t id, bool on);
    void AddTag(int64_t id, const std::string& tag);
    void RemoveTag(int64_t id, const std::string& tag);
    void SetComment(int64_t id, const std::string& comment);
    // The library's name for the item ("" takes the name in the bytes again).
    void Rename(int64_t id, const std::string& utf8Name);
    // Writes the library's name into the item's name field: the only change to
    // an item's bytes. Refused for a name with characters the module lacks.
    void ApplyNameToBytes(int64_t id);
    // A second item with the same bytes, kept on purpose (to edit one).
    int64_t KeepCopy(int64_t id);
    void Remove(int64_t id);

    // User banks: ordered places 1..64 (patches), 1..128 (timbres), 1..4 (rhythm setups).
    int64_t MakeBank(const std::string& name, SoundType type);
    void SetBankSlot(const std::string& bank, int slot, int64_t itemId);  // itemId 0 empties it
    // Puts the items into the first empty places, in order; the places used.
    std::vector<int> AddToBank(const std::string& bank, const std::vector<int64_t>& itemIds);
    std::optional<BankInfo> Bank(const std::string& name);
    std::vector<BankInfo> Banks();  // names and types only (slots empty)

    // A back-up file image of the items: each at its number in its first
    // source (a bank: at its place), the next free number of its type when that
    // is taken. Throws LibraryError(Input) when they do not fit.
    MemoryImage ImageOf(const std::vector<int64_t>& itemIds, std::vector<Placement>* placements = nullptr);
    MemoryImage ImageOfBank(const std::string& bank, std::vector<Placement>* placements = nullptr);

private:
    void ImportFile(const std::string& path, const Bytes* given, ImportReport& report);
    void Need(int64_t id);
    void Refresh(int64_t id);  // display, tags, source count
    SearchIndex& Search();     // current
    std::vector<ItemRow> Rows(const std::vector<int64_t>& ids);  // in that order
    // Marks the items q.text matches for a query SQLite runs (quorvane_text_hit).
    void MarkTextHits(const Query& q);

    Database db_;
    std::unique_ptr<SearchIndex> search_;
    std::vector<uint8_t> textHits_;  // by id
    bool textHitsRegistered_ = false;
};

}  // namespace quorvane::library
