#include "emulator/U220Emulator.h"

#include <algorithm>
#include <array>
#include <random>

#include "device/MemoryMap.h"
#include "device/ParamTable.h"
#include "emulator/FactoryContent.h"
#include "emulator/MemoryLayout.h"

namespace quorvane::emulator {

namespace {

constexpr int kAreaSize = 0x4000;  // linear offsets 0..3FFFh under one top byte
constexpr size_t kLogLimit = 100000;

// Top bytes the module answers for, and the stretch of linear offsets that a
// request or data set must stay inside.
struct Area {
    uint8_t top;
    int first;
    int end;  // one past the last offset
};
// The memory areas as the model knows them; the master setup and the two
// working areas are the emulator's own.
const std::array<Area, 6>& Areas() {
    static const std::array<Area, 6> areas{{
        {0x00, 0, 16},  // master setup
        {AreaOf(MemoryKind::Timbre).top, 0, AreaOf(MemoryKind::Timbre).size()},
        {AreaOf(MemoryKind::Patch).top, 0, AreaOf(MemoryKind::Patch).size()},
        {AreaOf(MemoryKind::Rhythm).top, 0, AreaOf(MemoryKind::Rhythm).size()},
        {0x10, 0x04 * 128, 0x15 * 128 + 50},  // patch common .. timbre of part 6
        {0x11, 0, (35 + 63) * 128 + 20},      // rhythm setup common .. instrument 63
    }};
    return areas;
}

const Area* FindArea(uint8_t top) {
    for (const Area& a : Areas())
        if (a.top == top) return &a;
    return nullptr;
}

// Master setup as a new module holds it: 440.0 Hz, LCD 8, chorus and reverb on,
// Rx control channel 1, the four change/assign values 1, 2, 3, 4.
constexpr std::array<uint8_t, 16> kMasterSetup{0x0E, 0x07, 0x08, 12 + 2 + 1, 0, 14, 0, 11,
                                               0x00, 0x00, 0, 3, 1, 2, 3, 4};

}  // namespace

struct U220Emulator::Impl {
    uint8_t deviceId;
    WireModel wire;
    FaultModel faults;
    std::mt19937 rng{1};
    bool silent = false;
    RecordPacking packing;
    std::array<Bytes, 6> memory;  // one per Areas() entry, kAreaSize each
    int currentPatch = 0;
    std::vector<Bytes> log;
    EmulatorStats stats;
    bool haveIn = false;
    double lastInEnd = 0;   // end on the wire of the last message taken in
    double lastOutEnd = 0;  // end on the wire of the last message sent

    Impl(uint8_t id, uint32_t packingSeed) : deviceId(id), packing(packingSeed) { resetMemory(); }

    uint8_t* cell(Address a) {
        for (size_t i = 0; i < Areas().size(); ++i)
            if (Areas()[i].top == a.a1) return &memory[i][a.offset()];
        return nullptr;
    }
    uint8_t peek(Address a) {
        const uint8_t* c = cell(a);
        return c ? *c : 0;
    }
    void poke(Address a, uint8_t v) {
        if (uint8_t* c = cell(a)) *c = v & 0x7F;
    }
    void write(Address a, const Bytes& data) {
        for (size_t i = 0; i < data.size(); ++i) poke(a.plus(static_cast<int>(i)), data[i]);
    }
    Bytes read(Address a, int size) {
        Bytes out;
        out.reserve(size > 0 ? size : 0);
        for (int i = 0; i < size; ++i) out.push_back(peek(a.plus(i)));
        return out;
    }
    // True when [a, a+size) lies inside one area the module answers for.
    static bool inArea(Address a, int size) {
        const Area* area = FindArea(a.a1);
        return area && size > 0 && a.offset() >= area->first && a.offset() + size <= area->end;
    }

    // Memory records: every byte a nibble pair.
    Bytes readRecord(Address base, int bytes) {
        Bytes rec(bytes);
        for (int i = 0; i < bytes; ++i)
            rec[i] = NibblePair(peek(base.plus(2 * i)) & 0x0F, peek(base.plus(2 * i + 1)) & 0x0F);
        return rec;
    }
    void writeRecord(Address base, const Bytes& rec) {
        for (size_t i = 0; i < rec.size(); ++i) {
            poke(base.plus(2 * static_cast<int>(i)), rec[i] & 0x0F);
            poke(base.plus(2 * static_cast<int>(i) + 1), rec[i] >> 4);
        }
    }

    void resetMemory() {
        for (Bytes& m : memory) m.assign(kAreaSize, 0);
        write({0, 0, 0}, Bytes(kMasterSetup.begin(), kMasterSetup.end()));
        for (int n = 1; n <= AreaOf(MemoryKind::Timbre).count; ++n)
            writeRecord(TimbreMemoryAddress(n), packing.pack(Record::Timbre, FactoryTimbreImage(n)));
        for (int n = 1; n <= AreaOf(MemoryKind::Patch).count; ++n)
            writeRecord(PatchMemoryAddress(n), packing.pack(Record::Patch, FactoryPatchImage(n)));
        for (int n = 1; n <= AreaOf(MemoryKind::Rhythm).count; ++n)
            writeRecord(RhythmMemoryAddress(n), packing.pack(Record::Rhythm, FactoryRhythmImage(n)));
        loadPatch(1);
        currentPatch = 0;
    }

    void setPacking(uint32_t seed) {
        const RecordPacking to(seed);
        auto carry = [&](MemoryKind kind, Record r) {
            for (int n = 1; n <= AreaOf(kind).count; ++n) {
                const Address a = MemoryAddress(kind, n);
                writeRecord(a, packing.convert(r, readRecord(a, RecordBytes(r)), to));
            }
        };
        carry(MemoryKind::Timbre, Record::Timbre);
        carry(MemoryKind::Patch, Record::Patch);
        carry(MemoryKind::Rhythm, Record::Rhythm);
        packing = to;
    }

    void loadTimbre(int part, int timbreNo) {
        const Bytes img = packing.unpack(Record::Timbre, readRecord(TimbreMemoryAddress(timbreNo), kTimbreRecordBytes));
        write(BlockAddress(Block::Timbre, part), img);
    }
    void loadRhythm(int rhythmNo) {
        const Bytes img = packing.unpack(Record::Rhythm, readRecord(RhythmMemoryAddress(rhythmNo), kRhythmRecordBytes));
        write(BlockAddress(Block::RhythmCommon), Bytes(img.begin(), img.begin() + kRhythmImageInst0));
        for (int inst = 0; inst < 64; ++inst) {
            auto from = img.begin() + kRhythmImageInst0 + 20 * inst;
            write(BlockAddress(Block::RhythmInst, inst), Bytes(from, from + 20));
        }
    }
    // Patch memory -> temporary areas, then each part's timbre and the rhythm setup.
    void loadPatch(int patchNo) {
        const Bytes img = packing.unpack(Record::Patch, readRecord(PatchMemoryAddress(patchNo), kPatchRecordBytes));
        write(BlockAddress(Block::PatchCommon), Bytes(img.begin(), img.begin() + kPatchImageRhythm));
        write(BlockAddress(Block::PatchRhythm), Bytes(img.begin() + kPatchImageRhythm, img.begin() + kPatchImagePart1));
        for (int part = 1; part <= 6; ++part) {
            auto from = img.begin() + kPatchImagePart1 + 13 * (part - 1);
            write(BlockAddress(Block::PatchPart, part), Bytes(from, from + 13));
        }
        for (int part = 1; part <= 6; ++part)
            loadTimbre(part, peek(ParamAddress(Param::PatchPartTimbreNumber, part)) + 1);
        const int setup = peek(ParamAddress(Param::PatchRhythmRhythmSetup));
        if (setup < 4) loadRhythm(setup + 1);
        currentPatch = patchNo;
    }

    // Side effects of a data set that covered [a, a+size).
    void afterWrite(Address a, int size) {
        auto covers = [&](Address x) { return x.a1 == a.a1 && x.offset() >= a.offset() && x.offset() < a.offset() + size; };
        for (int part = 1; part <= 6; ++part) {
            const Address t = ParamAddress(Param::PatchPartTimbreNumber, part);
            if (covers(t)) loadTimbre(part, peek(t) + 1);
        }
        const Address r = ParamAddress(Param::PatchRhythmRhythmSetup);
        if (covers(r) && peek(r) < 4) loadRhythm(peek(r) + 1);
    }

    int rxChannel() { return (peek({0, 0, 8}) & 0x0F) + 16 * (peek({0, 0, 9}) & 1); }

    double uniform() { return rng() / 4294967296.0; }

    Bytes foreignMessage(const Bytes& answer) {
        if (rng() & 1) {
            // Another manufacturer's parameter change.
            return {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, static_cast<uint8_t>(rng() & 0x7F), 0x00, 0xF7};
        }
        // A well-formed data set for the same address from a module with another device ID.
        const Address a{answer[5], answer[6], answer[7]};
        Bytes data(answer.size() - 10);
        for (uint8_t& b : data) b = rng() & 0x7F;
        return BuildDT1(static_cast<uint8_t>((deviceId + 1) & 0x1F), a, data);
    }

    std::vector<Outgoing> answer(Address a, int size, double requestEnd, double startMs) {
        std::vector<Outgoing> out;
        double t = wire.enabled ? std::max(requestEnd + wire.answerDelayMs, lastOutEnd) : startMs;
        auto emit = [&](Bytes m, bool late) {
            double at = startMs;
            if (wire.enabled) {
                at = t + U220Emulator::wireMs(m.size());
                t = at;
                lastOutEnd = t;
            }
            if (late) at += faults.delayMs;
            out.push_back({std::move(m), at});
        };
        for (int done = 0; done < size;) {
            const int n = std::min(size - done, static_cast<int>(kMaxAnswerData));
            Bytes m = BuildDT1(deviceId, a.plus(done), read(a.plus(done), n));
            done += n;
            // Draw every roll for every message so a seed gives the same run
            // whatever the probabilities.
            const bool foreign = uniform() < faults.foreign;
            const bool drop = uniform() < faults.drop;
            const bool damage = uniform() < faults.damage;
            const bool late = uniform() < faults.delay;
            const uint32_t damageAt = rng(), damageBy = rng();
            if (foreign) {
                ++stats.foreign;
                emit(foreignMessage(m), false);
            }
            if (drop) {
                ++stats.dropped;
                if (wire.enabled) {  // it took its time on the wire all the same
                    t += U220Emulator::wireMs(m.size());
                    lastOutEnd = t;
                }
                continue;
            }
            if (damage) {
                // Change one data byte and leave the checksum: the sum no longer matches.
                ++stats.damaged;
                const size_t i = sysex::kHeaderSize + damageAt % (m.size() - sysex::kHeaderSize - 2);
                m[i] = static_cast<uint8_t>((m[i] + 1 + damageBy % 127) & 0x7F);
            }
            if (late) ++stats.delayed;
            emit(std::move(m), late);
        }
        std::stable_sort(out.begin(), out.end(), [](const Outgoing& x, const Outgoing& y) { return x.atMs < y.atMs; });
        return out;
    }

    std::vector<Outgoing> receive(const Bytes& m, double startMs) {
        double end = startMs;
        if (wire.enabled) {
            end = startMs + U220Emulator::wireMs(m.size());
            if (haveIn && wire.minGapMs > 0 && startMs < lastInEnd + wire.minGapMs) {
                ++stats.lostToGap;
                return {};
            }
            haveIn = true;
            lastInEnd = end;
        }
        ++stats.received;
        if (log.size() >= kLogLimit) log.erase(log.begin(), log.begin() + kLogLimit / 10);
        log.push_back(m);

        if (m.empty()) {
            ++stats.ignored;
            return {};
        }
        if (m[0] == sysex::kStart) return sysEx(m, end, startMs);
        if ((m[0] & 0xF0) == 0xC0 && m.size() == 2 && m[1] < 0x80) {
            const int rx = rxChannel();
            if (rx < 16 && (m[0] & 0x0F) == rx && m[1] < 64) {
                loadPatch(m[1] + 1);
                ++stats.programChanges;
                return {};
            }
        }
        ++stats.ignored;
        return {};
    }

    std::vector<Outgoing> sysEx(const Bytes& m, double end, double startMs) {
        const ParsedMessage p = ParseMessage(m);
        if (!p.valid || p.deviceId != deviceId) {
            ++stats.ignored;
            return {};
        }
        if (p.command == sysex::kRQ1) {
            if (!inArea(p.address, p.size)) {
                ++stats.ignored;
                return {};
            }
            ++stats.requests;
            if (silent) return {};
            return answer(p.address, p.size, end, startMs);
        }
        const int size = static_cast<int>(p.data.size());
        if (!inArea(p.address, size)) {
            ++stats.ignored;
            return {};
        }
        write(p.address, p.data);
        afterWrite(p.address, size);
        ++stats.dataSets;
        return {};
    }
};

U220Emulator::U220Emulator(uint8_t deviceId, uint32_t packingSeed)
    : impl_(std::make_shared<Impl>(deviceId, packingSeed)) {}

uint8_t U220Emulator::deviceId() const { return impl_->deviceId; }
void U220Emulator::setDeviceId(uint8_t id) { impl_->deviceId = id; }
void U220Emulator::setWireModel(const WireModel& w) { impl_->wire = w; }
const WireModel& U220Emulator::wireModel() const { return impl_->wire; }
void U220Emulator::setFaults(const FaultModel& f) {
    impl_->faults = f;
    impl_->rng.seed(f.seed);
}
void U220Emulator::setPackingSeed(uint32_t seed) { impl_->setPacking(seed); }
uint32_t U220Emulator::packingSeed() const { return impl_->packing.seed(); }
void U220Emulator::setSilent(bool silent) { impl_->silent = silent; }

std::vector<Outgoing> U220Emulator::receive(const Bytes& message, double startMs) {
    return impl_->receive(message, startMs);
}

uint8_t U220Emulator::peek(Address a) const { return impl_->peek(a); }
void U220Emulator::poke(Address a, uint8_t v) { impl_->poke(a, v); }
Bytes U220Emulator::read(Address a, int size) const { return impl_->read(a, size); }
void U220Emulator::load(Address a, const Bytes& data) { impl_->write(a, data); }

int U220Emulator::currentPatch() const { return impl_->currentPatch; }
const std::vector<Bytes>& U220Emulator::log() const { return impl_->log; }
void U220Emulator::clearLog() { impl_->log.clear(); }
const EmulatorStats& U220Emulator::stats() const { return impl_->stats; }

void U220Emulator::resetToFactory() { impl_->resetMemory(); }
void U220Emulator::resetWire() {
    impl_->haveIn = false;
    impl_->lastInEnd = impl_->lastOutEnd = 0;
}
bool U220Emulator::silent() const { return impl_->silent; }
const FaultModel& U220Emulator::faults() const { return impl_->faults; }
int U220Emulator::rxChannel() const { return impl_->rxChannel(); }

}  // namespace quorvane::emulator
