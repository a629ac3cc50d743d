// The one object that stands for the connected module. Every window reads and
// writes the module through it: a get whose block has not been read yet sends
// the block's data requests and waits (events keep running) until the reply is
// stored; a let stores the value and sends it at once as one data set.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host.h"
#include "MemoryMap.h"
#include "MonitorEvent.h"
#include "ParamTable.h"
#include "Protocol.h"
#include "RequestKind.h"
#include "RequestQueue.h"
#include "midi/MidiPorts.h"

namespace quorvane {

// What became of a patch change.
enum class PatchChangeResult {
    Done,          // the module's working patch now carries the name of the patch asked for
    OtherPatch,    // it answered, but its working patch has another name: the module
                   // switched elsewhere or not at all (its Patch Change setting decides)
    RxChannelOff,  // its Rx control channel is Off: it takes no program change, none was sent
    NoAnswer,      // the module did not answer (the program change may have gone out)
    Refused,       // patch number outside 1..64: nothing sent
};

// A facade over the memory map (MemoryMap.h) and the request queue
// (RequestQueue.h): it keeps what was read and sends what is written.
class clsU220 : private RequestQueue::Owner {
public:
    // Takes ownership of the two ports. `host` must outlive the model.
    clsU220(Host& host, std::unique_ptr<midi::MIDIOutput> output, std::unique_ptr<midi::MIDIInput> input);
    ~clsU220() override;  // closes both ports
    clsU220(const clsU220&) = delete;
    clsU220& operator=(const clsU220&) = delete;

    std::unique_ptr<midi::MIDIOutput> MIDIOutput1;
    std::unique_ptr<midi::MIDIInput> MIDIInput1;

    // ---- owner's hooks ----------------------------------------------------
    // Called when a request got no complete answer in time, with what it asked
    // for. Return true to send it again (Retry), false to give up (Cancel): the
    // get then returns the stored value and the block stays unread, so the next
    // get asks again. Without a handler the get gives up.
    std::function<bool(RequestKind what)> OnNotResponding;
    // Asked while a raw memory read waits for the module: true once the user
    // has stopped the transfer. The read then gives up at once, without a
    // retry and without OnNotResponding. Call Host::notify() when it turns true.
    std::function<bool()> StopRawReads;
    // Port errors (code other than 0 and 8), to be shown with their text.
    std::function<void(const std::string& text)> OnPortError;
    // Raised after one memory name has been stored.
    std::function<void()> MemoryPatchNameOneReceived;
    std::function<void()> MemoryTimbreNameOneReceived;
    std::function<void()> MemoryRhythmNameOneReceived;
    // Every message sent and received (with what the inbound handler did with
    // it), and the send queue's merged and dropped messages. For watching only:
    // it must not call back into the model.
    std::function<void(const MonitorEvent&)> OnMessage;

    // Time limit of one block request (default 3 s).
    std::chrono::milliseconds RequestTimeout{3000};

    // ---- generic access (every accessor below is one line over these) -------
    int16_t get(Param p, int index = 0);
    // Refuses (returns false, stores and sends nothing) a value outside the
    // parameter's list or an index outside its range.
    bool let(Param p, int index, int16_t value);
    std::string getName(NameParam n, int index = 0);  // module bytes, 12 characters
    void letName(NameParam n, int index, const std::string& nameBytes);
    int16_t getMaster(MasterParam m);
    bool letMaster(MasterParam m, int16_t value);

    // ---- device ID ---------------------------------------------------------
    int16_t DeviceID() const { return deviceId_; }
    // Stores only; the next message carries it. A value that is not a 7-bit
    // byte would break the frame, so it is refused.
    void DeviceID(int16_t id) {
        if (id >= 0 && id <= 0x7F) deviceId_ = id;
        else ++rejectedWrites_;
    }

    // ---- master setup --------------------------------------------------------
    float MasterSetupMTune();
    // Refuses tunes outside 427.4 .. 452.9 Hz.
    bool MasterSetupMTune(float hz);
#define QUORVANE_MASTER_ACCESSOR(Name, Size)                                \
    int16_t Name() { return getMaster(MasterParam::Name); }                 \
    void Name(int16_t value) { letMaster(MasterParam::Name, value); }
    QUORVANE_MASTER_INT_PARAMS(QUORVANE_MASTER_ACCESSOR)
#undef QUORVANE_MASTER_ACCESSOR

    // ---- names -------------------------------------------------------------
    std::string PatchCommonPatchName() { return getName(NameParam::PatchCommonPatchName); }
    void PatchCommonPatchName(const std::string& v) { letName(NameParam::PatchCommonPatchName, 0, v); }
    std::string TimbreTimbreName(int16_t PartNo) { return getName(NameParam::TimbreTimbreName, PartNo); }
    void TimbreTimbreName(int16_t PartNo, const std::string& v) { letName(NameParam::TimbreTimbreName, PartNo, v); }
    std::string RhythmSeupCommonSetupName() { return getName(NameParam::RhythmSeupCommonSetupName); }
    void RhythmSeupCommonSetupName(const std::string& v) { letName(NameParam::RhythmSeupCommonSetupName, 0, v); }

    std::string MemoryPatchName(int16_t PatchNo);    // 1..64
    std::string MemoryTimbreName(int16_t TimbreNo);  // 1..128
    std::string MemoryRhythmName(int16_t RhythmNo);  // 1..4
    // Memory names are never written; these lets do nothing.
    void MemoryPatchName(int16_t, const std::string&) {}
    void MemoryTimbreName(int16_t, const std::string&) {}
    void MemoryRhythmName(int16_t, const std::string&) {}

    // ---- one-byte parameters -------------------------------------------------
#define QUORVANE_PARAM_ACCESSOR(Name, Blk, Off, Bias, Size) QUORVANE_ACCESSOR_##Blk(Name)
#define QUORVANE_ACCESSOR_NOINDEX(Name)                                       \
    int16_t Name() { return get(Param::Name, 0); }                            \
    void Name(int16_t value) { let(Param::Name, 0, value); }
#define QUORVANE_ACCESSOR_INDEX(Name, Idx)                                    \
    int16_t Name(int16_t Idx) { return get(Param::Name, Idx); }               \
    void Name(int16_t Idx, int16_t value) { let(Param::Name, Idx, value); }
#define QUORVANE_ACCESSOR_PatchCommon(Name) QUORVANE_ACCESSOR_NOINDEX(Name)
#define QUORVANE_ACCESSOR_PatchRhythm(Name) QUORVANE_ACCESSOR_NOINDEX(Name)
#define QUORVANE_ACCESSOR_RhythmCommon(Name) QUORVANE_ACCESSOR_NOINDEX(Name)
#define QUORVANE_ACCESSOR_PatchPart(Name) QUORVANE_ACCESSOR_INDEX(Name, PartNo)
#define QUORVANE_ACCESSOR_Timbre(Name) QUORVANE_ACCESSOR_INDEX(Name, PartNo)
#define QUORVANE_ACCESSOR_RhythmInst(Name) QUORVANE_ACCESSOR_INDEX(Name, InstNo)
    QUORVANE_ALL_PARAMS(QUORVANE_PARAM_ACCESSOR)
#undef QUORVANE_PARAM_ACCESSOR
#undef QUORVANE_ACCESSOR_NOINDEX
#undef QUORVANE_ACCESSOR_INDEX
#undef QUORVANE_ACCESSOR_PatchCommon
#undef QUORVANE_ACCESSOR_PatchRhythm
#undef QUORVANE_ACCESSOR_RhythmCommon
#undef QUORVANE_ACCESSOR_PatchPart
#undef QUORVANE_ACCESSOR_Timbre
#undef QUORVANE_ACCESSOR_RhythmInst

    // ---- tone names, patch change, probe ---------------------------------------
    // Internal tone names; media 0 and 1 only, "" for anything else.
    std::string ToneName(int16_t ToneMedia, int16_t ToneNo) const;
    void ToneName(int16_t, int16_t, const std::string&) {}

    // Switches the module to patch PatchNo (1..64) with a program change on the
    // module's Rx control channel, then reads the working patch's name and
    // compares it with the memory name of the patch asked for. Reads the master
    // setup and that memory name first when they have not been read; when that
    // fails nothing is sent. The patch, timbre and rhythm data are forgotten when
    // the change is queued and again when the program change goes out, so a read
    // made meanwhile waits behind it and gets the new patch. With the Rx control
    // channel "Off" nothing is sent. Anything but Done leaves a text in LastError().
    PatchChangeResult PatchChange(int16_t PatchNo);
    // The working patch's name as read after the last patch change ("" before).
    const std::string& PatchChangeWorkingName() const { return workingName_; }
    // The patch (1..64) of the last program change that went out, 0 before any.
    int16_t LastPatchSent() const { return lastPatchSent_; }

    // True when the module answers the patch data request within 3 s.
    bool Responding();

    // ---- state, for windows and tests ------------------------------------------
    bool MasterSetupLoaded() const { return masterLoaded_; }
    bool PatchDataLoaded() const { return patchLoaded_; }
    bool TimbreDataLoaded() const { return timbreLoaded_; }
    bool RhythmCommonLoaded() const { return rhythmCommonLoaded_; }
    bool RhythmInstLoaded(int InstNo) const { return InstNo >= 0 && InstNo <= 64 && instLoaded_[InstNo]; }
    bool MemoryPatchNameLoaded(int n) const { return memoryNames_.Loaded(MemoryKind::Patch, n); }
    bool MemoryTimbreNameLoaded(int n) const { return memoryNames_.Loaded(MemoryKind::Timbre, n); }
    bool MemoryRhythmNameLoaded(int n) const { return memoryNames_.Loaded(MemoryKind::Rhythm, n); }
    // True when the model holds the values of block `b` (index: PartNo or InstNo)
    // as read from the module, so reading them does not wait for it.
    bool BlockLoaded(Block b, int index = 0) const;
    // Kind of reply awaited ("" when no request is open).
    std::string ExpectedReply() const;
    bool RequestOpen() const { return requests_.Open() != nullptr; }
    // Requests waiting behind the open one.
    size_t RequestsQueued() const { return requests_.Queued(); }
    const InboundStats& Stats() const { return stats_; }
    uint64_t TimeoutCount() const { return timeouts_; }
    uint64_t RejectedWrites() const { return rejectedWrites_; }
    const std::string& LastError() const { return lastError_; }

    // Forgets every block (not the memory names), so the next gets read again.
    void InvalidateAll();
    // Forgets everything read from the module, the master setup and the memory
    // names included: after a switch to other ports or another device ID the
    // next gets read the module that is there now.
    void ForgetModule();

    // ---- for the main window: what a patch change would lose, re-reads -----------
    // True once a let has written the working area since the last program change
    // went out (or since the module was forgotten): the next program change
    // replaces those edits. False again after they were saved elsewhere.
    bool WorkingAreaEdited() const { return workingEdited_; }
    void WorkingAreaEdited(bool edited) { workingEdited_ = edited; }
    // Forgets the master setup (not the names), so the next get reads it again.
    void ForgetMasterSetup() { masterLoaded_ = false; }
    // Forgets which patch the last program change selected (the working area or
    // that memory was overwritten): a change to it is sent again.
    void ForgetPatchSent() { lastPatchSent_ = 0; }
    // Takes the memory names lying whole inside `data` (bytes the module is known
    // to hold from `address` on, as a verified write) as read, without a request.
    void LearnMemoryNames(Address address, const Bytes& data);

    // ---- raw memory (backup, restore, copy) -------------------------------------
    // Reads pieces of at most 128 addresses each, as the module answers them, as
    // one request through the same queue, reply checks and time limit as every
    // read; `out` gets their bytes back to back. An answer that goes missing costs
    // only the pieces not yet in: the rest is asked again, quietly up to
    // `quietRetries` times without progress, then through OnNotResponding. False
    // (and `out` empty) when it gave up or a piece is not 1..128 addresses.
    bool ReadRanges(const std::vector<std::pair<Address, int>>& pieces, Bytes& out, int quietRetries = 0);
    bool ReadRange(Address address, int size, Bytes& out, int quietRetries = 0);
    // Sends `data` from `address` on as data sets of at most 128 bytes through
    // the paced output, and forgets what was read of the blocks and memory names
    // it touches.
    void WriteRange(Address address, const Bytes& data);
    // When what is queued on the output is expected to have left, by the wire's
    // pace and the send gap.
    Clock::time_point OutputBusyUntil() const { return busyUntil_; }

    // The inbound handler: takes every waiting message off the input. Runs on the
    // input's received event; tests and tools may call it directly.
    void OnSysExReceived();

private:
    using Kind = RequestKind;
    using State = RequestQueue::State;
    using Request = RequestQueue::Request;
    using RequestPtr = RequestQueue::RequestPtr;

    bool IsLoaded(Kind k, int index) const override;
    void SendProgramChange(int statusAndData) override;
    void SendRequest(const Segment& s) override;
    void Complete(Request& r) override;
    // Runs one block read to completion: queues the request, waits for its
    // answer; on time-out asks OnNotResponding (unless `probe`). True when loaded.
    bool Fetch(Kind k, int index, bool probe = false, Clock::time_point latest = Clock::time_point::max());
    void HandleMessage(const Bytes& message);

    void SendMessage(uint8_t command, Address address, const Bytes& data);
    void SendMasterSetup();
    bool CheckIndex(Block b, int index);
    // Counts a refused write and keeps why for LastError(); returns false.
    bool Refuse(std::string why);

    Host& host_;
    int16_t deviceId_ = 16;
    RequestQueue requests_{host_, *this};
    InboundStats stats_;
    uint64_t timeouts_ = 0;
    uint64_t rejectedWrites_ = 0;
    uint64_t inputLost_ = 0;  // the input's dropped count last reported to OnMessage
    std::string lastError_;

    // Master setup.
    float mtune_ = 0.0f;
    MasterValues master_{};
    // Temporary areas: values (model values, device byte minus bias) by block slot (MemoryMap's Slot) and offset.
    SlotValues values_{};
    SlotNames names_{};

    MemoryNameStore memoryNames_;

    bool masterLoaded_ = false, patchLoaded_ = false, timbreLoaded_ = false, rhythmCommonLoaded_ = false;
    std::string workingName_;
    int16_t lastPatchSent_ = 0;
    bool workingEdited_ = false;
    std::array<bool, 65> instLoaded_{};

    // When what is queued on the output is expected to have left.
    Clock::time_point busyUntil_{};

public:
    // ---- test notes ------------------------------------------------------------
    // A note on (velocity 1..127) or off for key 0..127 on MIDI channel 0..15,
    // sent at once through the paced output like every other message; nothing
    // waits for the module. Refused (false, nothing sent) outside those ranges.
    bool SendNote(int16_t channel, int16_t key, int16_t velocity);
    bool SendNoteOff(int16_t channel, int16_t key);

private:
    void SendChannel(const Bytes& threeBytes);  // reported to OnMessage, then sent
};

}  // namespace quorvane
