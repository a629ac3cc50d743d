// The sounds a memory image holds, as the library keeps them: the exact bytes
// of each whole patch, timbre and rhythm setup memory, and of a whole working
// area (a patch's working blocks with its six part timbres and its rhythm
// setup, as Save Patch As... writes them). Only names are read from the bytes
// (their place is known: the first 24 addresses, nibble pairs); nothing else of
// a memory record is decoded. Standard C++ only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/MemoryImage.h"

namespace quorvane::library {

enum class SoundType { Patch = 0, Timbre = 1, Rhythm = 2, Working = 3 };

// "patch", "timbre", "rhythm", "working" (as the CLI takes them).
const char* SoundTypeWord(SoundType t);
std::optional<SoundType> ParseSoundType(const std::string& word);
// Memories of the type on the module (64, 128, 4); 1 for the working area.
int SoundSlots(SoundType t);
// Addresses one sound of the type holds.
int SoundSize(SoundType t);

struct Sound {
    SoundType type = SoundType::Patch;
    int number = 0;  // memory number from 1; 1 for the working area
    Bytes bytes;     // one value per address, in address order
};

// Every whole memory of the image (patches, then timbres, then rhythm setups,
// by number), then the working area when all of its blocks are there.
// `partial`, when given, counts the memories only partly held (left out).
std::vector<Sound> SoundsIn(const MemoryImage& image, int* partial = nullptr);

// Puts a sound's bytes at memory `number` (or at the working area). False when
// the number or the size does not fit the type.
bool PlaceSound(MemoryImage& image, SoundType type, int number, const Bytes& bytes);

// The name field as UTF-8, trailing spaces removed ("" when the bytes are too
// short to hold one).
std::string SoundName(const Bytes& bytes);
// The bytes with the name field replaced by `nameBytes` (module code page, cut
// or padded to 12 characters).
Bytes WithName(const Bytes& bytes, const std::string& nameBytes);
// 64-bit hashes: of all bytes, and of the bytes with the name field left out
// (equal for the same sound under another name).
uint64_t BytesHash(const Bytes& bytes);
uint64_t SoundHash(const Bytes& bytes);

}  // namespace quorvane::library
