// libFuzzer target for the Standard MIDI File reader, alone and as the back-up
// reader uses it.
//
// Checked for every input:
// - no crash, no sanitizer report, no allocation beyond what the input holds
//   (libFuzzer's -rss_limit_mb and -malloc_limit_mb catch one);
// - a refusal always says why;
// - every message read is whole: F0, data bytes below 80h, F7; its track,
//   event and byte lie inside the file; in format 1 they come in time order;
// - the messages written again by the library's writer read back the same;
// - a back-up read from the file saves as a .mid and as a .syx that both read
//   back to the same image.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "library/MidiFile.h"
#include "library/SysexFile.h"

using namespace quorvane;
using namespace quorvane::library;

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes file(data, data + size);
    const MidiFileContents m = ReadMidiFile(file);
    Check(m.ok != !m.error.empty(), "a refusal has a reason, a success none");
    if (m.ok) {
        std::vector<Bytes> messages;
        for (size_t i = 0; i < m.messages.size(); ++i) {
            const MidiSysex& s = m.messages[i];
            Check(s.bytes.size() >= 2 && s.bytes.front() == 0xF0 && s.bytes.back() == 0xF7, "a message is whole");
            for (size_t k = 1; k + 1 < s.bytes.size(); ++k) Check(s.bytes[k] < 0x80, "data bytes are below 80h");
            Check(s.track >= 1 && s.track <= m.tracks && s.event >= 1 && s.offset < size, "the position is in the file");
            Check(s.bytes.size() <= size, "no message is longer than the file");
            if (m.format == 1 && i) Check(m.messages[i - 1].tick <= s.tick, "format 1 in time order");
            messages.push_back(s.bytes);
        }
        const MidiFileContents again = ReadMidiFile(WriteMidiFile(messages));
        Check(again.ok && again.messages.size() == messages.size(), "the written file reads back");
        for (size_t i = 0; i < messages.size(); ++i) Check(again.messages[i].bytes == messages[i], "the same messages");
    }
    const BackupFile f = ReadBackup(file);
    Check(f.ok != !f.error.empty(), "a back-up refusal has a reason");
    if (f.ok) {
        (void)f.Summary();
        Check(f.dataSets > 0 && !f.image.empty() && !f.deviceIds.empty(), "a back-up holds data");
        const uint8_t id = f.deviceIds.front();
        Check(ReadBackup(MidiBytes(f.image, id)).image == f.image, "the image saved as .mid reads back");
        Check(ReadBackup(SyxBytes(f.image, id)).image == f.image, "the image saved as .syx reads back");
    }
    return 0;
}
