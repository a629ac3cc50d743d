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
#pragma once

#include <cstdint>

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

}  // namespace quorvane::emulator
