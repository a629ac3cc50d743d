// The module's memory map in one place: the memories it keeps (patches,
// timbres, rhythm setups), the blocks of the working area and how they are
// stored, the stretches each request asks for, and the codecs of the blocks.
// Everything else (the model, the back-up library, the message decoder, the
// command-line tool) takes these numbers from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ParamTable.h"
#include "Protocol.h"
#include "RequestKind.h"

namespace quorvane {

// ---- memories -----------------------------------------------------------------

// The memories the module keeps, each numbered from 1.
enum class MemoryKind { Patch, Timbre, Rhythm };

struct MemoryArea {
    MemoryKind kind;
    uint8_t top;         // top address byte of the area; memory n starts at (n-1)*recordSize
    int recordSize;      // addresses one memory takes (each byte as a nibble pair)
    int count;           // memories in the area
    const char* word;    // "patch", "timbre", "rhythm setup"
    int size() const { return recordSize * count; }
};

// The three areas in ascending address order: timbres, patches, rhythm setups.
const std::array<MemoryArea, 3>& MemoryAreas();
const MemoryArea& AreaOf(MemoryKind kind);
// The area under top address byte `top`, nullptr for none.
const MemoryArea* AreaAt(uint8_t top);
// First address of memory `number` (1..count).
Address MemoryAddress(MemoryKind kind, int number);
const char* MemoryWord(MemoryKind kind);

// The memory an address lies in.
struct MemoryRef {
    MemoryKind kind;
    int number;  // from 1
};
std::optional<MemoryRef> MemoryAt(Address a);

// The memory names a model has read, by kind and number (from 1), and which
// of them it holds.
class MemoryNameStore {
public:
    MemoryNameStore();
    bool Loaded(MemoryKind kind, int number) const;  // false outside 1..count
    const std::string& Name(MemoryKind kind, int number) const;  // "" outside 1..count
    void Set(MemoryKind kind, int number, std::string name);
    void ForgetAll();
    // Forgets the names of the memories that [address, address + size) touches;
    // false (nothing forgotten) when the address lies in no memory area.
    bool Forget(Address address, int size);
    // Takes the names lying whole inside `data` (bytes from `address` on) as read.
    void Learn(Address address, const Bytes& data);

private:
    struct List {
        std::vector<std::string> names;  // by number; 0 unused
        std::vector<bool> loaded;
    };
    List& ListOf(MemoryKind kind) { return lists_[static_cast<size_t>(kind)]; }
    const List& ListOf(MemoryKind kind) const { return lists_[static_cast<size_t>(kind)]; }
    std::array<List, 3> lists_;
};

// ---- the working area -------------------------------------------------------------

// Parts of a patch and instruments of a rhythm setup.
constexpr int kParts = 6;
constexpr int kRhythmInsts = 64;

// True for the blocks that begin with a 12-character name.
bool HasName(Block b);

// Bytes of the working patch as one request reads it: common, rhythm part, six parts.
constexpr int kPatchDataBytes =
    BlockSize(Block::PatchCommon) + BlockSize(Block::PatchRhythm) + kParts * BlockSize(Block::PatchPart);
// Bytes of the six part timbres as one request reads them.
constexpr int kTimbreDataBytes = kParts * BlockSize(Block::Timbre);

// Where the model keeps each block's values: one slot per block and index.
// PatchCommon 0, PatchRhythm 1, PatchPart 2..7, Timbre 8..13, RhythmCommon 14, RhythmInst 15..78.
constexpr size_t kSlots = 1 + 1 + kParts + kParts + 1 + kRhythmInsts;
constexpr size_t kSlotValues = 50;  // the longest block
size_t Slot(Block b, int index);
using BlockValues = std::array<int16_t, kSlotValues>;

using SlotValues = std::array<BlockValues, kSlots>;
using SlotNames = std::array<std::string, kSlots>;

// Takes a block's bytes apart as the module sends them: the name (blocks that
// have one) and every byte after it as a value, each parameter's bias taken off.
void DecodeBlock(Block b, const uint8_t* bytes, BlockValues& values, std::string* name);

// Stores the reply of a working-area request (PatchData, TimbreData,
// RhythmCommon, RhythmInst) block by block into the slots; false, storing
// nothing, when `bytes` is not the request's size.
bool DecodeReply(RequestKind kind, int index, const Bytes& bytes, SlotValues& values, SlotNames& names);

// The master setup block's fields (indexes of MasterParam) and its tune in
// steps of 0.1 Hz above 427.4 Hz.
using MasterValues = std::array<int16_t, static_cast<size_t>(MasterParam::Count)>;
int DecodeMasterSetup(const uint8_t* bytes, MasterValues& values);  // returns the tune steps
Bytes EncodeMasterSetup(int tuneSteps, const MasterValues& values);

// Longest data part of one data set (and the most addresses one raw request
// asks for), as the module itself sends them.
constexpr int kMaxDataSet = 128;

// ---- requests ---------------------------------------------------------------------

// One stretch a request asks for with one RQ1.
struct Segment {
    Address address;
    int size;
    int nibbles;  // leading bytes of the segment that must be nibbles (0..15)
};

// The stretches a request of `kind` asks for, in the order they are sent
// (`index` is the instrument or memory number). None for RawRange: the caller
// names those.
std::vector<Segment> SegmentsOf(RequestKind kind, int index = 0);
// The blocks a working-area request reads, in the order of its segments.
std::vector<std::pair<Block, int>> BlocksOf(RequestKind kind, int index = 0);

}  // namespace quorvane
