#include "emulator/MemoryLayout.h"

#include <random>
#include <stdexcept>
#include <vector>

#include "device/ParamTable.h"

namespace quorvane::emulator {

namespace {

struct Field {
    int imageIndex;
    int bits;
};

int BitsFor(const ParamInfo& info) {
    int highest = info.bias + info.listSize - 1;
    int bits = 1;
    while ((1 << bits) <= highest) ++bits;
    return bits;
}

// The fields of one block, placed at `base` in the image, in address order.
void AddBlock(std::vector<Field>& out, Block block, int base) {
    for (Param p : AllParams()) {
        const ParamInfo& info = Info(p);
        if (info.block == block) out.push_back({base + info.offset, BitsFor(info)});
    }
}

std::vector<Field> BuildFields(Record r) {
    std::vector<Field> f;
    switch (r) {
        case Record::Patch:
            AddBlock(f, Block::PatchCommon, 0);
            AddBlock(f, Block::PatchRhythm, kPatchImageRhythm);
            for (int part = 0; part < 6; ++part) AddBlock(f, Block::PatchPart, kPatchImagePart1 + 13 * part);
            break;
        case Record::Timbre: AddBlock(f, Block::Timbre, 0); break;
        case Record::Rhythm:
            AddBlock(f, Block::RhythmCommon, 0);
            for (int inst = 0; inst < 64; ++inst) AddBlock(f, Block::RhythmInst, kRhythmImageInst0 + 20 * inst);
            break;
    }
    return f;
}

const std::vector<Field>& Fields(Record r) {
    static const std::vector<Field> patch = BuildFields(Record::Patch);
    static const std::vector<Field> timbre = BuildFields(Record::Timbre);
    static const std::vector<Field> rhythm = BuildFields(Record::Rhythm);
    switch (r) {
        case Record::Patch: return patch;
        case Record::Timbre: return timbre;
        case Record::Rhythm: return rhythm;
    }
    return patch;
}

constexpr int kNameBytes = 12;

}  // namespace

int ImageSize(Record r) {
    switch (r) {
        case Record::Patch: return kPatchImageSize;
        case Record::Timbre: return kTimbreImageSize;
        case Record::Rhythm: return kRhythmImageSize;
    }
    return 0;
}

int RecordBytes(Record r) {
    switch (r) {
        case Record::Patch: return kPatchRecordBytes;
        case Record::Timbre: return kTimbreRecordBytes;
        case Record::Rhythm: return kRhythmRecordBytes;
    }
    return 0;
}

int PackedBits(Record r) {
    int bits = 0;
    for (const Field& f : Fields(r)) bits += f.bits;
    return bits;
}

Bytes PackRecord(Record r, const Bytes& image) {
    if (static_cast<int>(image.size()) != ImageSize(r)) throw std::invalid_argument("PackRecord: wrong image size");
    Bytes rec(RecordBytes(r), 0);
    for (int i = 0; i < kNameBytes; ++i)
        rec[i] = NibblePair(image[2 * i] & 0x0F, image[2 * i + 1] & 0x0F);
    int bit = kNameBytes * 8;
    for (const Field& f : Fields(r)) {
        const unsigned v = image[f.imageIndex] & ((1u << f.bits) - 1);
        for (int b = 0; b < f.bits; ++b, ++bit)
            if (v & (1u << b)) rec[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    }
    return rec;
}

Bytes UnpackRecord(Record r, const Bytes& rec) {
    if (static_cast<int>(rec.size()) != RecordBytes(r)) throw std::invalid_argument("UnpackRecord: wrong record size");
    Bytes image(ImageSize(r), 0);
    for (int i = 0; i < kNameBytes; ++i) {
        image[2 * i] = rec[i] & 0x0F;
        image[2 * i + 1] = rec[i] >> 4;
    }
    int bit = kNameBytes * 8;
    for (const Field& f : Fields(r)) {
        unsigned v = 0;
        for (int b = 0; b < f.bits; ++b, ++bit)
            if (rec[bit / 8] & (1u << (bit % 8))) v |= 1u << b;
        image[f.imageIndex] = static_cast<uint8_t>(v);
    }
    return image;
}

namespace {

bool Bit(const Bytes& b, int i) { return (b[i / 8] >> (i % 8)) & 1; }
void SetBit(Bytes& b, int i) { b[i / 8] |= static_cast<uint8_t>(1u << (i % 8)); }

}  // namespace

RecordPacking::RecordPacking(uint32_t seed) : seed_(seed) {
    if (seed == 0) return;
    for (Record r : {Record::Patch, Record::Timbre, Record::Rhythm}) {
        // Fisher-Yates over the bits after the name, drawn from the engine's
        // raw output so that every standard library gives the same places.
        std::vector<int>& place = place_[static_cast<size_t>(r)];
        const int n = (RecordBytes(r) - kNameBytes) * 8;
        place.resize(n);
        for (int k = 0; k < n; ++k) place[k] = k;
        std::mt19937 rng(seed * 3u + static_cast<uint32_t>(r));
        for (int k = n - 1; k > 0; --k) std::swap(place[k], place[rng() % static_cast<uint32_t>(k + 1)]);
    }
}

Bytes RecordPacking::toDefault(Record r, const Bytes& rec) const {
    if (static_cast<int>(rec.size()) != RecordBytes(r)) throw std::invalid_argument("RecordPacking: wrong record size");
    const std::vector<int>& p = place(r);
    if (p.empty()) return rec;
    Bytes out(rec.begin(), rec.begin() + kNameBytes);
    out.resize(rec.size(), 0);
    for (size_t k = 0; k < p.size(); ++k)
        if (Bit(rec, kNameBytes * 8 + p[k])) SetBit(out, kNameBytes * 8 + static_cast<int>(k));
    return out;
}

Bytes RecordPacking::fromDefault(Record r, const Bytes& rec) const {
    if (static_cast<int>(rec.size()) != RecordBytes(r)) throw std::invalid_argument("RecordPacking: wrong record size");
    const std::vector<int>& p = place(r);
    if (p.empty()) return rec;
    Bytes out(rec.begin(), rec.begin() + kNameBytes);
    out.resize(rec.size(), 0);
    for (size_t k = 0; k < p.size(); ++k)
        if (Bit(rec, kNameBytes * 8 + static_cast<int>(k))) SetBit(out, kNameBytes * 8 + p[k]);
    return out;
}

Bytes RecordPacking::pack(Record r, const Bytes& image) const { return fromDefault(r, PackRecord(r, image)); }
Bytes RecordPacking::unpack(Record r, const Bytes& record) const { return UnpackRecord(r, toDefault(r, record)); }
Bytes RecordPacking::convert(Record r, const Bytes& record, const RecordPacking& to) const {
    return to.fromDefault(r, toDefault(r, record));
}

}  // namespace quorvane::emulator
