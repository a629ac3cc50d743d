#include "library/MidiFile.h"

#include <algorithm>
#include <cstdio>

namespace quorvane::library {

namespace {

constexpr uint8_t kSysexStart = 0xF0, kSysexEscape = 0xF7, kMeta = 0xFF, kEndOfTrack = 0x2F;
constexpr size_t kChunkHeader = 8, kMinHeaderLength = 6;
constexpr int kMaxVarLenBytes = 4;

std::string Hex(uint8_t b) {
    char s[4];
    std::snprintf(s, sizeof s, "%02Xh", b);
    return s;
}

uint32_t Be32(const Bytes& b, size_t at) {
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | uint32_t(b[at + 3]);
}
uint16_t Be16(const Bytes& b, size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); }

// "MTrk", or the four bytes in hex when they are not printable.
std::string ChunkName(const Bytes& b, size_t at) {
    std::string s;
    for (size_t i = at; i < at + 4; ++i) {
        if (b[i] < 0x20 || b[i] > 0x7E) {
            std::string hex;
            for (size_t j = at; j < at + 4; ++j) hex += (j > at ? " " : "") + Hex(b[j]);
            return hex;
        }
        s.push_back(static_cast<char>(b[i]));
    }
    return "\"" + s + "\"";
}

// Data bytes after a status byte on the wire; -1 for a byte that starts no
// message of its own (a data byte, an end byte without a start, an undefined status).
int DataBytesAfter(uint8_t status) {
    if (status < 0x80) return -1;
    if (status < 0xF0) return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
    switch (status) {
        case 0xF1: case 0xF3: return 1;  // time code quarter frame, song select
        case 0xF2: return 2;             // song position
        case 0xF6: case 0xF8: case 0xFA: case 0xFB: case 0xFC: case 0xFE: case 0xFF: return 0;
        default: return -1;              // F0 (handled apart), F4, F5, F7, F9, FD
    }
}

class Reader {
public:
    explicit Reader(const Bytes& file) : b_(file) {}

    MidiFileContents Read() {
        if (!ReadHeader() || !ReadChunks()) {
            out_.messages.clear();
            return std::move(out_);
        }
        if (out_.format == 1)
            std::stable_sort(out_.messages.begin(), out_.messages.end(),
                             [](const MidiSysex& a, const MidiSysex& b) { return a.tick < b.tick; });
        out_.ok = true;
        return std::move(out_);
    }

private:
    bool Fail(std::string why) {
        out_.error = std::move(why);
        return false;
    }

    bool ReadHeader() {
        if (b_.size() < 4 || !std::equal(b_.begin(), b_.begin() + 4, "MThd"))
            return Fail("the file is not a Standard MIDI File: it does not start with MThd");
        if (b_.size() < kChunkHeader + kMinHeaderLength)
            return Fail("the Standard MIDI File is cut short: it ends at byte " + std::to_string(b_.size()) +
                        ", inside its header");
        const uint32_t length = Be32(b_, 4);
        if (length < kMinHeaderLength)
            return Fail("the Standard MIDI File is damaged: its header (byte 0) says it holds " + std::to_string(length) +
                        " bytes, fewer than 6");
        if (length > b_.size() - kChunkHeader)
            return Fail("the Standard MIDI File is cut short: its header (byte 0) says it holds " +
                        std::to_string(length) + " bytes, but the file ends " +
                        std::to_string(b_.size() - kChunkHeader) + " bytes after it starts");
        out_.format = Be16(b_, 8);
        announced_ = Be16(b_, 10);
        out_.division = Be16(b_, 12);
        if (out_.format > 2)
            return Fail("the Standard MIDI File has format " + std::to_string(out_.format) +
                        " (byte 8); only formats 0, 1 and 2 exist");
        pos_ = kChunkHeader + length;
        return true;
    }

    bool ReadChunks() {
        while (pos_ < b_.size()) {
            const size_t left = b_.size() - pos_;
            if (left < kChunkHeader) {
                if (out_.tracks >= announced_) break;  // a few bytes of padding after the last track
                return Fail("the Standard MIDI File is cut short: it ends at byte " + std::to_string(b_.size()) +
                            ", inside the header of track " + std::to_string(out_.tracks + 1));
            }
            const bool track = std::equal(b_.begin() + pos_, b_.begin() + pos_ + 4, "MTrk");
            const uint32_t length = Be32(b_, pos_ + 4);
            const std::string name =
                track ? "track " + std::to_string(out_.tracks + 1) : "the chunk " + ChunkName(b_, pos_);
            if (length > left - kChunkHeader)
                return Fail("the Standard MIDI File is cut short: " + name + " (byte " + std::to_string(pos_) +
                            ") says it holds " + std::to_string(length) + " bytes, but the file ends " +
                            std::to_string(left - kChunkHeader) + " bytes after its header");
            if (track && !ReadTrack(pos_ + kChunkHeader, pos_ + kChunkHeader + length)) return false;
            pos_ += kChunkHeader + length;
        }
        if (out_.tracks < announced_)
            return Fail("the Standard MIDI File is cut short: its header announces " + std::to_string(announced_) +
                        " tracks, but the file ends (byte " + std::to_string(b_.size()) + ") after " +
                        std::to_string(out_.tracks));
        return true;
    }

    // Position of the event being read, for a message.
    std::string Here() const {
        return "track " + std::to_string(track_) + ", event " + std::to_string(event_) + " (byte " +
               std::to_string(eventStart_) + ")";
    }
    std::string OpenMessage() const {
        return "the System Exclusive message of track " + std::to_string(track_) + ", event " +
               std::to_string(open_.event) + " (byte " + std::to_string(open_.offset) + ")";
    }

    // A variable-length quantity inside [p, end).
    bool VarLen(size_t& p, size_t end, uint32_t& value, const char* what) {
        value = 0;
        for (int n = 0; n < kMaxVarLenBytes; ++n) {
            if (p >= end) return Fail(Here() + ": the track ends inside the event's " + std::string(what));
            const uint8_t byte = b_[p++];
            value = (value << 7) | (byte & 0x7F);
            if (!(byte & 0x80)) return true;
        }
        return Fail(Here() + ": the event's " + std::string(what) + " is longer than 4 bytes");
    }

    // Bytes a System Exclusive event sends, as the wire sees them.
    bool Send(size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            const uint8_t x = b_[i];
            if (inside_) {
                if (x == sysex::kEnd) {
                    open_.bytes.push_back(x);
                    out_.messages.push_back(std::move(open_));
                    open_ = {};
                    inside_ = false;
                } else if (x == kSysexStart) {
                    return Fail(OpenMessage() + " is cut short: a new message starts (" + Here() +
                                ") before its end");
                } else if (x > 0x7F) {
                    return Fail(OpenMessage() + " is damaged: byte " + std::to_string(open_.bytes.size()) + " is " +
                                Hex(x) + ", above 7Fh");
                } else {
                    open_.bytes.push_back(x);
                }
                continue;
            }
            if (pendingData_ > 0) {  // data of another message carried in an escape
                if (x > 0x7F)
                    return Fail(Here() + ": the message " + Hex(pendingStatus_) + " in the escape is cut short by " +
                                Hex(x));
                --pendingData_;
                continue;
            }
            if (x == kSysexStart) {
                open_ = {{x}, track_, event_, eventStart_, tick_};
                inside_ = true;
                continue;
            }
            const int data = DataBytesAfter(x);
            if (data < 0)
                return Fail(Here() + ": byte " + std::to_string(i - dataStart_) + " of the event's data (" + Hex(x) +
                            ") is not part of a message");
            ++out_.otherMessages;
            pendingStatus_ = x;
            pendingData_ = data;
        }
        return true;
    }

    bool ReadTrack(size_t p, size_t end) {
        ++out_.tracks;
        track_ = out_.tracks;
        event_ = 0;
        tick_ = 0;
        uint8_t running = 0;
        inside_ = false;
        while (p < end) {
            ++event_;
            eventStart_ = p;
            uint32_t delta = 0;
            if (!VarLen(p, end, delta, "delta time")) return false;
            tick_ += delta;
            if (p >= end) return Fail(Here() + ": the track ends before the event's status byte");
            uint8_t status = b_[p];
            if (status < 0x80) {
                if (!running)
                    return Fail(Here() + ": " + Hex(status) +
                                " is a data byte where an event starts, and no running status is in effect "
                                "(a System Exclusive or meta event ends it)");
                status = running;
            } else {
                ++p;
            }
            if (status < 0xF0) {  // a channel message
                if (inside_)
                    return Fail(OpenMessage() + " is cut short: a channel message (" + Here() + ") comes before its end");
                running = status;
                const int n = DataBytesAfter(status);
                if (end - p < static_cast<size_t>(n)) return Fail(Here() + ": the track ends inside a channel message");
                for (int k = 0; k < n; ++k)
                    if (b_[p + k] > 0x7F)
                        return Fail(Here() + ": data byte " + std::to_string(k + 1) + " of the channel message " +
                                    Hex(status) + " is " + Hex(b_[p + k]) + ", above 7Fh");
                p += n;
                continue;
            }
            running = 0;
            if (status == kMeta) {
                if (p >= end) return Fail(Here() + ": the track ends inside a meta event");
                const uint8_t type = b_[p++];
                uint32_t length = 0;
                if (!VarLen(p, end, length, "length")) return false;
                if (length > end - p)
                    return Fail(Here() + ": the meta event says it holds " + std::to_string(length) +
                                " bytes, but the track ends " + std::to_string(end - p) + " bytes later");
                p += length;
                if (type == kEndOfTrack) break;
                continue;
            }
            if (status != kSysexStart && status != kSysexEscape)
                return Fail(Here() + ": " + Hex(status) +
                            " starts no event (an event starts with a channel status, F0h, F7h or FFh)");
            uint32_t length = 0;
            if (!VarLen(p, end, length, "length")) return false;
            if (length > end - p)
                return Fail(Here() + ": the System Exclusive event says it holds " + std::to_string(length) +
                            " bytes, but the track ends " + std::to_string(end - p) + " bytes later");
            if (status == kSysexStart) {
                if (inside_)
                    return Fail(OpenMessage() + " is cut short: a new message starts (" + Here() + ") before its end");
                open_ = {{kSysexStart}, track_, event_, eventStart_, tick_};
                inside_ = true;
            }
            dataStart_ = p;
            pendingData_ = 0;
            if (!Send(p, p + length)) return false;
            if (pendingData_ > 0)
                return Fail(Here() + ": the escape ends inside the message " + Hex(pendingStatus_) + " it carries");
            p += length;
        }
        if (inside_) return Fail(OpenMessage() + " is cut short: the track ends before its end");
        return true;
    }

    const Bytes& b_;
    MidiFileContents out_;
    size_t pos_ = 0;
    int announced_ = 0;
    // The track and event being read.
    int track_ = 0, event_ = 0;
    size_t eventStart_ = 0, dataStart_ = 0;
    uint64_t tick_ = 0;
    // A System Exclusive message begun and not yet ended.
    bool inside_ = false;
    MidiSysex open_;
    // Another message carried in an escape, waiting for its data bytes.
    uint8_t pendingStatus_ = 0;
    int pendingData_ = 0;
};

void PutBe32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutVarLen(Bytes& out, uint32_t v) {
    uint8_t groups[kMaxVarLenBytes + 1];
    int n = 0;
    do {
        groups[n++] = v & 0x7F;
        v >>= 7;
    } while (v && n < kMaxVarLenBytes + 1);
    while (n--) out.push_back(static_cast<uint8_t>(groups[n] | (n ? 0x80 : 0)));
}

// Time between two messages as written: the first one's time on the wire (10
// bits a byte at 31250 bits a second) and the usual 20 ms send gap, in ticks of
// 480 to a quarter note at the default tempo (500000 microseconds a quarter).
constexpr uint16_t kTicksPerQuarter = 480;
constexpr uint32_t kMicrosPerQuarter = 500000, kMicrosPerByte = 320, kGapMicros = 20000;

uint32_t TicksAfter(size_t messageBytes) {
    const uint64_t micros = kGapMicros + uint64_t(messageBytes) * kMicrosPerByte;
    return static_cast<uint32_t>((micros * kTicksPerQuarter + kMicrosPerQuarter - 1) / kMicrosPerQuarter);
}

}  // namespace

MidiFileContents ReadMidiFile(const Bytes& file) { return Reader(file).Read(); }

Bytes WriteMidiFile(const std::vector<Bytes>& messages) {
    Bytes track;
    size_t previous = 0;
    for (const Bytes& m : messages) {
        if (m.size() < 2 || m.front() != kSysexStart) continue;  // not a System Exclusive message
        PutVarLen(track, previous ? TicksAfter(previous) : 0);
        track.push_back(kSysexStart);
        PutVarLen(track, static_cast<uint32_t>(m.size() - 1));
        track.insert(track.end(), m.begin() + 1, m.end());
        previous = m.size();
    }
    track.insert(track.end(), {0x00, kMeta, kEndOfTrack, 0x00});
    Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, kTicksPerQuarter >> 8, kTicksPerQuarter & 0xFF};
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    PutBe32(out, static_cast<uint32_t>(track.size()));
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

}  // namespace quorvane::library
