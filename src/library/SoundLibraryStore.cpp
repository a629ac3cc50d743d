#include "library/SoundLibraryStore.h"

#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace quorvane::library {

namespace {

// Each step takes the schema from version i to i + 1. Steps are never edited
// once released: a change to the schema is a new step at the end.
const std::vector<const char*>& Migrations() {
    static const std::vector<const char*> steps{
        // 0 -> 1: the first release.
        // item: one sound, its exact bytes. `hash` is of the bytes, `sound_hash`
        // of the bytes with the name cleared (same sound, other name). A copy
        // kept on purpose names its original in `copy_of`. `display`, `tags`
        // and `source_count` repeat what the list shows, kept current on every
        // change, so that listing and sorting need no joins.
        // No index on the hashes or the names: each import commit would
        // rewrite index pages spread over the whole index for every file. An
        // import finds known sounds in a map it reads once (SoundLibraryImport),
        // and the name order is kept in memory (SoundLibrarySearch), as is each
        // item's search text, built there from the item, its tags and its
        // sources' file names: an import writes no search row.
        R"sql(
CREATE TABLE item(
  id INTEGER PRIMARY KEY,
  type INTEGER NOT NULL,
  bytes BLOB NOT NULL,
  hash INTEGER NOT NULL,
  sound_hash INTEGER NOT NULL,
  name TEXT NOT NULL,
  user_name TEXT,
  display TEXT NOT NULL,
  favourite INTEGER NOT NULL DEFAULT 0,
  comment TEXT NOT NULL DEFAULT '',
  tags TEXT NOT NULL DEFAULT '',
  source_count INTEGER NOT NULL DEFAULT 0,
  copy_of INTEGER REFERENCES item(id) ON DELETE SET NULL,
  added TEXT NOT NULL);
CREATE TABLE file(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL,
  name TEXT NOT NULL,
  imported TEXT NOT NULL);
CREATE INDEX file_by_name ON file(name);
CREATE INDEX file_by_path ON file(path);
CREATE TABLE source(
  item_id INTEGER NOT NULL REFERENCES item(id) ON DELETE CASCADE,
  file_id INTEGER NOT NULL REFERENCES file(id) ON DELETE CASCADE,
  number INTEGER NOT NULL,
  PRIMARY KEY(item_id, file_id, number)) WITHOUT ROWID;
CREATE INDEX source_by_file ON source(file_id, number);
CREATE TABLE tag(
  item_id INTEGER NOT NULL REFERENCES item(id) ON DELETE CASCADE,
  tag TEXT NOT NULL,
  PRIMARY KEY(item_id, tag)) WITHOUT ROWID;
CREATE INDEX tag_by_tag ON tag(tag, item_id);
CREATE TABLE bank(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  type INTEGER NOT NULL,
  created TEXT NOT NULL);
CREATE TABLE bank_slot(
  bank_id INTEGER NOT NULL REFERENCES bank(id) ON DELETE CASCADE,
  slot INTEGER NOT NULL CHECK(slot >= 1),
  item_id INTEGER NOT NULL REFERENCES item(id) ON DELETE CASCADE,
  PRIMARY KEY(bank_id, slot)) WITHOUT ROWID;
CREATE INDEX bank_slot_by_item ON bank_slot(item_id);
)sql",
        // 1 -> 2: what the library learnt through a module.
        // reading: what an audition read of an item through the module (the
        // part timbre numbers, the rhythm setup number and the working area's
        // blocks as the module sent them, a .syx image). module_patch: which
        // timbres and rhythm setup each patch memory of a module names, by
        // device ID, as read through the module. snapshot: every memory a store
        // replaced, before it was replaced (a .syx image), to put it back.
        R"sql(
CREATE TABLE reading(
  item_id INTEGER PRIMARY KEY REFERENCES item(id) ON DELETE CASCADE,
  timbres TEXT NOT NULL,
  rhythm_setup INTEGER NOT NULL,
  working BLOB NOT NULL,
  read_at TEXT NOT NULL);
CREATE TABLE module_patch(
  device INTEGER NOT NULL,
  number INTEGER NOT NULL,
  name TEXT NOT NULL,
  hash INTEGER NOT NULL,
  timbres TEXT NOT NULL,
  rhythm_setup INTEGER NOT NULL,
  read_at TEXT NOT NULL,
  PRIMARY KEY(device, number)) WITHOUT ROWID;
CREATE TABLE snapshot(
  id INTEGER PRIMARY KEY,
  made TEXT NOT NULL,
  operation TEXT NOT NULL,
  device INTEGER NOT NULL,
  image BLOB NOT NULL,
  put_back TEXT);
)sql",
    };
    return steps;
}

bool IsDamage(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

}  // namespace

// ---------------------------------------------------------------------------

Statement::Statement(Database& db, const char* sql) : db_(db) {
    const int rc = sqlite3_prepare_v3(db.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    if (rc != SQLITE_OK) db.fail(rc, "preparing a statement");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
}
Statement& Statement::bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
}
Statement& Statement::bind(int i, const Bytes& v) {
    // An empty vector's data() may be null, which SQLite would store as NULL.
    if (v.empty()) sqlite3_bind_zeroblob(stmt_, i, 0);
    else sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
}
Statement& Statement::bindNull(int i) {
    sqlite3_bind_null(stmt_, i);
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(stmt_);
    db_.fail(rc, "reading or writing the library");
}

void Statement::run() {
    while (step()) {
    }
    reset();
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int64_t Statement::integer(int col) const { return sqlite3_column_int64(stmt_, col); }
std::string Statement::text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
}
Bytes Statement::blob(int col) const {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
    return p ? Bytes(p, p + sqlite3_column_bytes(stmt_, col)) : Bytes();
}
bool Statement::isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

// ---------------------------------------------------------------------------

Database::~Database() { close(); }

void Database::close() {
    for (auto& [sql, s] : cache_) delete s;
    cache_.clear();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

void Database::fail(int rc, const std::string& what) const {
    std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    if (IsDamage(rc))
        throw LibraryError(LibraryError::Damaged, path_ + " is not a sound library or it is damaged (" + detail + ")");
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
        throw LibraryError(LibraryError::Busy,
                           path_ + " is kept busy by another program (" + detail + ", while " + what + ")");
    throw LibraryError(LibraryError::Failed, what + " in " + path_ + ": " + detail);
}

void Database::exec(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        sqlite3_free(message);
        fail(rc, std::string("changing the library (") + sql + ")");
    }
}

int64_t Database::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }
int Database::changes() const { return sqlite3_changes(db_); }

Statement& Database::cached(const char* sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end()) return *it->second;
    auto* s = new Statement(*this, sql);
    cache_.emplace(sql, s);
    return *s;
}

int Database::userVersion() {
    Statement s(*this, "PRAGMA user_version");
    return s.step() ? static_cast<int>(s.integer(0)) : 0;
}

void Database::open(const std::string& path, int busyTimeoutMs) {
    close();
    path_ = path;
    std::error_code ec;
    if (const fs::path p(path); p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
    const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        close();
        throw LibraryError(LibraryError::Failed, "cannot open " + path + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, busyTimeoutMs);
        sqlite3_extended_result_codes(db_, 1);
        // Reading the schema first finds a file that is not a database (or is
        // damaged) and a newer version, before any pragma below writes to it.
        exec("SELECT count(*) FROM sqlite_schema");
        const int version = userVersion();
        if (version > kLibrarySchemaVersion)
            throw LibraryError(LibraryError::Newer,
                               path + " was made by a newer version of Quorvane (library version " +
                                   std::to_string(version) + "; this one knows up to " +
                                   std::to_string(kLibrarySchemaVersion) + "); it is left as it is");
        exec("PRAGMA foreign_keys = ON");
        // WAL: readers never wait for the writer. NORMAL: a commit reaches the
        // disk at the next checkpoint; a killed program loses nothing committed.
        // Switching a new file to WAL takes a lock that SQLite does not wait
        // for (the busy time-out is not used), so it is tried again here.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs);
        while (true) {
            try {
                exec("PRAGMA journal_mode = WAL");
                break;
            } catch (const LibraryError& e) {
                if (e.kind() != LibraryError::Busy || std::chrono::steady_clock::now() > until) throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        exec("PRAGMA synchronous = NORMAL");
        exec("PRAGMA cache_size = -65536");
        // An import lets the WAL grow (see SoundLibrary::Import); afterwards it
        // is cut back to this size rather than kept at its largest.
        exec("PRAGMA journal_size_limit = 16777216");
        if (version < kLibrarySchemaVersion) migrate(version);
    } catch (...) {
        close();
        throw;
    }
}

void Database::migrate(int from) {
    const auto& steps = Migrations();
    for (int v = from; v < kLibrarySchemaVersion; ++v) {
        Transaction t(*this);
        // Another program may have migrated while this one waited for the lock.
        const int now = userVersion();
        if (now > v) {
            t.commit();
            continue;
        }
        exec(steps[static_cast<size_t>(v)]);
        exec(("PRAGMA user_version = " + std::to_string(v + 1)).c_str());
        t.commit();
    }
}

// ---------------------------------------------------------------------------

Transaction::Transaction(Database& db) : db_(db) {
    // Inside another transaction this one is part of it: the outer one commits.
    if (!sqlite3_get_autocommit(db_.handle())) return;
    db_.exec("BEGIN IMMEDIATE");
    open_ = true;
}

Transaction::~Transaction() {
    if (open_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    if (!open_) return;
    db_.exec("COMMIT");
    db_.countCommit();
    open_ = false;
}

// ---------------------------------------------------------------------------

std::string UtcNow(const char* format) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
#if defined(_WIN32)
    gmtime_s(&tm, &now);
#else
    gmtime_r(&now, &tm);
#endif
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

bool MoveLibraryAside(const std::string& path, std::string& movedTo, std::string& error) {
    const std::string stamp = UtcNow("%Y%m%d-%H%M%S");
    std::string target = path + ".damaged-" + stamp;
    std::error_code ec;
    for (int n = 2; fs::exists(target, ec); ++n) target = path + ".damaged-" + stamp + "-" + std::to_string(n);
    fs::rename(path, target, ec);
    if (ec) {
        error = "cannot move " + path + " aside: " + ec.message();
        return false;
    }
    // The journal files go along, under the new name, so the pair stays whole.
    for (const char* suffix : {"-wal", "-shm"})
        if (fs::exists(path + suffix, ec)) fs::rename(path + suffix, target + suffix, ec);
    movedTo = target;
    return true;
}

}  // namespace quorvane::library
