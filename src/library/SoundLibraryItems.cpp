#include "library/SoundLibraryItems.h"

#include "device/NameCodec.h"
#include "library/Transfer.h"

namespace quorvane::library {

namespace {

// The working area's blocks, in address order (patch, its parts, the part
// timbres, the rhythm setup): the areas of a back-up above the memories.
const std::vector<Range>& WorkingRanges() {
    static const std::vector<Range> ranges = [] {
        std::vector<Range> out;
        for (const Range& r : BackupAreas())
            if (r.address.a1 >= 0x10) out.push_back(r);
        return out;
    }();
    return ranges;
}

int WorkingSize() {
    int n = 0;
    for (const Range& r : WorkingRanges()) n += r.size;
    return n;
}

MemoryKind KindOf(SoundType t) {
    return t == SoundType::Timbre ? MemoryKind::Timbre : t == SoundType::Rhythm ? MemoryKind::Rhythm : MemoryKind::Patch;
}

uint64_t Fnv(const Bytes& bytes, size_t skipFrom, size_t skipTo) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i >= skipFrom && i < skipTo) continue;
        h = (h ^ bytes[i]) * 1099511628211ull;
    }
    // SQLite keeps signed 64-bit integers: the top bit is dropped so that the
    // value reads back the same everywhere.
    return h & 0x7FFFFFFFFFFFFFFFull;
}

}  // namespace

const char* SoundTypeWord(SoundType t) {
    switch (t) {
        case SoundType::Patch: return "patch";
        case SoundType::Timbre: return "timbre";
        case SoundType::Rhythm: return "rhythm";
        case SoundType::Working: return "working";
    }
    return "";
}

std::optional<SoundType> ParseSoundType(const std::string& word) {
    for (SoundType t : {SoundType::Patch, SoundType::Timbre, SoundType::Rhythm, SoundType::Working})
        if (word == SoundTypeWord(t)) return t;
    return std::nullopt;
}

int SoundSlots(SoundType t) {
    switch (t) {
        case SoundType::Patch: return 64;
        case SoundType::Timbre: return 128;
        case SoundType::Rhythm: return 4;
        case SoundType::Working: return 1;
    }
    return 0;
}

int SoundSize(SoundType t) {
    static const int working = WorkingSize();
    return t == SoundType::Working ? working : MemoryRange(KindOf(t), 1).size;
}

std::vector<Sound> SoundsIn(const MemoryImage& image, int* partial) {
    std::vector<Sound> out;
    int parts = 0;
    for (SoundType t : {SoundType::Patch, SoundType::Timbre, SoundType::Rhythm}) {
        for (int n = 1; n <= SoundSlots(t); ++n) {
            const Range r = MemoryRange(KindOf(t), n);
            Sound s{t, n, {}};
            if (image.get(r, s.bytes)) {
                out.push_back(std::move(s));
                continue;
            }
            for (int i = 0; i < r.size; ++i)
                if (image.holds(r.address.plus(i))) {
                    ++parts;
                    break;
                }
        }
    }
    Sound w{SoundType::Working, 1, {}};
    bool whole = true, any = false;
    for (const Range& r : WorkingRanges()) {
        Bytes block;
        if (image.get(r, block)) {
            w.bytes.insert(w.bytes.end(), block.begin(), block.end());
            any = true;
        } else {
            whole = false;
            any = any || image.holds(r.address);
        }
    }
    if (whole) out.push_back(std::move(w));
    else if (any) ++parts;
    if (partial) *partial = parts;
    return out;
}

bool PlaceSound(MemoryImage& image, SoundType type, int number, const Bytes& bytes) {
    if (number < 1 || number > SoundSlots(type) || static_cast<int>(bytes.size()) != SoundSize(type)) return false;
    if (type != SoundType::Working) {
        image.put(MemoryRange(KindOf(type), number).address, bytes);
        return true;
    }
    size_t at = 0;
    for (const Range& r : WorkingRanges()) {
        image.put(r.address, Bytes(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + r.size)));
        at += static_cast<size_t>(r.size);
    }
    return true;
}

std::string SoundName(const Bytes& bytes) {
    if (bytes.size() < sysex::kNameBytes) return {};
    // Two nibbles a character. A nibble above 15 (a damaged record) gives a
    // byte with no character, shown as U+FFFD, never another character.
    std::string bytesOfName;
    for (size_t i = 0; i + 1 < sysex::kNameBytes; i += 2)
        bytesOfName += bytes[i] > 15 || bytes[i + 1] > 15 ? '\x7F' : static_cast<char>(NibblePair(bytes[i], bytes[i + 1]));
    std::string name = NameBytesToUtf8(bytesOfName);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

Bytes WithName(const Bytes& bytes, const std::string& nameBytes) {
    Bytes out = bytes;
    const Bytes name = EncodeName(nameBytes);
    for (size_t i = 0; i < name.size() && i < out.size(); ++i) out[i] = name[i];
    return out;
}

uint64_t BytesHash(const Bytes& bytes) { return Fnv(bytes, 0, 0); }
uint64_t SoundHash(const Bytes& bytes) { return Fnv(bytes, 0, sysex::kNameBytes); }

}  // namespace quorvane::library
