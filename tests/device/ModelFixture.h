// A model wired to in-memory ports, with a small module that answers requests
// from a byte map (one byte per address) unless told to stay silent.
#pragma once

#include <gtest/gtest.h>

#include <map>

#include "FakePorts.h"
#include "device/clsU220.h"

namespace quorvane::test {

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        wire = std::make_shared<FakeWire>();
        wire->host = &host;
        wire->responder = [this](const Bytes& m) { return Answer(m); };
        model = std::make_unique<clsU220>(host, std::make_unique<FakeOutput>(wire), std::make_unique<FakeInput>(wire));
        model->RequestTimeout = std::chrono::milliseconds(300);
    }

    static uint32_t Key(Address a) { return (a.a1 << 14) | (a.a2 << 7) | a.a3; }
    void Poke(Address a, const Bytes& data) {
        for (size_t i = 0; i < data.size(); ++i) memory[Key(a) + i] = data[i];
    }
    uint8_t Peek(Address a) const {
        auto it = memory.find(Key(a));
        return it == memory.end() ? 0 : it->second;
    }

    std::vector<Bytes> Answer(const Bytes& m) {
        ParsedMessage p = ParseMessage(m);
        if (silent || !p.valid || p.command != sysex::kRQ1) return {};
        Bytes data;
        for (int i = 0; i < p.size; ++i) {
            auto it = memory.find(Key(p.address) + i);
            data.push_back(it == memory.end() ? 0 : it->second);
        }
        return {BuildDT1(p.deviceId, p.address, data)};
    }

    // Messages sent since the last call.
    std::vector<Bytes> TakeSent() {
        std::vector<Bytes> s;
        s.swap(wire->sent);
        return s;
    }

    SimpleHost host;
    std::shared_ptr<FakeWire> wire;
    std::unique_ptr<clsU220> model;
    std::map<uint32_t, uint8_t> memory;
    bool silent = false;
};

}  // namespace quorvane::test
