// Comparing two library sounds parameter by parameter from what the module
// read while it played them: the rows name exactly the parameters whose values
// differ, in the editors' words, checked against the values of the factory
// patches and timbres the module was given (not against the comparison's own
// decoding). The virtual modules use another record packing than the default,
// so nothing here can pass by decoding a record.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <map>
#include <set>

#include "device/ParamValueText.h"
#include "device/clsU220.h"
#include "emulator/FactoryContent.h"
#include "emulator/MemoryLayout.h"
#include "emulator/VirtualU220.h"
#include "library/Audition.h"
#include "library/Compare.h"
#include "library/SoundLibrary.h"
#include "library/SysexFile.h"

using namespace quorvane;
using namespace quorvane::library;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kPacking = 11;

using Key = std::pair<std::string, std::string>;  // section, parameter

// What a module playing factory patch `n` holds, value by value, from the
// factory images: section and caption -> list text. Names as they stand.
std::map<Key, std::string> FactoryValues(int n) {
    std::map<Key, std::string> out;
    const Bytes patch = emulator::FactoryPatchImage(n);
    auto add = [&](const std::string& section, Block b, const Bytes& image, int at) {
        for (Param p : AllParams()) {
            const ParamInfo& i = Info(p);
            if (i.block != b) continue;
            const auto text = ParamValueText(p, image[static_cast<size_t>(at + i.offset)] - i.bias);
            out[{section, ParamCaption(p)}] = text.value_or("?");
        }
    };
    out[{"Common", "Name"}] = emulator::FactoryPatchName(n);
    add("Common", Block::PatchCommon, patch, 0);
    add("Rhythm part", Block::PatchRhythm, patch, emulator::kPatchImageRhythm);
    for (int part = 1; part <= kParts; ++part) {
        const int at = emulator::kPatchImagePart1 + 13 * (part - 1);
        add("Part " + std::to_string(part), Block::PatchPart, patch, at);
        const int timbre = patch[static_cast<size_t>(at + Info(Param::PatchPartTimbreNumber).offset)] + 1;
        const std::string section = "Timbre of part " + std::to_string(part);
        out[{section, "Name"}] = emulator::FactoryTimbreName(timbre);
        add(section, Block::Timbre, emulator::FactoryTimbreImage(timbre), 0);
    }
    return out;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The working area of a module switched to patch `n`, as a reading holds it.
Reading ReadingOfFactoryPatch(int n) {
    emulator::U220Emulator e(0x10, kPacking);
    e.receive({0xC0, static_cast<uint8_t>(n - 1)});
    Reading r;
    for (const Range& range : ReadingRanges(false)) r.working.put(range.address, e.read(range.address, range.size));
    return r;
}

std::set<Key> Keys(const std::vector<CompareRow>& rows) {
    std::set<Key> out;
    for (const CompareRow& r : rows) out.insert({r.section, r.parameter});
    return out;
}

// Every parameter has the editors' words, and no two of one block share them:
// a comparison's rows are told apart by section and caption alone.
TEST(Compare, EveryParameterHasACaptionOfItsOwnWithinItsBlock) {
    std::map<Block, std::set<std::string>> seen;
    for (Param p : AllParams()) {
        const std::string caption = ParamCaption(p);
        EXPECT_FALSE(caption.empty()) << Info(p).name;
        EXPECT_NE(caption, "Name") << Info(p).name;  // the name rows' own
        EXPECT_TRUE(seen[Info(p).block].insert(caption).second) << Info(p).name << ": " << caption;
    }
}

// Pairs of factory patches, each read from a module's working area: every
// parameter is a row with the factory values' texts; with only the differences
// the rows are exactly the parameters whose factory values differ.
TEST(Compare, TwoPatchesShowExactlyTheParametersWhoseValuesDiffer) {
    const std::pair<int, int> pairs[] = {{1, 2}, {5, 40}, {17, 64}, {9, 9}};
    for (auto [pa, pb] : pairs) {
        SCOPED_TRACE(std::to_string(pa) + " / " + std::to_string(pb));
        const auto va = FactoryValues(pa), vb = FactoryValues(pb);
        std::set<Key> differing;
        for (const auto& [key, text] : va)
            if (vb.at(key) != text) differing.insert(key);
        if (pa != pb) {
            EXPECT_GT(differing.size(), 10u);
        }

        const Reading a = ReadingOfFactoryPatch(pa), b = ReadingOfFactoryPatch(pb);
        const auto all = CompareReadings(a, b, false);
        ASSERT_EQ(all.size(), va.size());
        for (const CompareRow& row : all) {
            SCOPED_TRACE(row.section + " / " + row.parameter);
            const Key key{row.section, row.parameter};
            ASSERT_TRUE(va.count(key));
            EXPECT_EQ(Trimmed(row.a), Trimmed(va.at(key)));
            EXPECT_EQ(Trimmed(row.b), Trimmed(vb.at(key)));
            EXPECT_EQ(row.differs, differing.count(key) == 1);
        }
        const auto only = CompareReadings(a, b, true);
        EXPECT_EQ(Keys(only), differing);
        // The order: common, rhythm part, then each part with its timbre.
        if (!all.empty()) {
            EXPECT_EQ(all.front().section, "Common");
            EXPECT_EQ(all.front().parameter, "Name");
            EXPECT_EQ(all.back().section, "Timbre of part 6");
        }
    }
}

// Rows of blocks only one side holds, a value outside its list, a damaged
// name and two timbres played on different parts.
TEST(Compare, OneSidedBlocksBadValuesAndTimbresOnOtherParts) {
    const Reading patch = ReadingOfFactoryPatch(3);
    Reading withSetup = patch;
    Bytes setup(BlockSize(Block::RhythmCommon), 0);
    setup[24] = 14;  // bender range lower 14: "0"
    setup[25] = 13;  // upper 13: outside "0".."12"
    withSetup.working.put(BlockAddress(Block::RhythmCommon), setup);
    Bytes common;
    ASSERT_TRUE(withSetup.working.get({BlockAddress(Block::PatchCommon), BlockSize(Block::PatchCommon)}, common));
    common[0] = 0x1F;  // not a nibble: the name shows no character for it
    const uint8_t chorus = common[Info(Param::PatchCommonChorusType).offset];
    common[Info(Param::PatchCommonChorusType).offset] = 9;
    withSetup.working.put(BlockAddress(Block::PatchCommon), common);

    const auto rows = CompareReadings(patch, withSetup, true);
    std::map<Key, CompareRow> by;
    for (const CompareRow& r : rows) by[{r.section, r.parameter}] = r;
    auto at = [&](const char* section, const char* parameter) { return by[Key{section, parameter}]; };
    EXPECT_EQ(Keys(rows), (std::set<Key>{{"Common", "Name"},
                                         {"Common", "Chorus Type"},
                                         {"Rhythm setup", "Name"},
                                         {"Rhythm setup", "Bender Range Lower"},
                                         {"Rhythm setup", "Bender Range Upper"}}));
    EXPECT_EQ(at("Common", "Chorus Type").a, ParamValueText(Param::PatchCommonChorusType, chorus).value());
    EXPECT_EQ(at("Common", "Chorus Type").b, "out of range (byte 09h)");
    EXPECT_NE(at("Common", "Name").b.find("\xEF\xBF\xBD"), std::string::npos);  // U+FFFD
    EXPECT_EQ(at("Rhythm setup", "Bender Range Lower").a, "");
    EXPECT_EQ(at("Rhythm setup", "Bender Range Lower").b, "0");
    EXPECT_EQ(at("Rhythm setup", "Bender Range Upper").b, "out of range (byte 0Dh)");

    // Timbre 20 played on part 2 against timbre 77 on part 5.
    Reading ta, tb;
    ta.working.put(BlockAddress(Block::Timbre, 2), emulator::FactoryTimbreImage(20));
    tb.working.put(BlockAddress(Block::Timbre, 5), emulator::FactoryTimbreImage(77));
    EXPECT_EQ(TimbrePart(ta), 2);
    EXPECT_EQ(TimbrePart(tb), 5);
    EXPECT_EQ(TimbrePart(Reading{}), 0);
    const auto timbres = CompareReadings(ta, tb, false);
    const auto expectA = FactoryValues(1);  // captions of a timbre block
    size_t timbreRows = 0;
    for (const auto& [key, text] : expectA) timbreRows += key.first == "Timbre of part 1";
    ASSERT_EQ(timbres.size(), timbreRows);
    const Bytes a = emulator::FactoryTimbreImage(20), b = emulator::FactoryTimbreImage(77);
    for (const CompareRow& r : timbres) {
        EXPECT_EQ(r.section, "Timbre");
        if (r.parameter == "Name") {
            EXPECT_EQ(Trimmed(r.a), Trimmed(emulator::FactoryTimbreName(20)));
            EXPECT_EQ(Trimmed(r.b), Trimmed(emulator::FactoryTimbreName(77)));
            continue;
        }
        for (Param p : AllParams()) {
            if (Info(p).block == Block::Timbre && r.parameter == ParamCaption(p)) {
                EXPECT_EQ(r.differs, a[Info(p).offset] != b[Info(p).offset]) << r.parameter;
            }
        }
    }
}

// Through the library: two bank patches auditioned for real on a virtual
// module (the readings kept in the library), a working-area sound that needs
// no reading, and the messages for an item without a reading and for items
// of different kinds.
TEST(Compare, LibraryItemsFromRealAuditions) {
    const fs::path dir = fs::temp_directory_path() / ("quorvane-compare-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // Closed before its folder goes (Windows keeps an open file from being removed).
    auto owned = std::make_unique<SoundLibrary>((dir / "library.sqlite").string());
    SoundLibrary& lib = *owned;

    // A bank in the second packing, with the working area of patch 7 as a sound of its own.
    emulator::U220Emulator bank(0x10, kPacking);
    MemoryImage image;
    for (const MemoryArea& area : MemoryAreas())
        image.put(MemoryAddress(area.kind, 1), bank.read(MemoryAddress(area.kind, 1), area.size()));
    lib.ImportBytes((dir / "bank.syx").string(), SyxBytes(image, 0x10));
    bank.receive({0xC0, 6});
    MemoryImage working;
    for (const Range& r : BackupAreas())
        if (r.address.a1 >= 0x10) working.put(r.address, bank.read(r.address, r.size));
    lib.ImportBytes((dir / "working.syx").string(), SyxBytes(working, 0x10));

    std::map<std::pair<SoundType, int>, int64_t> ids;  // by type and number in its file
    for (const ItemRow& row : lib.List(Query{})) ids[{row.type, lib.Details(row.id)->sources.at(0).number}] = row.id;
    const int64_t p2 = ids.at({SoundType::Patch, 2}), p7 = ids.at({SoundType::Patch, 7});
    const int64_t p30 = ids.at({SoundType::Patch, 30}), t5 = ids.at({SoundType::Timbre, 5});
    const int64_t w = ids.at({SoundType::Working, 1});

    // The player: another virtual module of the same packing, at its own pace.
    SimpleHost host;
    auto vm = std::make_shared<midi::VirtualU220>();
    vm->withEmulator([](emulator::U220Emulator& e) { e.setPackingSeed(kPacking); });
    auto post = [&host](std::function<void()> f) { host.post(std::move(f)); };
    clsU220 model(host, vm->makeOutput(), vm->makeInput(post));
    ASSERT_TRUE(model.MIDIOutput1->open(-1));
    ASSERT_TRUE(model.MIDIInput1->open(0));
    model.RequestTimeout = 3000ms;
    for (int64_t id : {p2, p7}) {
        const AuditionReport played = Audition(model, host, nullptr).Play(AuditionSourceOf(lib, id), 1);
        ASSERT_TRUE(played.ok()) << played.text;
        Reading r;
        r.itemId = id;
        r.timbres = played.timbres;
        r.rhythmSetup = played.rhythmSetup;
        ASSERT_EQ(Transfer(model, host).Read(ReadingRanges(true), r.working), Outcome::Done);
        SaveReading(lib, r);
    }

    std::set<Key> differing;
    const auto v2 = FactoryValues(2), v7 = FactoryValues(7);
    for (const auto& [key, text] : v2)
        if (v7.at(key) != text) differing.insert(key);

    const Comparison c = CompareItems(lib, p2, p7, true);
    ASSERT_TRUE(c.ok) << c.message;
    EXPECT_EQ(c.nameA, Trimmed(emulator::FactoryPatchName(2)));
    // The rhythm setups (both factory setups of the bank) add their differences.
    std::set<Key> patchRows;
    for (const CompareRow& r : c.rows)
        if (r.section != "Rhythm setup") patchRows.insert({r.section, r.parameter});
    EXPECT_EQ(patchRows, differing);
    // The working-area sound of patch 7 needs no reading and plays as patch 7 did.
    const Comparison same = CompareItems(lib, p7, w, true);
    ASSERT_TRUE(same.ok) << same.message;
    EXPECT_TRUE(same.rows.empty()) << same.rows.front().section << " / " << same.rows.front().parameter;
    EXPECT_GT(CompareItems(lib, p7, w, false).rows.size(), 200u);

    const struct {
        int64_t a, b;
        std::string message;
    } refused[] = {
        {p2, p30, NoReadingMessage(lib.Details(p30)->row.name)},
        {p30, p2, NoReadingMessage(lib.Details(p30)->row.name)},
        {p2, t5, c.nameA + " is a patch and " + lib.Details(t5)->row.name + " a timbre: compare two patches, two timbres or two rhythm setups."},
    };
    for (const auto& r : refused) {
        const Comparison no = CompareItems(lib, r.a, r.b, false);
        EXPECT_FALSE(no.ok);
        EXPECT_TRUE(no.rows.empty());
        EXPECT_EQ(no.message, r.message);
    }
    EXPECT_EQ(NoReadingMessage("Brass 1"),
              "Audition Brass 1 once so the module can tell its parameters; the library keeps what it reads");
    EXPECT_THROW(CompareItems(lib, p2, 999999, false), LibraryError);
    owned.reset();
    fs::remove_all(dir);
}

}  // namespace
