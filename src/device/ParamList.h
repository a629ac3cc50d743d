// Every one-byte parameter of the module's temporary areas, as an X-macro:
//   X(Name, Block, Offset, Bias, ListSize)
// Offset is the address offset within the block (see BlockAddress in ParamTable.h),
// Bias is added to the model value to form the device byte, and ListSize is the
// number of entries of the parameter's editor list: valid model values are
// 0 .. ListSize-1.
#pragma once

#define QUORVANE_PATCH_COMMON_PARAMS(X)              \
    X(PatchCommonChorusType, PatchCommon, 0x18, 0, 5)  \
    X(PatchCommonChorusOutMode, PatchCommon, 0x19, 0, 2) \
    X(PatchCommonChorusDelay, PatchCommon, 0x1A, 0, 32)  \
    X(PatchCommonChorusLevel, PatchCommon, 0x1B, 0, 32)  \
    X(PatchCommonChorusRate, PatchCommon, 0x1C, 0, 32)   \
    X(PatchCommonChorusDepth, PatchCommon, 0x1D, 0, 32)  \
    X(PatchCommonChorusFeedback, PatchCommon, 0x1E, 1, 63) \
    X(PatchCommonReverbType, PatchCommon, 0x1F, 0, 8)    \
    X(PatchCommonReverbTime, PatchCommon, 0x20, 0, 32)   \
    X(PatchCommonReverbLevel, PatchCommon, 0x21, 0, 32)  \
    X(PatchCommonReverbDelayFeedback, PatchCommon, 0x22, 0, 32) \
    X(PatchCommonParam1, PatchCommon, 0x23, 0, 64)       \
    X(PatchCommonParam1Param, PatchCommon, 0x24, 0, 19)  \
    X(PatchCommonParam2, PatchCommon, 0x25, 0, 64)       \
    X(PatchCommonParam2Param, PatchCommon, 0x26, 0, 19)  \
    X(PatchCommonParam3, PatchCommon, 0x27, 0, 64)       \
    X(PatchCommonParam3Param, PatchCommon, 0x28, 0, 19)

#define QUORVANE_PATCH_RHYTHM_PARAMS(X)                  \
    X(PatchRhythmRhythmSetup, PatchRhythm, 0, 0, 4)      \
    X(PatchRhythmVoiceReserve, PatchRhythm, 1, 0, 31)    \
    X(PatchRhythmReceiveChannel, PatchRhythm, 2, 0, 17)  \
    X(PatchRhythmLevel, PatchRhythm, 3, 0, 128)          \
    X(PatchRhythmLevelBoostSw, PatchRhythm, 4, 0, 2)     \
    X(PatchRhythmRxVolume, PatchRhythm, 5, 0, 2)         \
    X(PatchRhythmRxHold, PatchRhythm, 6, 0, 2)

#define QUORVANE_PATCH_PART_PARAMS(X)                    \
    X(PatchPartTimbreNumber, PatchPart, 0, 0, 128)       \
    X(PatchPartVoiceReserve, PatchPart, 1, 0, 31)        \
    X(PatchPartReceiveChannel, PatchPart, 2, 0, 17)      \
    X(PatchPartKeyRangeLow, PatchPart, 3, 0, 128)        \
    X(PatchPartKeyRangeHi, PatchPart, 4, 0, 128)         \
    X(PatchPartVeloLevel, PatchPart, 5, 0, 2)            \
    X(PatchPartVeloThreshold, PatchPart, 6, 1, 127)      \
    X(PatchPartLevel, PatchPart, 7, 0, 128)              \
    X(PatchPartOutputAssign, PatchPart, 8, 0, 5)         \
    X(PatchPartPan, PatchPart, 9, 0, 16)                 \
    X(PatchPartRxVolume, PatchPart, 10, 0, 2)            \
    X(PatchPartRxPan, PatchPart, 11, 0, 2)               \
    X(PatchPartRxHold, PatchPart, 12, 0, 2)

#define QUORVANE_TIMBRE_PARAMS(X)                        \
    X(TimbreToneMedia, Timbre, 0x18, 0, 32)              \
    X(TimbreToneNumber, Timbre, 0x19, 0, 128)            \
    X(TimbreTimbreLevel, Timbre, 0x1A, 0, 128)           \
    X(TimbreVelocitySens, Timbre, 0x1B, 1, 15)           \
    X(TimbreChannelPressSens, Timbre, 0x1C, 1, 15)       \
    X(TimbreEnvAttackRate, Timbre, 0x1D, 1, 15)          \
    X(TimbreEnvDecayRate, Timbre, 0x1E, 1, 15)           \
    X(TimbreEnvSustainLevel, Timbre, 0x1F, 1, 15)        \
    X(TimbreEnvReleaseRate, Timbre, 0x20, 1, 15)         \
    X(TimbrePitchShiftCoarse, Timbre, 0x21, 8, 49)       \
    X(TimbrePitchShiftFine, Timbre, 0x22, 14, 101)       \
    X(TimbreBendRangeLower, Timbre, 0x23, 0, 15)         \
    X(TimbreBendRangeUpper, Timbre, 0x24, 0, 13)         \
    X(TimbrePitchChAfterSens, Timbre, 0x25, 0, 27)       \
    X(TimbrePitchPolyAfterSens, Timbre, 0x26, 0, 27)     \
    X(TimbreAutoBendDepth, Timbre, 0x27, 0, 27)          \
    X(TimbreAutoBendRate, Timbre, 0x28, 0, 16)           \
    X(TimbreDetuneDepth, Timbre, 0x29, 0, 16)            \
    X(TimbreRate, Timbre, 0x2A, 0, 64)                   \
    X(TimbreWaveform, Timbre, 0x2B, 0, 9)                \
    X(TimbreDepth, Timbre, 0x2C, 0, 16)                  \
    X(TimbreDelay, Timbre, 0x2D, 0, 16)                  \
    X(TimbreRiseTime, Timbre, 0x2E, 0, 16)               \
    X(TimbreModulationDepth, Timbre, 0x2F, 0, 16)        \
    X(TimbreVibratoChAfterSens, Timbre, 0x30, 0, 16)     \
    X(TimbreVibratoPolyAfterSens, Timbre, 0x31, 0, 16)

#define QUORVANE_RHYTHM_COMMON_PARAMS(X)                          \
    X(RhythmSetupCommonBenderRangeLower, RhythmCommon, 0x18, 0, 15) \
    X(RhythmSetupCommonBenderRangeHigher, RhythmCommon, 0x19, 0, 13)

#define QUORVANE_RHYTHM_INST_PARAMS(X)                        \
    X(RhythmSetupInstToneMedia, RhythmInst, 0x00, 0, 32)      \
    X(RhythmSetupInstToneNumber, RhythmInst, 0x01, 0, 128)    \
    X(RhythmSetupInstSourceKey, RhythmInst, 0x02, 0, 128)     \
    X(RhythmSetupInstMuteInst, RhythmInst, 0x03, 34, 65)      \
    X(RhythmSetupInstInstLevel, RhythmInst, 0x04, 0, 32)      \
    X(RhythmSetupInstVelocitySens, RhythmInst, 0x05, 1, 15)   \
    X(RhythmSetupInstEnvMode, RhythmInst, 0x06, 0, 2)         \
    X(RhythmSetupInstEnvAttackRate, RhythmInst, 0x07, 1, 15)  \
    X(RhythmSetupInstEnvDecayRate, RhythmInst, 0x08, 1, 15)   \
    X(RhythmSetupInstEnvReleaseRate, RhythmInst, 0x09, 1, 15) \
    X(RhythmSetupInstPitchShiftCoarse, RhythmInst, 0x0A, 0, 27) \
    X(RhythmSetupInstPitchShiftFine, RhythmInst, 0x0B, 14, 101) \
    X(RhythmSetupInstChannelAfterSens, RhythmInst, 0x0C, 0, 27) \
    X(RhythmSetupInstPolyAfterSens, RhythmInst, 0x0D, 0, 27)  \
    X(RhythmSetupInstRandom, RhythmInst, 0x0E, 0, 16)         \
    X(RhythmSetupInstAutoBendDepth, RhythmInst, 0x0F, 0, 27)  \
    X(RhythmSetupInstAutoBendRate, RhythmInst, 0x10, 0, 16)   \
    X(RhythmSetupInstDetuneDepth, RhythmInst, 0x11, 0, 16)    \
    X(RhythmSetupInstOutputAssign, RhythmInst, 0x12, 0, 4)    \
    X(RhythmSetupInstPan, RhythmInst, 0x13, 0, 16)

#define QUORVANE_ALL_PARAMS(X)        \
    QUORVANE_PATCH_COMMON_PARAMS(X)   \
    QUORVANE_PATCH_RHYTHM_PARAMS(X)   \
    QUORVANE_PATCH_PART_PARAMS(X)     \
    QUORVANE_TIMBRE_PARAMS(X)         \
    QUORVANE_RHYTHM_COMMON_PARAMS(X)  \
    QUORVANE_RHYTHM_INST_PARAMS(X)

// Master setup fields (no address of their own: they live in the 16-nibble block).
//   X(Name, ListSize)
#define QUORVANE_MASTER_INT_PARAMS(X) \
    X(MasterSetupChorus, 2)           \
    X(MasterSetupReverb, 2)           \
    X(MasterSetupLCD, 16)             \
    X(MasterSetupMIDIRxCh, 17)        \
    X(MasterSetupPaCh, 6)             \
    X(MasterSetupTiCh, 6)             \
    X(MasterSetupRhCh, 6)             \
    X(MasterSetupRInstCh, 6)
