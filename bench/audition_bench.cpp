// One audition of a patch with the timbres and rhythm setup of its bank, on the
// virtual module in another record packing with its wire model, with the real
// ports' send gap.
//
// Prints the time it took against its paced wire time: the bytes of every
// message both ways at 31250 baud, plus the send gap each message to the
// module after the first waited (the port's gap as it was when the message was
// queued, so a gap the transfer widened counts as widened). The aim is at most
// 1.2 times that. Also a serial limit: the wire time plus one answer delay for
// every request, with nothing overlapping (the audition's steps wait for each
// other, its reads within a step do not, so it can come in under this limit).
//
//   audition_bench [--gap-ms 20] [--answer-delay-ms 40] [--without-bank]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "device/Host.h"
#include "device/clsU220.h"
#include "emulator/FactoryContent.h"
#include "emulator/MemoryLayout.h"
#include "emulator/VirtualU220.h"
#include "library/Audition.h"

using namespace quorvane;
using namespace quorvane::library;

namespace {

constexpr uint32_t kPacking = 7;

void PutRecord(emulator::U220Emulator& e, Address base, const Bytes& record) {
    Bytes nibbles;
    for (uint8_t b : record) {
        nibbles.push_back(b & 0x0F);
        nibbles.push_back(b >> 4);
    }
    e.load(base, nibbles);
}

}  // namespace

int main(int argc, char** argv) {
    int gapMs = 20;
    double answerDelayMs = 40;
    bool withBank = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--gap-ms") && i + 1 < argc) gapMs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--answer-delay-ms") && i + 1 < argc) answerDelayMs = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--without-bank")) withBank = false;
        else {
            std::fprintf(stderr, "usage: audition_bench [--gap-ms 20] [--answer-delay-ms 40] [--without-bank]\n");
            return 2;
        }
    }

    // The bank: patch 6 names other timbres, every timbre is another factory one.
    using namespace emulator;
    U220Emulator bank(0x10, kPacking);
    const RecordPacking packing(kPacking);
    Bytes own = FactoryPatchImage(6);
    for (int part = 0; part < 6; ++part) {
        const int at = kPatchImagePart1 + 13 * part + Info(Param::PatchPartTimbreNumber).offset;
        own[at] = static_cast<uint8_t>((own[at] + 37 * (part + 1)) % 128);
    }
    PutRecord(bank, PatchMemoryAddress(6), packing.pack(Record::Patch, own));
    for (int n = 1; n <= 128; ++n)
        PutRecord(bank, TimbreMemoryAddress(n), packing.pack(Record::Timbre, FactoryTimbreImage((n + 40) % 128 + 1)));
    for (int n = 1; n <= 4; ++n)
        PutRecord(bank, RhythmMemoryAddress(n), packing.pack(Record::Rhythm, FactoryRhythmImage(n % 4 + 1)));
    AuditionSource source;
    source.name = "Bench";
    source.patch = bank.read(MemoryAddress(MemoryKind::Patch, 6), AreaOf(MemoryKind::Patch).recordSize);
    if (withBank) {
        for (int n = 1; n <= 128; ++n)
            source.timbres[n] = bank.read(MemoryAddress(MemoryKind::Timbre, n), AreaOf(MemoryKind::Timbre).recordSize);
        for (int n = 1; n <= 4; ++n)
            source.rhythms[n] = bank.read(MemoryAddress(MemoryKind::Rhythm, n), AreaOf(MemoryKind::Rhythm).recordSize);
    }

    SimpleHost host;
    auto vm = std::make_shared<midi::VirtualU220>();
    vm->withEmulator([&](U220Emulator& e) {
        e.setPackingSeed(kPacking);
        WireModel w;
        w.enabled = true;
        w.minGapMs = gapMs;
        w.answerDelayMs = answerDelayMs;
        e.setWireModel(w);
    });
    clsU220 model(host, vm->makeOutput(), vm->makeInput([&](std::function<void()> f) { host.post(std::move(f)); }));
    model.MIDIOutput1->open(-1);
    model.MIDIInput1->open(0);
    model.MIDIOutput1->setSendGapMs(gapMs);
    size_t inBytes = 0, sent = 0;
    double gapsMs = 0;
    model.OnMessage = [&](const MonitorEvent& m) {
        if (m.kind == MonitorEvent::Kind::Received) inBytes += m.message.size();
        if (m.kind == MonitorEvent::Kind::Sent && sent++ > 0) gapsMs += model.MIDIOutput1->sendGapMs();
    };
    const std::string dir = (std::filesystem::temp_directory_path() / "quorvane-audition-bench").string();
    std::filesystem::remove_all(dir);
    Journal journal(dir);

    const auto start = std::chrono::steady_clock::now();
    const AuditionReport r = Audition(model, host, &journal).Play(source, 1);
    model.MIDIOutput1->flush();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::remove_all(dir);
    if (!r.ok()) {
        std::fprintf(stderr, "audition failed: %s\n", r.text.c_str());
        return 1;
    }

    size_t outBytes = 0, outMessages = 0, requests = 0;
    for (const Bytes& m : vm->received()) {
        outBytes += m.size();
        ++outMessages;
        if (m.size() > sysex::kHeaderSize && m[0] == sysex::kStart && m[4] == sysex::kRQ1) ++requests;
    }
    const auto lost = vm->withEmulator([](U220Emulator& e) { return e.stats().lostToGap; });
    const double bytesS = (U220Emulator::wireMs(outBytes) + U220Emulator::wireMs(inBytes)) / 1000.0;
    const double wireS = bytesS + gapsMs / 1000.0;
    const double serialS = wireS + requests * answerDelayMs / 1000.0;
    std::printf("wire model: send gap %d ms, answer delay %.0f ms, %s\n", gapMs, answerDelayMs,
                withBank ? "patch with its bank's timbres and rhythm setup" : "patch alone");
    std::printf("to the module: %zu messages (%zu requests), %zu bytes; from it: %zu bytes; messages lost %llu\n",
                outMessages, requests, outBytes, inBytes, static_cast<unsigned long long>(lost));
    std::printf("wire time: %.2f s (bytes both ways %.2f s, send gaps %.2f s)\n", wireS, bytesS, gapsMs / 1000.0);
    std::printf("audition: %.2f s, %.2f x the wire time (aim: at most 1.2); serial limit %.2f s (ratio %.2f)\n",
                seconds, seconds / wireS, serialS, seconds / serialS);
    return 0;
}
