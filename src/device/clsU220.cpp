#include "clsU220.h"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

// What the inbound handler did with one message, from the counter it moved.
MonitorEvent::Verdict VerdictOf(const InboundStats& before, const InboundStats& after) {
    if (after.stored != before.stored) return MonitorEvent::Verdict::Stored;
    if (after.malformed != before.malformed) return MonitorEvent::Verdict::Malformed;
    if (after.foreign != before.foreign) return MonitorEvent::Verdict::Foreign;
    if (after.unexpected != before.unexpected) return MonitorEvent::Verdict::Unexpected;
    return MonitorEvent::Verdict::None;
}
}  // namespace

clsU220::clsU220(Host& host, std::unique_ptr<midi::MIDIOutput> output, std::unique_ptr<midi::MIDIInput> input)
    : MIDIOutput1(std::move(output)), MIDIInput1(std::move(input)), host_(host) {
    auto onError = [this](int code, const std::string& text) {
        if (code == 0 || code == 8) return;
        lastError_ = text;
        if (OnPortError) OnPortError(text);
    };
    if (MIDIOutput1) {
        MIDIOutput1->onError = onError;
        MIDIOutput1->onNotSent = [this](const Bytes& m, bool merged, const std::string& why) {
            if (OnMessage)
                OnMessage({merged ? MonitorEvent::Kind::Merged : MonitorEvent::Kind::Dropped, m,
                           MonitorEvent::Verdict::None, why});
        };
    }
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
        MIDIOutput1->onNotSent = nullptr;
        if (MIDIOutput1->isOpen()) MIDIOutput1->flush();
        MIDIOutput1->close();
    }
}

// ---------------------------------------------------------------------------
// Blocks and requests

std::string clsU220::ExpectedReply() const { return requests_.Open() ? RequestKindName(requests_.Open()->kind) : ""; }

bool clsU220::IsLoaded(Kind k, int index) const {
    switch (k) {
        case Kind::MasterSetup: return masterLoaded_;
        case Kind::PatchData: return patchLoaded_;
        case Kind::TimbreData: return timbreLoaded_;
        case Kind::RhythmCommon: return rhythmCommonLoaded_;
        case Kind::RhythmInst: return instLoaded_[index];
        case Kind::PatchName: return memoryNames_.Loaded(MemoryKind::Patch, index);
        case Kind::TimbreName: return memoryNames_.Loaded(MemoryKind::Timbre, index);
        case Kind::RhythmName: return memoryNames_.Loaded(MemoryKind::Rhythm, index);
        case Kind::PatchChange: return false;
        case Kind::RawRange: return false;  // asked again every time
    }
    return false;
}

bool clsU220::BlockLoaded(Block b, int index) const {
    switch (b) {
        case Block::MasterSetup: return masterLoaded_;
        case Block::PatchCommon:
        case Block::PatchRhythm:
        case Block::PatchPart: return patchLoaded_;
        case Block::Timbre: return timbreLoaded_;
        case Block::RhythmCommon: return rhythmCommonLoaded_;
        case Block::RhythmInst: return RhythmInstLoaded(index);
    }
    return false;
}

bool clsU220::Fetch(Kind k, int index, bool probe, Clock::time_point latest) {
    for (;;) {
        if (!probe && IsLoaded(k, index)) return true;
        RequestPtr r = requests_.Enqueue(k, index, probe ? latest - Clock::now() : Clock::duration(RequestTimeout), latest, probe);
        requests_.Await(r);
        if (probe) {
            if (r->state == State::Answered) return true;
            ++timeouts_;
            return false;
        }
        if (IsLoaded(k, index)) return true;
        // Answered, but forgotten again before this wait got back (a patch change
        // went out meanwhile): what came is stale, so ask again.
        if (r->state == State::Answered) continue;
        ++timeouts_;
        if (!OnNotResponding || !OnNotResponding(k)) return false;
    }
}

void clsU220::InvalidateAll() {
    patchLoaded_ = timbreLoaded_ = rhythmCommonLoaded_ = false;
    instLoaded_.fill(false);
}

void clsU220::ForgetModule() {
    InvalidateAll();
    masterLoaded_ = false;
    memoryNames_.ForgetAll();
    lastPatchSent_ = 0;  // nothing sent to this module yet
    workingEdited_ = false;
}

// ---------------------------------------------------------------------------
// Inbound

void clsU220::OnSysExReceived() {
    if (!MIDIInput1) return;
    while (MIDIInput1->messageCount() > 0) {
        Bytes message = MIDIInput1->receivedMessage();
        MIDIInput1->discard();
        const InboundStats before = stats_;
        HandleMessage(message);
        if (OnMessage) OnMessage({MonitorEvent::Kind::Received, std::move(message), VerdictOf(before, stats_)});
    }
    // Messages the input could not hand over (cut short, or its queue full).
    const uint64_t lost = MIDIInput1->droppedCount();
    if (lost > inputLost_ && OnMessage)
        OnMessage({MonitorEvent::Kind::Lost, {}, MonitorEvent::Verdict::None, std::to_string(lost - inputLost_)});
    inputLost_ = lost;
    host_.notify();
}

// Well-formed data sets from this module go to the request queue, which places
// them in the open request; everything else is dropped and counted.
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
    requests_.Take(m, stats_);
}

bool clsU220::Refuse(std::string why) {
    ++rejectedWrites_;
    lastError_ = std::move(why);
    return false;
}

void clsU220::Complete(Request& r) {
    const Bytes& b = r.buffer;
    switch (r.kind) {
        case Kind::MasterSetup:
            mtune_ = static_cast<float>(DecodeMasterSetup(b.data(), master_) / 10.0 + 427.4);
            masterLoaded_ = true;
            break;
        case Kind::PatchData:
        case Kind::TimbreData:
        case Kind::RhythmCommon:
        case Kind::RhythmInst: {
            if (!DecodeReply(r.kind, r.index, b, values_, names_)) return;
            switch (r.kind) {
                case Kind::PatchData: patchLoaded_ = true; break;
                case Kind::TimbreData: timbreLoaded_ = true; break;
                case Kind::RhythmCommon: rhythmCommonLoaded_ = true; break;
                default: instLoaded_[r.index] = true; break;
            }
            break;
        }
        case Kind::PatchName:
            memoryNames_.Set(MemoryKind::Patch, r.index, DecodeName(b.data()));
            if (MemoryPatchNameOneReceived) MemoryPatchNameOneReceived();
            break;
        case Kind::TimbreName:
            memoryNames_.Set(MemoryKind::Timbre, r.index, DecodeName(b.data()));
            if (MemoryTimbreNameOneReceived) MemoryTimbreNameOneReceived();
            break;
        case Kind::RhythmName:
            memoryNames_.Set(MemoryKind::Rhythm, r.index, DecodeName(b.data()));
            if (MemoryRhythmNameOneReceived) MemoryRhythmNameOneReceived();
            break;
        case Kind::PatchChange:
            workingName_ = DecodeName(b.data());
            break;
        case Kind::RawRange:
            break;  // the caller takes the bytes from its own request
    }
}

// ---------------------------------------------------------------------------
// Outbound

void clsU220::SendMessage(uint8_t command, Address address, const Bytes& data) {
    if (!MIDIOutput1) return;
    const Bytes frame = BuildFrame(static_cast<uint8_t>(deviceId_), command, address, data);
    if (OnMessage) OnMessage({MonitorEvent::Kind::Sent, frame});
    // 10 bits a byte at 31250 baud, then the gap. Without a gap the port sends at
    // once and nothing waits.
    const auto wire = std::chrono::microseconds(static_cast<long long>(frame.size()) * 320) +
                      std::chrono::milliseconds(MIDIOutput1->sendGapMs());
    busyUntil_ = MIDIOutput1->sendGapMs() <= 0
                     ? Clock::now()
                     : std::max(busyUntil_, Clock::now()) + std::chrono::duration_cast<Clock::duration>(wire);
    MIDIOutput1->sendSysEx(frame);
}

void clsU220::SendProgramChange(int statusAndData) {
    if (MIDIOutput1) {
        const Bytes pc{static_cast<uint8_t>(statusAndData >> 8), static_cast<uint8_t>(statusAndData & 0xFF)};
        if (OnMessage) OnMessage({MonitorEvent::Kind::Sent, pc});
        MIDIOutput1->sendShort(pc[0], pc[1]);
    }
    lastPatchSent_ = static_cast<int16_t>((statusAndData & 0x7F) + 1);
    workingEdited_ = false;  // the edits of the patch before are gone
    // From here the module holds another patch: what was read of the old
    // one no longer holds, whether or not the module confirms.
    InvalidateAll();
}

void clsU220::SendRequest(const Segment& s) {
    SendMessage(sysex::kRQ1, s.address,
                {static_cast<uint8_t>((s.size >> 14) & 0x7F), static_cast<uint8_t>((s.size >> 7) & 0x7F),
                 static_cast<uint8_t>(s.size & 0x7F)});
}

void clsU220::SendMasterSetup() {
    const int steps = static_cast<int>(std::lround((static_cast<double>(mtune_) - 427.4) * 10.0));
    SendMessage(sysex::kDT1, BlockAddress(Block::MasterSetup), EncodeMasterSetup(steps, master_));
}

// ---------------------------------------------------------------------------
// Properties

bool clsU220::CheckIndex(Block b, int index) {
    if (index >= IndexMin(b) && index <= IndexMax(b)) return true;
    return Refuse("Index " + std::to_string(index) + " is outside " + std::to_string(IndexMin(b)) + ".." +
                  std::to_string(IndexMax(b)) + ".");
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
        return Refuse(std::string(i.name) + ": value " + std::to_string(value) + " is outside 0.." +
                      std::to_string(i.listSize - 1) + ".");
    }
    values_[Slot(i.block, index)][i.offset] = value;
    SendMessage(sysex::kDT1, ParamAddress(p, index), {static_cast<uint8_t>(value + i.bias)});
    workingEdited_ = true;
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
    workingEdited_ = true;
}

int16_t clsU220::getMaster(MasterParam m) {
    Fetch(Kind::MasterSetup, 0);
    return master_[static_cast<size_t>(m)];
}

// Every master setup write sends the whole block, so the block must hold the
// module's values first: an unread block would send zeros for the other fields.
bool clsU220::letMaster(MasterParam m, int16_t value) {
    if (value < 0 || value >= ListSizeOf(m)) {
        return Refuse(std::string(NameOf(m)) + ": value " + std::to_string(value) + " is outside 0.." +
                      std::to_string(ListSizeOf(m) - 1) + ".");
    }
    if (!Fetch(Kind::MasterSetup, 0)) return Refuse("The master setup could not be read, so it was not written.");
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
        return Refuse("MasterSetupMTune: " + std::to_string(hz) + " Hz is outside 427.4..452.9.");
    }
    if (!Fetch(Kind::MasterSetup, 0)) return Refuse("The master setup could not be read, so it was not written.");
    // The module keeps tenths of a hertz: hold what it holds.
    mtune_ = static_cast<float>(t / 10.0 + 427.4);
    SendMasterSetup();
    return true;
}

std::string clsU220::MemoryPatchName(int16_t PatchNo) {
    if (PatchNo < 1 || PatchNo > AreaOf(MemoryKind::Patch).count) return "";
    Fetch(Kind::PatchName, PatchNo);
    return memoryNames_.Name(MemoryKind::Patch, PatchNo);
}

std::string clsU220::MemoryTimbreName(int16_t TimbreNo) {
    if (TimbreNo < 1 || TimbreNo > AreaOf(MemoryKind::Timbre).count) return "";
    Fetch(Kind::TimbreName, TimbreNo);
    return memoryNames_.Name(MemoryKind::Timbre, TimbreNo);
}

std::string clsU220::MemoryRhythmName(int16_t RhythmNo) {
    if (RhythmNo < 1 || RhythmNo > AreaOf(MemoryKind::Rhythm).count) return "";
    Fetch(Kind::RhythmName, RhythmNo);
    return memoryNames_.Name(MemoryKind::Rhythm, RhythmNo);
}

// ---------------------------------------------------------------------------
// Patch change and probe

PatchChangeResult clsU220::PatchChange(int16_t PatchNo) {
    if (PatchNo < 1 || PatchNo > 64) {
        ++rejectedWrites_;
        lastError_ = "Patch number " + std::to_string(PatchNo) + " is outside 1..64.";
        return PatchChangeResult::Refused;
    }
    // The program change goes out on the module's Rx control channel: a channel
    // never read from the module would be a guess that the module may ignore.
    if (!Fetch(Kind::MasterSetup, 0)) {
        lastError_ = "The master setup could not be read, so no patch change was sent.";
        return PatchChangeResult::NoAnswer;
    }
    // Channels 1..16 only: with the Rx control channel "Off" the module takes no
    // program change, so none is sent.
    const int channel = master_[static_cast<size_t>(MasterParam::MasterSetupMIDIRxCh)];
    if (channel < 0 || channel >= 16) {
        lastError_ = "The module's Rx control channel is Off, so it takes no program change.";
        return PatchChangeResult::RxChannelOff;
    }
    // What the working patch must be called once the module has switched.
    if (!Fetch(Kind::PatchName, PatchNo)) {
        lastError_ = "The name of patch " + std::to_string(PatchNo) + " could not be read, so no patch change was sent.";
        return PatchChangeResult::NoAnswer;
    }
    for (;;) {
        // Forgotten now too: a read queued after this point waits behind the
        // program change and gets the new patch.
        InvalidateAll();
        RequestPtr r = requests_.Enqueue(Kind::PatchChange, PatchNo, RequestTimeout, Clock::time_point::max(), false,
                               (0xC0 + channel) * 256 + (PatchNo - 1));
        requests_.Await(r);
        if (r->state == State::Answered) break;
        ++timeouts_;
        if (!OnNotResponding || !OnNotResponding(Kind::PatchChange)) {
            lastError_ = "The module did not answer after the change to patch " + std::to_string(PatchNo) + ".";
            return PatchChangeResult::NoAnswer;
        }
    }
    if (workingName_ == memoryNames_.Name(MemoryKind::Patch, PatchNo)) return PatchChangeResult::Done;
    static const char* const kModes[] = {"Map 1", "Map 2", "Map 3", "Map 4", "Dir", "Off"};
    const int mode = master_[static_cast<size_t>(MasterParam::MasterSetupPaCh)];
    const std::string& asked = memoryNames_.Name(MemoryKind::Patch, PatchNo);
    lastError_ = "The module's patch is \"" + workingName_ + "\", not patch " + std::to_string(PatchNo) + " \"" +
                 asked + "\": it switched elsewhere or not at all. Its Patch Change setting (" +
                 (mode >= 0 && mode < 6 ? kModes[mode] : "?") + ") decides which patch a program change selects.";
    return PatchChangeResult::OtherPatch;
}

// ---------------------------------------------------------------------------
// Raw memory

bool clsU220::ReadRanges(const std::vector<std::pair<Address, int>>& pieces, Bytes& out, int quietRetries) {
    out.clear();
    std::vector<Segment> segments;
    for (const auto& [a, size] : pieces) {
        if (size < 1 || size > kMaxDataSet) return false;
        segments.push_back({a, size, 0});
    }
    RequestQueue::PieceRead how;
    how.limit = [this](const std::vector<Segment>& asked) {
        std::chrono::microseconds wire{0};
        const auto gap = std::chrono::milliseconds(MIDIOutput1 ? MIDIOutput1->sendGapMs() : 0);
        // The request's own time on the wire and its gap, and the answer's.
        for (const Segment& s : asked) wire += std::chrono::microseconds((13 + s.size + 10) * 320) + gap;
        // The time limit counts what is still queued on the output ahead of the
        // requests and the wire time of requests and answers.
        const Clock::time_point now = Clock::now();
        const Clock::duration ahead = busyUntil_ > now ? busyUntil_ - now : Clock::duration::zero();
        return ahead + Clock::duration(RequestTimeout) + std::chrono::duration_cast<Clock::duration>(wire);
    };
    how.stop = [this] { return StopRawReads && StopRawReads(); };
    how.askAgain = [this] { return OnNotResponding && OnNotResponding(Kind::RawRange); };
    how.timedOut = [this] { ++timeouts_; };
    return requests_.ReadPieces(segments, out, quietRetries, how);
}

bool clsU220::ReadRange(Address address, int size, Bytes& out, int quietRetries) {
    std::vector<std::pair<Address, int>> pieces;
    for (int done = 0; done < size; done += kMaxDataSet)
        pieces.push_back({address.plus(done), std::min(kMaxDataSet, size - done)});
    if (pieces.empty()) {
        out.clear();
        return false;
    }
    return ReadRanges(pieces, out, quietRetries);
}

void clsU220::WriteRange(Address address, const Bytes& data) {
    const int size = static_cast<int>(data.size());
    for (int done = 0; done < size; done += kMaxDataSet) {
        const auto from = data.begin() + done;
        SendMessage(sysex::kDT1, address.plus(done), Bytes(from, from + std::min(kMaxDataSet, size - done)));
    }
    // What the model read of the areas written no longer holds.
    if (address.a1 == BlockAddress(Block::MasterSetup).a1) masterLoaded_ = false;
    else if (!memoryNames_.Forget(address, size)) InvalidateAll();
}

void clsU220::LearnMemoryNames(Address address, const Bytes& data) { memoryNames_.Learn(address, data); }

bool clsU220::Responding() {
    patchLoaded_ = false;
    return Fetch(Kind::PatchData, 0, true, Clock::now() + std::chrono::seconds(3));
}

// ---------------------------------------------------------------------------
// Test notes

bool clsU220::SendNote(int16_t channel, int16_t key, int16_t velocity) {
    if (channel < 0 || channel > 15 || key < 0 || key > 127 || velocity < 1 || velocity > 127) {
        return Refuse("Note " + std::to_string(key) + " on channel " + std::to_string(channel + 1) + " with velocity " +
                      std::to_string(velocity) + " is outside the MIDI ranges.");
    }
    if (!MIDIOutput1) return false;
    SendChannel({static_cast<uint8_t>(0x90 + channel), static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)});
    return true;
}

bool clsU220::SendNoteOff(int16_t channel, int16_t key) {
    if (channel < 0 || channel > 15 || key < 0 || key > 127) {
        return Refuse("Note off " + std::to_string(key) + " on channel " + std::to_string(channel + 1) +
                      " is outside the MIDI ranges.");
    }
    if (!MIDIOutput1) return false;
    // Release velocity 64, the usual value for keyboards that sense none.
    SendChannel({static_cast<uint8_t>(0x80 + channel), static_cast<uint8_t>(key), 0x40});
    return true;
}

void clsU220::SendChannel(const Bytes& m) {
    if (OnMessage) OnMessage({MonitorEvent::Kind::Sent, m});
    MIDIOutput1->sendChannel(m[0], m[1], m[2]);
}

}  // namespace quorvane
