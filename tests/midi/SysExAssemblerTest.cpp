// Reassembly of chunked System Exclusive input: whole frames out, anything cut
// short or malformed dropped and counted.
#include <gtest/gtest.h>

#include <vector>

#include "midi/MidiPorts.h"
#include "midi/SysExAssembler.h"

using namespace quorvane::midi;

namespace {

std::vector<Bytes> feedAll(SysExAssembler& a, const std::vector<Bytes>& chunks) {
    std::vector<Bytes> out;
    for (const auto& c : chunks) a.feed(c.data(), c.size(), [&](const Bytes& m) { out.push_back(m); });
    return out;
}

TEST(SysExAssembler, JoinsChunksAndPassesOtherMessages) {
    SysExAssembler a;
    auto out = feedAll(a, {{0xF0, 0x41, 0x10}, {0x2B, 0x12}, {0xF8}, {0x00, 0xF7}, {0xC0, 0x05}, {0xF0, 0x7E, 0xF7}});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], (Bytes{0xF8}));  // real time inside a System Exclusive passes through
    EXPECT_EQ(out[1], (Bytes{0xF0, 0x41, 0x10, 0x2B, 0x12, 0x00, 0xF7}));
    EXPECT_EQ(out[2], (Bytes{0xC0, 0x05}));
    EXPECT_EQ(out[3], (Bytes{0xF0, 0x7E, 0xF7}));
    EXPECT_EQ(a.incomplete(), 0u);
}

TEST(SysExAssembler, DropsAndCountsMessagesThatAreCutShortOrMalformed) {
    SysExAssembler a(16);
    auto out = feedAll(a, {
                              {0xF0, 0x41, 0x10},        // cut short by the program change below
                              {0xC0, 0x02},              //
                              {0x12, 0x34, 0xF7},        // continuation of nothing
                              {0xF0, 0x01, 0xF0, 0xF7},  // a new start inside: first one dropped
                              Bytes(40, 0x11),           // orphan data
                          });
    EXPECT_EQ(out, (std::vector<Bytes>{{0xC0, 0x02}, {0xF0, 0xF7}}));
    EXPECT_EQ(a.incomplete(), 4u);

    Bytes longOne(1, 0xF0);
    longOne.insert(longOne.end(), 30, 0x22);
    longOne.push_back(0xF7);
    out = feedAll(a, {longOne, {0xF0, 0x01, 0xF7}});
    EXPECT_EQ(out, (std::vector<Bytes>{{0xF0, 0x01, 0xF7}})) << "over the size limit: dropped, next one intact";
    EXPECT_EQ(a.incomplete(), 5u);
}

}  // namespace
