// The hand-written map of every one-byte parameter: the independent reference
// that the model's table and the editors' lists are checked against.
#pragma once

#include <string>

#include "device/ParamTable.h"
#include "device/Protocol.h"

namespace quorvane::test::pins {

// Where a parameter lives, written the way the memory map gives its address.
enum class Area { Common, Rhythm, Part, Timbre, RhCommon, RhInst };

struct Row {
    const char* name;
    Area area;
    int offset;  // within the area (for Rhythm: counted from 10 04 60)
    int bias;    // device byte = value + bias
    int size;    // entries of the editor's list
};

// clang-format off
inline const Row kRows[] = {
    // Patch common, 10 04 00
    {"PatchCommonChorusType",            Area::Common, 0x18, 0,   5},
    {"PatchCommonChorusOutMode",         Area::Common, 0x19, 0,   2},
    {"PatchCommonChorusDelay",           Area::Common, 0x1A, 0,  32},
    {"PatchCommonChorusLevel",           Area::Common, 0x1B, 0,  32},
    {"PatchCommonChorusRate",            Area::Common, 0x1C, 0,  32},
    {"PatchCommonChorusDepth",           Area::Common, 0x1D, 0,  32},
    {"PatchCommonChorusFeedback",        Area::Common, 0x1E, 1,  63},
    {"PatchCommonReverbType",            Area::Common, 0x1F, 0,   8},
    {"PatchCommonReverbTime",            Area::Common, 0x20, 0,  32},
    {"PatchCommonReverbLevel",           Area::Common, 0x21, 0,  32},
    {"PatchCommonReverbDelayFeedback",   Area::Common, 0x22, 0,  32},
    {"PatchCommonParam1",                Area::Common, 0x23, 0,  64},
    {"PatchCommonParam1Param",           Area::Common, 0x24, 0,  19},
    {"PatchCommonParam2",                Area::Common, 0x25, 0,  64},
    {"PatchCommonParam2Param",           Area::Common, 0x26, 0,  19},
    {"PatchCommonParam3",                Area::Common, 0x27, 0,  64},
    {"PatchCommonParam3Param",           Area::Common, 0x28, 0,  19},
    // Patch rhythm part, 10 04 60
    {"PatchRhythmRhythmSetup",           Area::Rhythm, 0,    0,   4},
    {"PatchRhythmVoiceReserve",          Area::Rhythm, 1,    0,  31},
    {"PatchRhythmReceiveChannel",        Area::Rhythm, 2,    0,  17},
    {"PatchRhythmLevel",                 Area::Rhythm, 3,    0, 128},
    {"PatchRhythmLevelBoostSw",          Area::Rhythm, 4,    0,   2},
    {"PatchRhythmRxVolume",              Area::Rhythm, 5,    0,   2},
    {"PatchRhythmRxHold",                Area::Rhythm, 6,    0,   2},
    // Patch part PartNo, 10 05 (16 x (PartNo - 1))
    {"PatchPartTimbreNumber",            Area::Part,   0,    0, 128},
    {"PatchPartVoiceReserve",            Area::Part,   1,    0,  31},
    {"PatchPartReceiveChannel",          Area::Part,   2,    0,  17},
    {"PatchPartKeyRangeLow",             Area::Part,   3,    0, 128},
    {"PatchPartKeyRangeHi",              Area::Part,   4,    0, 128},
    {"PatchPartVeloLevel",               Area::Part,   5,    0,   2},
    {"PatchPartVeloThreshold",           Area::Part,   6,    1, 127},
    {"PatchPartLevel",                   Area::Part,   7,    0, 128},
    {"PatchPartOutputAssign",            Area::Part,   8,    0,   5},
    {"PatchPartPan",                     Area::Part,   9,    0,  16},
    {"PatchPartRxVolume",                Area::Part,  10,    0,   2},
    {"PatchPartRxPan",                   Area::Part,  11,    0,   2},
    {"PatchPartRxHold",                  Area::Part,  12,    0,   2},
    // Timbre of part PartNo, 10 (0F + PartNo) 00
    {"TimbreToneMedia",                  Area::Timbre, 0x18, 0,  32},
    {"TimbreToneNumber",                 Area::Timbre, 0x19, 0, 128},
    {"TimbreTimbreLevel",                Area::Timbre, 0x1A, 0, 128},
    {"TimbreVelocitySens",               Area::Timbre, 0x1B, 1,  15},
    {"TimbreChannelPressSens",           Area::Timbre, 0x1C, 1,  15},
    {"TimbreEnvAttackRate",              Area::Timbre, 0x1D, 1,  15},
    {"TimbreEnvDecayRate",               Area::Timbre, 0x1E, 1,  15},
    {"TimbreEnvSustainLevel",            Area::Timbre, 0x1F, 1,  15},
    {"TimbreEnvReleaseRate",             Area::Timbre, 0x20, 1,  15},
    {"TimbrePitchShiftCoarse",           Area::Timbre, 0x21, 8,  49},
    {"TimbrePitchShiftFine",             Area::Timbre, 0x22, 14, 101},
    {"TimbreBendRangeLower",             Area::Timbre, 0x23, 0,  15},
    {"TimbreBendRangeUpper",             Area::Timbre, 0x24, 0,  13},
    {"TimbrePitchChAfterSens",           Area::Timbre, 0x25, 0,  27},
    {"TimbrePitchPolyAfterSens",         Area::Timbre, 0x26, 0,  27},
    {"TimbreAutoBendDepth",              Area::Timbre, 0x27, 0,  27},
    {"TimbreAutoBendRate",               Area::Timbre, 0x28, 0,  16},
    {"TimbreDetuneDepth",                Area::Timbre, 0x29, 0,  16},
    {"TimbreRate",                       Area::Timbre, 0x2A, 0,  64},
    {"TimbreWaveform",                   Area::Timbre, 0x2B, 0,   9},
    {"TimbreDepth",                      Area::Timbre, 0x2C, 0,  16},
    {"TimbreDelay",                      Area::Timbre, 0x2D, 0,  16},
    {"TimbreRiseTime",                   Area::Timbre, 0x2E, 0,  16},
    {"TimbreModulationDepth",            Area::Timbre, 0x2F, 0,  16},
    {"TimbreVibratoChAfterSens",         Area::Timbre, 0x30, 0,  16},
    {"TimbreVibratoPolyAfterSens",       Area::Timbre, 0x31, 0,  16},
    // Rhythm setup common, 11 00 00
    {"RhythmSetupCommonBenderRangeLower",  Area::RhCommon, 0x18, 0, 15},
    {"RhythmSetupCommonBenderRangeHigher", Area::RhCommon, 0x19, 0, 13},
    // Rhythm instrument InstNo, 11 (InstNo + 35) 00
    {"RhythmSetupInstToneMedia",         Area::RhInst, 0x00, 0,  32},
    {"RhythmSetupInstToneNumber",        Area::RhInst, 0x01, 0, 128},
    {"RhythmSetupInstSourceKey",         Area::RhInst, 0x02, 0, 128},
    {"RhythmSetupInstMuteInst",          Area::RhInst, 0x03, 34, 65},
    {"RhythmSetupInstInstLevel",         Area::RhInst, 0x04, 0,  32},
    {"RhythmSetupInstVelocitySens",      Area::RhInst, 0x05, 1,  15},
    {"RhythmSetupInstEnvMode",           Area::RhInst, 0x06, 0,   2},
    {"RhythmSetupInstEnvAttackRate",     Area::RhInst, 0x07, 1,  15},
    {"RhythmSetupInstEnvDecayRate",      Area::RhInst, 0x08, 1,  15},
    {"RhythmSetupInstEnvReleaseRate",    Area::RhInst, 0x09, 1,  15},
    {"RhythmSetupInstPitchShiftCoarse",  Area::RhInst, 0x0A, 0,  27},
    {"RhythmSetupInstPitchShiftFine",    Area::RhInst, 0x0B, 14, 101},
    {"RhythmSetupInstChannelAfterSens",  Area::RhInst, 0x0C, 0,  27},
    {"RhythmSetupInstPolyAfterSens",     Area::RhInst, 0x0D, 0,  27},
    {"RhythmSetupInstRandom",            Area::RhInst, 0x0E, 0,  16},
    {"RhythmSetupInstAutoBendDepth",     Area::RhInst, 0x0F, 0,  27},
    {"RhythmSetupInstAutoBendRate",      Area::RhInst, 0x10, 0,  16},
    {"RhythmSetupInstDetuneDepth",       Area::RhInst, 0x11, 0,  16},
    {"RhythmSetupInstOutputAssign",      Area::RhInst, 0x12, 0,   4},
    {"RhythmSetupInstPan",               Area::RhInst, 0x13, 0,  16},
};

// Master setup fields: no address of their own, only a list.
inline const struct { MasterParam m; const char* name; int size; } kMasterRows[] = {
    {MasterParam::MasterSetupChorus,   "MasterSetupChorus",    2},
    {MasterParam::MasterSetupReverb,   "MasterSetupReverb",    2},
    {MasterParam::MasterSetupLCD,      "MasterSetupLCD",      16},
    {MasterParam::MasterSetupMIDIRxCh, "MasterSetupMIDIRxCh", 17},
    {MasterParam::MasterSetupPaCh,     "MasterSetupPaCh",      6},
    {MasterParam::MasterSetupTiCh,     "MasterSetupTiCh",      6},
    {MasterParam::MasterSetupRhCh,     "MasterSetupRhCh",      6},
    {MasterParam::MasterSetupRInstCh,  "MasterSetupRInstCh",   6},
};
// clang-format on

inline int FirstIndex(Area a) { return a == Area::Part || a == Area::Timbre ? 1 : 0; }
inline int LastIndex(Area a) { return a == Area::Part || a == Area::Timbre ? 6 : a == Area::RhInst ? 63 : 0; }

// The address of a row for PartNo / InstNo `i`, computed from the memory map alone.
inline Address Expected(const Row& r, int i) {
    auto at = [](int a1, int a2, int a3) {
        return Address{static_cast<uint8_t>(a1), static_cast<uint8_t>(a2), static_cast<uint8_t>(a3)};
    };
    switch (r.area) {
        case Area::Common: return at(0x10, 0x04, r.offset);
        case Area::Rhythm: return at(0x10, 0x04, 0x60 + r.offset);
        case Area::Part: return at(0x10, 0x05, 16 * (i - 1) + r.offset);
        case Area::Timbre: return at(0x10, 0x0F + i, r.offset);
        case Area::RhCommon: return at(0x11, 0x00, r.offset);
        case Area::RhInst: return at(0x11, i + 35, r.offset);
    }
    return {};
}

inline Param ParamOf(const Row& r) {
    auto p = FindParam(r.name);
    return p ? *p : Param::Count;
}

// The row of the parameter named `name` (as the code's table names it).
inline const Row* RowNamed(const std::string& name) {
    for (const Row& r : kRows)
        if (name == r.name) return &r;
    return nullptr;
}

}  // namespace quorvane::test::pins
