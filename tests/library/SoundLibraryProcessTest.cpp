// The sound library shared by processes: an import killed at a random point
// leaves a whole, consistent library (every file in or out as a whole), and two
// processes writing at once both finish. Child processes are made with fork(),
// so these run on POSIX systems only.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "SoundLibraryFiles.h"
#include "library/SoundLibrary.h"
#include "library/SysexFile.h"

using namespace quorvane;
using namespace quorvane::library;
namespace fs = std::filesystem;

namespace {

class SoundLibraryProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quorvane-soundlib-proc-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // `count` bank files of sounds of their own under dir/folder.
    std::string Banks(const std::string& folder, uint32_t firstSeed, int count) {
        const fs::path f = dir / folder;
        fs::create_directories(f);
        for (int i = 0; i < count; ++i) {
            const Bytes b = SyxBytes(testfiles::MutatedBank(firstSeed + static_cast<uint32_t>(i)), 0x10);
            std::ofstream(f / ("bank" + std::to_string(100 + i) + ".syx"), std::ios::binary)
                .write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
        }
        return f.string();
    }

    // Runs `work` in a child process; its exit code is 0 when it returned
    // normally, 1 when it threw.
    static pid_t Child(const std::function<void()>& work) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int code = 0;
            try {
                work();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "child: %s\n", e.what());
                code = 1;
            }
            std::fflush(stderr);
            ::_exit(code);
        }
        return pid;
    }
    static int Wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    static int64_t Scalar(SoundLibrary& lib, const std::string& sql) {
        Statement s(lib.Db(), sql.c_str());
        return s.step() ? s.integer(0) : -1;
    }

    // Every file in the library with all of its sounds, the counters and the
    // search copy agreeing with the tables, and SQLite's own checks clean. The number
    // of files and of items in it.
    static std::pair<int64_t, int64_t> CheckConsistent(const std::string& path, int64_t soundsPerFile) {
        SoundLibrary lib(path);
        Statement integrity(lib.Db(), "PRAGMA integrity_check");
        EXPECT_TRUE(integrity.step());
        EXPECT_EQ(integrity.text(0), "ok");
        EXPECT_EQ(Scalar(lib, "SELECT count(*) FROM pragma_foreign_key_check"), 0);
        EXPECT_EQ(Scalar(lib, "SELECT count(*) FROM file WHERE (SELECT count(*) FROM source WHERE file_id = file.id) != " +
                                  std::to_string(soundsPerFile)),
                  0);
        EXPECT_EQ(Scalar(lib, "SELECT count(*) FROM item WHERE source_count != "
                              "(SELECT count(*) FROM source WHERE item_id = item.id) OR source_count = 0"),
                  0);
        EXPECT_EQ(Scalar(lib, "SELECT count(*) FROM item"), static_cast<int64_t>(lib.Count(Query{})));
        return {Scalar(lib, "SELECT count(*) FROM file"), Scalar(lib, "SELECT count(*) FROM item")};
    }

    fs::path dir;
};

TEST_F(SoundLibraryProcessTest, AnImportKilledAtARandomPointLeavesEveryFileInOrOutWhole) {
    constexpr int kFiles = 24;
    const std::string banks = Banks("banks", 1, kFiles);
    // How long a whole import takes here, to kill inside it.
    const auto start = std::chrono::steady_clock::now();
    {
        SoundLibrary lib((dir / "timing.sqlite").string());
        ASSERT_EQ(lib.Import({banks}).files, size_t{kFiles});
    }
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);

    int killedHalfWay = 0;
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::string path = (dir / ("killed" + std::to_string(seed) + ".sqlite")).string();
        std::mt19937 rng(seed);
        const auto at = std::chrono::microseconds(rng() % static_cast<uint64_t>(whole.count() + 1));
        const pid_t pid = Child([&] { SoundLibrary(path).Import({banks}); });
        std::this_thread::sleep_for(at);
        ::kill(pid, SIGKILL);
        Wait(pid);
        if (!fs::exists(path)) continue;  // killed before it made the file
        const auto [files, items] = CheckConsistent(path, 197);
        EXPECT_EQ(items, files * 197);  // the banks share no sound
        if (files > 0 && files < kFiles) ++killedHalfWay;
        // The library goes on: importing again completes it.
        SoundLibrary(path).Import({banks});
        EXPECT_EQ(CheckConsistent(path, 197), std::make_pair(kFiles + files, int64_t{kFiles} * 197));
    }
    // The kills must land inside imports for the test to prove anything.
    EXPECT_GE(killedHalfWay, 1);
}

TEST_F(SoundLibraryProcessTest, TwoProcessesWritingAtOnceBothFinish) {
    constexpr int kFiles = 8;
    const std::string a = Banks("a", 100, kFiles), b = Banks("b", 200, kFiles);
    const std::string path = (dir / "shared.sqlite").string();
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    // Each imports its files one by one and tags what the last one brought in
    // between, so their write transactions interleave.
    auto writer = [&](const std::string& folder, const std::string& tag) {
        return [&, folder, tag] {
            ::close(go[1]);
            char c;
            (void)!::read(go[0], &c, 1);  // both start when the pipe closes
            SoundLibrary lib(path);
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const fs::path& f : files) {
                const ImportReport r = lib.Import({f.string()});
                if (r.files != 1 || !r.error.empty()) throw std::runtime_error("import of " + f.string() + ": " + r.error);
                for (const ItemRow& row : lib.List({.sourceFile = f.string(), .limit = 5})) lib.AddTag(row.id, tag);
            }
        };
    };
    const pid_t first = Child(writer(a, "from-a"));
    const pid_t second = Child(writer(b, "from-b"));
    ::close(go[0]);
    ::close(go[1]);
    EXPECT_EQ(Wait(first), 0);
    EXPECT_EQ(Wait(second), 0);
    EXPECT_EQ(CheckConsistent(path, 197), std::make_pair(int64_t{2 * kFiles}, int64_t{2 * kFiles * 197}));
    SoundLibrary lib(path);
    EXPECT_EQ(lib.Count({.tag = "from-a"}), 5u * kFiles);
    EXPECT_EQ(lib.Count({.tag = "from-b"}), 5u * kFiles);
}

}  // namespace

#endif
