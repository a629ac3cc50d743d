#include "library/Journal.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "library/SafeFile.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"

namespace quorvane::library {

namespace fs = std::filesystem;

namespace {

const char* const kMagic = "quorvane journal 1";

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

}  // namespace

std::string DataFolder() {
    if (std::string d = Env("QUORVANE_DATA_DIR"); !d.empty()) return d;
#if defined(_WIN32)
    if (std::string d = Env("LOCALAPPDATA"); !d.empty()) return (fs::path(d) / "quorvane").string();
#endif
    if (std::string d = Env("XDG_DATA_HOME"); !d.empty() && fs::path(d).is_absolute()) return (fs::path(d) / "quorvane").string();
    if (std::string h = Env("HOME"); !h.empty()) return (fs::path(h) / ".local" / "share" / "quorvane").string();
    return (fs::current_path() / ".quorvane").string();
}

bool WriteFileDurably(const std::string& path, const Bytes& bytes, std::string& error) {
    const fs::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    return WriteFileAtomically(path, bytes, error);
}

Journal::Journal(std::string folder) : folder_(std::move(folder)) {}

std::string Journal::SyxPath() const { return (fs::path(folder_) / "journal.syx").string(); }
std::string Journal::TextPath() const { return (fs::path(folder_) / "journal.txt").string(); }

JournalState Journal::Load() const {
    JournalState s;
    std::ifstream in(TextPath());
    if (!in) return s;
    s.exists = true;
    std::string line, state;
    bool magic = false;
    while (std::getline(in, line)) {
        if (line == kMagic) magic = true;
        const auto colon = line.find(": ");
        if (colon == std::string::npos) continue;
        const std::string key = line.substr(0, colon), value = line.substr(colon + 2);
        if (key == "operation") s.operation = value;
        else if (key == "state") state = value;
        else if (key == "device") s.deviceId = std::atoi(value.c_str()) - 1;
    }
    s.open = state != "done";  // a journal that cannot be read is treated as interrupted
    if (!magic || (state != "open" && state != "done") || s.deviceId < 0 || s.deviceId > 31) {
        s.error = TextPath() + " is damaged";
        return s;
    }
    const BackupFile f = ReadBackupFile(SyxPath());
    if (!f.ok) s.error = "the originals cannot be read (" + f.error + ")";
    else s.originals = f.image;
    return s;
}

bool Journal::Pending() const {
    const JournalState s = Load();
    return s.exists && s.open;
}

std::string Journal::PendingJournal() const {
    const JournalState s = Load();
    if (!s.exists || !s.open) return "";
    if (!s.error.empty())
        return "An interrupted operation left a journal that cannot be used: " + s.error + " (in " + folder_ + ").";
    return "An interrupted " + s.operation + " (U-220 with device ID " + std::to_string(s.deviceId + 1) + ") left " +
           NameMemories(ContentsOf(s.originals)) + " to be put back.";
}

TransferReport Journal::Recover(Transfer& transfer) { return transfer.Recover(*this); }

bool Journal::Discard(std::string& error) {
    std::error_code ec;
    for (const std::string& p : {TextPath(), SyxPath()}) {
        fs::remove(p, ec);
        if (ec) {
            error = "cannot remove " + p + ": " + ec.message();
            return false;
        }
    }
    SyncFolder(folder_);
    return true;
}

bool Journal::WriteState(const std::string& operation, int deviceId, bool open, std::string& error) {
    std::ostringstream text;
    text << kMagic << "\n"
         << "operation: " << operation << "\n"
         << "device: " << deviceId + 1 << "\n"
         << "state: " << (open ? "open" : "done") << "\n";
    const std::string s = text.str();
    return WriteFileDurably(TextPath(), Bytes(s.begin(), s.end()), error);
}

bool Journal::Begin(const std::string& operation, int deviceId, const MemoryImage& originals, std::string& error) {
    std::error_code ec;
    fs::remove(TextPath(), ec);
    if (ec) {
        error = "cannot replace " + TextPath() + ": " + ec.message();
        return false;
    }
    return WriteFileDurably(SyxPath(), SyxBytes(originals, static_cast<uint8_t>(deviceId)), error) &&
           WriteState(operation, deviceId, true, error);
}

bool Journal::Close(std::string& error) {
    const JournalState s = Load();
    if (!s.exists) return true;
    return WriteState(s.operation, s.deviceId, false, error);
}

}  // namespace quorvane::library
