// Backup files: .syx and Standard MIDI Files in any chunking and device ID,
// every kind of damaged file refused with its position, the summary in words,
// the read plan, and the comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "library/MemoryImage.h"
#include "library/MidiFile.h"
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
        {"F0 of message 2 damaged", with(1, [](Bytes& m) { m[0] = 0x70; }), "byte 138 (70h) is not part of a System Exclusive message"},
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

namespace {

Bytes Body(const Bytes& m, size_t from, size_t to = std::string::npos) {
    return Bytes(m.begin() + from, to == std::string::npos ? m.end() : m.begin() + to);
}

}  // namespace

TEST(MidiFile, EverySystemExclusiveFormReadsAndDamageIsRefusedByPosition) {
    using namespace test;
    // Two data sets of 14 bytes: F0 and 13 more (an F0 event of them is 16 bytes).
    const Bytes A = BuildDT1(0x10, PatchMemoryAddress(1), {1, 2, 3, 4});
    const Bytes B = BuildDT1(0x10, PatchMemoryAddress(2), {5, 6, 7, 8});
    ASSERT_EQ(A.size(), 14u);
    const Bytes text{0x00, 0xFF, 0x01, 0x03, 'a', 'b', 'c'};  // a meta event
    const Bytes split = SysexEvent(0, 0xF0, Body(A, 1, 6)) + text + SysexEvent(5, 0xF7, Body(A, 6));
    const Bytes running = Bytes{0x00, 0x90, 0x3C, 0x40, 0x00, 0x3E, 0x40} + F0Event(0, A) +
                          Bytes{0x00, 0x90, 0x40, 0x40, 0x00, 0x41, 0x40, 0x00, 0xC0, 0x05, 0x00, 0x06} + F0Event(0, B);
    const Bytes tracksBA = Track(F0Event(20, B)) + Track(F0Event(10, A));
    const Bytes good = Header(0, 1) + Track(running);
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Bytes> messages;  // read, in this order
        size_t others = 0;            // other messages in escapes
        const char* error = "";       // or refused with this
    } cases[] = {
        {"F0 event with an F7 continuation, a meta event between", Header(0, 1) + Track(split), {A}},
        {"three packets", Header(0, 1) + Track(SysexEvent(0, 0xF0, Body(A, 1, 3)) + SysexEvent(1, 0xF7, Body(A, 3, 9)) + SysexEvent(1, 0xF7, Body(A, 9))), {A}},
        {"F7 escape holding a whole message", Header(0, 1) + Track(SysexEvent(0, 0xF7, A) + F0Event(3, B)), {A, B}},
        {"a message over two escapes", Header(0, 1) + Track(SysexEvent(0, 0xF7, Body(A, 0, 7)) + SysexEvent(0, 0xF7, Body(A, 7))), {A}},
        {"escape with other messages around one", Header(0, 1) + Track(SysexEvent(0, 0xF7, Bytes{0xF8} + A + Bytes{0xF2, 0x01, 0x02, 0xC3, 0x07})), {A}, 3},
        {"running status before and after System Exclusive", good, {A, B}},
        {"format 1: tracks in time order", Header(1, 2) + tracksBA, {A, B}},
        {"format 2: tracks one after another", Header(2, 2) + tracksBA, {B, A}},
        {"SMPTE division, 25 frames of 40 ticks", Header(0, 1, 0xE728) + Track(F0Event(0, A)), {A}},
        {"longer header, a chunk of another kind skipped", Chunk("MThd", {0, 0, 0, 1, 0, 0x60, 9, 9}) + Chunk("XYZW", {1, 2, 3}) + Track(F0Event(0, A)), {A}},
        {"data byte right after System Exclusive", Header(0, 1) + Track(Bytes{0x00, 0x90, 0x3C, 0x40} + F0Event(0, A) + Bytes{0x00, 0x3C, 0x00}), {}, 0,
         "track 1, event 3 (byte 42): 3Ch is a data byte where an event starts, and no running status is in effect"},
        {"file cut in half", Bytes(good.begin(), good.begin() + good.size() / 2), {}, 0,
         "the Standard MIDI File is cut short: track 1 (byte 14) says it holds 55 bytes, but the file ends 16 bytes after its header"},
        {"track length 7FFFFFFFh", Header(0, 1) + Chunk("MTrk", F0Event(0, A), 0x7FFFFFFF), {}, 0,
         "track 1 (byte 14) says it holds 2147483647 bytes, but the file ends 16 bytes after its header"},
        {"fewer tracks than announced", Header(1, 3) + Track(F0Event(0, A)), {}, 0,
         "its header announces 3 tracks, but the file ends (byte 42) after 1"},
        {"F0 of an escaped message damaged", Header(0, 1) + Track(SysexEvent(0, 0xF7, Bytes{0x70} + Body(A, 1))), {}, 0,
         "track 1, event 1 (byte 22): byte 0 of the event's data (70h) is not part of a message"},
        {"F0 status damaged", Header(0, 1) + Track(F0Event(0, B) + SysexEvent(0, 0xF4, Body(A, 1))), {}, 0,
         "track 1, event 2 (byte 38): F4h starts no event"},
        {"F0 status damaged into a data byte", Header(0, 1) + Track(SysexEvent(0, 0x70, Body(A, 1))), {}, 0,
         "track 1, event 1 (byte 22): 70h is a data byte where an event starts"},
        {"message never ended", Header(0, 1) + Track(SysexEvent(0, 0xF0, Body(A, 1, 6))), {}, 0,
         "the System Exclusive message of track 1, event 1 (byte 22) is cut short: the track ends before its end"},
        {"channel message between packets", Header(0, 1) + Track(SysexEvent(0, 0xF0, Body(A, 1, 6)) + Bytes{0x00, 0x90, 0x3C, 0x40} + SysexEvent(0, 0xF7, Body(A, 6))), {}, 0,
         "the System Exclusive message of track 1, event 1 (byte 22) is cut short: a channel message (track 1, event 2 (byte 30)) comes before its end"},
        {"new message before the end", Header(0, 1) + Track(SysexEvent(0, 0xF0, Body(A, 1, 6)) + F0Event(0, B)), {}, 0,
         "(byte 22) is cut short: a new message starts (track 1, event 2 (byte 30)) before its end"},
        {"byte above 7Fh in a packet", Header(0, 1) + Track(SysexEvent(0, 0xF0, Body(A, 1, 6)) + SysexEvent(0, 0xF7, Bytes{0x01, 0x90} + Body(A, 8))), {}, 0,
         "(byte 22) is damaged: byte 7 is 90h, above 7Fh"},
        {"delta time longer than 4 bytes", Header(0, 1) + Track(Bytes{0x80, 0x80, 0x80, 0x80, 0x00} + Body(F0Event(0, A), 1)), {}, 0,
         "track 1, event 1 (byte 22): the event's delta time is longer than 4 bytes"},
        {"event longer than its track", Header(0, 1) + Track(Bytes{0x00, 0xF0, 0x87, 0x68} + Body(A, 1)), {}, 0,
         "track 1, event 1 (byte 22): the System Exclusive event says it holds 1000 bytes, but the track ends 17 bytes later"},
        {"format 3", Header(3, 1) + Track(F0Event(0, A)), {}, 0, "has format 3 (byte 8); only formats 0, 1 and 2 exist"},
    };
    for (const Case& c : cases) {
        const MidiFileContents m = ReadMidiFile(c.file);
        const BackupFile f = ReadBackup(c.file);  // what the user meets
        if (*c.error) {
            EXPECT_FALSE(m.ok || f.ok) << c.name;
            EXPECT_NE(f.error.find(c.error), std::string::npos) << c.name << ": " << f.error;
            continue;
        }
        ASSERT_TRUE(m.ok) << c.name << ": " << m.error;
        std::vector<Bytes> got;
        for (const MidiSysex& s : m.messages) got.push_back(s.bytes);
        EXPECT_EQ(got, c.messages) << c.name;
        EXPECT_EQ(m.otherMessages, c.others) << c.name;
        EXPECT_TRUE(f.ok && f.midiFile && f.dataSets == c.messages.size()) << c.name << ": " << f.error;
    }
}

TEST(MidiFile, SavedBackupsAreFormat0FilesOfOneF0EventPerDataSetAtTheModulesPace) {
    const MemoryImage image = FullImage(3);
    const Bytes mid = MidiBytes(image, 0x11);
    // Header: MThd, 6 bytes, format 0, one track, ticks per quarter note; then one track chunk.
    ASSERT_GE(mid.size(), 26u);
    EXPECT_EQ(Bytes(mid.begin(), mid.begin() + 12), (Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1}));
    EXPECT_EQ(mid[12] & 0x80, 0);
    EXPECT_EQ(Bytes(mid.begin() + 14, mid.begin() + 18), (Bytes{'M', 'T', 'r', 'k'}));
    EXPECT_EQ(size_t((mid[18] << 24) | (mid[19] << 16) | (mid[20] << 8) | mid[21]), mid.size() - 22);
    EXPECT_EQ(Bytes(mid.end() - 4, mid.end()), test::kEndOfTrack);

    const MidiFileContents m = ReadMidiFile(mid);
    ASSERT_TRUE(m.ok) << m.error;
    const std::vector<Bytes> want = Chunked(image, {128}, 0x11);
    ASSERT_EQ(m.messages.size(), want.size());
    const double usPerTick = 500000.0 / ((mid[12] << 8) | mid[13]);
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(m.messages[i].bytes, want[i]) << i;
        EXPECT_EQ(m.messages[i].event, int(i) + 1) << i;  // one event each
        // A player at the default tempo leaves the wire time and 20 ms between them.
        if (i) {
            EXPECT_GE((m.messages[i].tick - m.messages[i - 1].tick) * usPerTick, 20000 + 320.0 * want[i - 1].size()) << i;
        }
    }
    const BackupFile back = ReadBackup(mid);
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_TRUE(back.image == image);
    EXPECT_EQ(back.deviceIds, std::vector<uint8_t>{0x11});
}

TEST(BackupFile, SummaryNamesASingleMemoryAndSaysWhenDeviceIdsWereMerged) {
    using test::operator+;
    auto named = [](Address at, int size, const std::string& name) {
        MemoryImage image;
        const Bytes n = EncodeName(name);
        Bytes b(n.begin(), n.end());
        b.resize(size, 0);
        image.put(at, b);
        return SyxBytes(image, 0x10);
    };
    const Bytes two = BuildDT1(0x10, PatchMemoryAddress(3), {1, 2}) + BuildDT1(0x11, PatchMemoryAddress(3), {3});
    struct Case {
        const char* name;
        Bytes file;
        const char* summary;  // or the refusal
    } cases[] = {
        {"one patch", named(PatchMemoryAddress(12), 160, "Strings 2"), "patch 12 \"Strings 2\""},
        {"one timbre and one rhythm setup", named(TimbreMemoryAddress(5), 64, "Piano 1") + named(RhythmMemoryAddress(2), 1568, "Kit"),
         "timbre 5 \"Piano 1\", rhythm setup 2 \"Kit\""},
        {"a name that is no text", SyxBytes([] { MemoryImage i; i.put(PatchMemoryAddress(1), Bytes(160, 1)); return i; }(), 0x10), "patch 1"},
        {"two device IDs", two, "part of patch 3; data sets for device IDs 17 and 18, merged: where they write the same addresses, the later data replaces the earlier"},
        {"requests and another device's message", BuildRQ1(0x10, {0, 0, 0}, 16) + BuildRQ1(0x10, {0, 0, 0}, 1) + Bytes{0xF0, 0x43, 0x10, 0xF7},
         "the file holds no U-220 data set (2 requests for U-220 data, 1 message for another device or model)"},
    };
    for (const Case& c : cases) {
        const BackupFile f = ReadBackup(c.file);
        EXPECT_EQ(f.ok ? f.Summary() : f.error, c.summary) << c.name;
    }
    // Merged: the later data set wins where both write.
    Bytes data;
    ASSERT_TRUE(ReadBackup(two).image.get({PatchMemoryAddress(3), 2}, data));
    EXPECT_EQ(data, (Bytes{3, 2}));
}

#ifndef _WIN32
namespace {

namespace fs = std::filesystem;

Bytes FileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void PutFile(const fs::path& p, const std::string& text, mode_t mode = 0644) {
    std::ofstream(p, std::ios::binary) << text;
    ::chmod(p.c_str(), mode);
}
mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
// Names in a folder, sorted: to see that no temporary file is left behind.
std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder per case.
struct Scratch {
    fs::path dir;
    explicit Scratch(const std::string& name)
        : dir(fs::temp_directory_path() / ("quorvane-save-" + std::to_string(::getpid()) + "-" + name)) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Scratch() { fs::remove_all(dir); }
};

}  // namespace

TEST(SafeFile, SavingReplacesOnlyARegularFileThroughItsOwnNewName) {
    MemoryImage image;
    image.put(PatchMemoryAddress(1), Bytes(160, 0));
    const Bytes syx = SyxBytes(image, 0x10);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    struct Case {
        const char* name;
        std::function<std::string(const fs::path&)> setUp;  // the path to save to
        const char* error;                                   // "" = saved
        std::function<void(const fs::path&, const std::string& name)> check;
        std::vector<std::string> listing;  // the folder afterwards
    } cases[] = {
        {"a new file", [](const fs::path& d) { return (d / "new.syx").string(); }, "",
         [&](const fs::path& d, auto& n) {
             EXPECT_EQ(FileBytes(d / "new.syx"), syx) << n;
             EXPECT_EQ(ModeOf(d / "new.syx"), 0666 & ~mask) << n;
         }, {"new.syx"}},
        {"an existing 0640 file keeps its mode", [](const fs::path& d) { PutFile(d / "old.syx", "old", 0640); return (d / "old.syx").string(); }, "",
         [&](const fs::path& d, auto& n) {
             EXPECT_EQ(FileBytes(d / "old.syx"), syx) << n;
             EXPECT_EQ(ModeOf(d / "old.syx"), 0640u) << n;
         }, {"old.syx"}},
        {"through a symbolic link: the link stays, its file is replaced",
         [](const fs::path& d) {
             fs::create_directory(d / "real");
             PutFile(d / "real" / "kept.syx", "old", 0600);
             fs::create_symlink("real/kept.syx", d / "link.syx");
             return (d / "link.syx").string();
         }, "",
         [&](const fs::path& d, auto& n) {
             EXPECT_TRUE(fs::is_symlink(d / "link.syx")) << n;
             EXPECT_EQ(fs::read_symlink(d / "link.syx"), "real/kept.syx") << n;
             EXPECT_EQ(FileBytes(d / "real" / "kept.syx"), syx) << n;
             EXPECT_EQ(ModeOf(d / "real" / "kept.syx"), 0600u) << n;
             EXPECT_EQ(Listing(d / "real"), std::vector<std::string>{"kept.syx"}) << n;  // the temporary file was beside it
         }, {"link.syx", "real"}},
        {"a dangling link: its file is made", [](const fs::path& d) { fs::create_symlink("made.syx", d / "link.syx"); return (d / "link.syx").string(); }, "",
         [&](const fs::path& d, auto& n) {
             EXPECT_TRUE(fs::is_symlink(d / "link.syx")) << n;
             EXPECT_EQ(FileBytes(d / "made.syx"), syx) << n;
         }, {"link.syx", "made.syx"}},
        {"a planted NAME.part link is not written through",
         [](const fs::path& d) {
             PutFile(d / "victim", "victim");
             fs::create_symlink("victim", d / "b.syx.part");
             return (d / "b.syx").string();
         }, "",
         [&](const fs::path& d, auto& n) {
             EXPECT_EQ(FileBytes(d / "victim"), Bytes({'v', 'i', 'c', 't', 'i', 'm'})) << n;
             EXPECT_TRUE(fs::is_symlink(d / "b.syx.part")) << n;
             EXPECT_EQ(FileBytes(d / "b.syx"), syx) << n;
         }, {"b.syx", "b.syx.part", "victim"}},
        {"a directory", [](const fs::path& d) { fs::create_directory(d / "dir.syx"); return (d / "dir.syx").string(); },
         "dir.syx is a directory, not a file", [](const fs::path& d, auto& n) { EXPECT_TRUE(fs::is_directory(d / "dir.syx")) << n; }, {"dir.syx"}},
        {"a fifo", [](const fs::path& d) { ::mkfifo((d / "fifo.syx").c_str(), 0644); return (d / "fifo.syx").string(); },
         "fifo.syx is a fifo, not a regular file", [](const fs::path& d, auto& n) { EXPECT_TRUE(fs::is_fifo(d / "fifo.syx")) << n; }, {"fifo.syx"}},
        {"a link to a device", [](const fs::path& d) { fs::create_symlink("/dev/null", d / "null.syx"); return (d / "null.syx").string(); },
         "null.syx is a device, not a regular file",
         [](const fs::path& d, auto& n) {
             EXPECT_TRUE(fs::is_symlink(d / "null.syx")) << n;
             EXPECT_TRUE(fs::is_character_file("/dev/null")) << n;
         }, {"null.syx"}},
        {"an empty name", [](const fs::path&) { return std::string(); }, "no file name given", [](auto&, auto&) {}, {}},
        {"a folder that does not exist", [](const fs::path& d) { return (d / "no" / "x.syx").string(); },
         "/no: no such file or directory", [](auto&, auto&) {}, {}},
        {"a full disk: the write fails, the old file stays",
         [](const fs::path& d) { PutFile(d / "full.syx", "old"); return (d / "full.syx").string(); },
         "cannot write ", [](const fs::path& d, auto& n) { EXPECT_EQ(FileBytes(d / "full.syx"), Bytes({'o', 'l', 'd'})) << n; }, {"full.syx"}},
    };
    for (const Case& c : cases) {
        Scratch scratch(std::to_string(&c - cases));
        const std::string path = c.setUp(scratch.dir);
        std::string error;
        bool saved = false;
        if (std::string(c.name).rfind("a full disk", 0) == 0) {
            // A file system with 100 bytes left, as far as this process can tell:
            // writes past the limit fail with EFBIG instead of raising SIGXFSZ.
            rlimit old{};
            ::getrlimit(RLIMIT_FSIZE, &old);
            rlimit small = old;
            small.rlim_cur = 100;
            auto* previous = ::signal(SIGXFSZ, SIG_IGN);
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
            saved = WriteFileAtomically(path, Bytes(5000, 0x55), error);
            ::setrlimit(RLIMIT_FSIZE, &old);
            ::signal(SIGXFSZ, previous);
            EXPECT_NE(error.find("full.syx: file too large"), std::string::npos) << error;
        } else {
            CheckSaveTarget(path, error);
            const std::string checked = error;
            error.clear();
            saved = SaveBackup(path, image, 0x10, error);
            // The check before a long operation refuses what the save refuses (save
            // errors that only writing finds aside).
            if (!saved && error.find(" is a") != std::string::npos) {
                EXPECT_EQ(checked, error) << c.name;
            }
            if (saved) {
                EXPECT_EQ(checked, "") << c.name;
            }
        }
        EXPECT_EQ(saved, *c.error == 0) << c.name << ": " << error;
        if (*c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        }
        c.check(scratch.dir, c.name);
        EXPECT_EQ(Listing(scratch.dir), c.listing) << c.name;
    }
    // By the name's extension: a Standard MIDI File for .mid and .midi, .syx bytes otherwise.
    Scratch scratch("ext");
    for (const char* name : {"a.mid", "b.MIDI", "c.syx", "d", "e.mid.syx", "mid"}) {
        std::string error;
        ASSERT_TRUE(SaveBackup((scratch.dir / name).string(), image, 0x10, error)) << error;
        const Bytes got = FileBytes(scratch.dir / name);
        EXPECT_EQ(got, IsMidiFileName(name) ? MidiBytes(image, 0x10) : syx) << name;
        EXPECT_EQ(got.size() > 4 && got[0] == 'M', std::string(name) == "a.mid" || std::string(name) == "b.MIDI") << name;
    }
}

TEST(SafeFile, ReadingSaysWhyAFileCannotBeRead) {
    Scratch scratch("read");
    const fs::path d = scratch.dir;
    PutFile(d / "file", "0123456789");
    fs::create_directory(d / "dir");
    ::mkfifo((d / "fifo").c_str(), 0644);
    PutFile(d / "locked", "x", 0);
    struct Case {
        std::string path;
        size_t most;
        const char* error;  // "" = read
    } cases[] = {
        {(d / "file").string(), 100, ""},
        {(d / "missing").string(), 100, "no such file or directory"},
        {(d / "file" / "x").string(), 100, "not a directory"},
        {(d / "dir").string(), 100, "it is a directory, not a file"},
        {(d / "fifo").string(), 100, "it is a fifo, not a regular file"},  // and does not wait for a writer
        {"/dev/zero", 100, "it is a device, not a regular file"},
        {(d / "file").string(), 5, "it is larger than 5 bytes, too large for a back-up"},
        {"", 100, "no file name given"},
        // root reads any file
        {(d / "locked").string(), 100, ::geteuid() == 0 ? "" : "permission denied"},
    };
    for (const Case& c : cases) {
        Bytes got;
        std::string error;
        const bool ok = ReadWholeFile(c.path, got, error, c.most);
        EXPECT_EQ(ok, *c.error == 0) << c.path << ": " << error;
        EXPECT_EQ(error, c.error) << c.path;
        if (!ok) {
            EXPECT_TRUE(got.empty()) << c.path;
        }
    }
    // What a window or the CLI shows for a directory given as a back-up.
    EXPECT_EQ(ReadBackupFile((d / "dir").string()).error, "it is a directory, not a file");
}
#endif
