#include "library/SysexFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "device/NameCodec.h"
#include "library/MidiFile.h"

namespace quorvane::library {

namespace {

// One complete message as found in the file, and where.
struct Found {
    Bytes bytes;
    std::string where;  // "message 3 (byte 290)"
};

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Hex(uint8_t b) {
    char s[4];
    std::snprintf(s, sizeof s, "%02Xh", b);
    return s;
}

// Splits a stream of System Exclusive bytes into messages. `position(n, offset)`
// names message n starting at `offset` of the stream.
template <class Where>
bool SplitMessages(const Bytes& s, Where position, std::vector<Found>& out, std::string& error) {
    size_t start = 0;
    bool inside = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const uint8_t b = s[i];
        if (!inside) {
            if (b != sysex::kStart) {
                error = "byte " + std::to_string(i) + " (" + Hex(b) + ") is not part of a System Exclusive message";
                return false;
            }
            inside = true;
            start = i;
            continue;
        }
        if (b == sysex::kEnd) {
            out.push_back({Bytes(s.begin() + start, s.begin() + i + 1), position(out.size() + 1, start)});
            inside = false;
        } else if (b == sysex::kStart) {
            error = position(out.size() + 1, start) + " is cut short: a new message starts before its end";
            return false;
        } else if (b > 0x7F) {
            error = position(out.size() + 1, start) + " is damaged: byte " + std::to_string(i - start) + " is " +
                    Hex(b) + ", above 7Fh";
            return false;
        }
    }
    if (inside) {
        error = position(out.size() + 1, start) + " is cut short: the file ends before its end";
        return false;
    }
    return true;
}

// Checks every message and keeps the module's data sets.
void TakeMessages(const std::vector<Found>& messages, BackupFile& f) {
    for (const Found& m : messages) {
        const Bytes& b = m.bytes;
        const bool ours = b.size() >= 5 && b[1] == sysex::kManufacturer && b[3] == sysex::kModel;
        if (!ours || b[4] != sysex::kDT1) {
            ++f.ignored;  // another device's message, or a request
            if (ours && b[4] == sysex::kRQ1) ++f.requests;
            continue;
        }
        const ParsedMessage p = ParseMessage(b);
        if (!p.valid) {
            f.error = m.where + " is damaged: " + p.error;
            return;
        }
        if (p.data.empty() || !InsideAreas(p.address, static_cast<int>(p.data.size()))) {
            f.error = m.where + " writes " + std::to_string(p.data.size()) + " bytes at " + p.address.toString() +
                      ", outside the module's memory areas";
            return;
        }
        f.image.put(p.address, p.data);
        ++f.dataSets;
        if (std::find(f.deviceIds.begin(), f.deviceIds.end(), p.deviceId) == f.deviceIds.end())
            f.deviceIds.push_back(p.deviceId);
    }
    std::sort(f.deviceIds.begin(), f.deviceIds.end());
    if (f.dataSets == 0) {
        const size_t others = f.ignored - f.requests;
        if (f.requests && !others)
            f.error = "the file holds only requests for U-220 data (" + Count(f.requests, "request", "requests") +
                      "), no data to restore";
        else if (f.requests)
            f.error = "the file holds no U-220 data set (" + Count(f.requests, "request", "requests") +
                      " for U-220 data, " + Count(others, "message", "messages") + " for another device or model)";
        else
            f.error = "the file holds no U-220 data set" +
                      (others ? std::string(others == 1 ? " (its 1 message is" : " (its " + std::to_string(others) +
                                                                                  " messages are") +
                                    " for another device or model)"
                              : std::string());
        return;
    }
    f.ok = true;
}

// The file's System Exclusive messages, in the order a player sends them.
bool ReadSmf(const Bytes& file, BackupFile& f, std::vector<Found>& messages) {
    MidiFileContents midi = ReadMidiFile(file);
    if (!midi.ok) {
        f.error = midi.error;
        return false;
    }
    for (MidiSysex& m : midi.messages)
        messages.push_back({std::move(m.bytes), "message " + std::to_string(messages.size() + 1) + " (track " +
                                                    std::to_string(m.track) + ", event " + std::to_string(m.event) +
                                                    ")"});
    f.ignored += midi.otherMessages;
    return true;
}

// "patch 12 "Strings 2"": a memory by number and by the name in its first
// addresses (nibble pairs), when they hold a name that can be shown.
std::string NamedMemory(const MemoryImage& image, const char* word, int number, Address start) {
    std::string s = std::string(word) + " " + std::to_string(number);
    Bytes nibbles;
    if (!image.get({start, static_cast<int>(sysex::kNameBytes)}, nibbles)) return s;
    for (uint8_t n : nibbles)
        if (n > 0x0F) return s;
    std::string name = DecodeName(nibbles.data());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    const std::string text = NameBytesToUtf8(name);
    if (name.empty() || text.find("\xEF\xBF\xBD") != std::string::npos) return s;  // U+FFFD: not all of it is text
    return s + " \"" + text + "\"";
}

}  // namespace

std::string BackupFile::Summary() const {
    const Contents c = ContentsOf(image);
    // Describe() counts memories; a single one is named instead.
    const std::string counted = Describe(c);
    std::string s;
    for (size_t from = 0; from <= counted.size();) {
        size_t to = counted.find(", ", from);
        if (to == std::string::npos) to = counted.size();
        std::string part = counted.substr(from, to - from);
        if (part == "1 patch") part = NamedMemory(image, "patch", c.patches[0], PatchMemoryAddress(c.patches[0]));
        if (part == "1 timbre") part = NamedMemory(image, "timbre", c.timbres[0], TimbreMemoryAddress(c.timbres[0]));
        if (part == "1 rhythm setup")
            part = NamedMemory(image, "rhythm setup", c.rhythms[0], RhythmMemoryAddress(c.rhythms[0]));
        s += (s.empty() ? "" : ", ") + part;
        from = to + 2;
    }
    if (deviceIds.size() > 1) {
        std::string ids;
        for (size_t i = 0; i < deviceIds.size(); ++i)
            ids += (i == 0 ? "" : i + 1 == deviceIds.size() ? " and " : ", ") + std::to_string(deviceIds[i] + 1);
        s += "; data sets for device IDs " + ids +
             ", merged: where they write the same addresses, the later data replaces the earlier";
    }
    if (ignored) s += " (" + Count(ignored, "other message", "other messages") + " ignored)";
    return s;
}

BackupFile ReadBackup(const Bytes& file) {
    BackupFile f;
    std::vector<Found> messages;
    if (file.empty()) {
        f.error = "the file is empty";
        return f;
    }
    if (file.size() >= 4 && std::equal(file.begin(), file.begin() + 4, "MThd")) {
        f.midiFile = true;
        if (!ReadSmf(file, f, messages)) return f;
    } else {
        auto position = [](size_t n, size_t offset) {
            return "message " + std::to_string(n) + " (byte " + std::to_string(offset) + ")";
        };
        if (!SplitMessages(file, position, messages, f.error)) return f;
    }
    TakeMessages(messages, f);
    return f;
}

BackupFile ReadBackupFile(const std::string& path) {
    Bytes bytes;
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) {
        BackupFile f;
        f.error = error;
        return f;
    }
    return ReadBackup(bytes);
}

Bytes SyxBytes(const MemoryImage& image, uint8_t deviceId) {
    Bytes out;
    for (const DataSet& d : image.dataSets()) {
        const Bytes m = BuildDT1(deviceId, d.address, d.data);
        out.insert(out.end(), m.begin(), m.end());
    }
    return out;
}

Bytes MidiBytes(const MemoryImage& image, uint8_t deviceId) {
    std::vector<Bytes> messages;
    for (const DataSet& d : image.dataSets()) messages.push_back(BuildDT1(deviceId, d.address, d.data));
    return WriteMidiFile(messages);
}

bool IsMidiFileName(const std::string& path) {
    const size_t dot = path.find_last_of("./\\");
    if (dot == std::string::npos || path[dot] != '.') return false;
    std::string ext = path.substr(dot + 1);
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext == "mid" || ext == "midi";
}

bool SaveBackup(const std::string& path, const MemoryImage& image, uint8_t deviceId, std::string& error) {
    return WriteFileAtomically(path, IsMidiFileName(path) ? MidiBytes(image, deviceId) : SyxBytes(image, deviceId),
                               error);
}

}  // namespace quorvane::library
