#include "library/SafeFile.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvane::library {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// The system calls: file descriptors, modes, flushing to the disk, renaming.

namespace os {

#ifdef _WIN32
int OpenRead(const fs::path& p) { return ::_wopen(p.c_str(), _O_RDONLY | _O_BINARY); }
int CreateExclusive(const fs::path& p) {
    return ::_wopen(p.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long Read(int fd, uint8_t* to, size_t n) { return ::_read(fd, to, static_cast<unsigned>(n)); }
long Write(int fd, const uint8_t* from, size_t n) { return ::_write(fd, from, static_cast<unsigned>(n)); }
bool Sync(int fd) { return ::_commit(fd) == 0; }
bool Close(int fd) { return ::_close(fd) == 0; }
bool Remove(const fs::path& p) { return ::_wunlink(p.c_str()) == 0; }
// Read-only is the only permission a Windows file has; owners stay as they are.
bool TakeModeOf(int, const fs::path&) { return true; }
bool Replace(const fs::path& from, const fs::path& to) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    errno = EACCES;
    return false;
}
void SyncFolder(const fs::path&) {}  // MOVEFILE_WRITE_THROUGH has flushed the rename
unsigned ProcessId() { return static_cast<unsigned>(::_getpid()); }
// A regular file, judged on the open file itself: not possible here beyond what
// the path said, which was checked before opening.
bool OpenIsRegular(int, std::string&) { return true; }
#else
int OpenRead(const fs::path& p) { return ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
// 0666 less the umask, as any new file; an existing file's mode is put on it afterwards.
int CreateExclusive(const fs::path& p) { return ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666); }
long Read(int fd, uint8_t* to, size_t n) { return ::read(fd, to, n); }
long Write(int fd, const uint8_t* from, size_t n) { return ::write(fd, from, n); }
bool Sync(int fd) { return ::fsync(fd) == 0; }
bool Close(int fd) { return ::close(fd) == 0; }
bool Remove(const fs::path& p) { return ::unlink(p.c_str()) == 0; }
// The new file takes the old one's permission bits, and its owner and group
// when the process may give them (root may; another user keeps its own).
bool TakeModeOf(int fd, const fs::path& old) {
    struct stat st {};
    if (::stat(old.c_str(), &st) != 0) return errno == ENOENT;
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) (void)!::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    return ::fchmod(fd, st.st_mode & 07777) == 0;
}
bool Replace(const fs::path& from, const fs::path& to) { return ::rename(from.c_str(), to.c_str()) == 0; }
// The rename itself reaches the disk only with the folder's entry.
void SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}
unsigned ProcessId() { return static_cast<unsigned>(::getpid()); }
bool OpenIsRegular(int fd, std::string& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (S_ISREG(st.st_mode)) return true;
    error = S_ISDIR(st.st_mode) ? "it is a directory, not a file" : "it is not a regular file";
    return false;
}
#endif

}  // namespace os

// The system's words for an error number, starting in lower case.
std::string Reason(int err) {
    std::string s = std::generic_category().message(err);
    if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
    return s;
}

// What stands at a path that is not a regular file: "a directory, not a file",
// "a device, not a regular file", ...
std::string NotAFile(const fs::file_status& st) {
    switch (st.type()) {
        case fs::file_type::directory: return "a directory, not a file";
        case fs::file_type::block:
        case fs::file_type::character: return "a device, not a regular file";
        case fs::file_type::fifo: return "a fifo, not a regular file";
        case fs::file_type::socket: return "a socket, not a regular file";
        default: return "not a regular file";
    }
}

// The file a path names, symbolic links followed (a dangling link names the
// file it would create).
bool Resolve(const fs::path& path, fs::path& out, std::string& error) {
    fs::path p = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) {
            out = p;
            return true;
        }
        const fs::path next = fs::read_symlink(p, ec);
        if (ec) {
            error = "cannot follow the link " + p.string() + ": " + Reason(ec.value());
            return false;
        }
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    error = path.string() + ": too many levels of symbolic links";
    return false;
}

// What stands at the resolved target: false for something that may not be replaced.
bool TargetAllowed(const std::string& shown, const fs::path& target, bool& exists, std::string& error) {
    std::error_code ec;
    const fs::file_status st = fs::status(target, ec);
    exists = false;
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory) return true;  // a new file; its folder is tried when writing
        error = "cannot save to " + shown + ": " + Reason(ec.value());
        return false;
    }
    if (st.type() == fs::file_type::not_found) return true;
    if (!fs::is_regular_file(st)) {
        error = shown + " is " + NotAFile(st);
        return false;
    }
    exists = true;
    return true;
}

std::string UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    const auto now = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned v = (os::ProcessId() * 2654435761u) ^ now ^ (counter.fetch_add(1) * 40503u);
    char s[12];
    std::snprintf(s, sizeof s, "%08x", v);
    return s;
}

}  // namespace

bool ReadWholeFile(const std::string& path, Bytes& out, std::string& error, size_t most) {
    out.clear();
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!ec && st.type() != fs::file_type::not_found && !fs::is_regular_file(st)) {
        error = "it is " + NotAFile(st);  // a fifo or a device is never opened: it might never end
        return false;
    }
    const int fd = os::OpenRead(path);
    if (fd < 0) {
        error = Reason(errno);
        return false;
    }
    bool ok = os::OpenIsRegular(fd, error);
    uint8_t chunk[65536];
    while (ok) {
        const long n = os::Read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = Reason(errno);
            ok = false;
        } else if (n == 0) {
            break;
        } else if (out.size() + static_cast<size_t>(n) > most) {
            error = "it is larger than " +
                    (most % (size_t{1} << 20) ? std::to_string(most) + " bytes" : std::to_string(most >> 20) + " MiB") +
                    ", too large for a back-up";
            ok = false;
        } else {
            out.insert(out.end(), chunk, chunk + n);
        }
    }
    os::Close(fd);
    if (!ok) out.clear();
    return ok;
}

bool CheckSaveTarget(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    fs::path target;
    bool exists = false;
    return Resolve(path, target, error) && TargetAllowed(path, target, exists, error);
}

bool WriteFileAtomically(const std::string& path, const Bytes& bytes, std::string& error) {
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    fs::path target;
    bool exists = false;
    if (!Resolve(path, target, error) || !TargetAllowed(path, target, exists, error)) return false;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");

    fs::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder / (target.filename().string() + "." + UniqueSuffix() + ".part");
        fd = os::CreateExclusive(temp);
        if (fd < 0 && errno != EEXIST) {
            error = "cannot create a file in " + folder.string() + ": " + Reason(errno);
            return false;
        }
    }
    if (fd < 0) {
        error = "cannot create a temporary file in " + folder.string() + ": every name tried is taken";
        return false;
    }
    auto fail = [&](const std::string& what, int err) {
        error = what + path + ": " + Reason(err);
        if (fd >= 0) os::Close(fd);
        os::Remove(temp);
        return false;
    };
    if (exists && !os::TakeModeOf(fd, target)) return fail("cannot keep the permissions of ", errno);
    for (size_t done = 0; done < bytes.size();) {
        const long n = os::Write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("cannot write ", n < 0 ? errno : ENOSPC);
        done += static_cast<size_t>(n);
    }
    if (!os::Sync(fd)) return fail("cannot write ", errno);
    const bool closed = os::Close(fd);
    const int closeError = errno;
    fd = -1;
    if (!closed) return fail("cannot write ", closeError);
    if (!os::Replace(temp, target)) return fail("cannot replace ", errno);
    os::SyncFolder(folder);
    return true;
}

void SyncFolder(const std::string& folder) { os::SyncFolder(fs::path(folder)); }

}  // namespace quorvane::library
