// Standard MIDI Files for the tests, put together byte by byte as other
// programs write them: chunks, variable-length numbers, events. Independent of
// the library's own writer, so a fault in one is not hidden by the same fault
// in the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/Protocol.h"

namespace quorvane::test {

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A variable-length quantity: 7 bits a byte, most significant first.
inline Bytes VarLen(uint32_t v) {
    Bytes out{static_cast<uint8_t>(v & 0x7F)};
    while (v >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (v & 0x7F)));
    return out;
}

inline Bytes Be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

// A chunk with the length of `body`, or `length` as given when it is not -1.
inline Bytes Chunk(const std::string& type, const Bytes& body, int64_t length = -1) {
    return Bytes(type.begin(), type.end()) + Be32(static_cast<uint32_t>(length < 0 ? body.size() : length)) + body;
}

// The header chunk; `division` 0x0060 is 96 ticks a quarter note, 0xE728 is
// SMPTE 25 frames of 40 ticks.
inline Bytes Header(int format, int tracks, uint16_t division = 0x0060) {
    return Chunk("MThd", {0, static_cast<uint8_t>(format), static_cast<uint8_t>(tracks >> 8),
                          static_cast<uint8_t>(tracks), static_cast<uint8_t>(division >> 8),
                          static_cast<uint8_t>(division)});
}

inline const Bytes kEndOfTrack{0x00, 0xFF, 0x2F, 0x00};

// A track chunk of `events`, closed by End of Track.
inline Bytes Track(const Bytes& events) { return Chunk("MTrk", events + kEndOfTrack); }

// An F0 or F7 event after `delta` ticks: `kind`, the length, the bytes.
inline Bytes SysexEvent(uint32_t delta, uint8_t kind, const Bytes& data) {
    return VarLen(delta) + Bytes{kind} + VarLen(static_cast<uint32_t>(data.size())) + data;
}
// A whole message (F0 ... F7) as one F0 event.
inline Bytes F0Event(uint32_t delta, const Bytes& message) {
    return SysexEvent(delta, 0xF0, Bytes(message.begin() + 1, message.end()));
}

// A file with one F0 event per message, spread over `tracks` tracks in turn,
// 10 ticks apart: format 0 for one track, format 1 for more.
inline Bytes MidiFile(const std::vector<Bytes>& messages, int tracks = 1) {
    std::vector<Bytes> events(tracks);
    std::vector<uint32_t> last(tracks, 0);
    for (size_t i = 0; i < messages.size(); ++i) {
        const size_t t = i % tracks;
        const uint32_t time = 10 * static_cast<uint32_t>(i + 1);
        events[t] = events[t] + F0Event(time - last[t], messages[i]);
        last[t] = time;
    }
    Bytes file = Header(tracks == 1 ? 0 : 1, tracks);
    for (const Bytes& e : events) file = file + Track(e);
    return file;
}

}  // namespace quorvane::test
