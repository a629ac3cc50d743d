#include "ports/PortSet.h"

#include <rtmidi/RtMidi.h>

#include <optional>

#include "ports/JackPorts.h"
#include "ports/RtMidiPorts.h"

namespace quorvane::midi {

namespace {

// The built-in module needs no pause between messages; real ports get a gap so
// that a slow module is not flooded. A gap set by the caller wins in both cases.
int defaultGap(bool virtualModule) { return virtualModule ? 0 : RtMidiOutput::kDefaultGapMs; }

std::string orDefaultName(std::string name) { return name.empty() ? std::string(VirtualU220::kDeviceName) : name; }

// What both directions share: a virtual and a real back end, the one that is
// open, and the module behind the virtual one (held until the ports are gone).
// The back ends' errors reach this port's own handler.
template <class Port>
class Composite : public Port {
protected:
    Composite(std::unique_ptr<Port> virt, std::unique_ptr<Port> real, std::shared_ptr<void> keep)
        : keep_(std::move(keep)), virt_(std::move(virt)), real_(std::move(real)) {
        for (Port* p : {virt_.get(), real_.get()}) {
            p->onError = [this](int code, const std::string& text) {
                if (this->onError) this->onError(code, text);
            };
        }
    }
    void closeBoth() {
        virt_->close();
        real_->close();
        active_ = nullptr;
    }
    bool noSuchDevice(const char* kind, int index) {
        if (this->onError)
            this->onError(kErrNoSuchDevice, std::string("There is no MIDI ") + kind + " device number " +
                                                std::to_string(index) + ".");
        return false;
    }

    std::shared_ptr<void> keep_;  // declared first: destroyed last
    std::unique_ptr<Port> virt_;
    std::unique_ptr<Port> real_;
    Port* active_ = nullptr;
};

class CompositeOutput : public Composite<MIDIOutput> {
public:
    CompositeOutput(std::unique_ptr<MIDIOutput> virt, std::unique_ptr<MIDIOutput> real, std::shared_ptr<void> keep = nullptr)
        : Composite(std::move(virt), std::move(real), std::move(keep)) {
        for (MIDIOutput* p : {virt_.get(), real_.get()}) {
            p->onNotSent = [this](const Bytes& m, bool merged, const std::string& why) {
                if (onNotSent) onNotSent(m, merged, why);
            };
        }
    }
    ~CompositeOutput() override { close(); }

    // -1 is the virtual module, 0.. the real ports.
    int deviceCount() const override { return real_->deviceCount(); }
    std::string deviceName(int index) const override {
        return index == -1 ? orDefaultName(virt_->deviceName(-1)) : real_->deviceName(index);
    }
    bool open(int index) override {
        close();
        if (index != -1 && (index < 0 || real_->deviceName(index).empty())) return noSuchDevice("Out", index);
        MIDIOutput* target = index == -1 ? virt_.get() : real_.get();
        target->setSendGapMs(gap_.value_or(defaultGap(target == virt_.get())));
        if (!target->open(index)) return false;
        active_ = target;
        return true;
    }
    void close() override { closeBoth(); }
    bool isOpen() const override { return active_ && active_->isOpen(); }
    // With nothing open the real back end reports that nothing can be sent.
    void sendShort(uint8_t status, uint8_t data1) override { current()->sendShort(status, data1); }
    void sendChannel(uint8_t status, uint8_t data1, uint8_t data2) override {
        current()->sendChannel(status, data1, data2);
    }
    void sendSysEx(const Bytes& frame) override { current()->sendSysEx(frame); }
    void setSendGapMs(int ms) override {
        gap_ = ms < 0 ? 0 : ms;
        if (active_) active_->setSendGapMs(*gap_);
    }
    int sendGapMs() const override {
        if (active_) return active_->sendGapMs();
        return gap_.value_or(defaultGap(false));
    }
    void flush() override {
        if (active_) active_->flush();
    }

private:
    MIDIOutput* current() const { return active_ ? active_ : real_.get(); }
    std::optional<int> gap_;
};

class CompositeInput : public Composite<MIDIInput> {
public:
    CompositeInput(std::unique_ptr<MIDIInput> virt, std::unique_ptr<MIDIInput> real, std::shared_ptr<void> keep = nullptr)
        : Composite(std::move(virt), std::move(real), std::move(keep)) {
        for (MIDIInput* p : {virt_.get(), real_.get()}) {
            p->onSysExReceived = [this] {
                if (onSysExReceived) onSysExReceived();
            };
        }
    }
    ~CompositeInput() override { close(); }

    // 0 is the virtual module, 1.. the real ports.
    int deviceCount() const override { return 1 + real_->deviceCount(); }
    std::string deviceName(int index) const override {
        if (index == 0) return orDefaultName(virt_->deviceName(0));
        return index > 0 ? real_->deviceName(index - 1) : std::string();
    }
    bool open(int index) override {
        close();
        if (index < 0 || (index > 0 && real_->deviceName(index - 1).empty())) return noSuchDevice("In", index);
        MIDIInput* target = index == 0 ? virt_.get() : real_.get();
        if (!target->open(index == 0 ? 0 : index - 1)) return false;
        active_ = target;
        return true;
    }
    void close() override { closeBoth(); }
    bool isOpen() const override { return active_ && active_->isOpen(); }
    int messageCount() const override { return active_ ? active_->messageCount() : 0; }
    Bytes receivedMessage() const override { return active_ ? active_->receivedMessage() : Bytes{}; }
    void discard() override {
        if (active_) active_->discard();
    }
    uint64_t droppedCount() const override { return virt_->droppedCount() + real_->droppedCount(); }
};

}  // namespace

Ports CombinePorts(std::unique_ptr<MIDIOutput> virtualOutput, std::unique_ptr<MIDIInput> virtualInput,
                   std::unique_ptr<MIDIOutput> realOutput, std::unique_ptr<MIDIInput> realInput) {
    Ports ports;
    ports.output = std::make_unique<CompositeOutput>(std::move(virtualOutput), std::move(realOutput));
    ports.input = std::make_unique<CompositeInput>(std::move(virtualInput), std::move(realInput));
    return ports;
}

Ports CreatePorts(PostFn post, std::shared_ptr<VirtualU220> virtualModule) {
    if (!virtualModule) virtualModule = std::make_shared<VirtualU220>();
    Ports ports;
    ports.output = std::make_unique<CompositeOutput>(virtualModule->makeOutput(), std::make_unique<RtMidiOutput>(post),
                                                     virtualModule);
    ports.input = std::make_unique<CompositeInput>(virtualModule->makeInput(post), std::make_unique<RtMidiInput>(post),
                                                   virtualModule);
    return ports;
}

}  // namespace quorvane::midi
