// Standard MIDI Files for the tests, written with libsmf as another program would.
#pragma once

#include <gtest/gtest.h>
#include <smf.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/Protocol.h"

namespace quorvane::test {

// A Standard MIDI File written with libsmf: one System Exclusive event per
// message, spread over `tracks` tracks.
inline Bytes MidiFile(const std::vector<Bytes>& messages, int tracks = 1) {
    smf_t* smf = smf_new();
    std::vector<smf_track_t*> t;
    for (int i = 0; i < tracks; ++i) {
        t.push_back(smf_track_new());
        smf_add_track(smf, t.back());
    }
    int pulses = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
        Bytes copy = messages[i];
        smf_event_t* e = smf_event_new_from_pointer(copy.data(), static_cast<int>(copy.size()));
        smf_track_add_event_pulses(t[i % t.size()], e, pulses += 10);
    }
    const std::string path = (std::filesystem::temp_directory_path() / ("quorvane-test-" + std::to_string(::getpid()) + ".mid")).string();
    EXPECT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return bytes;
}

}  // namespace quorvane::test
