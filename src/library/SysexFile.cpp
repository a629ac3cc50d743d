#include "library/SysexFile.h"

#include <glib.h>
#include <smf.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

namespace quorvane::library {

namespace {

// One complete message as found in the file, and where.
struct Found {
    Bytes bytes;
    std::string where;  // "message 3 (byte 290)"
};

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
        f.error = "the file holds no U-220 data set" +
                  (f.ignored ? " (its " + std::to_string(f.ignored) + " messages are for another device or model)"
                             : std::string());
        return;
    }
    f.ok = true;
}

struct SmfDeleter {
    void operator()(smf_t* s) const { smf_delete(s); }
};

// System Exclusive events of every track, in time order, as one stream per
// message: an event without its end byte is continued by the events after it.
bool ReadSmf(const Bytes& file, BackupFile& f, std::vector<Found>& messages) {
    // The reader's own complaints about a damaged file would go to stderr; the
    // caller gets one clear message instead.
    static const bool quiet = [] {
        g_log_set_handler("libsmf", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                          [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        return true;
    }();
    (void)quiet;
    std::unique_ptr<smf_t, SmfDeleter> smf(smf_load_from_memory(file.data(), static_cast<int>(file.size())));
    if (!smf) {
        f.error = "the Standard MIDI File is damaged and cannot be read";
        return false;
    }
    Bytes stream;
    std::vector<std::string> where;  // position of each message start in `stream`
    std::vector<size_t> starts;
    int eventNo = 0;
    while (smf_event_t* e = smf_get_next_event(smf.get())) {
        ++eventNo;
        if (!smf_event_is_sysex(e) && !(e->midi_buffer_length > 0 && e->midi_buffer[0] == sysex::kEnd)) continue;
        const uint8_t* data = e->midi_buffer;
        int len = e->midi_buffer_length;
        if (len > 0 && data[0] == sysex::kEnd) {  // a continuation packet: its bytes follow the open message
            ++data;
            --len;
        } else {
            starts.push_back(stream.size());
            where.push_back("message " + std::to_string(where.size() + 1) + " (track " +
                            std::to_string(e->track_number) + ", event " + std::to_string(e->event_number) + ")");
        }
        stream.insert(stream.end(), data, data + len);
    }
    auto position = [&](size_t n, size_t offset) {
        for (size_t i = 0; i < starts.size(); ++i)
            if (starts[i] == offset) return where[i];
        return "message " + std::to_string(n);
    };
    std::string error;
    if (!SplitMessages(stream, position, messages, error)) {
        f.error = error;
        return false;
    }
    return true;
}

}  // namespace

std::string BackupFile::Summary() const {
    std::string s = Describe(ContentsOf(image));
    if (ignored) s += " (" + std::to_string(ignored) + " other message" + (ignored == 1 ? "" : "s") + " ignored)";
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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        BackupFile f;
        f.error = "cannot open " + path;
        return f;
    }
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        BackupFile f;
        f.error = "cannot read " + path;
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

}  // namespace quorvane::library
