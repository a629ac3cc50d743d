// The sound library's database file: a small RAII layer over SQLite's C API
// (connection, prepared statements, transactions) and the schema with its
// migrations. Standard C++ only.
//
// Rules the store keeps:
// - The schema's version is PRAGMA user_version. A file at a version this
//   program does not know (made by a newer Quorvane) is refused before anything
//   is written to it; an older one is brought up to date, each step in one
//   transaction.
// - WAL journal, foreign keys on, a busy time-out: the editor and the CLI may
//   use one library at the same time; a writer waits for the other instead of
//   failing.
// - Every write goes through a Transaction begun IMMEDIATE (the write lock is
//   taken at the start, so two writers never deadlock half-way) and is rolled
//   back unless committed.
// - A file that is not a database, or whose pages are damaged, is told apart
//   from other failures (LibraryError::Damaged) so the caller can offer to move
//   it aside; nothing here deletes a library file.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

#include "device/Protocol.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quorvane::library {

// Schema version written by this program.
constexpr int kLibrarySchemaVersion = 2;

class LibraryError : public std::runtime_error {
public:
    enum Kind { Failed, Damaged, Newer, Busy, Input };
    LibraryError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

class Database;

// One prepared statement. Binding indexes count from 1, columns from 0.
class Statement {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, int64_t v);
    Statement& bind(int i, const std::string& v);
    Statement& bind(int i, const Bytes& v);
    Statement& bindNull(int i);
    // True when a row is there to read, false when done. Throws on failure.
    bool step();
    // Runs to the end (for statements that return no rows).
    void run();
    void reset();

    int64_t integer(int col) const;
    std::string text(int col) const;
    Bytes blob(int col) const;
    bool isNull(int col) const;

private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating when missing) the file and brings its schema up to date.
    // The connection is for one thread at a time (SQLite's multi-thread mode).
    // Throws LibraryError: Newer for a library of a newer version (the file is
    // left as it was), Damaged for a file that is not a database or is corrupt.
    void open(const std::string& path, int busyTimeoutMs = 10000);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    const std::string& path() const { return path_; }

    void exec(const char* sql);
    int64_t lastInsertId() const;
    // Transactions this connection committed (to tell whether what was read
    // from the library may have changed).
    uint64_t commits() const { return commits_; }
    void countCommit() { ++commits_; }
    int changes() const;
    // A statement kept prepared for the connection's life (the hot paths).
    Statement& cached(const char* sql);
    // Throws the LibraryError for SQLite result `rc`, with `what` in front.
    [[noreturn]] void fail(int rc, const std::string& what) const;
    sqlite3* handle() const { return db_; }

private:
    int userVersion();
    void migrate(int from);

    sqlite3* db_ = nullptr;
    std::string path_;
    std::map<const char*, Statement*> cache_;
    uint64_t commits_ = 0;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when it goes out of scope uncommitted.
// One begun inside another is part of the outer one.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    void commit();

private:
    Database& db_;
    bool open_ = false;
};

// Renames a library file (and its -wal and -shm files) to
// "<name>.damaged-YYYYMMDD-HHMMSS" beside it, so a new one can start. Nothing
// is deleted. True and the new name, or false and why.
// The time now in UTC, written with strftime `format`.
std::string UtcNow(const char* format);

bool MoveLibraryAside(const std::string& path, std::string& movedTo, std::string& error);

}  // namespace quorvane::library
