// The sound library on real SQLite files in a temporary folder: import, dedup,
// sources, re-import, names, export and a verified restore into the virtual
// module, files that are skipped, a newer or damaged library, the user's data
// and banks, and the queries the window lists with.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "SoundLibraryFiles.h"
#include "device/Host.h"
#include "device/clsU220.h"
#include "library/SoundLibrary.h"
#include "library/SoundLibraryModule.h"
#include "library/SoundLibraryText.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "emulator/VirtualU220.h"

using namespace quorvane;
using namespace quorvane::library;
namespace fs = std::filesystem;

namespace {

class SoundLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quorvane-soundlib-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "banks" / "more");
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Write(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return p.string();
    }
    std::string Db() const { return (dir / "library.sqlite").string(); }
    Bytes FileBytes(const std::string& path) {
        Bytes b;
        std::string why;
        EXPECT_TRUE(ReadWholeFile(path, b, why)) << why;
        return b;
    }
    static int64_t Scalar(SoundLibrary& lib, const char* sql) {
        Statement s(lib.Db(), sql);
        return s.step() ? s.integer(0) : -1;
    }
    static Bytes Memory(const MemoryImage& image, MemoryKind kind, int n) {
        Bytes b;
        EXPECT_TRUE(image.get(MemoryRange(kind, n), b));
        return b;
    }
    // The item of that name (and those bytes, when given).
    static int64_t IdOf(SoundLibrary& lib, SoundType type, const std::string& name, const Bytes& bytes = {}) {
        Query q;
        q.type = type;
        q.text = name;
        for (const ItemRow& r : lib.List(q))
            if (r.name == name && (bytes.empty() || lib.Details(r.id)->bytes == bytes)) return r.id;
        ADD_FAILURE() << "no " << SoundTypeWord(type) << " named " << name;
        return 0;
    }

    fs::path dir;
};

// One factory back-up, a second file where one patch differs only by name and
// one timbre by a value (as a .mid, split into small data sets, another device
// ID), and the first file again in a sub-folder: each sound once, the renamed
// patch grouped with its original, sources counted, and re-importing adding
// sources only. An export of a selection then restores into the virtual module
// byte for byte, through the same restore the windows use.
TEST_F(SoundLibraryTest, ImportDedupsKeepsSourcesAndExportRestoresTheSameBytes) {
    const MemoryImage factory = testfiles::FactoryMemory();
    MemoryImage second = factory;
    Bytes patch5 = Memory(factory, MemoryKind::Patch, 5), timbre7 = Memory(factory, MemoryKind::Timbre, 7);
    second.put(MemoryRange(MemoryKind::Patch, 5).address, WithName(patch5, "Renamed Pad"));
    timbre7[40] = static_cast<uint8_t>((timbre7[40] + 1) & 0x0F);
    second.put(MemoryRange(MemoryKind::Timbre, 7).address, timbre7);
    const std::string a = Write("banks/factory.syx", SyxBytes(factory, 0x10));
    Write("banks/more/second.mid", MidiBytes(second, 0x03));
    Write("banks/more/copy.SYX", SyxBytes(factory, 0x10));
    Write("banks/notes.txt", {'h', 'i'});  // not a bank file: not even tried

    SoundLibrary lib(Db());
    std::vector<std::pair<size_t, size_t>> progress;
    ImportOptions options;
    options.onProgress = [&](size_t done, size_t total) { progress.emplace_back(done, total); };
    ImportReport r = lib.Import({(dir / "banks").string()}, options);
    EXPECT_TRUE(r.skipped.empty()) << r.skipped.front().reason;
    EXPECT_EQ(r.files, 3u);
    EXPECT_EQ(r.sounds, 3u * 197u);
    EXPECT_EQ(r.newItems, 199u);  // 64 + 128 + 4 + working area, + the renamed patch and the changed timbre
    EXPECT_EQ(progress, (std::vector<std::pair<size_t, size_t>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(lib.ItemCount(), 199u);

    const int64_t piano = IdOf(lib, SoundType::Patch, "Piano 1");
    auto d = lib.Details(piano);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, Memory(factory, MemoryKind::Patch, 1));
    ASSERT_EQ(d->sources.size(), 3u);
    EXPECT_EQ(d->sources[0].fileName, "factory.syx");  // path order: banks/factory.syx, then banks/more/...
    EXPECT_EQ(d->sources[1].fileName, "copy.SYX");
    EXPECT_EQ(d->sources[0].number, 1);
    EXPECT_EQ(d->bank.size(), 196u);  // the file's other memories: its timbres and rhythm setups among them
    EXPECT_EQ(d->bank[63].type, SoundType::Timbre);
    EXPECT_EQ(d->bank[63].number, 1);

    // Same sound, other name: one group of two; the changed timbre is no duplicate.
    const auto groups = lib.Duplicates();
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0].items.size(), 2u);
    EXPECT_EQ(groups[0].items[0].name, "Renamed Pad");
    EXPECT_EQ(groups[0].items[1].name, SoundName(patch5));
    // Found the same way whether the search copy is in memory yet or not.
    const int64_t otherName = groups[0].items[0].id, original = groups[0].items[1].id;
    for (int searched = 0; searched < 2; ++searched) {
        if (searched) lib.List(Query{"pad"});
        EXPECT_EQ(lib.Details(original)->otherNames, std::vector<int64_t>{otherName}) << searched;
        EXPECT_EQ(lib.Details(otherName)->otherNames, std::vector<int64_t>{original}) << searched;
    }

    // Re-importing adds only sources.
    r = lib.Import({a});
    EXPECT_EQ(r.newItems, 0u);
    EXPECT_EQ(lib.ItemCount(), 199u);
    EXPECT_EQ(lib.Details(piano)->sources.size(), 4u);
    EXPECT_EQ(lib.Details(piano)->row.sources, 4);

    // Export: items at their numbers, a clash moved to the next free number.
    const int64_t renamed = groups[0].items[0].id, changed = IdOf(lib, SoundType::Timbre, SoundName(timbre7), timbre7);
    const int64_t rhythm = IdOf(lib, SoundType::Rhythm, "Electro Kit");
    std::vector<Placement> placed;
    const int64_t working = lib.List({.type = SoundType::Working}).at(0).id;
    const MemoryImage image =
        lib.ImageOf({renamed, piano, changed, rhythm, IdOf(lib, SoundType::Patch, SoundName(patch5)), working}, &placed);
    ASSERT_EQ(placed.size(), 6u);
    EXPECT_THROW(lib.ImageOf({working, working}), LibraryError);  // one working area a file
    EXPECT_EQ(placed[0].number, 5);
    EXPECT_EQ(placed[1].number, 1);
    EXPECT_EQ(placed[2].number, 7);
    EXPECT_EQ(placed[3].number, 3);
    EXPECT_EQ(placed[4].number, 2);  // patch 5 is taken by the renamed one
    const std::string out = (dir / "export.syx").string();
    std::string error;
    ASSERT_TRUE(SaveBackup(out, image, 0x10, error)) << error;

    // The file is in the back-up format: ascending addresses, at most 128 data bytes a message.
    const BackupFile file = ReadBackupFile(out);
    ASSERT_TRUE(file.ok) << file.error;
    const Bytes raw = FileBytes(out);
    uint32_t last = 0;
    for (size_t at = 0; at < raw.size();) {
        size_t end = at;
        while (raw[end] != 0xF7) ++end;
        const ParsedMessage m = ParseMessage(Bytes(raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(end + 1)));
        ASSERT_TRUE(m.valid) << m.error;
        EXPECT_LE(m.data.size(), 128u);
        EXPECT_GE(MemoryImage::Key(m.address), last);
        last = MemoryImage::Key(m.address);
        at = end + 1;
    }

    // Restore into the virtual module, verified, and read what it holds.
    SimpleHost host;
    auto vm = std::make_shared<midi::VirtualU220>();
    clsU220 model(host, vm->makeOutput(), vm->makeInput([&](std::function<void()> f) { host.post(std::move(f)); }));
    ASSERT_TRUE(model.MIDIOutput1->open(-1));
    ASSERT_TRUE(model.MIDIInput1->open(0));
    vm->withEmulator([](emulator::U220Emulator& e) { e.load(MemoryRange(MemoryKind::Patch, 2).address, Bytes(160, 0)); });
    Transfer t(model, host);
    const TransferReport report = t.Restore(file.image);
    EXPECT_TRUE(report.ok()) << report.text;
    auto held = [&](MemoryKind k, int n) {
        const Range r = MemoryRange(k, n);
        return vm->withEmulator([&](emulator::U220Emulator& e) { return e.read(r.address, r.size); });
    };
    EXPECT_EQ(held(MemoryKind::Patch, 5), WithName(patch5, "Renamed Pad"));
    EXPECT_EQ(held(MemoryKind::Patch, 1), Memory(factory, MemoryKind::Patch, 1));
    EXPECT_EQ(held(MemoryKind::Patch, 2), patch5);
    EXPECT_EQ(held(MemoryKind::Timbre, 7), timbre7);
    EXPECT_EQ(held(MemoryKind::Rhythm, 3), Memory(factory, MemoryKind::Rhythm, 3));
    MemoryImage workingArea;
    for (const Range& r : BackupAreas())
        if (r.address.a1 >= 0x10)
            workingArea.put(r.address, vm->withEmulator([&](emulator::U220Emulator& e) { return e.read(r.address, r.size); }));
    const auto sounds = SoundsIn(workingArea);
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].bytes, lib.Details(working)->bytes);
}

// The import tells its progress after each file and stops at a cancel, with
// the files before it whole.
TEST_F(SoundLibraryTest, ImportStopsAtCancelAfterTheFileItIsAt) {
    for (int i = 0; i < 4; ++i) Write("banks/b" + std::to_string(i) + ".syx", SyxBytes(testfiles::MutatedBank(40 + i), 0x10));
    SoundLibrary lib(Db());
    std::atomic<bool> cancel{false};
    ImportOptions options;
    options.cancel = &cancel;
    options.onProgress = [&](size_t done, size_t total) {
        EXPECT_EQ(total, 4u);
        if (done == 2) cancel = true;
    };
    const ImportReport r = lib.Import({(dir / "banks").string()}, options);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.files, 2u);
    EXPECT_EQ(lib.ItemCount(), 2u * 197u);
}

// An import reads the library's sounds once and keeps them up to date when the
// library changes between its files, by another connection or by this one: the
// second file's sounds join the items that came in meanwhile, once each.
TEST_F(SoundLibraryTest, AnImportJoinsSoundsThatCameInBetweenItsFiles) {
    Write("banks/a.syx", SyxBytes(testfiles::MutatedBank(50), 0x10));
    const Bytes b = SyxBytes(testfiles::MutatedBank(51), 0x10);
    Write("banks/b.syx", b);
    const std::string copy = Write("b-copy.syx", b);
    const struct {
        const char* what;
        std::function<void(SoundLibrary&, const std::string&)> between;
    } cases[] = {
        {"another connection imports them", [&](SoundLibrary&, const std::string& db) { SoundLibrary(db).Import({copy}); }},
        {"this one adds them as a back-up", [&](SoundLibrary& lib, const std::string&) { lib.ImportBytes(copy, b); }},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string db = (dir / ("between" + std::to_string(++n) + ".sqlite")).string();
        SoundLibrary lib(db);
        ImportOptions options;
        options.onProgress = [&](size_t done, size_t) {
            if (done == 1) c.between(lib, db);
        };
        const ImportReport r = lib.Import({(dir / "banks").string()}, options);
        EXPECT_EQ(r.files, 2u);
        EXPECT_EQ(r.newItems, 197u);
        EXPECT_EQ(lib.ItemCount(), 2u * 197u);
        EXPECT_EQ(Scalar(lib, "SELECT count(*) FROM item WHERE source_count = 2"), 197);
        EXPECT_EQ(Scalar(lib, "SELECT count(*) FROM source"), 3 * 197);
    }
}

// The list sorted by name comes from memory (with or without a text, type or
// favourite filter) in the order the database sorts it: letters of either
// case alike, equal names by id, descending the exact reverse.
TEST_F(SoundLibraryTest, TheNameOrderInMemoryIsTheDatabaseOrder) {
    SoundLibrary lib(Db());
    lib.Import({Write("banks/factory.syx", SyxBytes(testfiles::FactoryMemory(), 0x10))});
    const std::vector<std::string> renames{"brass", "BRASS", "Brass x", "brasS", "bRass", "Brass"};
    for (size_t i = 0; i < renames.size(); ++i) lib.Rename(static_cast<int64_t>(10 + 3 * i), renames[i]);
    lib.SetFavourite(13, true);
    lib.SetFavourite(19, true);
    auto ids = [&](Query q) {
        std::vector<int64_t> out;
        for (const ItemRow& r : lib.List(q)) out.push_back(r.id);
        EXPECT_EQ(lib.Count(q), out.size());
        return out;
    };
    const Query cases[] = {{}, {.text = "bras"}, {.type = SoundType::Timbre}, {.favouritesOnly = true}};
    for (const Query& base : cases) {
        for (bool descending : {false, true}) {
            Query memory = base, database = base;
            memory.descending = database.descending = descending;
            database.sourceFile = "factory.syx";  // every item: asked of the database
            const std::vector<int64_t> fromMemory = ids(memory);
            EXPECT_FALSE(fromMemory.empty());
            EXPECT_EQ(fromMemory, ids(database)) << base.text << " " << descending;
        }
    }
}

// Files that cannot be imported are listed with their reason; the others go in.
TEST_F(SoundLibraryTest, DamagedFilesAreSkippedWithTheirReasonAndTheRestImported) {
    const MemoryImage factory = testfiles::FactoryMemory();
    Bytes good = SyxBytes(factory, 0x10);
    Bytes badChecksum = good;
    badChecksum[good.size() - 2] ^= 0x01;
    MemoryImage master;
    master.put({0, 0, 0}, Bytes(16, 1));
    MemoryImage halfPatch;
    halfPatch.put(MemoryRange(MemoryKind::Patch, 3).address, Bytes(80, 2));
    const struct {
        const char* name;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"a-empty.syx", {}, "empty"},
        {"b-text.syx", {'n', 'o', 't', ' ', 's', 'y', 's', 'e', 'x'}, "not part of a System Exclusive message"},
        {"c-checksum.syx", badChecksum, "checksum"},
        {"d-cut.syx", Bytes(good.begin(), good.begin() + 100), ""},
        {"e-master-only.syx", SyxBytes(master, 0x10), "no patch, timbre or rhythm setup memory"},
        {"f-half-patch.syx", SyxBytes(halfPatch, 0x10), "only parts of memories"},
        {"g-cut.mid", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1}, ""},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) paths.push_back(Write("banks/" + std::string(c.name), c.bytes));
    paths.push_back((dir / "missing.syx").string());
    paths.push_back(Write("banks/z-good.syx", good));

    SoundLibrary lib(Db());
    const ImportReport r = lib.Import(paths);
    EXPECT_EQ(r.files, 1u);
    EXPECT_EQ(r.newItems, 197u);
    EXPECT_EQ(r.partial, 1u);
    ASSERT_EQ(r.skipped.size(), std::size(cases) + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(r.skipped[i].path, paths[i]);
        EXPECT_NE(r.skipped[i].reason.find(cases[i].reason), std::string::npos) << cases[i].name << ": " << r.skipped[i].reason;
        EXPECT_FALSE(r.skipped[i].reason.empty());
    }
    EXPECT_NE(r.skipped.back().reason.find("no such file"), std::string::npos) << r.skipped.back().reason;
    EXPECT_EQ(Scalar(lib, "SELECT count(*) FROM file"), 1);
}

// A library written by a newer version is refused and left byte for byte as it
// was; a file that is not a library, or is damaged, is reported as damaged and
// can be moved aside (nothing deleted) for a new one.
TEST_F(SoundLibraryTest, NewerLibraryRefusedUntouchedAndDamagedOneMovedAside) {
    {
        SoundLibrary lib(Db());
        lib.Import({Write("a.syx", SyxBytes(testfiles::FactoryMemory(), 0x10))});
        lib.Db().exec("PRAGMA user_version = 7");
        lib.Db().exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    const Bytes before = FileBytes(Db());
    try {
        SoundLibrary newer(Db());
        FAIL() << "a newer library was opened";
    } catch (const LibraryError& e) {
        EXPECT_EQ(e.kind(), LibraryError::Newer);
        EXPECT_NE(std::string(e.what()).find("newer version of Quorvane (library version 7"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FileBytes(Db()), before);

    Bytes corrupt = before;
    corrupt[63] = kLibrarySchemaVersion;  // user_version (bytes 60..63) back to this program's
    for (size_t i = 4096; i < corrupt.size(); i += 7) corrupt[i] = static_cast<uint8_t>(i * 31);
    const struct {
        const char* what;
        Bytes bytes;
    } damaged[] = {
        {"text", Bytes(5000, 'x')},
        {"header cut", Bytes(before.begin(), before.begin() + 50)},
        {"pages overwritten", corrupt},
    };
    for (const auto& c : damaged) {
        SCOPED_TRACE(c.what);
        fs::remove(Db() + "-wal");
        fs::remove(Db() + "-shm");
        Write("library.sqlite", c.bytes);
        bool reported = false;
        try {
            SoundLibrary lib(Db());
            lib.List({});  // damage past the schema shows when the pages are read
            lib.Import({(dir / "a.syx").string()});
        } catch (const LibraryError& e) {
            reported = e.kind() == LibraryError::Damaged;
            EXPECT_NE(std::string(e.what()).find(Db() + " is not a sound library or it is damaged"), std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(reported);
        std::string movedTo, error;
        ASSERT_TRUE(MoveLibraryAside(Db(), movedTo, error)) << error;
        EXPECT_EQ(FileBytes(movedTo), c.bytes);
        EXPECT_FALSE(fs::exists(Db()));
        SoundLibrary fresh(Db());
        EXPECT_EQ(fresh.ItemCount(), 0u);
        fs::remove(movedTo);
    }
}

// The search text is built from the item's name, its tags and every file it
// came from; the list from memory and the list from the database (another
// sort, a tag or a file filter) find the same items, before and after changes.
TEST_F(SoundLibraryTest, ATextMatchesNameTagsAndEverySourceFileInMemoryAndInTheDatabase) {
    SoundLibrary lib(Db());
    const Bytes factory = SyxBytes(testfiles::FactoryMemory(), 0x10);
    lib.Import({Write("banks/factory.syx", factory)});
    const int64_t strings = IdOf(lib, SoundType::Patch, "Strings 2");
    const int64_t timbre = IdOf(lib, SoundType::Timbre, "Strings 2");
    lib.Import({Write("banks/Second-Copy.SYX", factory)});  // the same sounds: a second source each
    lib.Rename(strings, "Velvet Bows");
    lib.AddTag(strings, "Mellow");
    auto ids = [&](Query q) {
        std::vector<int64_t> out;
        for (const ItemRow& r : lib.List(q)) out.push_back(r.id);
        std::sort(out.begin(), out.end());
        EXPECT_EQ(lib.Count(q), out.size()) << q.text;
        return out;
    };
    const struct {
        const char* text;
        size_t count;
    } cases[] = {{"velvet BOWS", 1}, {"strings 2", 1 /* the timbre */}, {"MELLOW", 1}, {"second-copy.syx", 197},
                 {"factory.syx", 197}, {"no such text", 0}};
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.text) + " round " + std::to_string(round));
            const std::vector<int64_t> memory = ids({.text = c.text});
            EXPECT_EQ(memory.size(), c.count);
            EXPECT_EQ(ids({.text = c.text, .sort = SortColumn::Date}), memory);
            EXPECT_EQ(ids({.text = c.text, .sourceFile = "factory.syx"}), memory);
        }
        // Another connection moves the name and the tag to the timbre: both
        // ways of asking see it at once; then it puts them back.
        SoundLibrary other(Db());
        other.RemoveTag(strings, "Mellow");
        other.Rename(strings, "");
        other.AddTag(timbre, "mellow");
        other.Rename(timbre, "Velvet Bows");
        for (const char* text : {"mellow", "velvet"}) {
            EXPECT_EQ(ids({.text = text}), std::vector<int64_t>{timbre});
            EXPECT_EQ(ids({.text = text, .sort = SortColumn::Tags}), std::vector<int64_t>{timbre});
        }
        other.RemoveTag(timbre, "mellow");
        other.Rename(timbre, "");
        other.Rename(strings, "Velvet Bows");
        other.AddTag(strings, "Mellow");
    }
    EXPECT_EQ(ids({.text = "mellow", .tag = "Mellow"}), std::vector<int64_t>{strings});
}

// Filters and sorting as the window and `library list` use them.
TEST_F(SoundLibraryTest, QueriesFilterByTextTypeFavouriteTagAndFileAndSortByEveryColumn) {
    SoundLibrary lib(Db());
    lib.Import({Write("banks/factory.syx", SyxBytes(testfiles::FactoryMemory(), 0x10)),
                Write("banks/juno-pads.syx", SyxBytes(testfiles::MutatedBank(1), 0x10))});
    ASSERT_EQ(lib.ItemCount(), 2u * 197u);
    const int64_t strings = IdOf(lib, SoundType::Patch, "Strings 2");
    const int64_t drums = IdOf(lib, SoundType::Rhythm, "Drum Set 1");
    lib.AddTag(strings, "Lush");
    lib.AddTag(drums, "lush");
    lib.AddTag(drums, "kit");
    lib.SetFavourite(drums, true);

    auto names = [&](const Query& q) {
        std::vector<std::string> out;
        for (const ItemRow& r : lib.List(q)) out.push_back(r.name);
        if (q.limit < 0) {
            EXPECT_EQ(lib.Count(q), out.size());
        }
        return out;
    };
    const struct {
        const char* what;
        Query q;
        size_t count;
    } cases[] = {
        {"name part, any case", {.text = "STRINGS 2"}, 2},  // the patch and the timbre
        {"name part and type", {.text = "strings 2", .type = SoundType::Timbre}, 1},
        {"a tag's text", {.text = "lus"}, 2},
        {"a file's name", {.text = "JUNO-PA"}, 197},
        {"favourites", {.favouritesOnly = true}, 1},
        {"a tag, exactly", {.tag = "lush"}, 1},
        {"a source file by name", {.sourceFile = "factory.syx"}, 197},
        {"a source file by path", {.sourceFile = (dir / "banks" / "juno-pads.syx").string()}, 197},
        {"type", {.type = SoundType::Rhythm}, 8},
        {"nothing", {.text = "no such sound"}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(names(c.q).size(), c.count) << c.what;

    // A text alone is matched in memory in name order; the database, asked
    // with another sort, finds the same items; pages are slices of the whole.
    auto ids = [&](const Query& q) {
        std::vector<int64_t> out;
        for (const ItemRow& r : lib.List(q)) out.push_back(r.id);
        return out;
    };
    for (const char* text : {"str", "PAD", "s 1", "lush", "juno"}) {
        for (bool descending : {false, true}) {
            SCOPED_TRACE(text);
            Query byName{.text = text, .descending = descending};
            std::vector<int64_t> all = ids(byName), byType = ids({.text = text, .sort = SortColumn::Type});
            ASSERT_FALSE(all.empty());
            byName.offset = 3;
            byName.limit = 5;
            EXPECT_EQ(ids(byName), std::vector<int64_t>(all.begin() + std::min<size_t>(3, all.size()),
                                                         all.begin() + std::min<size_t>(8, all.size())));
            std::sort(all.begin(), all.end());
            std::sort(byType.begin(), byType.end());
            EXPECT_EQ(all, byType);
        }
    }
    // A change by another connection (the CLI beside the window) is seen at once.
    EXPECT_EQ(lib.Count({.text = "warmth"}), 0u);
    SoundLibrary(Db()).AddTag(strings, "Warmth");
    EXPECT_EQ(ids({.text = "warmth"}), std::vector<int64_t>{strings});

    EXPECT_EQ(names({.type = SoundType::Rhythm, .sourceFile = "factory.syx", .limit = 2}),
              (std::vector<std::string>{"Drum Set 1", "Drum Set 2"}));
    Query q{.type = SoundType::Rhythm};
    for (SortColumn c : {SortColumn::Type, SortColumn::Name, SortColumn::Favourite, SortColumn::Tags, SortColumn::Sources,
                         SortColumn::Date}) {
        q.sort = c;
        q.descending = true;
        const auto rows = lib.List(q);
        ASSERT_EQ(rows.size(), 8u);
        for (size_t i = 1; i < rows.size(); ++i) {
            const ItemRow &x = rows[i - 1], &y = rows[i];
            switch (c) {
                case SortColumn::Name: EXPECT_GE(FoldCase(x.name), FoldCase(y.name)); break;
                case SortColumn::Favourite: EXPECT_GE(x.favourite, y.favourite); break;
                case SortColumn::Tags: EXPECT_GE(x.tags, y.tags); break;
                case SortColumn::Sources: EXPECT_GE(x.sources, y.sources); break;
                case SortColumn::Date: EXPECT_GE(x.added, y.added); break;
                case SortColumn::Type: EXPECT_GE(int(x.type), int(y.type)); break;
            }
        }
        if (c == SortColumn::Favourite || c == SortColumn::Tags) {
            EXPECT_EQ(rows.front().id, drums);
        }
    }
    EXPECT_EQ(lib.Details(drums)->tags, (std::vector<std::string>{"kit", "lush"}));
    EXPECT_EQ(lib.List({.tag = "kit"}).front().tags, "kit, lush");
}

// Rename stays in the library until applied to the bytes; a copy kept on
// purpose is an item of its own; banks hold their type, up to their size.
TEST_F(SoundLibraryTest, UserDataRenameCopiesAndBanks) {
    SoundLibrary lib(Db());
    lib.Import({Write("factory.syx", SyxBytes(testfiles::FactoryMemory(), 0x10))});
    const int64_t piano = IdOf(lib, SoundType::Patch, "Piano 1");
    const Bytes original = lib.Details(piano)->bytes;

    lib.Rename(piano, "Grand");
    EXPECT_EQ(lib.Details(piano)->row.name, "Grand");
    EXPECT_EQ(lib.Details(piano)->bytes, original);
    EXPECT_EQ(lib.Count({.text = "grand"}), 1u);
    const int64_t copy = lib.KeepCopy(piano);
    EXPECT_EQ(lib.Details(copy)->copyOf, piano);
    EXPECT_EQ(lib.Details(copy)->bytes, original);
    lib.ApplyNameToBytes(piano);
    EXPECT_EQ(lib.Details(piano)->bytes, WithName(original, "Grand"));
    EXPECT_EQ(lib.Details(piano)->nameInBytes, "Grand");
    EXPECT_EQ(lib.Details(copy)->bytes, original);  // the copy keeps its bytes
    EXPECT_EQ(lib.Duplicates().size(), 1u);         // the applied name made it "same sound, other name"

    const struct {
        const char* what;
        std::function<void()> call;
    } refused[] = {
        {"unknown id", [&] { lib.SetFavourite(99999, true); }},
        {"name without a module code", [&] { lib.Rename(piano, "Grand\xE2\x82\xAC"); }},
        {"empty tag", [&] { lib.AddTag(piano, ""); }},
        {"working-area bank", [&] { lib.MakeBank("w", SoundType::Working); }},
        {"bank of another type", [&] { lib.MakeBank("rhythms", SoundType::Rhythm), lib.AddToBank("rhythms", {piano}); }},
        {"place past the end", [&] { lib.SetBankSlot("rhythms", 5, IdOf(lib, SoundType::Rhythm, "Drum Set 1")); }},
        {"no such bank", [&] { lib.AddToBank("nope", {piano}); }},
        {"same bank name", [&] { lib.MakeBank("rhythms", SoundType::Rhythm); }},
    };
    for (const auto& c : refused) {
        try {
            c.call();
            ADD_FAILURE() << c.what << ": not refused";
        } catch (const LibraryError& e) {
            EXPECT_EQ(e.kind(), LibraryError::Input) << c.what << ": " << e.what();
        }
    }

    // A bank of favourites: 64 places, filled in order; a 65th refused whole.
    lib.MakeBank("Favourites", SoundType::Patch);
    std::vector<int64_t> patches;
    for (const ItemRow& r : lib.List({.type = SoundType::Patch, .sort = SortColumn::Date})) patches.push_back(r.id);
    ASSERT_EQ(patches.size(), 65u);  // 64 and the copy
    lib.SetBankSlot("Favourites", 3, patches[10]);
    EXPECT_EQ(lib.AddToBank("Favourites", {patches[0], patches[1], patches[2]}), (std::vector<int>{1, 2, 4}));
    EXPECT_THROW(lib.AddToBank("Favourites", patches), LibraryError);
    EXPECT_EQ(lib.Bank("Favourites")->slots.size(), 4u);
    std::vector<Placement> placed;
    const MemoryImage image = lib.ImageOfBank("Favourites", &placed);
    ASSERT_EQ(placed.size(), 4u);
    EXPECT_EQ(placed[2].itemId, patches[10]);
    EXPECT_EQ(placed[2].number, 3);
    EXPECT_EQ(Memory(image, MemoryKind::Patch, 3), lib.Details(patches[10])->bytes);
    EXPECT_EQ(SoundsIn(image).size(), 4u);
    lib.Remove(patches[10]);
    EXPECT_EQ(lib.Bank("Favourites")->slots.size(), 3u);
}

}  // namespace

// What the library learns through a module survives closing it: a reading, the
// module index by device, snapshots newest first; a library of the first
// version is brought up to date with its items kept, and a removed item takes
// its reading with it.
TEST_F(SoundLibraryTest, ReadingsModuleIndexAndSnapshotsAreKeptAndAnOldLibraryGainsThem) {
    int64_t id = 0;
    {
        SoundLibrary lib(Db());
        lib.Import({Write("a.syx", SyxBytes(testfiles::FactoryMemory(), 0x10))});
        id = IdOf(lib, SoundType::Patch, lib.Details(1)->nameInBytes);
        // As a library of the first version would be.
        lib.Db().exec("DROP TABLE reading; DROP TABLE module_patch; DROP TABLE snapshot; PRAGMA user_version = 1");
    }
    SoundLibrary lib(Db());
    EXPECT_EQ(Scalar(lib, "PRAGMA user_version"), kLibrarySchemaVersion);
    EXPECT_GT(lib.ItemCount(), 190u);

    Reading r;
    r.itemId = id;
    r.timbres = {1, 2, 3, 128, 5, 1};
    r.rhythmSetup = 4;
    r.working.put(Address{0x10, 0x04, 0x00}, Bytes(41, 7));
    SaveReading(lib, r);
    MemoryImage snap;
    snap.put(MemoryRange(MemoryKind::Patch, 12).address, Bytes(MemoryRange(MemoryKind::Patch, 12).size, 3));
    const int64_t first = SaveSnapshot(lib, "store A into patch 12", 16, snap);
    const int64_t second = SaveSnapshot(lib, "store B into patch 13", 16, MemoryImage{});
    MarkSnapshotPutBack(lib, first);
    ModulePatch p3{3, "Three", 42, {1, 17, 17, 4, 5, 6}, 2, ""}, p9{9, "Nine", 43, {17, 2, 3, 4, 5, 6}, 0, ""};
    SaveModulePatches(lib, 16, {p3, p9});
    SaveModulePatches(lib, 5, {p3});
    ForgetModulePatches(lib, 5);

    SoundLibrary again(Db());
    const auto back = LoadReading(again, id);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->timbres, r.timbres);
    EXPECT_EQ(back->rhythmSetup, 4);
    EXPECT_EQ(back->working.dataSets().size(), 1u);
    EXPECT_FALSE(back->readAt.empty());
    EXPECT_FALSE(LoadReading(again, id + 1));
    EXPECT_THROW(SaveReading(again, Reading{999999}), LibraryError);

    const ModuleIndex index = LoadModuleIndex(again, 16);
    ASSERT_EQ(index.patches.size(), 2u);
    EXPECT_EQ(index.UsingTimbre(17), (std::vector<int>{3, 9}));
    EXPECT_EQ(index.UsingTimbre(2), (std::vector<int>{9}));
    EXPECT_EQ(index.UsingRhythmSetup(2), (std::vector<int>{3}));
    EXPECT_TRUE(index.UsingRhythmSetup(0).empty());
    EXPECT_EQ(index.Patch(9)->name, "Nine");
    EXPECT_TRUE(LoadModuleIndex(again, 5).patches.empty());

    const auto snaps = Snapshots(again);
    ASSERT_EQ(snaps.size(), 2u);
    EXPECT_EQ(snaps[0].id, second);
    EXPECT_EQ(snaps[1].operation, "store A into patch 12");
    EXPECT_FALSE(snaps[1].putBack.empty());
    EXPECT_TRUE(snaps[0].putBack.empty());
    EXPECT_EQ(Memory(snaps[1].image, MemoryKind::Patch, 12), Bytes(MemoryRange(MemoryKind::Patch, 12).size, 3));

    again.Remove(id);
    EXPECT_FALSE(LoadReading(again, id));
}
