// What a backup holds: the module's memory as runs of bytes by address, the
// areas a backup may cover, and the plans that read and write them.
// Standard C++ only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device/MemoryMap.h"
#include "device/Protocol.h"

namespace quorvane::library {

// A stretch of addresses under one top byte.
struct Range {
    Address address;
    int size = 0;
    bool operator==(const Range&) const = default;
};

// One data set as it goes to or comes from the module.
struct DataSet {
    Address address;
    Bytes data;
};

// Longest data part of one data set: MemoryMap's kMaxDataSet.
using quorvane::kMaxDataSet;

// The areas a backup covers, in ascending address order: the master setup, the
// timbre, patch and rhythm setup memories, then the blocks of the working area
// (patch, its six parts, the six part timbres, the rhythm setup).
const std::vector<Range>& BackupAreas();
// The same areas cut into requests of at most kMaxDataSet addresses.
std::vector<Range> BackupPlan();
// True when [a, a+size) lies inside one of the areas.
bool InsideAreas(Address a, int size);
// Cuts a stretch into pieces of at most `most` addresses.
std::vector<Range> Split(Range r, int most = kMaxDataSet);

// Memory contents by address. A later put over the same address wins, as on
// the module.
class MemoryImage {
public:
    void put(Address a, const Bytes& data);
    // True and the bytes when every address of the range is held.
    bool get(Range r, Bytes& out) const;
    bool holds(Address a) const { return cells_.count(Key(a)) != 0; }
    bool empty() const { return cells_.empty(); }
    size_t size() const { return cells_.size(); }
    // Runs of consecutive addresses, ascending.
    std::vector<Range> runs() const;
    // The data sets that write this image: runs cut at kMaxDataSet, ascending.
    std::vector<DataSet> dataSets() const;
    bool operator==(const MemoryImage&) const = default;

    static uint32_t Key(Address a) { return (uint32_t(a.a1) << 14) | uint32_t(a.offset()); }
    static Address FromKey(uint32_t k) { return Address::linear(static_cast<uint8_t>(k >> 14), int(k & 0x3FFF)); }

private:
    std::map<uint32_t, uint8_t> cells_;
};

// The memories and areas a set of addresses touches, for telling the user.
struct Contents {
    bool masterSetup = false;
    std::vector<int> patches, timbres, rhythms;             // whole memories held (numbers from 1)
    std::vector<int> partPatches, partTimbres, partRhythms; // memories only partly held
    bool workingArea = false;
    bool empty() const;
};
Contents ContentsOf(const MemoryImage& image);
Contents ContentsOf(const std::vector<Range>& ranges);
// "master setup, 64 patches, 128 timbres, 4 rhythm setups, working area".
std::string Describe(const Contents& c);
// "patch 3, timbres 5, 7, working area": names each memory, for a list of faults.
std::string NameMemories(const Contents& c);

// Where `want` and `have` differ (or `have` lacks an address of `want`): the
// requests of `plan` whose addresses do not all match.
std::vector<Range> Differences(const MemoryImage& want, const MemoryImage& have, const std::vector<Range>& plan);
// The addresses inside `ranges` where they differ, as runs: to name exactly the
// memories that differ.
std::vector<Range> DifferingAddresses(const MemoryImage& want, const MemoryImage& have, const std::vector<Range>& ranges);

}  // namespace quorvane::library
