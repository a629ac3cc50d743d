// The content a new emulated module starts with: 64 patches, 128 timbres and 4
// rhythm setups with believable names and values, each as a temporary-area image
// (see MemoryLayout.h). Deterministic: the same on every run and platform.
// Every value lies inside its parameter's editor list; the voice reserves of a
// patch (six parts and the rhythm part) add up to at most 30; every key range
// has low <= high.
#pragma once

#include <string>

#include "device/Protocol.h"

namespace quorvane::emulator {

constexpr int kMaxVoices = 30;

Bytes FactoryPatchImage(int patchNo);    // 1..64
Bytes FactoryTimbreImage(int timbreNo);  // 1..128
Bytes FactoryRhythmImage(int rhythmNo);  // 1..4

std::string FactoryPatchName(int patchNo);
std::string FactoryTimbreName(int timbreNo);
std::string FactoryRhythmName(int rhythmNo);

}  // namespace quorvane::emulator
