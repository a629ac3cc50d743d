// The module's System Exclusive frame: RQ1/DT1 messages, checksum, addresses,
// nibble pairs and names as bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

using Bytes = std::vector<uint8_t>;

namespace sysex {
constexpr uint8_t kStart = 0xF0;
constexpr uint8_t kEnd = 0xF7;
constexpr uint8_t kManufacturer = 0x41;
constexpr uint8_t kModel = 0x2B;
constexpr uint8_t kRQ1 = 0x11;
constexpr uint8_t kDT1 = 0x12;
constexpr size_t kHeaderSize = 8;   // F0 41 dev 2B cmd a1 a2 a3
constexpr size_t kNameChars = 12;   // a name is 12 characters ...
constexpr size_t kNameBytes = 24;   // ... held as 12 nibble pairs
}  // namespace sysex

// Three 7-bit address bytes, most significant first.
struct Address {
    uint8_t a1 = 0, a2 = 0, a3 = 0;

    // Top byte T and a linear offset L (0..3FFFh) within that area.
    static Address linear(uint8_t top, int offset) {
        return {top, static_cast<uint8_t>((offset & 0x3F80) / 128), static_cast<uint8_t>(offset & 0x7F)};
    }
    // Offset within the same top byte (L = a2*128 + a3).
    int offset() const { return a2 * 128 + a3; }
    Address plus(int n) const { return linear(a1, offset() + n); }
    bool operator==(const Address&) const = default;
    std::string toString() const;  // "10 05 17"
};

// Roland sum rule over address and data bytes: (128 - sum mod 128) mod 128.
uint8_t Checksum(const Bytes& addressAndData);

// F0 41 dev 2B cmd a1 a2 a3 data... checksum F7
Bytes BuildFrame(uint8_t deviceId, uint8_t command, Address address, const Bytes& data);
inline Bytes BuildRQ1(uint8_t deviceId, Address address, int size) {
    return BuildFrame(deviceId, sysex::kRQ1, address,
                      {static_cast<uint8_t>((size >> 14) & 0x7F), static_cast<uint8_t>((size >> 7) & 0x7F),
                       static_cast<uint8_t>(size & 0x7F)});
}
inline Bytes BuildDT1(uint8_t deviceId, Address address, const Bytes& data) {
    return BuildFrame(deviceId, sysex::kDT1, address, data);
}

// A message taken apart. `valid` is true only for a well-formed Roland frame of
// this model: F0 41 dev 2B cmd, three address bytes, every byte up to F7 in 00..7F,
// a correct checksum and F7 last. RQ1 carries its size in `size`.
struct ParsedMessage {
    bool valid = false;
    uint8_t deviceId = 0;
    uint8_t command = 0;
    Address address;
    Bytes data;     // DT1: the data bytes; RQ1: the three size bytes
    int size = 0;   // RQ1 only: number of addresses requested
    std::string error;  // why it is not valid
};
ParsedMessage ParseMessage(const Bytes& message);

// Nibble pair: low nibble first.
inline void PutNibblePair(Bytes& out, uint8_t v) {
    out.push_back(v & 0x0F);
    out.push_back(v >> 4);
}
inline uint8_t NibblePair(uint8_t low, uint8_t high) { return static_cast<uint8_t>(low + 16 * high); }

// Name bytes (module's code page) <-> 24 nibbles. Encoding cuts to 12 characters and
// pads with spaces; decoding keeps all 12 characters, trailing spaces included.
Bytes EncodeName(const std::string& nameBytes);
std::string DecodeName(const uint8_t* nibbles);  // reads 24 bytes

// First address of a patch, timbre or rhythm setup memory (numbers from 1), as
// MemoryMap places them; each byte of a memory occupies a nibble pair.
Address PatchMemoryAddress(int patchNo);
Address TimbreMemoryAddress(int timbreNo);
Address RhythmMemoryAddress(int rhythmNo);

std::string HexBytes(const Bytes& b);  // "F0 41 10 ..."

}  // namespace quorvane
