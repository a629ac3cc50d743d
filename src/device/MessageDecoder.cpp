#include "MessageDecoder.h"

#include <array>
#include <cctype>
#include <cstdio>

#include "MemoryMap.h"
#include "NameCodec.h"

namespace quorvane {

namespace {

// Where an address lies: a block of the temporary areas (with its index) or a memory.
struct Area {
    enum class Kind : uint8_t { Block, PatchMemory, TimbreMemory, RhythmMemory };
    Kind kind = Kind::Block;
    Block block = Block::MasterSetup;
    int index = 0;   // PartNo / InstNo for blocks, memory number for memories
    int offset = 0;  // addresses from the start of the block or memory
};

constexpr std::array<Block, 7> kBlocks{Block::MasterSetup, Block::PatchCommon, Block::PatchRhythm, Block::PatchPart,
                                       Block::Timbre,      Block::RhythmCommon, Block::RhythmInst};

std::optional<Area> FindArea(Address a) {
    for (Block b : kBlocks) {
        for (int i = IndexMin(b); i <= IndexMax(b); ++i) {
            const Address base = BlockAddress(b, i);
            if (base.a1 != a.a1) break;  // every index of a block shares its top byte
            const int off = a.offset() - base.offset();
            if (off >= 0 && off < BlockSize(b)) return Area{Area::Kind::Block, b, i, off};
        }
    }
    // Memories: every byte of a memory takes two addresses.
    if (const auto m = MemoryAt(a)) {
        const Area::Kind kinds[] = {Area::Kind::PatchMemory, Area::Kind::TimbreMemory, Area::Kind::RhythmMemory};
        return Area{kinds[static_cast<int>(m->kind)], Block::MasterSetup, m->number,
                    a.offset() - MemoryAddress(m->kind, m->number).offset()};
    }
    return std::nullopt;
}

std::string RhythmKey(int instNo) { return "key " + NoteName(instNo + 35); }

std::string AreaLabel(const Area& a) {
    const std::string n = std::to_string(a.index);
    switch (a.kind) {
        case Area::Kind::PatchMemory: return "patch memory " + n;
        case Area::Kind::TimbreMemory: return "timbre memory " + n;
        case Area::Kind::RhythmMemory: return "rhythm setup memory " + n;
        case Area::Kind::Block: break;
    }
    switch (a.block) {
        case Block::MasterSetup: return "master setup";
        case Block::PatchCommon: return "patch data";
        case Block::PatchRhythm: return "patch data (rhythm part)";
        case Block::PatchPart: return "patch data (part " + n + ")";
        case Block::Timbre: return "timbre data (part " + n + ")";
        case Block::RhythmCommon: return "rhythm setup common";
        case Block::RhythmInst: return "rhythm setup " + RhythmKey(a.index);
    }
    return "";
}

// "PatchPartRxVolume" -> "rx volume": the table's name without the block's prefix,
// split into lower-case words.
std::string Words(const char* name, Block b) {
    static constexpr std::pair<Block, const char*> kPrefixes[] = {
        {Block::PatchCommon, "PatchCommon"}, {Block::PatchRhythm, "PatchRhythm"}, {Block::PatchPart, "PatchPart"},
        {Block::Timbre, "Timbre"},           {Block::RhythmCommon, "RhythmSetupCommon"},
        {Block::RhythmInst, "RhythmSetupInst"}};
    std::string s = name;
    for (const auto& [block, prefix] : kPrefixes) {
        const std::string p = prefix;
        if (block == b && s.compare(0, p.size(), p) == 0) s = s.substr(p.size());
    }
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const unsigned char prev = i ? static_cast<unsigned char>(s[i - 1]) : 0;
        const bool upperAfterLower = std::isupper(c) && (std::islower(prev) || std::isdigit(prev));
        const bool digitAfterLetter = std::isdigit(c) && std::isalpha(prev);
        if (i && (upperAfterLower || digitAfterLetter)) out.push_back(' ');
        out.push_back(static_cast<char>(std::tolower(c)));
    }
    return out;
}

std::string Hex2(int b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", b & 0xFF);
    return buf;
}

std::string ByteCount(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// A name from 24 nibbles, as text, trailing spaces left out; nullopt when a nibble is out of range.
std::optional<std::string> NameText(const Bytes& data, size_t from) {
    if (data.size() < from + sysex::kNameBytes) return std::nullopt;
    for (size_t i = from; i < from + sysex::kNameBytes; ++i)
        if (data[i] > 0x0F) return std::nullopt;
    std::string bytes = DecodeName(&data[from]);
    while (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
    return "\"" + NameBytesToUtf8(bytes) + "\"";
}

std::string NameSubject(Block b, int index) {
    switch (b) {
        case Block::Timbre: return "Timbre part " + std::to_string(index) + " name";
        case Block::RhythmCommon: return "Rhythm setup name";
        default: return "Patch name";
    }
}

// The master setup block's fields that a user sets in the main window.
std::string MasterDetail(const Bytes& d) {
    for (uint8_t b : d)
        if (b > 0x0F) return "";
    const int tenths = NibblePair(d[0], d[1]);
    char tune[32];
    std::snprintf(tune, sizeof tune, "tune %.1f Hz", tenths / 10.0 + 427.4);
    const int rx = d[8] + 16 * (d[9] & 1);
    const std::string rxText = rx < 16 ? std::to_string(rx + 1) : rx == 16 ? "Off" : std::to_string(rx);
    return std::string(" (") + tune + ", chorus " + ((d[3] >> 1) & 1 ? "on" : "off") + ", reverb " +
           (d[3] & 1 ? "on" : "off") + ", LCD " + std::to_string(d[2]) + ", Rx channel " + rxText + ")";
}

std::string Channel(uint8_t status) { return " on channel " + std::to_string((status & 0x0F) + 1); }

MessageMeaning DescribeChannelMessage(const Bytes& m) {
    MessageMeaning r;
    r.type = MessageMeaning::Type::Channel;
    const uint8_t s = m[0];
    const int d1 = m.size() > 1 ? m[1] : 0;
    const int d2 = m.size() > 2 ? m[2] : 0;
    switch (s & 0xF0) {
        case 0x80: r.text = "note off " + NoteName(d1) + Channel(s); break;
        case 0x90:
            r.text = d2 ? "note on " + NoteName(d1) + " velocity " + std::to_string(d2) + Channel(s)
                        : "note off " + NoteName(d1) + Channel(s);
            break;
        case 0xA0: r.text = "key pressure " + NoteName(d1) + " = " + std::to_string(d2) + Channel(s); break;
        case 0xB0: r.text = "control change " + std::to_string(d1) + " = " + std::to_string(d2) + Channel(s); break;
        case 0xC0: r.text = "program change " + std::to_string(d1 + 1) + Channel(s); break;
        case 0xD0: r.text = "channel pressure " + std::to_string(d1) + Channel(s); break;
        case 0xE0: r.text = "pitch bend " + std::to_string(d1 + 128 * d2 - 8192) + Channel(s); break;
    }
    return r;
}

}  // namespace

std::string NoteName(int note) {
    static constexpr const char* kPitch[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    if (note < 0 || note > 127) return std::to_string(note);
    return std::string(kPitch[note % 12]) + std::to_string(note / 12 - 1);
}

std::string ParamSubject(Param p, int index) {
    const ParamInfo& i = Info(p);
    const std::string n = std::to_string(index);
    const std::string words = Words(i.name, i.block);
    switch (i.block) {
        case Block::PatchCommon: return "Patch " + words;
        case Block::PatchRhythm: return "Patch rhythm part " + words;
        case Block::PatchPart: return "Patch part " + n + " " + words;
        case Block::Timbre: return "Timbre part " + n + " " + words;
        case Block::RhythmCommon: return "Rhythm setup " + words;
        case Block::RhythmInst: return "Rhythm setup " + RhythmKey(index) + " " + words;
        case Block::MasterSetup: break;
    }
    return words;
}

MessageMeaning DescribeMessage(const Bytes& m) {
    MessageMeaning r;
    if (m.empty()) {
        r.text = "empty message";
        return r;
    }
    if (m[0] >= 0x80 && m[0] < 0xF0 && m.size() <= 3) return DescribeChannelMessage(m);
    // A frame of this model, described from its header even when damaged.
    const bool u220 = m.size() >= sysex::kHeaderSize + 2 && m[0] == sysex::kStart &&
                      m[1] == sysex::kManufacturer && m[3] == sysex::kModel;
    if (!u220) {
        if (m[0] != sysex::kStart)
            r.text = "MIDI bytes " + HexBytes(m);
        else if (m.size() >= 4 && (m[1] != sysex::kManufacturer || m[3] != sysex::kModel))
            r.text = "System Exclusive of another maker or model, " + ByteCount(m.size());
        else
            r.text = "System Exclusive cut short, " + ByteCount(m.size());
        return r;
    }
    const uint8_t command = m[4];
    const Address a{m[5], m[6], m[7]};
    const size_t end = m.back() == sysex::kEnd ? m.size() - 2 : m.size();  // before checksum and F7
    const Bytes data(m.begin() + sysex::kHeaderSize, m.begin() + static_cast<std::ptrdiff_t>(std::max(end, sysex::kHeaderSize)));
    const std::optional<Area> area = FindArea(a);
    const std::string where = (area ? AreaLabel(*area) + " " : std::string("address ")) + a.toString();

    if (command == sysex::kRQ1) {
        r.type = MessageMeaning::Type::Request;
        const int size = data.size() == 3 ? (data[0] << 14) | (data[1] << 7) | data[2] : -1;
        std::string what = where;
        if (area && area->kind != Area::Kind::Block && area->offset == 0 && size == static_cast<int>(sysex::kNameBytes))
            what = AreaLabel(*area) + " name " + a.toString();
        r.text = "request: " + what + ", " + (size >= 0 ? ByteCount(static_cast<size_t>(size)) : "size unreadable");
        return r;
    }
    if (command != sysex::kDT1) {
        r.text = "U-220 command " + Hex2(command) + " at " + a.toString() + ", " + ByteCount(data.size());
        return r;
    }

    // One parameter.
    if (area && area->kind == Area::Kind::Block && data.size() == 1) {
        for (Param p : AllParams()) {
            const ParamInfo& i = Info(p);
            if (i.block != area->block || i.offset != area->offset) continue;
            r.type = MessageMeaning::Type::ParamWrite;
            r.param = p;
            r.index = area->index;
            r.byte = data[0];
            r.value = data[0] - i.bias;
            r.subject = ParamSubject(p, area->index);
            r.text = r.subject + " = " +
                     (r.value >= 0 && r.value < i.listSize ? std::to_string(r.value)
                                                           : "byte " + Hex2(r.byte) + " (outside the list)");
            return r;
        }
    }
    // One name.
    if (area && area->kind == Area::Kind::Block && HasName(area->block) && area->offset == 0 &&
        data.size() == sysex::kNameBytes) {
        if (auto name = NameText(data, 0)) {
            r.type = MessageMeaning::Type::NameWrite;
            r.text = NameSubject(area->block, area->index) + " = " + *name;
            return r;
        }
    }
    r.type = MessageMeaning::Type::Data;
    std::string what = where;
    if (area && area->kind != Area::Kind::Block && area->offset == 0 && data.size() == sysex::kNameBytes)
        what = AreaLabel(*area) + " name " + a.toString();
    r.text = "data: " + what + ", " + ByteCount(data.size());
    if (area && area->offset == 0) {
        const bool named = area->kind != Area::Kind::Block || HasName(area->block);
        if (named) {
            if (auto name = NameText(data, 0)) r.text += ": " + *name;
        } else if (area->block == Block::MasterSetup && data.size() == 16) {
            r.text += MasterDetail(data);
        }
    }
    return r;
}

std::string DescribeEvent(const MonitorEvent& e, const ValueNamer& namer) {
    MessageMeaning m = DescribeMessage(e.message);
    std::string text = m.text;
    if (m.param && namer && m.value >= 0 && m.value < Info(*m.param).listSize)
        if (auto v = namer(*m.param, m.value)) text = m.subject + " = " + *v;

    switch (e.kind) {
        case MonitorEvent::Kind::Sent: return text;
        case MonitorEvent::Kind::Merged: return "merged: " + text + " (replaced by a newer value before it left)";
        case MonitorEvent::Kind::Dropped:
            return "dropped before sending: " + text + (e.reason.empty() ? "" : " (" + e.reason + ")");
        case MonitorEvent::Kind::Lost:
            return "lost by the MIDI input: " + e.reason + (e.reason == "1" ? " message" : " messages") +
                   " (cut short or malformed, or the input queue was full)";
        case MonitorEvent::Kind::Received: break;
    }
    const ParsedMessage p = ParseMessage(e.message);
    std::string why;
    switch (e.verdict) {
        case MonitorEvent::Verdict::None:
        case MonitorEvent::Verdict::Stored: return text;
        case MonitorEvent::Verdict::Malformed:
            if (p.valid) why = "a byte out of range";
            else if (p.error == "checksum error") why = "checksum";
            else why = "malformed, " + p.error;
            break;
        case MonitorEvent::Verdict::Foreign:
            if (e.message.size() >= 4 && (e.message[1] != sysex::kManufacturer || e.message[3] != sysex::kModel))
                why = "foreign";
            else if (p.valid && p.command == sysex::kRQ1) why = "foreign, a request";
            else if (p.valid) why = "foreign, device ID " + std::to_string(p.deviceId + 1);
            else why = "foreign, " + p.error;
            break;
        case MonitorEvent::Verdict::Unexpected: why = "unexpected, not awaited"; break;
    }
    return "dropped: " + why + " (" + text + ")";
}

const char* DirectionOf(MonitorEvent::Kind k) {
    return k == MonitorEvent::Kind::Received || k == MonitorEvent::Kind::Lost ? "in" : "out";
}

}  // namespace quorvane
