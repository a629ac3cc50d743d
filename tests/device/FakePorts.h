// In-memory ports for model tests: the output records every message sent and may
// answer through a responder; answers reach the input queue and are announced on
// the host's thread, the way a real port does it.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "device/Host.h"
#include "midi/MidiPorts.h"

namespace quorvane::test {

using midi::Bytes;

struct FakeWire {
    SimpleHost* host = nullptr;
    std::vector<Bytes> sent;  // everything the model sent, in order
    std::deque<Bytes> inbox;
    std::function<std::vector<Bytes>(const Bytes&)> responder;
    std::function<void()> notifyInput;

    // Puts messages on the input and lets the model hear of them (posted).
    void deliver(std::vector<Bytes> messages) {
        if (messages.empty()) return;
        host->post([this, messages = std::move(messages)] {
            for (auto& m : messages) inbox.push_back(m);
            if (notifyInput) notifyInput();
        });
    }
};

class FakeOutput : public midi::MIDIOutput {
public:
    explicit FakeOutput(std::shared_ptr<FakeWire> w) : wire_(std::move(w)) {}
    int deviceCount() const override { return 0; }
    std::string deviceName(int) const override { return "fake"; }
    bool open(int) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void sendShort(uint8_t status, uint8_t data1) override { send({status, data1}); }
    void sendSysEx(const Bytes& frame) override { send(frame); }
    void setSendGapMs(int ms) override { gap_ = ms; }
    int sendGapMs() const override { return gap_; }

private:
    void send(const Bytes& m) {
        wire_->sent.push_back(m);
        if (wire_->responder) wire_->deliver(wire_->responder(m));
    }
    std::shared_ptr<FakeWire> wire_;
    bool open_ = true;
    int gap_ = 0;
};

class FakeInput : public midi::MIDIInput {
public:
    explicit FakeInput(std::shared_ptr<FakeWire> w) : wire_(std::move(w)) {
        wire_->notifyInput = [this] {
            if (onSysExReceived) onSysExReceived();
        };
    }
    int deviceCount() const override { return 1; }
    std::string deviceName(int) const override { return "fake"; }
    bool open(int) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    int messageCount() const override { return static_cast<int>(wire_->inbox.size()); }
    Bytes receivedMessage() const override { return wire_->inbox.empty() ? Bytes{} : wire_->inbox.front(); }
    void discard() override {
        if (!wire_->inbox.empty()) wire_->inbox.pop_front();
    }

private:
    std::shared_ptr<FakeWire> wire_;
    bool open_ = true;
};

}  // namespace quorvane::test
