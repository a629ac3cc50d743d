// libFuzzer target for the model's inbound handler.
//
// The model runs on in-memory ports. The input picks one request (a block, a
// memory name or a patch change) and a stream of operations that make the
// messages "the module" sends back: raw bytes, well-formed data sets for the
// request's addresses, damaged or cut ones, data sets for other addresses or
// from another device, other commands, and event boundaries. When the model
// sends its data request, the fake output queues them on the fake input and
// posts one wake-up per group, so the model's own wait takes them in.
//
// Checked for every input:
// - no crash, no sanitizer report;
// - a patch change counts as confirmed only when the working patch's name came
//   whole from well-formed data sets and equals the asked patch's memory name;
// - every message delivered is counted exactly once (stored, malformed,
//   foreign or unexpected), and no request is left open;
// - a block flag is set only for the block asked for, and when it is set every
//   value the model holds came from a well-formed data set of this module for
//   that address (the harness judges well-formedness on its own);
// - a block whose flag is not set holds nothing: its values are still the
//   initial ones (no half-stored block).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/Host.h"
#include "device/MemoryMap.h"
#include "device/MessageDecoder.h"
#include "device/ParamTable.h"
#include "device/Protocol.h"
#include "device/clsU220.h"
#include "midi/MidiPorts.h"

using namespace quorvane;

namespace {

constexpr uint8_t kDeviceId = 0x10;

#define FUZZ_CHECK(cond, ...)                                              \
    do {                                                                   \
        if (!(cond)) {                                                     \
            std::fprintf(stderr, "check failed: %s: ", #cond);             \
            std::fprintf(stderr, __VA_ARGS__);                             \
            std::fprintf(stderr, "\n");                                    \
            std::abort();                                                  \
        }                                                                  \
    } while (0)

// ---------------------------------------------------------------------------
// The input, read front to back; past the end it yields zeros.

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ >= end_; }
    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// ---------------------------------------------------------------------------
// In-memory ports

class FakeInput : public midi::MIDIInput {
public:
    int deviceCount() const override { return 1; }
    std::string deviceName(int) const override { return "fuzz in"; }
    bool open(int) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    int messageCount() const override { return static_cast<int>(visible_.size()); }
    Bytes receivedMessage() const override { return visible_.empty() ? Bytes{} : visible_.front(); }
    void discard() override {
        if (!visible_.empty()) visible_.pop_front();
    }

    // Messages of one event: they become visible together when its wake-up runs.
    std::deque<std::vector<Bytes>> groups;

    void arrive() {
        if (groups.empty()) return;
        for (Bytes& m : groups.front()) visible_.push_back(std::move(m));
        groups.pop_front();
        if (onSysExReceived) onSysExReceived();
    }

private:
    std::deque<Bytes> visible_;
    bool open_ = false;
};

class FakeOutput : public midi::MIDIOutput {
public:
    int deviceCount() const override { return 0; }
    std::string deviceName(int index) const override { return index == -1 ? "fuzz out" : ""; }
    bool open(int) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void sendShort(uint8_t, uint8_t) override {}
    void sendSysEx(const Bytes& frame) override {
        if (onRequest && frame.size() > 4 && frame[4] == sysex::kRQ1) onRequest();
    }
    void setSendGapMs(int) override {}
    int sendGapMs() const override { return 0; }

    std::function<void()> onRequest;

private:
    bool open_ = false;
};

// ---------------------------------------------------------------------------
// Requests and their stretches of memory

enum class Kind { Master, Patch, Timbre, RhythmCommon, RhythmInst, PatchName, TimbreName, RhythmName, PatchChange, Count };

// The stretches a request asks for, from the model's own memory map: the
// harness builds its answers for exactly what the model will ask.
using Stretch = Segment;

RequestKind RequestOf(Kind k) {
    switch (k) {
        case Kind::Master: return RequestKind::MasterSetup;
        case Kind::Patch: return RequestKind::PatchData;
        case Kind::Timbre: return RequestKind::TimbreData;
        case Kind::RhythmCommon: return RequestKind::RhythmCommon;
        case Kind::RhythmInst: return RequestKind::RhythmInst;
        case Kind::PatchName: return RequestKind::PatchName;
        case Kind::TimbreName: return RequestKind::TimbreName;
        case Kind::RhythmName: return RequestKind::RhythmName;
        case Kind::PatchChange: return RequestKind::PatchChange;  // confirmed by the working patch's name
        case Kind::Count: break;
    }
    return RequestKind::RawRange;
}

std::vector<Stretch> StretchesOf(Kind k, int index) { return SegmentsOf(RequestOf(k), index); }

// Index of the request from one input byte.
int IndexFor(Kind k, uint8_t b) {
    switch (k) {
        case Kind::RhythmInst: return b % 64;
        case Kind::PatchName:
        case Kind::PatchChange: return 1 + b % 64;
        case Kind::TimbreName: return 1 + b % 128;
        case Kind::RhythmName: return 1 + b % 4;
        default: return 0;
    }
}

// ---------------------------------------------------------------------------
// Messages, built and judged here without the code under test

Bytes Frame(uint8_t device, uint8_t command, Address a, const std::vector<uint8_t>& data) {
    Bytes m{0xF0, 0x41, device, 0x2B, command, a.a1, a.a2, a.a3};
    unsigned sum = a.a1 + a.a2 + a.a3;
    for (uint8_t d : data) {
        m.push_back(d);
        sum += d;
    }
    m.push_back(static_cast<uint8_t>((128 - sum % 128) % 128));
    m.push_back(0xF7);
    return m;
}

int Key(Address a) { return a.a1 << 14 | a.offset(); }

// What well-formed data sets of this module carried, address by address.
using Carried = std::map<int, std::set<uint8_t>>;

void Judge(const Bytes& m, Carried& carried) {
    if (m.size() < 10 || m[0] != 0xF0 || m[1] != 0x41 || m[2] != kDeviceId || m[3] != 0x2B || m[4] != 0x12 ||
        m.back() != 0xF7)
        return;
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < m.size(); ++i) {
        if (m[i] >= 0x80) return;
        if (i >= 5) sum += m[i];
    }
    if (sum % 128 != 0) return;
    const Address a{m[5], m[6], m[7]};
    for (size_t i = 8; i + 2 < m.size(); ++i) carried[Key(a.plus(static_cast<int>(i - 8)))].insert(m[i]);
}

// Turns the rest of the input into groups of messages.
std::deque<std::vector<Bytes>> Script(Reader& in, Kind kind, int index) {
    const std::vector<Stretch> stretches = StretchesOf(kind, index);
    std::deque<std::vector<Bytes>> groups(1);
    auto push = [&](Bytes m) { groups.back().push_back(std::move(m)); };
    auto data = [&](int n, bool nibbles) {
        std::vector<uint8_t> d(static_cast<size_t>(n));
        for (uint8_t& b : d) b = in.byte() & (nibbles ? 0x0F : 0x7F);
        return d;
    };
    for (int ops = 0; !in.empty() && ops < 256; ++ops) {
        const uint8_t op = in.byte();
        const Stretch& s = stretches[in.byte() % stretches.size()];
        const uint8_t device = (op & 0x10) ? static_cast<uint8_t>(in.byte() & 0x7F) : kDeviceId;
        switch (op & 7) {
            case 0: {  // raw bytes
                Bytes m(in.byte() % 64);
                for (uint8_t& b : m) b = in.byte();
                push(std::move(m));
                break;
            }
            case 1:    // a well-formed data set inside the request's stretch
            case 2:    // ... with one byte changed
            case 7: {  // ... cut short
                const int off = in.byte() % s.size;
                const int len = 1 + in.byte() % (s.size - off);
                Bytes m = Frame(device, sysex::kDT1, s.address.plus(off), data(len, (op & 8) != 0));
                if ((op & 7) == 2) m[in.byte() % m.size()] = in.byte();
                if ((op & 7) == 7) m.resize(in.byte() % m.size());
                push(std::move(m));
                break;
            }
            case 3:  // an event boundary
                groups.emplace_back();
                break;
            case 4: {  // the whole answer, stretch by stretch, nibbles where they belong
                for (const Stretch& t : stretches) {
                    std::vector<uint8_t> d(static_cast<size_t>(t.size));
                    for (int i = 0; i < t.size; ++i) d[i] = in.byte() & (i < t.nibbles ? 0x0F : 0x7F);
                    push(Frame(device, sysex::kDT1, t.address, d));
                }
                break;
            }
            case 5: {  // a data set anywhere
                const Address a{static_cast<uint8_t>(in.byte() & 0x7F), static_cast<uint8_t>(in.byte() & 0x7F),
                                static_cast<uint8_t>(in.byte() & 0x7F)};
                push(Frame(device, sysex::kDT1, a, data(1 + in.byte() % 40, (op & 8) != 0)));
                break;
            }
            case 6: {  // another command or another model byte
                Bytes m = Frame(device, in.byte() & 0x7F, s.address, data(in.byte() % 8, false));
                if (op & 8) m[3] = in.byte() & 0x7F;
                push(std::move(m));
                break;
            }
        }
    }
    return groups;
}

// ---------------------------------------------------------------------------
// Checks of what the model holds

struct Checker {
    clsU220& u;
    const Carried& carried;

    bool Came(Address a, int value) const {
        auto it = carried.find(Key(a));
        return it != carried.end() && it->second.count(static_cast<uint8_t>(value));
    }
    // A name character came from a pair of carried nibbles.
    bool NameCame(Address base, const std::string& name) const {
        if (name.size() != sysex::kNameChars) return false;
        for (size_t i = 0; i < name.size(); ++i) {
            auto lo = carried.find(Key(base.plus(static_cast<int>(2 * i))));
            auto hi = carried.find(Key(base.plus(static_cast<int>(2 * i + 1))));
            if (lo == carried.end() || hi == carried.end()) return false;
            bool found = false;
            for (uint8_t l : lo->second)
                for (uint8_t h : hi->second)
                    if (static_cast<uint8_t>(l + 16 * h) == static_cast<uint8_t>(name[i])) found = true;
            if (!found) return false;
        }
        return true;
    }
    // With the block loaded these gets send nothing.
    void Values(Block b, int index, bool loaded) {
        for (Param p : AllParams()) {
            const ParamInfo& i = Info(p);
            if (i.block != b) continue;
            const int v = u.get(p, index);
            if (loaded)
                FUZZ_CHECK(Came(ParamAddress(p, index), v + i.bias), "%s[%d] = %d came from no well-formed data set",
                           i.name, index, v);
            else
                FUZZ_CHECK(v == 0, "%s[%d] = %d stored although the block is not loaded", i.name, index, v);
        }
    }
    void Name(NameParam n, int index, bool loaded) {
        const std::string name = u.getName(n, index);
        if (loaded) FUZZ_CHECK(NameCame(BlockAddress(BlockOf(n), index), name), "%s[%d] came from no data set", NameOf(n), index);
        else FUZZ_CHECK(name.empty(), "%s[%d] stored although the block is not loaded", NameOf(n), index);
    }
    void MemoryName(const std::string& name, Address a, bool loaded) {
        if (loaded) FUZZ_CHECK(NameCame(a, name), "memory name came from no data set");
        else FUZZ_CHECK(name.empty(), "memory name stored although not loaded");
    }
    void Master(bool loaded) {
        auto at = [](int off) { return Address{0, 0, static_cast<uint8_t>(off)}; };
        auto any = [&](int off, auto pred) {
            auto it = carried.find(Key(at(off)));
            if (it == carried.end()) return false;
            for (uint8_t v : it->second)
                if (pred(v)) return true;
            return false;
        };
        const float tune = u.MasterSetupMTune();
        const int lcd = u.MasterSetupLCD(), reverb = u.MasterSetupReverb(), chorus = u.MasterSetupChorus();
        const int rx = u.MasterSetupMIDIRxCh();
        const int ch[4] = {u.MasterSetupPaCh(), u.MasterSetupTiCh(), u.MasterSetupRhCh(), u.MasterSetupRInstCh()};
        if (!loaded) {
            FUZZ_CHECK(tune == 0.0f && lcd == 0 && reverb == 0 && chorus == 0 && rx == 0 && ch[0] == 0 && ch[1] == 0 &&
                           ch[2] == 0 && ch[3] == 0,
                       "master setup stored although not loaded");
            return;
        }
        bool tuneOk = false;
        if (auto lo = carried.find(Key(at(0))), hi = carried.find(Key(at(1))); lo != carried.end() && hi != carried.end())
            for (uint8_t l : lo->second)
                for (uint8_t h : hi->second)
                    if (static_cast<float>(NibblePair(l, h) / 10.0 + 427.4) == tune) tuneOk = true;
        FUZZ_CHECK(tuneOk, "master tune %f came from no data set", static_cast<double>(tune));
        FUZZ_CHECK(any(2, [&](uint8_t v) { return v == lcd; }), "LCD %d", lcd);
        FUZZ_CHECK(any(3, [&](uint8_t v) { return (v & 1) == reverb && ((v >> 1) & 1) == chorus; }), "reverb/chorus");
        bool rxOk = false;
        if (auto lo = carried.find(Key(at(8))), hi = carried.find(Key(at(9))); lo != carried.end() && hi != carried.end())
            for (uint8_t l : lo->second)
                for (uint8_t h : hi->second)
                    if (l + 16 * (h & 1) == rx) rxOk = true;
        FUZZ_CHECK(rxOk, "Rx channel %d", rx);
        for (int k = 0; k < 4; ++k) FUZZ_CHECK(any(12 + k, [&](uint8_t v) { return (v & 7) == ch[k]; }), "channel %d", k);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Reader in(data, size);
    const Kind kind = static_cast<Kind>(in.byte() % static_cast<int>(Kind::Count));
    const int index = IndexFor(kind, in.byte());

    SimpleHost host;
    auto input = std::make_unique<FakeInput>();
    auto output = std::make_unique<FakeOutput>();
    FakeInput* fin = input.get();
    FakeOutput* fout = output.get();
    clsU220 u(host, std::move(output), std::move(input));
    u.MIDIOutput1->open(-1);
    u.MIDIInput1->open(0);
    u.DeviceID(kDeviceId);
    // The whole answer is queued before the wait starts, so a zero time limit
    // still lets the wait take all of it in, and ends it at once afterwards.
    u.RequestTimeout = std::chrono::milliseconds(0);
    u.OnNotResponding = [](quorvane::RequestKind) { return false; };
    // What the MIDI monitor sees: every message received comes with what became
    // of it, and every message can be put into words.
    uint64_t verdicts = 0;
    u.OnMessage = [&](const MonitorEvent& e) {
        FUZZ_CHECK(!DescribeEvent(e).empty(), "a message without words");
        if (e.kind != MonitorEvent::Kind::Received) return;
        FUZZ_CHECK(e.verdict != MonitorEvent::Verdict::None, "a received message without a verdict");
        ++verdicts;
    };

    Carried carried;
    uint64_t delivered = 0;
    std::string askedName;  // PatchChange: the memory name of the patch asked for
    if (kind == Kind::PatchChange) {
        // A patch change reads the master setup and the asked patch's memory name
        // first when they have not been read: those reads get one well-formed
        // answer each, so that the scripted answer meets the patch change's own
        // request (the working patch's name).
        std::vector<uint8_t> name(sysex::kNameBytes);
        for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<uint8_t>((i * 7 + index) & 0x0F);
        std::deque<Bytes> primes{Frame(kDeviceId, sysex::kDT1, BlockAddress(Block::MasterSetup), std::vector<uint8_t>(16, 0)),
                                 Frame(kDeviceId, sysex::kDT1, PatchMemoryAddress(index), name)};
        for (const Bytes& m : primes) {
            Judge(m, carried);
            ++delivered;
        }
        fout->onRequest = [&] {
            if (primes.empty()) return;
            fin->groups.push_back({primes.front()});
            primes.pop_front();
            host.post([fin] { fin->arrive(); });
        };
        u.MasterSetupLCD();
        askedName = u.MemoryPatchName(static_cast<int16_t>(index));
        FUZZ_CHECK(u.MasterSetupLoaded() && u.MemoryPatchNameLoaded(index),
                   "the master setup or the patch name was not read from a well-formed answer");
    }

    // The answer, and what its well-formed messages carried.
    std::deque<std::vector<Bytes>> groups = Script(in, kind, index);
    for (const auto& g : groups)
        for (const Bytes& m : g) {
            Judge(m, carried);
            ++delivered;
        }
    bool answered = false;
    fout->onRequest = [&] {
        if (answered) return;  // later requests get no answer
        answered = true;
        fin->groups = std::move(groups);
        for (size_t g = 0; g < fin->groups.size(); ++g) host.post([fin] { fin->arrive(); });
    };

    PatchChangeResult changeResult = PatchChangeResult::Refused;
    switch (kind) {
        case Kind::Master: u.MasterSetupLCD(); break;
        case Kind::Patch: u.PatchCommonChorusType(); break;
        case Kind::Timbre: u.TimbreToneMedia(1); break;
        case Kind::RhythmCommon: u.RhythmSetupCommonBenderRangeLower(); break;
        case Kind::RhythmInst: u.RhythmSetupInstPan(static_cast<int16_t>(index)); break;
        case Kind::PatchName: u.MemoryPatchName(static_cast<int16_t>(index)); break;
        case Kind::TimbreName: u.MemoryTimbreName(static_cast<int16_t>(index)); break;
        case Kind::RhythmName: u.MemoryRhythmName(static_cast<int16_t>(index)); break;
        case Kind::PatchChange: changeResult = u.PatchChange(static_cast<int16_t>(index)); break;
        case Kind::Count: break;
    }
    host.processPending();  // messages that came after the reply was complete

    const InboundStats& st = u.Stats();
    FUZZ_CHECK(st.stored + st.dropped() == delivered, "%llu messages delivered, %llu counted",
               static_cast<unsigned long long>(delivered), static_cast<unsigned long long>(st.stored + st.dropped()));
    FUZZ_CHECK(!u.RequestOpen(), "a request is still open");
    FUZZ_CHECK(verdicts == delivered, "%llu messages delivered, %llu reported to the monitor",
               static_cast<unsigned long long>(delivered), static_cast<unsigned long long>(verdicts));

    static const bool verbose = std::getenv("QUORVANE_FUZZ_VERBOSE") != nullptr;
    if (verbose)
        std::fprintf(stderr, "kind %d index %d: delivered %llu stored %llu malformed %llu foreign %llu unexpected %llu, "
                             "flags master %d patch %d timbre %d rhythm %d inst %d names %d/%d/%d\n",
                     static_cast<int>(kind), index, static_cast<unsigned long long>(delivered),
                     static_cast<unsigned long long>(st.stored), static_cast<unsigned long long>(st.malformed),
                     static_cast<unsigned long long>(st.foreign), static_cast<unsigned long long>(st.unexpected),
                     u.MasterSetupLoaded(), u.PatchDataLoaded(), u.TimbreDataLoaded(), u.RhythmCommonLoaded(),
                     u.RhythmInstLoaded(index), u.MemoryPatchNameLoaded(index), u.MemoryTimbreNameLoaded(index),
                     u.MemoryRhythmNameLoaded(index));

    // Flags: only the block asked for.
    const bool master = u.MasterSetupLoaded(), patch = u.PatchDataLoaded(), timbre = u.TimbreDataLoaded();
    const bool rhythm = u.RhythmCommonLoaded();
    FUZZ_CHECK(!master || kind == Kind::Master || kind == Kind::PatchChange, "master setup flag set");
    FUZZ_CHECK(!patch || kind == Kind::Patch, "patch data flag set");
    FUZZ_CHECK(!timbre || kind == Kind::Timbre, "timbre data flag set");
    FUZZ_CHECK(!rhythm || kind == Kind::RhythmCommon, "rhythm common flag set");
    if (kind == Kind::PatchChange) {
        // Confirmed only by a name that came whole from well-formed data sets,
        // and only when it is the asked patch's name.
        const bool answered = changeResult == PatchChangeResult::Done || changeResult == PatchChangeResult::OtherPatch;
        FUZZ_CHECK(answered || changeResult == PatchChangeResult::NoAnswer, "patch change result %d", static_cast<int>(changeResult));
        if (answered) Checker{u, carried}.MemoryName(u.PatchChangeWorkingName(), BlockAddress(Block::PatchCommon), true);
        else FUZZ_CHECK(u.PatchChangeWorkingName().empty(), "working name stored without a complete answer");
        FUZZ_CHECK((changeResult == PatchChangeResult::Done) == (answered && u.PatchChangeWorkingName() == askedName),
                   "patch change confirmed against another name");
    }
    for (int i = 0; i <= 64; ++i)
        FUZZ_CHECK(!u.RhythmInstLoaded(i) || (kind == Kind::RhythmInst && i == index), "instrument %d flag set", i);
    for (int n = 1; n <= 128; ++n) {
        FUZZ_CHECK(!u.MemoryPatchNameLoaded(n) || ((kind == Kind::PatchName || kind == Kind::PatchChange) && n == index),
                   "patch name %d flag", n);
        FUZZ_CHECK(!u.MemoryTimbreNameLoaded(n) || (kind == Kind::TimbreName && n == index), "timbre name %d flag", n);
        FUZZ_CHECK(!u.MemoryRhythmNameLoaded(n) || (kind == Kind::RhythmName && n == index), "rhythm name %d flag", n);
    }

    // Values: what a set flag vouches for came from well-formed data sets; an
    // unset flag leaves the block empty. The gets below send requests that get no
    // answer and end at once.
    Checker check{u, carried};
    switch (kind) {
        case Kind::Master:
        case Kind::PatchChange: check.Master(master); break;
        case Kind::Patch:
            check.Name(NameParam::PatchCommonPatchName, 0, patch);
            check.Values(Block::PatchCommon, 0, patch);
            check.Values(Block::PatchRhythm, 0, patch);
            for (int p = 1; p <= 6; ++p) check.Values(Block::PatchPart, p, patch);
            break;
        case Kind::Timbre:
            for (int p = 1; p <= 6; ++p) {
                check.Name(NameParam::TimbreTimbreName, p, timbre);
                check.Values(Block::Timbre, p, timbre);
            }
            break;
        case Kind::RhythmCommon:
            check.Name(NameParam::RhythmSeupCommonSetupName, 0, rhythm);
            check.Values(Block::RhythmCommon, 0, rhythm);
            break;
        case Kind::RhythmInst: check.Values(Block::RhythmInst, index, u.RhythmInstLoaded(index)); break;
        case Kind::PatchName: {
            const bool loaded = u.MemoryPatchNameLoaded(index);
            check.MemoryName(u.MemoryPatchName(static_cast<int16_t>(index)), PatchMemoryAddress(index), loaded);
            break;
        }
        case Kind::TimbreName: {
            const bool loaded = u.MemoryTimbreNameLoaded(index);
            check.MemoryName(u.MemoryTimbreName(static_cast<int16_t>(index)), TimbreMemoryAddress(index), loaded);
            break;
        }
        case Kind::RhythmName: {
            const bool loaded = u.MemoryRhythmNameLoaded(index);
            check.MemoryName(u.MemoryRhythmName(static_cast<int16_t>(index)), RhythmMemoryAddress(index), loaded);
            break;
        }
        case Kind::Count: break;
    }
    return 0;
}
