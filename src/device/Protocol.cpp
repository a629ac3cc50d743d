#include "Protocol.h"

#include <cstdio>

#include "MemoryMap.h"

namespace quorvane {

std::string Address::toString() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X %02X %02X", a1, a2, a3);
    return buf;
}

uint8_t Checksum(const Bytes& addressAndData) {
    unsigned sum = 0;
    for (uint8_t b : addressAndData) sum += b;
    return static_cast<uint8_t>((128 - (sum % 128)) % 128);
}

Bytes BuildFrame(uint8_t deviceId, uint8_t command, Address address, const Bytes& data) {
    Bytes frame;
    frame.reserve(sysex::kHeaderSize + data.size() + 2);
    for (uint8_t b : {sysex::kStart, sysex::kManufacturer, deviceId, sysex::kModel, command, address.a1, address.a2,
                      address.a3})
        frame.push_back(b);
    frame.insert(frame.end(), data.begin(), data.end());
    // The checksum covers the address and the data.
    frame.push_back(Checksum(Bytes(frame.begin() + 5, frame.end())));
    frame.push_back(sysex::kEnd);
    return frame;
}

ParsedMessage ParseMessage(const Bytes& m) {
    ParsedMessage p;
    auto fail = [&](const char* why) {
        p.error = why;
        return p;
    };
    if (m.size() < sysex::kHeaderSize + 2) return fail("too short");
    if (m.front() != sysex::kStart || m.back() != sysex::kEnd) return fail("not a System Exclusive frame");
    for (size_t i = 1; i + 1 < m.size(); ++i)
        if (m[i] & 0x80) return fail("status byte inside the message");
    if (m[1] != sysex::kManufacturer) return fail("other manufacturer");
    if (m[3] != sysex::kModel) return fail("other model");
    p.deviceId = m[2];
    p.command = m[4];
    if (p.command != sysex::kRQ1 && p.command != sysex::kDT1) return fail("unknown command");
    p.address = {m[5], m[6], m[7]};
    Bytes body(m.begin() + 5, m.end() - 2);
    if (Checksum(body) != m[m.size() - 2]) return fail("checksum error");
    p.data.assign(m.begin() + sysex::kHeaderSize, m.end() - 2);
    if (p.command == sysex::kRQ1) {
        if (p.data.size() != 3) return fail("request size is not three bytes");
        p.size = (p.data[0] << 14) | (p.data[1] << 7) | p.data[2];
    } else if (p.data.empty()) {
        return fail("data set without data");
    }
    p.valid = true;
    return p;
}

Bytes EncodeName(const std::string& nameBytes) {
    Bytes out;
    out.reserve(sysex::kNameBytes);
    for (size_t i = 0; i < sysex::kNameChars; ++i)
        PutNibblePair(out, i < nameBytes.size() ? static_cast<uint8_t>(nameBytes[i]) : uint8_t{' '});
    return out;
}

std::string DecodeName(const uint8_t* nibbles) {
    std::string s;
    for (size_t i = 0; i < sysex::kNameChars; ++i)
        s.push_back(static_cast<char>(NibblePair(nibbles[2 * i], nibbles[2 * i + 1])));
    return s;
}

Address PatchMemoryAddress(int patchNo) { return MemoryAddress(MemoryKind::Patch, patchNo); }
Address TimbreMemoryAddress(int timbreNo) { return MemoryAddress(MemoryKind::Timbre, timbreNo); }
Address RhythmMemoryAddress(int rhythmNo) { return MemoryAddress(MemoryKind::Rhythm, rhythmNo); }

std::string HexBytes(const Bytes& b) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

}  // namespace quorvane
