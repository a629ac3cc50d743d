// Opening the library and bringing sounds in.
#include "library/SoundLibrary.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <unordered_map>

#include "library/Journal.h"
#include "library/SafeFile.h"
#include "library/SysexFile.h"
#include "library/SoundLibrarySearch.h"
#include "library/SoundLibraryText.h"

namespace fs = std::filesystem;

namespace quorvane::library {

namespace {

bool ImportableName(const fs::path& p) {
    const std::string ext = FoldCase(p.extension().string());
    return ext == ".syx" || ext == ".mid" || ext == ".midi";
}

// The files to import, in name order: each file named, and the importable
// files under each folder named.
std::vector<std::string> FilesUnder(const std::vector<std::string>& paths, ImportReport& report) {
    std::vector<std::string> files;
    for (const std::string& given : paths) {
        std::error_code ec;
        if (!fs::is_directory(given, ec)) {
            files.push_back(given);
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator it(given, fs::directory_options::skip_permission_denied, ec), end;
        if (ec) report.skipped.push_back({given, ec.message()});
        for (; !ec && it != end; it.increment(ec)) {
            std::error_code fileEc;
            if (it->is_regular_file(fileEc) && ImportableName(it->path())) found.push_back(it->path().string());
        }
        if (ec) report.skipped.push_back({given, "the folder could not be read to the end: " + ec.message()});
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

std::string Now() {
    return UtcNow("%Y-%m-%d %H:%M:%S");
}

std::string WholePath(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}


// The library's sounds by the hash of their bytes, read once for an import of
// many files instead of a look-up in an index for every sound: the index pages
// such look-ups and inserts land on are spread over the whole index, and every
// file's commit would write them again. Only originals are here (a copy kept on
// purpose is never the item a new source joins); for each hash the oldest.
class KnownSounds {
public:
    explicit KnownSounds(Database& db) : db_(db) {}

    // Brings the map up to date at the start of a file's transaction (the write
    // lock is held, so nothing changes until the commit): read again when
    // another connection or this one outside the import committed since.
    void Update() {
        Statement& version = db_.cached("PRAGMA data_version");
        version.step();
        const int64_t now = version.integer(0);
        version.reset();
        if (current_ && now == dataVersion_ && db_.commits() == commits_) {
            current_ = false;  // until the commit: a rolled-back file may have added to it
            return;
        }
        byHash_.clear();
        Statement& all = db_.cached("SELECT id, hash FROM item WHERE copy_of IS NULL ORDER BY id");
        while (all.step()) byHash_.emplace(all.integer(1), all.integer(0));
        all.reset();
        dataVersion_ = now;
        current_ = false;
    }
    // After the file's commit.
    void Committed() {
        commits_ = db_.commits();
        current_ = true;
    }

    // The original with these bytes, 0 for none.
    int64_t Find(int64_t type, int64_t hash, int64_t soundHash, const Bytes& bytes) {
        const auto it = byHash_.find(hash);
        if (it == byHash_.end()) return 0;
        // Nearly always the oldest item with this hash is the one; when its type
        // or bytes differ (two sounds with one hash) the library is asked.
        Statement& check = db_.cached("SELECT type, bytes FROM item WHERE id = ?1");
        check.bind(1, it->second);
        const bool same = check.step() && check.integer(0) == type && check.blob(1) == bytes;
        check.reset();
        if (same) return it->second;
        Statement& find = db_.cached(
            "SELECT id FROM item WHERE sound_hash = ?1 AND type = ?2 AND hash = ?3 AND copy_of IS NULL AND bytes = ?4"
            " ORDER BY id LIMIT 1");
        find.bind(1, soundHash).bind(2, type).bind(3, hash).bind(4, bytes);
        const int64_t id = find.step() ? find.integer(0) : 0;
        find.reset();
        return id;
    }
    void Add(int64_t hash, int64_t id) { byHash_.emplace(hash, id); }

private:
    Database& db_;
    std::unordered_map<int64_t, int64_t> byHash_;
    int64_t dataVersion_ = -1;
    uint64_t commits_ = 0;
    bool current_ = false;
};

void ImportOne(Database& db, KnownSounds& known, const std::string& path, const Bytes* given, ImportReport& report) {
    Bytes read;
    if (!given) {
        std::string why;
        if (!ReadWholeFile(path, read, why)) {
            report.skipped.push_back({path, why});
            return;
        }
    }
    const BackupFile file = ReadBackup(given ? *given : read);
    if (!file.ok) {
        report.skipped.push_back({path, file.error});
        return;
    }
    int partial = 0;
    const std::vector<Sound> sounds = SoundsIn(file.image, &partial);
    report.partial += static_cast<size_t>(partial);
    if (sounds.empty()) {
        report.skipped.push_back({path, partial ? "it holds only parts of memories, no whole patch, timbre or rhythm setup"
                                                : "it holds no patch, timbre or rhythm setup memory"});
        return;
    }

    const std::string whole = WholePath(path);
    const std::string fileName = fs::path(whole).filename().string();
    const std::string date = Now();
    size_t added = 0;

    Transaction t(db);
    known.Update();
    db.cached("INSERT INTO file(path, name, imported) VALUES(?1, ?2, ?3)").bind(1, whole).bind(2, fileName).bind(3, date).run();
    const int64_t fileId = db.lastInsertId();
    Statement& insertItem = db.cached(
        "INSERT INTO item(type, bytes, hash, sound_hash, name, display, added, source_count)"
        " VALUES(?1, ?2, ?3, ?4, ?5, ?5, ?6, 1)");
    Statement& insertSource = db.cached("INSERT OR IGNORE INTO source(item_id, file_id, number) VALUES(?1, ?2, ?3)");
    Statement& count = db.cached("UPDATE item SET source_count = source_count + 1 WHERE id = ?1");
    for (const Sound& s : sounds) {
        const auto type = static_cast<int64_t>(s.type);
        const auto hash = static_cast<int64_t>(BytesHash(s.bytes));
        const auto soundHash = static_cast<int64_t>(SoundHash(s.bytes));
        int64_t id = known.Find(type, hash, soundHash, s.bytes);
        if (id == 0) {
            const std::string name = SoundName(s.bytes);
            insertItem.bind(1, type).bind(2, s.bytes).bind(3, hash).bind(4, soundHash);
            insertItem.bind(5, name).bind(6, date).run();
            id = db.lastInsertId();
            insertSource.bind(1, id).bind(2, fileId).bind(3, static_cast<int64_t>(s.number)).run();
            known.Add(hash, id);
            ++added;
        } else {
            insertSource.bind(1, id).bind(2, fileId).bind(3, static_cast<int64_t>(s.number)).run();
            if (db.changes() == 1) count.bind(1, id).run();
        }
    }
    t.commit();
    known.Committed();
    ++report.files;
    report.sounds += sounds.size();
    report.newItems += added;
}

}  // namespace

std::string DefaultLibraryPath() { return (fs::path(DataFolder()) / "library.sqlite").string(); }

SoundLibrary::SoundLibrary(const std::string& path) { db_.open(path); }
SoundLibrary::~SoundLibrary() = default;

ImportReport SoundLibrary::Import(const std::vector<std::string>& paths, const ImportOptions& options) {
    ImportReport report;
    const std::vector<std::string> files = FilesUnder(paths, report);
    // Copying the WAL back into the library less often during an import
    // writes a page that several files' commits change (the last page of a
    // table, the file list) once for many files (the default is every 1000
    // pages).
    db_.exec("PRAGMA wal_autocheckpoint = 16384");
    struct Restore {
        Database& db;
        ~Restore() {
            try {
                db.exec("PRAGMA wal_autocheckpoint = 1000");
                db.exec("PRAGMA wal_checkpoint(PASSIVE)");
            } catch (const LibraryError&) {
                // The next commit or the last connection's close checkpoints.
            }
        }
    } restore{db_};
    KnownSounds known(db_);
    for (size_t i = 0; i < files.size(); ++i) {
        if (options.cancel && options.cancel->load()) {
            report.cancelled = true;
            break;
        }
        try {
            ImportOne(db_, known, files[i], nullptr, report);
        } catch (const LibraryError& e) {
            report.error = e.what();
            report.errorKind = e.kind();
            break;
        }
        if (options.onProgress) options.onProgress(i + 1, files.size());
    }
    return report;
}

ImportReport SoundLibrary::ImportBytes(const std::string& path, const Bytes& fileBytes) {
    ImportReport report;
    try {
        ImportFile(path, &fileBytes, report);
    } catch (const LibraryError& e) {
        report.error = e.what();
        report.errorKind = e.kind();
    }
    return report;
}

void SoundLibrary::ImportFile(const std::string& path, const Bytes* given, ImportReport& report) {
    KnownSounds known(db_);
    ImportOne(db_, known, path, given, report);
}

}  // namespace quorvane::library
