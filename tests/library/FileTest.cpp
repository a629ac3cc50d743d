// Backup files: .syx and Standard MIDI Files in any chunking and device ID,
// every kind of damaged file refused with its position, the summary in words,
// the read plan, and the comparison.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "library/MemoryImage.h"
#include "library/SysexFile.h"
#include "MidiFileWriter.h"

using namespace quorvane;
using namespace quorvane::library;

namespace {

// Every area filled with a pattern that differs per address.
MemoryImage FullImage(int seed = 0) {
    MemoryImage image;
    for (const Range& r : BackupAreas()) {
        Bytes b;
        for (int i = 0; i < r.size; ++i) b.push_back(static_cast<uint8_t>((i * 7 + r.address.a2 + seed) & 0x7F));
        image.put(r.address, b);
    }
    return image;
}

// The image as data sets cut at sizes drawn from `sizes` (in turn), for `id`.
std::vector<Bytes> Chunked(const MemoryImage& image, const std::vector<int>& sizes, uint8_t id) {
    std::vector<Bytes> out;
    size_t k = 0;
    for (const Range& run : image.runs()) {
        for (int done = 0; done < run.size;) {
            const int n = std::min(sizes[k++ % sizes.size()], run.size - done);
            Bytes d;
            image.get({run.address.plus(done), n}, d);
            out.push_back(BuildDT1(id, run.address.plus(done), d));
            done += n;
        }
    }
    return out;
}

Bytes Concat(const std::vector<Bytes>& messages) {
    Bytes out;
    for (const Bytes& m : messages) out.insert(out.end(), m.begin(), m.end());
    return out;
}

}  // namespace

TEST(BackupFile, AnyChunkingDeviceIdAndFormatReadsTheSameImage) {
    const MemoryImage image = FullImage();
    struct Case {
        const char* name;
        std::vector<int> sizes;
        uint8_t id;
        bool midi;
        int tracks;
    } cases[] = {
        {"as the module sends them", {128}, 0x10, false, 1},
        {"one byte each", {1}, 0x10, false, 1},
        {"odd sizes, another device ID", {3, 77, 128, 5, 64}, 0x1F, false, 1},
        {"device ID 0", {100}, 0x00, false, 1},
        {"Standard MIDI File", {128}, 0x10, true, 1},
        {"Standard MIDI File, three tracks, odd sizes", {9, 128, 33}, 0x05, true, 3},
    };
    for (const Case& c : cases) {
        const std::vector<Bytes> messages = Chunked(image, c.sizes, c.id);
        const Bytes file = c.midi ? test::MidiFile(messages, c.tracks) : Concat(messages);
        const BackupFile f = ReadBackup(file);
        ASSERT_TRUE(f.ok) << c.name << ": " << f.error;
        EXPECT_EQ(f.midiFile, c.midi) << c.name;
        EXPECT_TRUE(f.image == image) << c.name;
        EXPECT_EQ(f.dataSets, messages.size()) << c.name;
        EXPECT_EQ(f.deviceIds, std::vector<uint8_t>{c.id}) << c.name;
        EXPECT_EQ(f.Summary(), "master setup, 64 patches, 128 timbres, 4 rhythm setups, working area") << c.name;
    }
    // Written back for another device: the same data sets, as the module sends them.
    const Bytes syx = SyxBytes(image, 0x03);
    const BackupFile again = ReadBackup(syx);
    ASSERT_TRUE(again.ok);
    EXPECT_TRUE(again.image == image);
    EXPECT_EQ(again.deviceIds, std::vector<uint8_t>{0x03});
    EXPECT_EQ(syx, Concat(Chunked(image, {128}, 0x03)));
}

TEST(BackupFile, DamagedOrForeignFilesAreRefusedNamingTheMessage) {
    MemoryImage small;
    small.put({0x03, 0, 0}, Bytes(160, 0x01));
    const std::vector<Bytes> good = Chunked(small, {128}, 0x10);  // two messages: 128 + 32
    auto with = [&](size_t index, auto change) {
        std::vector<Bytes> m = good;
        change(m[index]);
        return Concat(m);
    };
    const Bytes roland_other_model{0xF0, 0x41, 0x10, 0x16, 0x12, 0x00, 0x00, 0x00, 0x01, 0x7F, 0xF7};
    const Bytes other_maker{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x01, 0x00, 0xF7};
    struct Case {
        const char* name;
        Bytes file;
        const char* error;  // "" = accepted
    } cases[] = {
        {"bad checksum", with(1, [](Bytes& m) { m[m.size() - 2] ^= 1; }), "message 2 (byte 138) is damaged: checksum error"},
        {"data byte changed", with(0, [](Bytes& m) { m[20] = (m[20] + 1) & 0x7F; }), "message 1 (byte 0) is damaged: checksum"},
        {"byte above 7Fh", with(1, [](Bytes& m) { m[12] = 0x90; }), "message 2 (byte 138) is damaged: byte 12 is 90h, above 7Fh"},
        {"end byte missing, next message starts", with(0, [](Bytes& m) { m.pop_back(); }), "message 1 (byte 0) is cut short"},
        {"file ends inside a message", Bytes(good[0].begin(), good[0].begin() + 50), "message 1 (byte 0) is cut short: the file ends"},
        {"stray byte between messages", [&] { Bytes b = Concat(good); b.insert(b.begin() + 138, 0x42); return b; }(),
         "byte 138 (42h) is not part of a System Exclusive message"},
        {"address outside the areas", Concat({BuildDT1(0x10, {0x04, 0, 0}, {1, 2})}), "message 1 (byte 0) writes 2 bytes at 04 00 00, outside"},
        {"runs past the end of an area", Concat({BuildDT1(0x10, {0x00, 0, 10}, Bytes(7, 0))}), "writes 7 bytes at 00 00 0A, outside"},
        {"in a gap of the working area", Concat({BuildDT1(0x10, {0x10, 0x04, 0x30}, {1})}), "outside the module's memory areas"},
        {"another model only", roland_other_model, "no U-220 data set (its 1 message is for another device or model)"},
        {"empty", {}, "the file is empty"},
        {"requests only", BuildRQ1(0x10, {0, 0, 0}, 16), "the file holds only requests for U-220 data (1 request), no data to restore"},
        {"damaged Standard MIDI File", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}, "the Standard MIDI File is cut short: it ends at byte 10, inside its header"},
        {"other devices' messages beside ours are ignored", [&] { Bytes b = Concat(good); b.insert(b.end(), other_maker.begin(), other_maker.end()); b.insert(b.begin(), roland_other_model.begin(), roland_other_model.end()); return b; }(), ""},
    };
    for (const Case& c : cases) {
        const BackupFile f = ReadBackup(c.file);
        if (*c.error == 0) {
            ASSERT_TRUE(f.ok) << c.name << ": " << f.error;
            EXPECT_EQ(f.Summary(), "patch 1 (2 other messages ignored)") << c.name;
            continue;
        }
        EXPECT_FALSE(f.ok) << c.name;
        EXPECT_NE(f.error.find(c.error), std::string::npos) << c.name << ": " << f.error;
    }
    // In a Standard MIDI File the position is the track and event.
    std::vector<Bytes> bad = good;
    bad[1][bad[1].size() - 2] ^= 1;
    const BackupFile f = ReadBackup(test::MidiFile(bad, 2));
    EXPECT_FALSE(f.ok);
    EXPECT_NE(f.error.find("message 2 (track 2, event 1) is damaged: checksum error"), std::string::npos) << f.error;
}

TEST(BackupFile, SummaryNamesWholeAndPartialMemories) {
    struct Case {
        std::vector<Range> ranges;
        const char* summary;
        const char* names;
    } cases[] = {
        {{{PatchMemoryAddress(1), 160}}, "1 patch", "patch 1"},
        {{{PatchMemoryAddress(2), 320}, {TimbreMemoryAddress(128), 64}}, "2 patches, 1 timbre", "patches 2, 3; timbre 128"},
        {{{PatchMemoryAddress(5), 10}, {RhythmMemoryAddress(4), 1568}}, "1 rhythm setup, part of patch 5", "patch 5; rhythm setup 4"},
        {{{TimbreMemoryAddress(3), 100}}, "1 timbre, part of timbre 4", "timbres 3, 4"},
        {{{{0x10, 0x04, 0x00}, 41}, {{0x00, 0x00, 0x00}, 1}}, "master setup, working area", "master setup; working area"},
        {{}, "nothing", ""},
    };
    for (const Case& c : cases) {
        MemoryImage image;
        for (const Range& r : c.ranges) image.put(r.address, Bytes(r.size, 0));
        EXPECT_EQ(Describe(ContentsOf(image)), c.summary);
        EXPECT_EQ(NameMemories(ContentsOf(c.ranges)), c.names);
    }
}

TEST(BackupPlan, AscendingPiecesOfAtMost128CoverEveryAreaOnce) {
    const std::vector<Range> plan = BackupPlan();
    int total = 0;
    MemoryImage covered;
    for (size_t i = 0; i < plan.size(); ++i) {
        ASSERT_GE(plan[i].size, 1);
        ASSERT_LE(plan[i].size, 128);
        ASSERT_TRUE(InsideAreas(plan[i].address, plan[i].size)) << plan[i].address.toString();
        if (i) {
            ASSERT_LT(MemoryImage::Key(plan[i - 1].address) + plan[i - 1].size - 1, MemoryImage::Key(plan[i].address));
        }
        total += plan[i].size;
        covered.put(plan[i].address, Bytes(plan[i].size, 0));
    }
    // 16 + 128*64 + 64*160 + 4*1568, then the working area blocks.
    EXPECT_EQ(total, 16 + 8192 + 10240 + 6272 + 41 + 7 + 6 * 13 + 6 * 50 + 26 + 64 * 20);
    EXPECT_EQ(covered.size(), static_cast<size_t>(total));
    // As the issue lists them.
    EXPECT_EQ(plan.front(), (Range{{0, 0, 0}, 16}));
    EXPECT_EQ(plan[1], (Range{{0x02, 0, 0}, 128}));
    EXPECT_EQ(plan.back(), (Range{{0x11, 0x62, 0x00}, 20}));
}

TEST(BackupPlan, DifferencesNameTheRangesThatDoNotMatch) {
    const MemoryImage want = FullImage();
    MemoryImage have = FullImage();
    const std::vector<Range> plan = BackupPlan();
    EXPECT_TRUE(Differences(want, have, plan).empty());
    have.put(PatchMemoryAddress(2).plus(5), {0x7F});  // in the piece 03 01 00 (128 bytes from 128)
    MemoryImage partial;                               // lacks everything but the master setup
    partial.put({0, 0, 0}, Bytes(16, 0));
    const auto d = Differences(want, have, plan);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0], (Range{{0x03, 0x01, 0x00}, 128}));
    EXPECT_EQ(Differences(want, partial, plan).size(), plan.size());
}
