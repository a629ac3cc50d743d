// The emulated module: answers, writes, program change, factory content, the
// wire model and fault injection.
#include <gtest/gtest.h>

#include <numeric>

#include "device/ParamTable.h"
#include "emulator/FactoryContent.h"
#include "emulator/MemoryLayout.h"
#include "emulator/U220Emulator.h"

using namespace quorvane;
using namespace quorvane::emulator;

namespace {

constexpr uint8_t kDev = 0x10;

Bytes Rq(Address a, int size, uint8_t dev = kDev) { return BuildRQ1(dev, a, size); }

// Data of every answer message joined, after checking each is a good DT1 from us.
Bytes Joined(const std::vector<Outgoing>& out, Address first) {
    Bytes all;
    for (const Outgoing& o : out) {
        ParsedMessage p = ParseMessage(o.message);
        EXPECT_TRUE(p.valid) << p.error;
        EXPECT_EQ(p.deviceId, kDev);
        EXPECT_EQ(p.command, sysex::kDT1);
        EXPECT_EQ(p.address, first.plus(static_cast<int>(all.size()))) << "answers must be contiguous";
        all.insert(all.end(), p.data.begin(), p.data.end());
    }
    return all;
}

Bytes RecordAt(const U220Emulator& e, Address base, int bytes) {
    Bytes r(bytes);
    for (int i = 0; i < bytes; ++i) r[i] = NibblePair(e.peek(base.plus(2 * i)), e.peek(base.plus(2 * i + 1)));
    return r;
}

Bytes Slice(const Bytes& b, int from, int n) { return Bytes(b.begin() + from, b.begin() + from + n); }

}  // namespace

TEST(Emulator, EveryRequestOfTheEditorIsAnsweredWithTheMemoryBytes) {
    U220Emulator e;
    std::vector<std::pair<Address, int>> requests = {
        {{0x00, 0x00, 0x00}, 16}, {{0x10, 0x04, 0x00}, 41}, {{0x10, 0x04, 0x60}, 7},
        {{0x11, 0x00, 0x00}, 26}, {{0x11, 0x23, 0x00}, 20}, {{0x11, 0x62, 0x00}, 20},
        {PatchMemoryAddress(1), 24}, {PatchMemoryAddress(64), 24}, {TimbreMemoryAddress(128), 24},
        {RhythmMemoryAddress(4), 24}};
    for (int i = 0; i < 6; ++i) {
        requests.push_back({{0x10, 0x05, static_cast<uint8_t>(16 * i)}, 13});
        requests.push_back({{0x10, static_cast<uint8_t>(0x10 + i), 0x00}, 50});
    }
    for (auto [a, size] : requests) {
        SCOPED_TRACE(a.toString());
        auto out = e.receive(Rq(a, size));
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(Joined(out, a), e.read(a, size));
    }
    EXPECT_EQ(e.stats().requests, requests.size());
}

TEST(Emulator, MasterSetupHoldsTheFixedNibblesAnd440Hz) {
    U220Emulator e;
    Bytes m = e.read({0, 0, 0}, 16);
    EXPECT_EQ(m[0] + 16 * m[1], 126);  // 440.0 Hz
    EXPECT_EQ(m[3] & 0x0C, 0x0C);
    EXPECT_EQ(Slice(m, 4, 4), (Bytes{0, 14, 0, 11}));
    EXPECT_EQ(m[10], 0);
    EXPECT_EQ(m[11], 3);
    EXPECT_EQ(e.rxChannel(), 0);
}

TEST(Emulator, MemoryNamesAreTheFactoryNames) {
    U220Emulator e;
    EXPECT_EQ(DecodeName(e.read(PatchMemoryAddress(1), 24).data()), "Piano 1     ");
    EXPECT_EQ(DecodeName(e.read(PatchMemoryAddress(6), 24).data()), "Fantasia    ");
    EXPECT_EQ(DecodeName(e.read(RhythmMemoryAddress(1), 24).data()), "Drum Set 1  ");
    for (int n = 1; n <= 128; ++n) EXPECT_EQ(e.read(TimbreMemoryAddress(n), 24), EncodeName(FactoryTimbreName(n)));
}

TEST(Emulator, RecordsFitTheirMemoryAndRoundTrip) {
    for (Record r : {Record::Patch, Record::Timbre, Record::Rhythm})
        EXPECT_LE(PackedBits(r), (RecordBytes(r) - 12) * 8);
    for (int n = 1; n <= 64; ++n) EXPECT_EQ(UnpackRecord(Record::Patch, PackRecord(Record::Patch, FactoryPatchImage(n))), FactoryPatchImage(n));
    for (int n = 1; n <= 128; ++n) EXPECT_EQ(UnpackRecord(Record::Timbre, PackRecord(Record::Timbre, FactoryTimbreImage(n))), FactoryTimbreImage(n));
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(UnpackRecord(Record::Rhythm, PackRecord(Record::Rhythm, FactoryRhythmImage(n))), FactoryRhythmImage(n));
}

// The working area as the model reads it: patch common .. timbre of part 6,
// then rhythm setup common .. instrument 63.
Bytes WorkingArea(const U220Emulator& e) {
    Bytes w = e.read({0x10, 0x04, 0x00}, (0x15 - 0x04) * 128 + 50);
    const Bytes r = e.read({0x11, 0x00, 0x00}, (35 + 63) * 128 + 20);
    w.insert(w.end(), r.begin(), r.end());
    return w;
}

// A record as a data set into memory: each record byte as a nibble pair.
Bytes RecordDataSet(Address base, const Bytes& record) {
    Bytes nibbles;
    for (uint8_t b : record) {
        nibbles.push_back(b & 0x0F);
        nibbles.push_back(b >> 4);
    }
    return BuildDT1(kDev, base, nibbles);
}

// Another packing changes the memory bytes and nothing a program change or a
// timbre number makes of them: factory content plays the same, a record written
// in the module's packing loads the same working area, and a module moved to
// another packing keeps every sound and comes back byte for byte.
TEST(Emulator, EveryPackingKeepsTheSoundAndOnlyTheMemoryBytesDiffer) {
    // A patch of our own: patch 6 with other timbres and rhythm setup.
    Bytes own = FactoryPatchImage(6);
    for (int part = 0; part < 6; ++part) {
        const int at = kPatchImagePart1 + 13 * part + Info(Param::PatchPartTimbreNumber).offset;
        own[at] = static_cast<uint8_t>((own[at] + 37 * (part + 1)) % 128);
    }
    own[kPatchImageRhythm + Info(Param::PatchRhythmRhythmSetup).offset] = 2;

    for (uint32_t seed : {1u, 7u, 99991u}) {
        SCOPED_TRACE(seed);
        const RecordPacking packing(seed);
        U220Emulator plain;
        U220Emulator e(kDev, seed);
        EXPECT_EQ(e.packingSeed(), seed);
        for (int n = 1; n <= 64; ++n) {
            SCOPED_TRACE(n);
            const Bytes mine = RecordAt(e, PatchMemoryAddress(n), kPatchRecordBytes);
            const Bytes theirs = RecordAt(plain, PatchMemoryAddress(n), kPatchRecordBytes);
            EXPECT_EQ(Slice(mine, 0, 12), Slice(theirs, 0, 12)) << "names stay where the model reads them";
            EXPECT_NE(Slice(mine, 12, kPatchRecordBytes - 12), Slice(theirs, 12, kPatchRecordBytes - 12));
            EXPECT_EQ(packing.unpack(Record::Patch, mine), FactoryPatchImage(n));
            e.receive({0xC0, static_cast<uint8_t>(n - 1)});
            plain.receive({0xC0, static_cast<uint8_t>(n - 1)});
            ASSERT_EQ(WorkingArea(e), WorkingArea(plain));
        }
        for (int n = 1; n <= 128; ++n)
            EXPECT_EQ(packing.unpack(Record::Timbre, RecordAt(e, TimbreMemoryAddress(n), kTimbreRecordBytes)),
                      FactoryTimbreImage(n));

        // Written in each module's own packing, the same patch loads the same sound.
        e.receive(RecordDataSet(PatchMemoryAddress(12), packing.pack(Record::Patch, own)));
        plain.receive(RecordDataSet(PatchMemoryAddress(12), PackRecord(Record::Patch, own)));
        EXPECT_NE(RecordAt(e, PatchMemoryAddress(12), kPatchRecordBytes),
                  RecordAt(plain, PatchMemoryAddress(12), kPatchRecordBytes));
        e.receive({0xC0, 11});
        plain.receive({0xC0, 11});
        EXPECT_EQ(e.read(BlockAddress(Block::PatchPart, 3), 13), Slice(own, kPatchImagePart1 + 26, 13));
        EXPECT_EQ(WorkingArea(e), WorkingArea(plain));

        // Moved to the default packing and back: the same sounds, then the same bytes.
        const Bytes before = e.read(PatchMemoryAddress(1), AreaOf(MemoryKind::Patch).size());
        e.setPackingSeed(0);
        EXPECT_EQ(e.read(PatchMemoryAddress(1), AreaOf(MemoryKind::Patch).size()),
                  plain.read(PatchMemoryAddress(1), AreaOf(MemoryKind::Patch).size()));
        e.setPackingSeed(seed);
        EXPECT_EQ(e.read(PatchMemoryAddress(1), AreaOf(MemoryKind::Patch).size()), before);
        e.receive({0xC0, 11});
        EXPECT_EQ(WorkingArea(e), WorkingArea(plain));
    }
}

// Converting between packings keeps every bit, also those no parameter uses.
TEST(Emulator, PackingConversionKeepsEveryBit) {
    const RecordPacking a(0), b(5), c(1234567);
    uint32_t x = 12345;
    for (Record r : {Record::Patch, Record::Timbre, Record::Rhythm}) {
        Bytes rec(RecordBytes(r));
        for (uint8_t& v : rec) v = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        EXPECT_EQ(b.convert(r, a.convert(r, rec, b), a), rec);
        EXPECT_EQ(c.convert(r, b.convert(r, rec, c), b), rec);
        EXPECT_NE(b.convert(r, rec, c), rec);
        EXPECT_THROW(b.unpack(r, Bytes(RecordBytes(r) - 1)), std::invalid_argument);
    }
}

// Every patch, loaded by program change, must give values the editors can show.
TEST(Emulator, FactoryPatchesLoadValuesInsideTheEditorLists) {
    U220Emulator e;
    for (int n = 1; n <= 64; ++n) {
        SCOPED_TRACE(n);
        e.receive({0xC0, static_cast<uint8_t>(n - 1)});
        ASSERT_EQ(e.currentPatch(), n);
        for (Param p : AllParams()) {
            const ParamInfo& i = Info(p);
            for (int idx = IndexMin(i.block); idx <= IndexMax(i.block); ++idx) {
                int v = e.peek(ParamAddress(p, idx)) - i.bias;
                EXPECT_TRUE(v >= 0 && v < i.listSize) << i.name << "(" << idx << ") = " << v;
            }
        }
        int voices = e.peek(ParamAddress(Param::PatchRhythmVoiceReserve));
        for (int part = 1; part <= 6; ++part) {
            voices += e.peek(ParamAddress(Param::PatchPartVoiceReserve, part));
            EXPECT_LE(e.peek(ParamAddress(Param::PatchPartKeyRangeLow, part)),
                      e.peek(ParamAddress(Param::PatchPartKeyRangeHi, part)));
        }
        EXPECT_LE(voices, 30);
    }
}

TEST(Emulator, ProgramChangeLoadsPatchTimbresAndRhythmSetup) {
    U220Emulator e;
    EXPECT_EQ(e.currentPatch(), 0);
    e.receive({0xC0, 5});
    EXPECT_EQ(e.currentPatch(), 6);
    EXPECT_EQ(e.stats().programChanges, 1u);

    const Bytes img = UnpackRecord(Record::Patch, RecordAt(e, PatchMemoryAddress(6), kPatchRecordBytes));
    EXPECT_EQ(e.read({0x10, 0x04, 0x00}, 41), Slice(img, 0, 41));
    EXPECT_EQ(e.read({0x10, 0x04, 0x60}, 7), Slice(img, kPatchImageRhythm, 7));
    for (int part = 1; part <= 6; ++part) {
        SCOPED_TRACE(part);
        EXPECT_EQ(e.read(BlockAddress(Block::PatchPart, part), 13), Slice(img, kPatchImagePart1 + 13 * (part - 1), 13));
        const int timbre = e.peek(ParamAddress(Param::PatchPartTimbreNumber, part)) + 1;
        EXPECT_EQ(e.read(BlockAddress(Block::Timbre, part), 50),
                  UnpackRecord(Record::Timbre, RecordAt(e, TimbreMemoryAddress(timbre), kTimbreRecordBytes)));
    }
    const int setup = e.peek(ParamAddress(Param::PatchRhythmRhythmSetup)) + 1;
    const Bytes rhythm = UnpackRecord(Record::Rhythm, RecordAt(e, RhythmMemoryAddress(setup), kRhythmRecordBytes));
    EXPECT_EQ(e.read({0x11, 0x00, 0x00}, 26), Slice(rhythm, 0, 26));
    EXPECT_EQ(e.read({0x11, 0x62, 0x00}, 20), Slice(rhythm, kRhythmImageInst0 + 20 * 63, 20));
}

TEST(Emulator, ProgramChangeOnlyOnTheRxControlChannel) {
    U220Emulator e;
    e.receive({0xC1, 5});  // channel 2, module listens on 1
    e.receive({0xC0, 70}); // no patch 71
    e.receive({0x90, 60}); // not a program change
    EXPECT_EQ(e.currentPatch(), 0);
    EXPECT_EQ(e.stats().ignored, 3u);

    // Rx channel 2 via a master setup data set: nibbles 08/09 = 1, 0.
    e.receive(BuildDT1(kDev, {0, 0, 8}, {1, 0}));
    e.receive({0xC1, 2});
    EXPECT_EQ(e.currentPatch(), 3);

    // "Off" (16): nibble 08 = 0, 09 = 1.
    e.receive(BuildDT1(kDev, {0, 0, 8}, {0, 1}));
    EXPECT_EQ(e.rxChannel(), 16);
    for (uint8_t ch = 0; ch < 16; ++ch) e.receive({static_cast<uint8_t>(0xC0 | ch), 9});
    EXPECT_EQ(e.currentPatch(), 3);
}

TEST(Emulator, DataSetsAreAppliedWhole) {
    U220Emulator e;
    // PatchPartLevel = 100 for part 2.
    e.receive({0xF0, 0x41, 0x10, 0x2B, 0x12, 0x10, 0x05, 0x17, 0x64, 0x70, 0xF7});
    EXPECT_EQ(e.peek({0x10, 0x05, 0x17}), 0x64);
    e.receive(BuildDT1(kDev, {0x10, 0x04, 0x00}, EncodeName("AB")));
    EXPECT_EQ(DecodeName(e.read({0x10, 0x04, 0x00}, 24).data()), "AB          ");
    EXPECT_EQ(e.stats().dataSets, 2u);

    const Bytes before = e.read({0x10, 0x04, 0x00}, 41);
    Bytes bad = BuildDT1(kDev, {0x10, 0x04, 0x18}, {3});
    bad[bad.size() - 2] ^= 1;                                               // checksum
    e.receive(bad);
    e.receive(BuildDT1(0x11, {0x10, 0x04, 0x18}, {3}));                      // other device
    e.receive(BuildDT1(kDev, {0x00, 0x00, 0x0E}, {1, 2, 3}));                // runs past the master setup
    e.receive(BuildDT1(kDev, {0x20, 0x00, 0x00}, {1}));                      // no such area
    e.receive({0xF0, 0x41, 0x10, 0x2C, 0x12, 0x10, 0x04, 0x18, 0x03, 0x49, 0xF7});  // other model
    EXPECT_EQ(e.read({0x10, 0x04, 0x00}, 41), before);
    EXPECT_EQ(e.read({0, 0, 0x0E}, 2), (Bytes{3, 4}));
    EXPECT_EQ(e.stats().ignored, 5u);
    EXPECT_EQ(e.log().size(), 7u);  // every message taken in, ignored ones too
}

TEST(Emulator, WritingATimbreNumberLoadsThatTimbre) {
    U220Emulator e;
    e.receive(BuildDT1(kDev, ParamAddress(Param::PatchPartTimbreNumber, 2), {42}));
    EXPECT_EQ(e.read(BlockAddress(Block::Timbre, 2), 50), FactoryTimbreImage(43));
    // Choosing another rhythm setup loads it too.
    e.receive(BuildDT1(kDev, ParamAddress(Param::PatchRhythmRhythmSetup), {3}));
    EXPECT_EQ(e.read({0x11, 0x00, 0x00}, 26), Slice(FactoryRhythmImage(4), 0, 26));
}

TEST(Emulator, LongAnswersAreSplitAt128DataBytes) {
    U220Emulator e;
    const Address a = TimbreMemoryAddress(3);
    auto out = e.receive(Rq(a, 300));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].message.size(), 128u + 10);
    EXPECT_EQ(out[2].message.size(), 44u + 10);
    EXPECT_EQ(Joined(out, a), e.read(a, 300));
    // Requests that leave the area, ask for nothing or have a bad checksum get no answer.
    EXPECT_TRUE(e.receive(Rq({0x00, 0x00, 0x08}, 16)).empty());
    EXPECT_TRUE(e.receive(Rq({0x10, 0x04, 0x00}, 0)).empty());
    Bytes bad = Rq({0, 0, 0}, 16);
    bad[bad.size() - 2] ^= 0x40;
    EXPECT_TRUE(e.receive(bad).empty());
    EXPECT_EQ(e.stats().ignored, 3u);
}

TEST(Emulator, WireModelTimesAnswers) {
    U220Emulator e;
    e.setWireModel({true, 5.0, 0.0});
    // 13-byte request from t=100 ends at 104.16; answer starts 5 ms later and
    // its 26 bytes take 8.32 ms.
    auto out = e.receive(Rq({0, 0, 0}, 16), 100.0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(out[0].atMs, 100 + 13 * 0.32 + 5 + 26 * 0.32, 1e-9);
    // A second request at once: its answer waits for the first to finish, and
    // the two answers of a 200-byte stretch follow back to back.
    auto more = e.receive(Rq(TimbreMemoryAddress(1), 200), 104.16);
    ASSERT_EQ(more.size(), 2u);
    EXPECT_NEAR(more[0].atMs, out[0].atMs + 138 * 0.32, 1e-9);
    EXPECT_NEAR(more[1].atMs, more[0].atMs + 82 * 0.32, 1e-9);

    U220Emulator off;
    EXPECT_EQ(off.receive(Rq({0, 0, 0}, 16), 7.0)[0].atMs, 7.0);
}

TEST(Emulator, MessagesTooCloseToThePreviousOneAreLost) {
    U220Emulator e;
    e.setWireModel({true, 0.0, 10.0});
    const Bytes set = BuildDT1(kDev, {0x10, 0x04, 0x21}, {9});  // 11 bytes, 3.52 ms
    e.receive(Rq({0, 0, 0}, 16), 0.0);                          // ends at 4.16
    EXPECT_TRUE(e.receive(Rq({0, 0, 0}, 16), 14.0).empty());     // 9.84 ms after: lost
    e.receive(set, 14.1);                                        // 9.94 ms after: lost
    EXPECT_EQ(e.stats().lostToGap, 2u);
    EXPECT_NE(e.peek({0x10, 0x04, 0x21}), 9);
    EXPECT_EQ(e.log().size(), 1u);
    e.receive(set, 14.2);  // lost messages do not hold the module up
    EXPECT_EQ(e.peek({0x10, 0x04, 0x21}), 9);
}

namespace {
std::vector<Outgoing> FaultyRun(uint32_t seed, EmulatorStats* stats = nullptr, uint64_t* late = nullptr) {
    U220Emulator e;
    e.setFaults({0.1, 0.1, 50.0, 0.1, 0.1, seed});
    std::vector<Outgoing> all;
    for (int i = 0; i < 200; ++i) {
        auto out = e.receive(Rq({0x10, static_cast<uint8_t>(0x10 + i % 6), 0x00}, 50), i * 10.0);
        for (const Outgoing& o : out)
            if (late && o.atMs != i * 10.0) ++*late;
        all.insert(all.end(), out.begin(), out.end());
    }
    if (stats) *stats = e.stats();
    return all;
}
}  // namespace

TEST(Emulator, FaultsRepeatWithTheSameSeedAndAreDetectable) {
    EmulatorStats s;
    uint64_t late = 0;
    auto a = FaultyRun(7, &s, &late);
    auto b = FaultyRun(7);
    auto c = FaultyRun(8);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].message, b[i].message);
        EXPECT_EQ(a[i].atMs, b[i].atMs);
    }
    bool differs = a.size() != c.size();
    for (size_t i = 0; !differs && i < a.size(); ++i) differs = a[i].message != c[i].message;
    EXPECT_TRUE(differs);

    EXPECT_GT(s.dropped, 0u);
    EXPECT_GT(s.damaged, 0u);
    EXPECT_GT(s.delayed, 0u);
    EXPECT_GT(s.foreign, 0u);
    EXPECT_EQ(a.size(), 200 - s.dropped + s.foreign);
    // Every message that is not a good answer from our device must be recognisable.
    uint64_t bad = 0;
    for (const Outgoing& o : a) {
        ParsedMessage p = ParseMessage(o.message);
        if (!p.valid || p.deviceId != kDev) ++bad;
    }
    EXPECT_EQ(bad, s.damaged + s.foreign);
    EXPECT_EQ(late, s.delayed);
}

TEST(Emulator, SilentModuleTakesDataButNeverAnswers) {
    U220Emulator e;
    e.setSilent(true);
    EXPECT_TRUE(e.receive(Rq({0, 0, 0}, 16)).empty());
    e.receive(BuildDT1(kDev, {0x10, 0x04, 0x21}, {9}));
    EXPECT_EQ(e.peek({0x10, 0x04, 0x21}), 9);
    EXPECT_EQ(e.stats().requests, 1u);
}
