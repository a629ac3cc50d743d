// Reading the module index (every patch memory's bytes, then for each patch a
// program change and a read of what its working patch names), then planning
// and storing a patch with its bank's timbres, on the virtual module in another
// record packing with its wire model and the real ports' send gap.
//
// Prints the index's time against its floor: per patch one program change and
// one round trip for the working patch, each message after the send gap, the
// answers after the answer delay and their wire time, nothing overlapping; plus
// the raw read of the 64 records at its wire time.
//
//   store_bench [--gap-ms 20] [--answer-delay-ms 40]

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
#include "library/ModuleStore.h"
#include "library/SoundLibrary.h"
#include "library/SysexFile.h"

using namespace quorvane;
using namespace quorvane::library;
namespace fs = std::filesystem;

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

struct Traffic {
    size_t outBytes = 0, outMessages = 0, requests = 0, inBytes = 0;
};

Traffic Count(const std::vector<Bytes>& sent, size_t inBytes) {
    Traffic t;
    t.inBytes = inBytes;
    for (const Bytes& m : sent) {
        t.outBytes += m.size();
        ++t.outMessages;
        if (m.size() > sysex::kHeaderSize && m[0] == sysex::kStart && m[4] == sysex::kRQ1) ++t.requests;
    }
    return t;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    int gapMs = 20;
    double answerDelayMs = 40;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--gap-ms") && i + 1 < argc) gapMs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--answer-delay-ms") && i + 1 < argc) answerDelayMs = std::atof(argv[++i]);
        else {
            std::fprintf(stderr, "usage: store_bench [--gap-ms 20] [--answer-delay-ms 40]\n");
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

    const fs::path dir = fs::temp_directory_path() / ("quorvane-store-bench-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    int64_t item = 0;
    std::unique_ptr<SoundLibrary> lib;
    {
        MemoryImage image;
        for (const MemoryArea& a : MemoryAreas())
            image.put(MemoryAddress(a.kind, 1), bank.read(MemoryAddress(a.kind, 1), a.size()));
        std::string error;
        const std::string syx = (dir / "bank.syx").string();
        if (!SaveBackup(syx, image, 0x10, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        lib = std::make_unique<SoundLibrary>((dir / "library.sqlite").string());
        lib->Import({syx});
        const Bytes wanted = bank.read(MemoryAddress(MemoryKind::Patch, 6), AreaOf(MemoryKind::Patch).recordSize);
        Query q;
        q.type = SoundType::Patch;
        for (const ItemRow& row : lib->List(q))
            if (lib->Details(row.id)->bytes == wanted) item = row.id;
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
    size_t inBytes = 0;
    model.OnMessage = [&](const MonitorEvent& m) {
        if (m.kind == MonitorEvent::Kind::Received) inBytes += m.message.size();
    };
    Journal journal((dir / "journal").string());
    model.getMaster(MasterParam::MasterSetupMIDIRxCh);  // as after start-up: the master setup is known
    vm->clearReceived();
    inBytes = 0;

    auto start = std::chrono::steady_clock::now();
    const IndexReport index = ReadModuleIndex(model, host, *lib);
    model.MIDIOutput1->flush();
    const double indexS = Seconds(start);
    const Traffic it = Count(vm->received(), inBytes);
    if (index.outcome != Outcome::Done) {
        std::fprintf(stderr, "module index failed: %s\n", index.text.c_str());
        return 1;
    }
    // The floor: the records' raw read at wire time, then per patch a program
    // change and the working patch as the model asks for it (the common block,
    // the rhythm part and six parts: eight requests) sent back to back after
    // the send gap each, the last answer (a part, 13 addresses) after the
    // answer delay; the other answers overlap the requests. The model's patch
    // change asks for the working patch's name before that: one round trip a
    // patch more than this floor.
    constexpr int kPatchRequests = 8;
    const int recordBytes = 64 * AreaOf(MemoryKind::Patch).recordSize;
    const int recordAnswers = (recordBytes + 127) / 128;
    const double rawFloorMs = U220Emulator::wireMs(recordBytes + recordAnswers * 10) + answerDelayMs;
    const double perPatchMs = (1 + kPatchRequests) * gapMs + U220Emulator::wireMs(2 + kPatchRequests * 13) +
                              answerDelayMs + U220Emulator::wireMs(13 + 10);
    const double floorS = (rawFloorMs + 64 * perPatchMs) / 1000.0;

    std::printf("wire model: send gap %d ms, answer delay %.0f ms\n", gapMs, answerDelayMs);
    std::printf("module index: %.2f s for 64 patches (%.0f ms a patch); %zu messages to the module (%zu requests), "
                "%zu bytes; %zu bytes from it\n",
                indexS, indexS * 1000 / 64, it.outMessages, it.requests, it.outBytes, it.inBytes);
    std::printf("module index floor (one program change and one working-patch read a patch): %.2f s (ratio %.2f)\n",
                floorS, indexS / floorS);

    vm->clearReceived();
    inBytes = 0;
    start = std::chrono::steady_clock::now();
    const StorePlan plan = PlanStore(model, host, *lib, &journal, item, 12);
    const double planS = Seconds(start);
    if (plan.outcome != Outcome::Done) {
        std::fprintf(stderr, "plan failed: %s\n", plan.text.c_str());
        return 1;
    }
    start = std::chrono::steady_clock::now();
    const StoreReport s = Store(model, host, *lib, &journal, plan, false);
    model.MIDIOutput1->flush();
    const double storeS = Seconds(start);
    const Traffic st = Count(vm->received(), inBytes);
    if (!s.ok()) {
        std::fprintf(stderr, "store failed: %s\n", s.text.c_str());
        return 1;
    }
    const auto lost = vm->withEmulator([](U220Emulator& e) { return e.stats().lostToGap; });
    std::printf("plan (with an audition, no reading yet): %.2f s; store of the patch and %zu memories: %.2f s\n", planS,
                plan.needs.size(), storeS);
    std::printf("plan and store: %zu messages to the module (%zu requests), %zu bytes; %zu bytes from it; "
                "messages lost %llu\n",
                st.outMessages, st.requests, st.outBytes, st.inBytes, static_cast<unsigned long long>(lost));
    fs::remove_all(dir);
    return 0;
}
