// The model's raw memory access under backup and restore: requests of at most
// 128 addresses (the size in three 7-bit bytes), a lost answer costing only the
// pieces not yet in, refusals that send nothing, data sets cut at 128, and the
// names and blocks a write touched forgotten.
#include <gtest/gtest.h>

#include "device/ModelFixture.h"

using namespace quorvane;

namespace {

class RawRangeTest : public test::ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        model->RequestTimeout = std::chrono::milliseconds(100);
        for (int i = 0; i < 300; ++i) Poke(Address::linear(0x03, i), {static_cast<uint8_t>(i & 0x7F)});
        const auto answer = wire->responder;
        // Loses the answers whose request is listed in `lose` (each once).
        wire->responder = [this, answer](const Bytes& m) {
            const ParsedMessage p = ParseMessage(m);
            for (auto it = lose.begin(); it != lose.end(); ++it) {
                if (p.valid && p.address == *it) {
                    lose.erase(it);
                    return std::vector<Bytes>{};
                }
            }
            return answer(m);
        };
    }
    std::vector<Address> lose;
};

}  // namespace

TEST_F(RawRangeTest, ReadsPiecesAndAsksAgainOnlyForWhatIsMissing) {
    struct Case {
        const char* name;
        std::vector<int> losePieces;  // pieces whose first answer is lost
        int quiet;
        bool userRetries;             // what OnNotResponding answers
        bool ok;
        std::vector<int> requested;   // offsets of every request sent, in order
        int asked;                    // times OnNotResponding was asked
    } cases[] = {
        {"every answer arrives", {}, 0, false, true, {0, 128, 256}, 0},
        {"the second answer lost: only it is asked again", {1}, 0, false, true, {0, 128, 256, 128}, 0},
        {"the first lost, the others in: only it is asked again", {0}, 0, false, true, {0, 128, 256, 0}, 0},
        {"all lost, nothing gained: a quiet retry", {0, 1, 2}, 1, false, true, {0, 128, 256, 0, 128, 256}, 0},
        {"all lost, no quiet retry: the user says Retry", {0, 1, 2}, 0, true, true, {0, 128, 256, 0, 128, 256}, 1},
        {"all lost, the user says Cancel", {0, 1, 2}, 0, false, false, {0, 128, 256}, 1},
    };
    const std::vector<std::pair<Address, int>> pieces{{Address::linear(0x03, 0), 128},
                                                      {Address::linear(0x03, 128), 128},
                                                      {Address::linear(0x03, 256), 5}};
    for (const Case& c : cases) {
        lose.clear();
        for (int p : c.losePieces) lose.push_back(pieces[p].first);
        int asked = 0;
        model->OnNotResponding = [&](RequestKind what) {
            EXPECT_EQ(what, RequestKind::RawRange);
            ++asked;
            return c.userRetries;
        };
        TakeSent();
        Bytes out;
        EXPECT_EQ(model->ReadRanges(pieces, out, c.quiet), c.ok) << c.name;
        std::vector<int> requested;
        for (const Bytes& m : TakeSent()) {
            const ParsedMessage p = ParseMessage(m);
            ASSERT_TRUE(p.valid && p.command == sysex::kRQ1) << c.name;
            requested.push_back(p.address.offset());
            // 128 addresses are 00 01 00, as a 7-bit size must be.
            EXPECT_EQ(Bytes(m.begin() + 8, m.begin() + 11),
                      (p.address.offset() == 256 ? Bytes{0, 0, 5} : Bytes{0, 1, 0})) << c.name;
        }
        EXPECT_EQ(requested, c.requested) << c.name;
        EXPECT_EQ(asked, c.asked) << c.name;
        if (c.ok) {
            ASSERT_EQ(out.size(), 261u) << c.name;
            for (int i = 0; i < 261; ++i) ASSERT_EQ(out[i], i & 0x7F) << c.name << " at " << i;
        } else {
            EXPECT_TRUE(out.empty()) << c.name;
        }
        EXPECT_FALSE(model->RequestOpen()) << c.name;
    }
    // Pieces of no or too many addresses: refused, nothing sent.
    TakeSent();
    Bytes out;
    EXPECT_FALSE(model->ReadRanges({{Address::linear(0x03, 0), 129}}, out));
    EXPECT_FALSE(model->ReadRanges({{Address::linear(0x03, 0), 0}}, out));
    EXPECT_FALSE(model->ReadRange(Address::linear(0x03, 0), 0, out));
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(RawRangeTest, WritesAreCutAt128AndForgetWhatTheyTouched) {
    // Names of patches 1..3 and timbre 1, the master setup and the patch data read.
    for (int n = 1; n <= 3; ++n) Poke(PatchMemoryAddress(n), EncodeName("P" + std::to_string(n)));
    model->MemoryPatchName(1);
    model->MemoryPatchName(2);
    model->MemoryPatchName(3);
    model->MemoryTimbreName(1);
    model->getMaster(MasterParam::MasterSetupLCD);
    model->get(Param::PatchCommonChorusType);
    ASSERT_TRUE(model->PatchDataLoaded() && model->MasterSetupLoaded());
    TakeSent();

    struct Case {
        Address address;
        int size;
        std::vector<int> chunks;
        std::vector<int> patchNamesKept;
        bool timbreNameKept, masterKept, patchDataKept;
    } cases[] = {
        // patch 2 (160..319) only: names 1 and 3 stay
        {PatchMemoryAddress(2), 160, {128, 32}, {1, 3}, true, true, true},
        {TimbreMemoryAddress(1), 64, {64}, {1, 3}, false, true, true},
        {{0x10, 0x04, 0x00}, 41, {41}, {1, 3}, false, true, false},
        {{0x00, 0x00, 0x00}, 16, {16}, {1, 3}, false, false, false},
        {PatchMemoryAddress(1), 300, {128, 128, 44}, {3}, false, false, false},  // 0..299: patches 1 and 2
    };
    for (const Case& c : cases) {
        Bytes data(c.size);
        for (int i = 0; i < c.size; ++i) data[i] = static_cast<uint8_t>((i * 3) & 0x7F);
        model->WriteRange(c.address, data);
        const auto sent = TakeSent();
        ASSERT_EQ(sent.size(), c.chunks.size()) << c.address.toString();
        int at = 0;
        for (size_t k = 0; k < sent.size(); ++k) {
            const ParsedMessage p = ParseMessage(sent[k]);
            ASSERT_TRUE(p.valid && p.command == sysex::kDT1);
            EXPECT_EQ(p.address, c.address.plus(at));
            EXPECT_EQ(p.data, Bytes(data.begin() + at, data.begin() + at + c.chunks[k]));
            at += c.chunks[k];
        }
        for (int n = 1; n <= 3; ++n) {
            const bool kept = std::find(c.patchNamesKept.begin(), c.patchNamesKept.end(), n) != c.patchNamesKept.end();
            EXPECT_EQ(model->MemoryPatchNameLoaded(n), kept) << c.address.toString() << " patch " << n;
        }
        EXPECT_EQ(model->MemoryTimbreNameLoaded(1), c.timbreNameKept) << c.address.toString();
        EXPECT_EQ(model->MasterSetupLoaded(), c.masterKept) << c.address.toString();
        EXPECT_EQ(model->PatchDataLoaded(), c.patchDataKept) << c.address.toString();
    }
}
