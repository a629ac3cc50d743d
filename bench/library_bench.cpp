// The sound library at the size of a large collection: N bank files (default
// 1000: the virtual module's factory content with every name and one value of
// every sound changed by a seeded generator, about 197 sounds each) imported
// into a new library. Prints the time of the import against the time that only
// reading and parsing the same files takes, the library's size on disk, the
// time of a search as a window would make it at each keystroke (the count of
// matches and the first page of 100, by name), and the time to open the
// library and list its first page.
//
//   library_bench [--files N] [--dir FOLDER] [--keep]
//
// Figures only: nothing here fails on time.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/library/SoundLibraryFiles.h"
#include "library/SoundLibrary.h"
#include "library/SysexFile.h"

using namespace quorvane;
using namespace quorvane::library;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Processor time of this process in ms: on a machine shared with other work the
// wall-clock time also counts the time others had the processor.
double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

uintmax_t SizeOf(const std::string& path) {
    uintmax_t n = 0;
    std::error_code ec;
    for (const char* suffix : {"", "-wal"})
        if (fs::exists(path + suffix, ec)) n += fs::file_size(path + suffix, ec);
    return n;
}

// Resident memory of this process in MB (Linux; 0 elsewhere).
double ResidentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int files = 1000;
    bool keep = false;
    fs::path dir = fs::temp_directory_path() / "quorvane-library-bench";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--files") && i + 1 < argc) files = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc) dir = argv[++i];
        else if (!std::strcmp(argv[i], "--keep")) keep = true;
        else {
            std::fprintf(stderr, "usage: library_bench [--files N] [--dir FOLDER] [--keep]\n");
            return 2;
        }
    }
    const fs::path banks = dir / "banks";
    const std::string db = (dir / "library.sqlite").string();
    fs::remove_all(dir);
    fs::create_directories(banks);

    auto t = Clock::now();
    for (int i = 0; i < files; ++i) {
        const Bytes b = SyxBytes(testfiles::MutatedBank(static_cast<uint32_t>(i + 1)), 0x10);
        char name[32];
        std::snprintf(name, sizeof name, "bank%04d.syx", i + 1);
        std::ofstream(banks / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
    }
    std::printf("generated %d bank files in %.1f s\n", files, Ms(Clock::now() - t) / 1000);

    // Parsing alone: what the import does before the library sees anything.
    t = Clock::now();
    double cpu = CpuMs();
    size_t sounds = 0;
    for (const auto& e : fs::directory_iterator(banks)) {
        const BackupFile f = ReadBackupFile(e.path().string());
        sounds += SoundsIn(f.image).size();
    }
    const double parseMs = Ms(Clock::now() - t), parseCpu = CpuMs() - cpu;

    t = Clock::now();
    cpu = CpuMs();
    ImportReport r;
    {
        SoundLibrary lib(db);
        r = lib.Import({banks.string()});
    }
    const double importMs = Ms(Clock::now() - t), importCpu = CpuMs() - cpu;
    std::printf("import of %zu files, %zu sounds (%zu new items): %.2f s (processor %.2f s); reading and parsing alone "
                "%.2f s (processor %.2f s); ratio %.2f, in processor time %.2f (aim <= 1.5)\n",
                r.files, r.sounds, r.newItems, importMs / 1000, importCpu / 1000, parseMs / 1000, parseCpu / 1000,
                importMs / parseMs, importCpu / parseCpu);
    if (sounds != r.sounds || !r.skipped.empty() || !r.error.empty())
        std::printf("  WARNING: %zu sounds parsed, %zu skipped, error '%s'\n", sounds, r.skipped.size(), r.error.c_str());
    std::printf("library size on disk: %.1f MB (%.0f bytes an item)\n", SizeOf(db) / 1e6,
                double(SizeOf(db)) / double(std::max<size_t>(r.newItems, 1)));

    t = Clock::now();
    SoundLibrary lib(db);
    const double openMs = Ms(Clock::now() - t);
    t = Clock::now();
    Query first;
    first.limit = 100;
    const size_t all = lib.Count(first);
    lib.List(first);
    const double firstPageMs = Ms(Clock::now() - t);
    std::printf("open: %.1f ms; count of all %zu items and first page of 100 by name: %.1f ms\n", openMs, all, firstPageMs);

    // Typing "brass pad" and then "jet", one keystroke at a time; then a file name.
    std::vector<std::string> keystrokes;
    for (const char* word : {"brass pad", "jet", "bank0777"})
        for (size_t n = 1; n <= std::strlen(word); ++n) keystrokes.push_back(std::string(word, n));
    // The first search reads every item's search text into memory.
    {
        const double before = ResidentMb();
        Query q;
        q.text = "zz";
        q.limit = 100;
        const auto s = Clock::now();
        lib.Count(q);
        lib.List(q);
        std::printf("first search after opening (reads the search texts): %.1f ms; resident memory %.0f MB -> %.0f MB\n",
                    Ms(Clock::now() - s), before, ResidentMb());
    }
    std::vector<double> times;
    std::printf("search as you type (count + first 100 by name), ms:");
    for (const std::string& k : keystrokes) {
        Query q;
        q.text = k;
        q.limit = 100;
        const auto s = Clock::now();
        const size_t n = lib.Count(q);
        lib.List(q);
        times.push_back(Ms(Clock::now() - s));
        std::printf(" '%s' %.1f (%zu)", k.c_str(), times.back(), n);
    }
    std::sort(times.begin(), times.end());
    std::printf("\nsearch: median %.1f ms, slowest %.1f ms a keystroke over %zu items (aim <= 30)\n", times[times.size() / 2],
                times.back(), all);

    // Sorted by another column than the name, the list comes from SQLite, with
    // the items the text matches marked by the search copy in memory.
    {
        Query q{.text = "bra", .sort = SortColumn::Date, .limit = 100};
        const auto s = Clock::now();
        const size_t n = lib.Count(q);
        lib.List(q);
        std::printf("search 'bra' sorted by date (count + first 100): %.1f ms (%zu)\n", Ms(Clock::now() - s), n);
    }

    // The details pane and the duplicates view look the sound up by its hash
    // (no index: a pass over the items); the list after a change reads the
    // names into memory again.
    {
        Query q{.text = "bank0500", .limit = 1};
        const int64_t id = lib.List(q).at(0).id;
        auto s = Clock::now();
        const auto d = lib.Details(id);
        const double detailsMs = Ms(Clock::now() - s);
        s = Clock::now();
        const size_t groups = lib.Duplicates().size();
        const double duplicatesMs = Ms(Clock::now() - s);
        s = Clock::now();
        lib.SetFavourite(id, true);
        const double favouriteMs = Ms(Clock::now() - s);
        s = Clock::now();
        lib.Count(first);
        lib.List(first);
        // A back-up added as Back Up Module... does: the import reads the known sounds first.
        const Bytes backup = SyxBytes(testfiles::MutatedBank(static_cast<uint32_t>(files + 1)), 0x10);
        s = Clock::now();
        const ImportReport added = lib.ImportBytes((dir / "backup.syx").string(), backup);
        const double backupMs = Ms(Clock::now() - s);
        std::printf("one back-up added (%zu new items): %.1f ms\n", added.newItems, backupMs);
        std::printf("details of one item (%zu sources): %.1f ms; duplicates view (%zu groups): %.1f ms; favourite set: %.1f ms, "
                    "then count and first page by name: %.1f ms\n",
                    d ? d->sources.size() : 0, detailsMs, groups, duplicatesMs, favouriteMs, Ms(Clock::now() - s));
    }

    if (!keep) fs::remove_all(dir);
    else std::printf("kept %s\n", dir.string().c_str());
    return 0;
}
