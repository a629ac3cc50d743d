#include "clsU220.h"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {
constexpr int kPatchReplyBytes = 41 + 7 + 6 * 13;  // 126
constexpr int kTimbreReplyBytes = 6 * 50;         // 300
}  // namespace

clsU220::clsU220(Host& host, std::unique_ptr<midi::MIDIOutput> output, std::unique_ptr<midi::MIDIInput> input)
    : MIDIOutput1(std::move(output)), MIDIInput1(std::move(input)), host_(host) {
    auto onError = [this](int code, const std::string& text) {
        if (code == 0 || code == 8) return;
        lastError_ = text;
        if (OnPortError) OnPortError(text);
    };
    if (MIDIOutput1) MIDIOutput1->onError = onError;
    if (MIDIInput1) {
        MIDIInput1->onError = onError;
        MIDIInput1->onSysExReceived = [this] { OnSysExReceived(); };
    }
}

clsU220::~clsU220() {
    if (MIDIInput1) {
        MIDIInput1->onSysExReceived = nullptr;
        MIDIInput1->onError = nullptr;
        MIDIInput1->close();
    }
    if (MIDIOutput1) {
        MIDIOutput1->onError = nullptr;
        if (MIDIOutput1->isOpen()) MIDIOutput1->flush();
        MIDIOutput1->close();
    }
}

// ---------------------------------------------------------------------------
// Blocks and requests

const char* clsU220::KindName(Kind k) {
    switch (k) {
        case Kind::MasterSetup: return "Master Setup";
        case Kind::PatchData: return "Patch Data";
        case Kind::TimbreData: return "Timbre Data";
        case Kind::RhythmCommon: return "Rhythm Common Data";
        case Kind::RhythmInst: return "Rhythm Inst Data";
        case Kind::PatchName: return "Pacth Name in Memory";
        case Kind::TimbreName: return "Timbre Name in Memory";
        case Kind::RhythmName: return "Rhythm Name in Memory";
        case Kind::PatchChange: return "Patch Change";
    }
    return "";
}

std::string clsU220::ExpectedReply() const { return open_ ? KindName(open_->kind) : ""; }

std::vector<clsU220::Segment> clsU220::SegmentsOf(Kind k, int index) const {
    using sysex::kNameBytes;
    constexpr int kName = static_cast<int>(kNameBytes);
    switch (k) {
        case Kind::MasterSetup:
        case Kind::PatchChange: return {{BlockAddress(Block::MasterSetup), 16, 16}};
        case Kind::PatchData: {
            std::vector<Segment> s{{BlockAddress(Block::PatchCommon), 41, kName}, {BlockAddress(Block::PatchRhythm), 7, 0}};
            for (int p = 1; p <= 6; ++p) s.push_back({BlockAddress(Block::PatchPart, p), 13, 0});
            return s;
        }
        case Kind::TimbreData: {
            std::vector<Segment> s;
            for (int p = 1; p <= 6; ++p) s.push_back({BlockAddress(Block::Timbre, p), 50, kName});
            return s;
        }
        case Kind::RhythmCommon: return {{BlockAddress(Block::RhythmCommon), 26, kName}};
        case Kind::RhythmInst: return {{BlockAddress(Block::RhythmInst, index), 20, 0}};
        case Kind::PatchName: return {{PatchMemoryAddress(index), kName, kName}};
        case Kind::TimbreName: return {{TimbreMemoryAddress(index), kName, kName}};
        case Kind::RhythmName: return {{RhythmMemoryAddress(index), kName, kName}};
    }
    return {};
}

bool clsU220::IsLoaded(Kind k, int index) const {
    switch (k) {
        case Kind::MasterSetup: return masterLoaded_;
        case Kind::PatchData: return patchLoaded_;
        case Kind::TimbreData: return timbreLoaded_;
        case Kind::RhythmCommon: return rhythmCommonLoaded_;
        case Kind::RhythmInst: return instLoaded_[index];
        case Kind::PatchName: return patchNameLoaded_[index];
        case Kind::TimbreName: return timbreNameLoaded_[index];
        case Kind::RhythmName: return rhythmNameLoaded_[index];
        case Kind::PatchChange: return patchChangeAck_;
    }
    return false;
}

// Waits until no request is open. A request whose time limit has passed is
// closed here, so a read that queued behind it is not held up by it; the read
// that owned it sees the time-out when its own wait returns.
void clsU220::AcquireSlot() {
    while (open_) {
        const uint64_t serial = open_->serial;
        const Clock::time_point deadline = open_->deadline;
        host_.waitUntil([&] { return !open_ || open_->serial != serial; }, deadline);
        if (open_ && open_->serial == serial && Clock::now() >= deadline) CloseRequest();
    }
}

void clsU220::StartRequest(Kind k, int index, Clock::time_point deadline) {
    Request r;
    r.kind = k;
    r.index = index;
    r.segments = SegmentsOf(k, index);
    r.serial = nextSerial_++;
    r.deadline = deadline;
    open_ = std::move(r);
    // Copy: a send may run events that close the request.
    const std::vector<Segment> segments = open_->segments;
    for (const Segment& s : segments) SendMessage(sysex::kRQ1, s.address, {0x00, 0x00, static_cast<uint8_t>(s.size)});
}

void clsU220::CloseRequest() {
    open_.reset();
    host_.notify();
}

bool clsU220::Fetch(Kind k, int index, bool probe, Clock::duration limit) {
    for (;;) {
        if (!probe && IsLoaded(k, index)) return true;
        AcquireSlot();
        if (!probe && IsLoaded(k, index)) return true;
        const Clock::time_point deadline = Clock::now() + (probe ? limit : Clock::duration(RequestTimeout));
        const uint64_t serial = nextSerial_;
        StartRequest(k, index, deadline);
        host_.waitUntil([&] { return !open_ || open_->serial != serial; }, deadline);
        if (open_ && open_->serial == serial) CloseRequest();  // no complete answer in time
        if (IsLoaded(k, index)) return true;
        ++timeouts_;
        if (probe) return false;
        if (!OnNotResponding || !OnNotResponding(KindName(k))) return false;
    }
}

void clsU220::InvalidateAll() {
    patchLoaded_ = timbreLoaded_ = rhythmCommonLoaded_ = false;
    instLoaded_.fill(false);
}

void clsU220::ForgetModule() {
    InvalidateAll();
    masterLoaded_ = false;
    patchNameLoaded_.fill(false);
    timbreNameLoaded_.fill(false);
    rhythmNameLoaded_.fill(false);
}

// ---------------------------------------------------------------------------
// Inbound

void clsU220::OnSysExReceived() {
    if (!MIDIInput1) return;
    while (MIDIInput1->messageCount() > 0) {
        Bytes message = MIDIInput1->receivedMessage();
        MIDIInput1->discard();
        HandleMessage(message);
    }
    host_.notify();
}

// Stores a message only when it is a well-formed data set from this module that
// carries the next stretch of the open request; everything else is dropped and
// counted. Replies are placed by address, and a block's fields are written only
// when all of its bytes are in, so a block is stored whole or not at all.
void clsU220::HandleMessage(const Bytes& message) {
    const bool otherMaker = message.size() >= 4 && (message[1] != sysex::kManufacturer || message[3] != sysex::kModel);
    ParsedMessage m = ParseMessage(message);
    if (!m.valid) {
        ++(otherMaker ? stats_.foreign : stats_.malformed);
        return;
    }
    if (m.command != sysex::kDT1 || m.deviceId != static_cast<uint8_t>(deviceId_)) {
        ++stats_.foreign;
        return;
    }
    if (!open_) {
        ++stats_.unexpected;
        return;
    }
    Request& r = *open_;
    const Segment& seg = r.segments[r.segment];
    const int len = static_cast<int>(m.data.size());
    // A message at the start of the stretch being filled begins it again: what
    // came before it was not the answer to this request.
    if (r.filled > 0 && m.address == seg.address && len <= seg.size) {
        r.buffer.resize(r.buffer.size() - r.filled);
        r.filled = 0;
    }
    if (!(m.address == seg.address.plus(r.filled)) || len > seg.size - r.filled) {
        ++stats_.unexpected;
        return;
    }
    for (int i = 0; i < len; ++i) {
        if (r.filled + i < seg.nibbles && m.data[i] > 0x0F) {
            ++stats_.malformed;
            return;
        }
    }
    ++stats_.stored;
    r.buffer.insert(r.buffer.end(), m.data.begin(), m.data.end());
    r.filled += len;
    if (r.filled == seg.size) {
        ++r.segment;
        r.filled = 0;
    }
    if (r.segment == r.segments.size()) {
        Request done = std::move(r);
        open_.reset();
        Complete(done);
        host_.notify();
    }
}

void clsU220::Complete(Request& r) {
    const Bytes& b = r.buffer;
    auto decodeInto = [&](size_t slot, size_t base, int size, bool hasName) {
        if (hasName) names_[slot] = DecodeName(&b[base]);
        for (int off = hasName ? static_cast<int>(sysex::kNameBytes) : 0; off < size; ++off)
            values_[slot][off] = b[base + off];
    };
    // Subtracts each parameter's bias from the bytes just stored.
    auto unbias = [&](Block block, int index) {
        for (Param p : AllParams()) {
            const ParamInfo& i = Info(p);
            if (i.block == block) values_[Slot(block, index)][i.offset] -= i.bias;
        }
    };
    switch (r.kind) {
        case Kind::MasterSetup: {
            mtune_ = static_cast<float>(NibblePair(b[0], b[1]) / 10.0 + 427.4);
            auto set = [&](MasterParam m, int v) { master_[static_cast<size_t>(m)] = static_cast<int16_t>(v); };
            set(MasterParam::MasterSetupLCD, b[2]);
            set(MasterParam::MasterSetupReverb, b[3] & 1);
            set(MasterParam::MasterSetupChorus, (b[3] >> 1) & 1);
            set(MasterParam::MasterSetupMIDIRxCh, b[8] + 16 * (b[9] & 1));
            set(MasterParam::MasterSetupPaCh, b[12] & 7);
            set(MasterParam::MasterSetupTiCh, b[13] & 7);
            set(MasterParam::MasterSetupRhCh, b[14] & 7);
            set(MasterParam::MasterSetupRInstCh, b[15] & 7);
            masterLoaded_ = true;
            break;
        }
        case Kind::PatchData: {
            if (b.size() != kPatchReplyBytes) return;
            decodeInto(Slot(Block::PatchCommon, 0), 0, 41, true);
            unbias(Block::PatchCommon, 0);
            decodeInto(Slot(Block::PatchRhythm, 0), 41, 7, false);
            unbias(Block::PatchRhythm, 0);
            for (int p = 1; p <= 6; ++p) {
                decodeInto(Slot(Block::PatchPart, p), 48 + 13 * (p - 1), 13, false);
                unbias(Block::PatchPart, p);
            }
            patchLoaded_ = true;
            break;
        }
        case Kind::TimbreData: {
            if (b.size() != kTimbreReplyBytes) return;
            for (int p = 1; p <= 6; ++p) {
                decodeInto(Slot(Block::Timbre, p), 50 * (p - 1), 50, true);
                unbias(Block::Timbre, p);
            }
            timbreLoaded_ = true;
            break;
        }
        case Kind::RhythmCommon:
            decodeInto(Slot(Block::RhythmCommon, 0), 0, 26, true);
            unbias(Block::RhythmCommon, 0);
            rhythmCommonLoaded_ = true;
            break;
        case Kind::RhythmInst:
            decodeInto(Slot(Block::RhythmInst, r.index), 0, 20, false);
            unbias(Block::RhythmInst, r.index);
            instLoaded_[r.index] = true;
            break;
        case Kind::PatchName:
            patchNames_[r.index] = DecodeName(b.data());
            patchNameLoaded_[r.index] = true;
            if (MemoryPatchNameOneReceived) MemoryPatchNameOneReceived();
            break;
        case Kind::TimbreName:
            timbreNames_[r.index] = DecodeName(b.data());
            timbreNameLoaded_[r.index] = true;
            if (MemoryTimbreNameOneReceived) MemoryTimbreNameOneReceived();
            break;
        case Kind::RhythmName:
            rhythmNames_[r.index] = DecodeName(b.data());
            rhythmNameLoaded_[r.index] = true;
            if (MemoryRhythmNameOneReceived) MemoryRhythmNameOneReceived();
            break;
        case Kind::PatchChange:
            // The module has taken the program change: what was read of the old
            // patch no longer holds.
            patchChangeAck_ = true;
            InvalidateAll();
            break;
    }
}

// ---------------------------------------------------------------------------
// Outbound

void clsU220::SendMessage(uint8_t command, Address address, const Bytes& data) {
    if (!MIDIOutput1) return;
    MIDIOutput1->sendSysEx(BuildFrame(static_cast<uint8_t>(deviceId_), command, address, data));
}

void clsU220::SendMasterSetup() {
    auto m = [&](MasterParam p) { return static_cast<uint8_t>(master_[static_cast<size_t>(p)]); };
    const int t = static_cast<int>(std::lround((static_cast<double>(mtune_) - 427.4) * 10.0));
    const uint8_t tune = static_cast<uint8_t>(std::clamp(t, 0, 255));
    const uint8_t rx = m(MasterParam::MasterSetupMIDIRxCh);
    Bytes d{static_cast<uint8_t>(tune & 0x0F),
            static_cast<uint8_t>(tune >> 4),
            static_cast<uint8_t>(m(MasterParam::MasterSetupLCD) & 0x0F),
            static_cast<uint8_t>(12 + 2 * (m(MasterParam::MasterSetupChorus) & 1) + (m(MasterParam::MasterSetupReverb) & 1)),
            0, 14, 0, 11,
            static_cast<uint8_t>(rx % 16),
            static_cast<uint8_t>(rx / 16),
            0, 3,
            m(MasterParam::MasterSetupPaCh), m(MasterParam::MasterSetupTiCh),
            m(MasterParam::MasterSetupRhCh), m(MasterParam::MasterSetupRInstCh)};
    SendMessage(sysex::kDT1, BlockAddress(Block::MasterSetup), d);
}

// ---------------------------------------------------------------------------
// Properties

size_t clsU220::Slot(Block b, int index) {
    switch (b) {
        case Block::PatchCommon: return 0;
        case Block::PatchRhythm: return 1;
        case Block::PatchPart: return 1 + index;
        case Block::Timbre: return 7 + index;
        case Block::RhythmCommon: return 14;
        case Block::RhythmInst: return 15 + index;
        case Block::MasterSetup: break;
    }
    return 0;
}

bool clsU220::CheckIndex(Block b, int index) {
    if (index >= IndexMin(b) && index <= IndexMax(b)) return true;
    ++rejectedWrites_;
    lastError_ = "Index " + std::to_string(index) + " is outside " + std::to_string(IndexMin(b)) + ".." +
                 std::to_string(IndexMax(b)) + ".";
    return false;
}

int16_t clsU220::get(Param p, int index) {
    const ParamInfo& i = Info(p);
    if (!CheckIndex(i.block, index)) return 0;
    switch (i.block) {
        case Block::PatchCommon:
        case Block::PatchRhythm:
        case Block::PatchPart: Fetch(Kind::PatchData, 0); break;
        case Block::Timbre: Fetch(Kind::TimbreData, 0); break;
        case Block::RhythmCommon: Fetch(Kind::RhythmCommon, 0); break;
        case Block::RhythmInst: Fetch(Kind::RhythmInst, index); break;
        case Block::MasterSetup: break;
    }
    return values_[Slot(i.block, index)][i.offset];
}

bool clsU220::let(Param p, int index, int16_t value) {
    const ParamInfo& i = Info(p);
    if (!CheckIndex(i.block, index)) return false;
    if (value < 0 || value >= i.listSize) {
        ++rejectedWrites_;
        lastError_ = std::string(i.name) + ": value " + std::to_string(value) + " is outside 0.." +
                     std::to_string(i.listSize - 1) + ".";
        return false;
    }
    values_[Slot(i.block, index)][i.offset] = value;
    SendMessage(sysex::kDT1, ParamAddress(p, index), {static_cast<uint8_t>(value + i.bias)});
    if (p == Param::PatchPartTimbreNumber) timbreLoaded_ = false;
    if (p == Param::PatchRhythmRhythmSetup) {
        rhythmCommonLoaded_ = false;
        instLoaded_.fill(false);
    }
    return true;
}

std::string clsU220::getName(NameParam n, int index) {
    const Block b = BlockOf(n);
    if (!CheckIndex(b, index)) return "";
    if (b == Block::Timbre) Fetch(Kind::TimbreData, 0);
    else if (b == Block::RhythmCommon) Fetch(Kind::RhythmCommon, 0);
    else Fetch(Kind::PatchData, 0);
    return names_[Slot(b, index)];
}

void clsU220::letName(NameParam n, int index, const std::string& nameBytes) {
    const Block b = BlockOf(n);
    if (!CheckIndex(b, index)) return;
    std::string cut = nameBytes.substr(0, sysex::kNameChars);
    names_[Slot(b, index)] = cut;
    SendMessage(sysex::kDT1, BlockAddress(b, index), EncodeName(cut));
}

int16_t clsU220::getMaster(MasterParam m) {
    Fetch(Kind::MasterSetup, 0);
    return master_[static_cast<size_t>(m)];
}

// Every master setup write sends the whole block, so the block must hold the
// module's values first: an unread block would send zeros for the other fields.
bool clsU220::letMaster(MasterParam m, int16_t value) {
    if (value < 0 || value >= ListSizeOf(m)) {
        ++rejectedWrites_;
        lastError_ = std::string(NameOf(m)) + ": value " + std::to_string(value) + " is outside 0.." +
                     std::to_string(ListSizeOf(m) - 1) + ".";
        return false;
    }
    if (!Fetch(Kind::MasterSetup, 0)) {
        ++rejectedWrites_;
        lastError_ = "The master setup could not be read, so it was not written.";
        return false;
    }
    master_[static_cast<size_t>(m)] = value;
    SendMasterSetup();
    return true;
}

float clsU220::MasterSetupMTune() {
    Fetch(Kind::MasterSetup, 0);
    return mtune_;
}

bool clsU220::MasterSetupMTune(float hz) {
    const long t = std::lround((static_cast<double>(hz) - 427.4) * 10.0);
    if (!std::isfinite(hz) || t < 0 || t > 255) {
        ++rejectedWrites_;
        lastError_ = "MasterSetupMTune: " + std::to_string(hz) + " Hz is outside 427.4..452.9.";
        return false;
    }
    if (!Fetch(Kind::MasterSetup, 0)) {
        ++rejectedWrites_;
        lastError_ = "The master setup could not be read, so it was not written.";
        return false;
    }
    // The module keeps tenths of a hertz: hold what it holds.
    mtune_ = static_cast<float>(t / 10.0 + 427.4);
    SendMasterSetup();
    return true;
}

std::string clsU220::MemoryPatchName(int16_t PatchNo) {
    if (PatchNo < 1 || PatchNo > 64) return "";
    Fetch(Kind::PatchName, PatchNo);
    return patchNames_[PatchNo];
}

std::string clsU220::MemoryTimbreName(int16_t TimbreNo) {
    if (TimbreNo < 1 || TimbreNo > 128) return "";
    Fetch(Kind::TimbreName, TimbreNo);
    return timbreNames_[TimbreNo];
}

std::string clsU220::MemoryRhythmName(int16_t RhythmNo) {
    if (RhythmNo < 1 || RhythmNo > 4) return "";
    Fetch(Kind::RhythmName, RhythmNo);
    return rhythmNames_[RhythmNo];
}

// ---------------------------------------------------------------------------
// Patch change and probe

void clsU220::PatchChange(int16_t PatchNo) {
    if (PatchNo < 1 || PatchNo > 64) {
        ++rejectedWrites_;
        lastError_ = "Patch number " + std::to_string(PatchNo) + " is outside 1..64.";
        return;
    }
    // The program change goes out on the module's Rx control channel: a channel
    // never read from the module would be a guess that the module may ignore
    // while its answer to the request below still looks like a confirmation.
    if (!Fetch(Kind::MasterSetup, 0)) {
        lastError_ = "The master setup could not be read, so no patch change was sent.";
        return;
    }
    for (;;) {
        AcquireSlot();
        // Channels 1..16 only: with the Rx control channel "Off" the module takes
        // no program change, so none is sent.
        const int channel = master_[static_cast<size_t>(MasterParam::MasterSetupMIDIRxCh)];
        if (channel >= 0 && channel < 16 && MIDIOutput1)
            MIDIOutput1->sendShort(static_cast<uint8_t>(0xC0 + channel), static_cast<uint8_t>(PatchNo - 1));
        patchChangeAck_ = false;
        const Clock::time_point deadline = Clock::now() + RequestTimeout;
        const uint64_t serial = nextSerial_;
        StartRequest(Kind::PatchChange, 0, deadline);
        host_.waitUntil([&] { return !open_ || open_->serial != serial; }, deadline);
        if (open_ && open_->serial == serial) CloseRequest();
        if (patchChangeAck_) break;
        ++timeouts_;
        if (!OnNotResponding || !OnNotResponding(KindName(Kind::PatchChange))) break;
    }
    patchChangeAck_ = false;
    // Whether or not the module confirmed, the program change went out.
    InvalidateAll();
}

bool clsU220::Responding() {
    patchLoaded_ = false;
    const Clock::time_point start = Clock::now();
    AcquireSlot();
    const Clock::duration left = std::chrono::seconds(3) - (Clock::now() - start);
    if (left <= Clock::duration::zero()) return false;
    return Fetch(Kind::PatchData, 0, true, left);
}

}  // namespace quorvane
