#include "library/SoundLibraryModule.h"

#include <algorithm>
#include <sstream>

#include "library/SoundLibrary.h"
#include "library/SysexFile.h"

namespace quorvane::library {

namespace {

// Images are kept as .syx bytes: the library reads them with the same checks as
// any back-up file, and a damaged one is an error, never half an image.
constexpr uint8_t kImageDevice = 0x10;

Bytes ImageBytes(const MemoryImage& image) { return SyxBytes(image, kImageDevice); }

MemoryImage ImageFrom(const Bytes& bytes, const char* what) {
    if (bytes.empty()) return {};
    BackupFile f = ReadBackup(bytes);
    if (!f.ok) throw LibraryError(LibraryError::Damaged, std::string("a ") + what + " in the library is damaged: " + f.error);
    return std::move(f.image);
}

std::string NumbersText(const std::array<int, 6>& numbers) {
    std::string out;
    for (int n : numbers) out += (out.empty() ? "" : ",") + std::to_string(n);
    return out;
}

std::array<int, 6> NumbersFrom(const std::string& text) {
    std::array<int, 6> out{};
    std::istringstream in(text);
    std::string part;
    for (size_t i = 0; i < out.size() && std::getline(in, part, ','); ++i) {
        try {
            out[i] = std::stoi(part);
        } catch (...) {
            out[i] = 0;
        }
    }
    return out;
}

}  // namespace

// ---- readings ----------------------------------------------------------------

void SaveReading(SoundLibrary& lib, Reading reading) {
    Database& db = lib.Db();
    Transaction t(db);
    Statement need(db, "SELECT 1 FROM item WHERE id = ?1");
    need.bind(1, reading.itemId);
    if (!need.step())
        throw LibraryError(LibraryError::Input, "there is no item " + std::to_string(reading.itemId) + " in the library");
    Statement s(db,
                "INSERT OR REPLACE INTO reading(item_id, timbres, rhythm_setup, working, read_at)"
                " VALUES(?1, ?2, ?3, ?4, ?5)");
    s.bind(1, reading.itemId)
        .bind(2, NumbersText(reading.timbres))
        .bind(3, static_cast<int64_t>(reading.rhythmSetup))
        .bind(4, ImageBytes(reading.working))
        .bind(5, UtcNow("%Y-%m-%d %H:%M:%S"));
    s.run();
    t.commit();
}

std::optional<Reading> LoadReading(SoundLibrary& lib, int64_t itemId) {
    Statement s(lib.Db(), "SELECT timbres, rhythm_setup, working, read_at FROM reading WHERE item_id = ?1");
    s.bind(1, itemId);
    if (!s.step()) return std::nullopt;
    Reading r;
    r.itemId = itemId;
    r.timbres = NumbersFrom(s.text(0));
    r.rhythmSetup = static_cast<int>(s.integer(1));
    r.working = ImageFrom(s.blob(2), "reading");
    r.readAt = s.text(3);
    return r;
}

// ---- the module index ------------------------------------------------------------

std::vector<int> ModuleIndex::UsingTimbre(int timbre) const {
    std::vector<int> out;
    for (const ModulePatch& p : patches)
        if (std::find(p.timbres.begin(), p.timbres.end(), timbre) != p.timbres.end()) out.push_back(p.number);
    return out;
}

std::vector<int> ModuleIndex::UsingRhythmSetup(int setup) const {
    std::vector<int> out;
    for (const ModulePatch& p : patches)
        if (setup > 0 && p.rhythmSetup == setup) out.push_back(p.number);
    return out;
}

const ModulePatch* ModuleIndex::Patch(int number) const {
    for (const ModulePatch& p : patches)
        if (p.number == number) return &p;
    return nullptr;
}

void SaveModulePatches(SoundLibrary& lib, int deviceId, const std::vector<ModulePatch>& patches) {
    Database& db = lib.Db();
    Transaction t(db);
    Statement s(db,
                "INSERT OR REPLACE INTO module_patch(device, number, name, hash, timbres, rhythm_setup, read_at)"
                " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    const std::string now = UtcNow("%Y-%m-%d %H:%M:%S");
    for (const ModulePatch& p : patches) {
        s.reset();
        s.bind(1, static_cast<int64_t>(deviceId))
            .bind(2, static_cast<int64_t>(p.number))
            .bind(3, p.name)
            .bind(4, static_cast<int64_t>(p.hash & 0x7FFFFFFFFFFFFFFFull))
            .bind(5, NumbersText(p.timbres))
            .bind(6, static_cast<int64_t>(p.rhythmSetup))
            .bind(7, p.readAt.empty() ? now : p.readAt);
        s.run();
    }
    t.commit();
}

void ForgetModulePatches(SoundLibrary& lib, int deviceId, const std::vector<int>& numbers) {
    Database& db = lib.Db();
    Transaction t(db);
    if (numbers.empty()) {
        Statement s(db, "DELETE FROM module_patch WHERE device = ?1");
        s.bind(1, static_cast<int64_t>(deviceId));
        s.run();
    }
    for (int n : numbers) {
        Statement s(db, "DELETE FROM module_patch WHERE device = ?1 AND number = ?2");
        s.bind(1, static_cast<int64_t>(deviceId)).bind(2, static_cast<int64_t>(n));
        s.run();
    }
    t.commit();
}

ModuleIndex LoadModuleIndex(SoundLibrary& lib, int deviceId) {
    ModuleIndex index;
    index.deviceId = deviceId;
    Statement s(lib.Db(),
                "SELECT number, name, hash, timbres, rhythm_setup, read_at FROM module_patch"
                " WHERE device = ?1 ORDER BY number");
    s.bind(1, static_cast<int64_t>(deviceId));
    while (s.step()) {
        ModulePatch p;
        p.number = static_cast<int>(s.integer(0));
        p.name = s.text(1);
        p.hash = static_cast<uint64_t>(s.integer(2));
        p.timbres = NumbersFrom(s.text(3));
        p.rhythmSetup = static_cast<int>(s.integer(4));
        p.readAt = s.text(5);
        index.patches.push_back(std::move(p));
    }
    return index;
}

// ---- snapshots ---------------------------------------------------------------------

int64_t SaveSnapshot(SoundLibrary& lib, const std::string& operation, int deviceId, const MemoryImage& image) {
    Database& db = lib.Db();
    Transaction t(db);
    Statement s(db, "INSERT INTO snapshot(made, operation, device, image) VALUES(?1, ?2, ?3, ?4)");
    s.bind(1, UtcNow("%Y-%m-%d %H:%M:%S"))
        .bind(2, operation)
        .bind(3, static_cast<int64_t>(deviceId))
        .bind(4, ImageBytes(image));
    s.run();
    const int64_t id = db.lastInsertId();
    t.commit();
    return id;
}

namespace {

Snapshot SnapshotFrom(Statement& s) {
    Snapshot out;
    out.id = s.integer(0);
    out.made = s.text(1);
    out.operation = s.text(2);
    out.deviceId = static_cast<int>(s.integer(3));
    out.image = ImageFrom(s.blob(4), "snapshot");
    out.putBack = s.isNull(5) ? "" : s.text(5);
    return out;
}

}  // namespace

std::vector<Snapshot> Snapshots(SoundLibrary& lib, int limit) {
    Statement s(lib.Db(),
                "SELECT id, made, operation, device, image, put_back FROM snapshot ORDER BY id DESC LIMIT ?1");
    s.bind(1, static_cast<int64_t>(limit));
    std::vector<Snapshot> out;
    while (s.step()) out.push_back(SnapshotFrom(s));
    return out;
}

std::optional<Snapshot> LoadSnapshot(SoundLibrary& lib, int64_t id) {
    Statement s(lib.Db(), "SELECT id, made, operation, device, image, put_back FROM snapshot WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return SnapshotFrom(s);
}

void MarkSnapshotPutBack(SoundLibrary& lib, int64_t id) {
    Database& db = lib.Db();
    Transaction t(db);
    Statement s(db, "UPDATE snapshot SET put_back = ?2 WHERE id = ?1");
    s.bind(1, id).bind(2, UtcNow("%Y-%m-%d %H:%M:%S"));
    s.run();
    t.commit();
}

}  // namespace quorvane::library
