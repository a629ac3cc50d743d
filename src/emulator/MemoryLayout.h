// How the emulated module keeps a patch, a timbre or a rhythm setup in memory,
// and how a memory turns into the bytes of the temporary areas and back.
//
// A temporary-area "image" is the concatenation of the blocks a memory loads:
//   patch:        patch common (41), rhythm part (7), six parts (6 x 13) = 126
//   timbre:       one part timbre block                                  =  50
//   rhythm setup: rhythm setup common (26), 64 instruments (64 x 20)     = 1306
// in the same byte order as the module's replies.
//
// A memory record is 80 (patch), 32 (timbre) or 784 (rhythm setup) bytes: the
// name as 12 one-byte characters, then every parameter of the image packed as a
// bit field just wide enough for its highest device byte (bias + list size - 1),
// least significant bit first. On the wire each record byte is a nibble pair.
//
// That bit order is the default packing. A RecordPacking made from another seed
// moves every bit after the name to a place drawn from the seed, so that the
// same image gives other record bytes: tests run the module with it to make
// sure nothing outside the module decodes a record. The name stays first in
// every packing, where the model reads memory names.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "device/MemoryMap.h"
#include "device/Protocol.h"

namespace quorvane::emulator {

enum class Record : uint8_t { Patch, Timbre, Rhythm };

constexpr int kPatchImageSize = kPatchDataBytes;  // the working patch as the model reads it
constexpr int kTimbreImageSize = 50;
constexpr int kRhythmImageSize = 26 + 64 * 20;
constexpr int kPatchRecordBytes = 80;
constexpr int kTimbreRecordBytes = 32;
constexpr int kRhythmRecordBytes = 784;

// Where each block starts in a patch image / rhythm image.
constexpr int kPatchImageRhythm = 41;
constexpr int kPatchImagePart1 = 48;  // part p at 48 + 13*(p-1)
constexpr int kRhythmImageInst0 = 26; // instrument i at 26 + 20*i

int ImageSize(Record r);
int RecordBytes(Record r);
// Number of bits a record spends on its parameters (for checks: must fit).
int PackedBits(Record r);

// image (ImageSize bytes) -> record bytes (RecordBytes, 8-bit each). Device bytes
// wider than their field keep only the field's low bits.
Bytes PackRecord(Record r, const Bytes& image);
// record bytes -> image.
Bytes UnpackRecord(Record r, const Bytes& record);

class RecordPacking {
public:
    // Seed 0 is the default packing (PackRecord / UnpackRecord above).
    explicit RecordPacking(uint32_t seed = 0);
    uint32_t seed() const { return seed_; }
    Bytes pack(Record r, const Bytes& image) const;
    Bytes unpack(Record r, const Bytes& record) const;
    // The same record in `to`'s packing; every bit is kept, also the ones no
    // parameter uses, so a record moves back and forth unchanged.
    Bytes convert(Record r, const Bytes& record, const RecordPacking& to) const;

private:
    // Bit k after the name in the default packing is bit place[k] after the name
    // here; empty for the default packing.
    const std::vector<int>& place(Record r) const { return place_[static_cast<size_t>(r)]; }
    Bytes toDefault(Record r, const Bytes& record) const;
    Bytes fromDefault(Record r, const Bytes& record) const;
    uint32_t seed_;
    std::array<std::vector<int>, 3> place_;
};

}  // namespace quorvane::emulator
