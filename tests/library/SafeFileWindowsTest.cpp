// Saving and reading through SafeFile's Windows branch (run under wine by
// scripts/windows-check.sh). The POSIX branch, with links, fifos, devices and
// modes, is tested in FileTest.cpp.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "library/SafeFile.h"

using namespace quorvane;
using namespace quorvane::library;

namespace {

namespace fs = std::filesystem;

Bytes FileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void PutFile(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Scratch {
    fs::path dir;
    explicit Scratch(const std::string& name) : dir(fs::temp_directory_path() / ("quorvane-win-save-" + name)) {
        std::error_code ec;
        fs::remove_all(dir, ec);
        fs::create_directories(dir);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

}  // namespace

TEST(SafeFileWindows, SavingReplacesOnlyARegularFileAndLeavesNoTemporaryFile) {
    const Bytes data(3000, 0x41);
    struct Case {
        const char* name;
        std::function<std::string(const fs::path&)> setUp;  // the path to save to
        const char* error;                                   // "" = saved
        std::vector<std::string> listing;                    // the folder afterwards
    } cases[] = {
        {"a new file", [](const fs::path& d) { return (d / "new.syx").string(); }, "", {"new.syx"}},
        {"an existing file is replaced", [](const fs::path& d) { PutFile(d / "old.syx", "old"); return (d / "old.syx").string(); },
         "", {"old.syx"}},
        {"a folder", [](const fs::path& d) { fs::create_directory(d / "old.syx"); return (d / "old.syx").string(); },
         "old.syx is a directory, not a file", {"old.syx"}},
        {"a folder that does not exist", [](const fs::path& d) { return (d / "no" / "x.syx").string(); },
         "no such file or directory", {}},
        {"an empty name", [](const fs::path&) { return std::string(); }, "no file name given", {}},
    };
    for (const Case& c : cases) {
        Scratch scratch(std::to_string(&c - cases));
        const std::string path = c.setUp(scratch.dir);
        std::string checked;
        const bool allowed = CheckSaveTarget(path, checked);
        std::string error;
        const bool saved = WriteFileAtomically(path, data, error);
        EXPECT_EQ(saved, *c.error == 0) << c.name << ": " << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        if (saved) {
            EXPECT_TRUE(allowed) << c.name << ": " << checked;
            EXPECT_EQ(FileBytes(path), data) << c.name;
        }
        EXPECT_EQ(Listing(scratch.dir), c.listing) << c.name;
    }
}

TEST(SafeFileWindows, ReadingSaysWhyAFileCannotBeRead) {
    Scratch scratch("read");
    const fs::path d = scratch.dir;
    PutFile(d / "file", "0123456789");
    fs::create_directory(d / "dir");
    struct Case {
        std::string path;
        size_t most;
        const char* error;  // "" = read
    } cases[] = {
        {(d / "file").string(), 100, ""},
        {(d / "missing").string(), 100, "no such file or directory"},
        {(d / "dir").string(), 100, "it is a directory, not a file"},
        {(d / "file").string(), 5, "it is larger than 5 bytes, too large for a back-up"},
        {"", 100, "no file name given"},
    };
    for (const Case& c : cases) {
        Bytes got;
        std::string error;
        const bool ok = ReadWholeFile(c.path, got, error, c.most);
        EXPECT_EQ(ok, *c.error == 0) << c.path << ": " << error;
        EXPECT_EQ(error, c.error) << c.path;
        const std::string text = ok ? "0123456789" : "";
        EXPECT_EQ(got, Bytes(text.begin(), text.end())) << c.path;
    }
}
#endif
