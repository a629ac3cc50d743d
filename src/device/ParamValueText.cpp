#include "device/ParamValueText.h"

#include <algorithm>
#include <array>
#include <vector>

#include "device/ValueLists.h"

namespace quorvane {

namespace {

namespace lists = quorvane::values;

// Only the number: the editors add the memory's name, which the monitor does
// not read from the module.
std::string Prefixed(const char* prefix, int count, int digits) {
    std::string l;
    for (int i = 1; i <= count; ++i) {
        std::string n = std::to_string(i);
        n.insert(0, static_cast<size_t>(std::max(0, digits - static_cast<int>(n.size()))), '0');
        l += (i > 1 ? "," : "") + (prefix + n);
    }
    return l;
}

std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> out(1);
    for (char c : list) {
        if (c == ',') out.emplace_back();
        else out.back() += c;
    }
    return out;
}

std::string ListOf(Param p) {
    const std::string sixteen = lists::Numbers(0, 15);
    const std::string thirtyTwo = lists::Numbers(0, 31);
    const std::string voices = lists::Numbers(0, 30);
    const std::string level = lists::Numbers(0, 127);
    switch (p) {
        case Param::PatchCommonChorusType: return lists::ChorusTypes();
        case Param::PatchCommonChorusOutMode: return lists::ChorusOutModes();
        case Param::PatchCommonChorusDelay:
        case Param::PatchCommonChorusLevel:
        case Param::PatchCommonChorusRate:
        case Param::PatchCommonChorusDepth:
        case Param::PatchCommonReverbTime:
        case Param::PatchCommonReverbLevel:
        case Param::PatchCommonReverbDelayFeedback: return thirtyTwo;
        case Param::PatchCommonChorusFeedback: return lists::Numbers(-31, 31);
        case Param::PatchCommonReverbType: return lists::ReverbTypes();
        case Param::PatchCommonParam1:
        case Param::PatchCommonParam2:
        case Param::PatchCommonParam3: return lists::Controllers();
        case Param::PatchCommonParam1Param:
        case Param::PatchCommonParam2Param:
        case Param::PatchCommonParam3Param: return lists::Destinations();

        case Param::PatchRhythmRhythmSetup: return Prefixed("R-", 4, 1);
        case Param::PatchRhythmVoiceReserve:
        case Param::PatchPartVoiceReserve: return voices;
        case Param::PatchRhythmReceiveChannel:
        case Param::PatchPartReceiveChannel: return lists::ReceiveChannel();
        case Param::PatchRhythmLevel:
        case Param::PatchPartLevel: return level;
        case Param::PatchRhythmLevelBoostSw:
        case Param::PatchRhythmRxVolume:
        case Param::PatchRhythmRxHold:
        case Param::PatchPartRxVolume:
        case Param::PatchPartRxPan:
        case Param::PatchPartRxHold: return lists::OffOn();

        case Param::PatchPartTimbreNumber: return Prefixed("T-", 128, 3);
        case Param::PatchPartKeyRangeLow:
        case Param::PatchPartKeyRangeHi: return lists::NoteNames();
        case Param::PatchPartVeloLevel: return "Above,Below";
        case Param::PatchPartVeloThreshold: return lists::Numbers(1, 127);
        case Param::PatchPartOutputAssign: return "Dry,Rev,Cho,Dir1,Dir2";
        case Param::PatchPartPan:
        case Param::RhythmSetupInstPan: return lists::Pan();

        case Param::TimbreToneMedia:
        case Param::RhythmSetupInstToneMedia: return lists::ToneMedia();
        case Param::TimbreToneNumber:
        case Param::RhythmSetupInstToneNumber: return lists::ToneNumber();
        case Param::TimbreTimbreLevel: return level;
        case Param::TimbreVelocitySens:
        case Param::TimbreChannelPressSens:
        case Param::TimbreEnvAttackRate:
        case Param::TimbreEnvDecayRate:
        case Param::TimbreEnvSustainLevel:
        case Param::TimbreEnvReleaseRate:
        case Param::RhythmSetupInstVelocitySens:
        case Param::RhythmSetupInstEnvAttackRate:
        case Param::RhythmSetupInstEnvDecayRate:
        case Param::RhythmSetupInstEnvReleaseRate: return lists::MinusSeven();
        case Param::TimbrePitchShiftCoarse: return lists::Numbers(-24, 24);
        case Param::TimbrePitchShiftFine:
        case Param::RhythmSetupInstPitchShiftFine: return lists::MinusFifty();
        case Param::TimbreBendRangeLower:
        case Param::RhythmSetupCommonBenderRangeLower: return lists::BendDown();
        case Param::TimbreBendRangeUpper: return lists::NumbersPadded(0, 12, 2);
        case Param::RhythmSetupCommonBenderRangeHigher: return lists::Numbers(0, 12);
        case Param::TimbrePitchChAfterSens:
        case Param::TimbrePitchPolyAfterSens:
        case Param::TimbreAutoBendDepth:
        case Param::RhythmSetupInstPitchShiftCoarse:
        case Param::RhythmSetupInstChannelAfterSens:
        case Param::RhythmSetupInstPolyAfterSens:
        case Param::RhythmSetupInstAutoBendDepth: return lists::PitchSens();
        case Param::TimbreAutoBendRate:
        case Param::TimbreDetuneDepth:
        case Param::TimbreDepth:
        case Param::TimbreDelay:
        case Param::TimbreRiseTime:
        case Param::TimbreModulationDepth:
        case Param::TimbreVibratoChAfterSens:
        case Param::TimbreVibratoPolyAfterSens:
        case Param::RhythmSetupInstAutoBendRate:
        case Param::RhythmSetupInstDetuneDepth: return sixteen;
        case Param::TimbreRate: return lists::Numbers(0, 63);
        case Param::TimbreWaveform: return lists::Waveforms();

        case Param::RhythmSetupInstSourceKey: return level;
        case Param::RhythmSetupInstMuteInst: return "Off," + lists::RhythmKeyNames();
        case Param::RhythmSetupInstInstLevel: return thirtyTwo;
        case Param::RhythmSetupInstEnvMode: return "Sustain,No Sustain";
        case Param::RhythmSetupInstRandom: return lists::NumbersPadded(0, 15, 2);
        case Param::RhythmSetupInstOutputAssign: return "Dry,Rev,Cho,Dir1";
        case Param::Count: break;
    }
    return {};
}

}  // namespace

std::optional<std::string> ParamValueText(Param p, int value) {
    // Split once per parameter: the monitor asks for every data set it shows.
    static const auto cache = [] {
        std::array<std::vector<std::string>, static_cast<size_t>(Param::Count)> lists;
        for (Param q : AllParams()) lists[static_cast<size_t>(q)] = Split(ListOf(q));
        return lists;
    }();
    if (p >= Param::Count) return std::nullopt;
    const std::vector<std::string>& l = cache[static_cast<size_t>(p)];
    if (value < 0 || value >= static_cast<int>(l.size()) || l[static_cast<size_t>(value)].empty()) return std::nullopt;
    return l[static_cast<size_t>(value)];
}

const char* ParamCaption(Param p) {
    switch (p) {
        case Param::PatchCommonChorusType: return "Chorus Type";
        case Param::PatchCommonChorusOutMode: return "Chorus Out Mode";
        case Param::PatchCommonChorusDelay: return "Chorus Delay";
        case Param::PatchCommonChorusLevel: return "Chorus Level";
        case Param::PatchCommonChorusRate: return "Chorus Rate";
        case Param::PatchCommonChorusDepth: return "Chorus Depth";
        case Param::PatchCommonChorusFeedback: return "Chorus Feedback";
        case Param::PatchCommonReverbType: return "Reverb Type";
        case Param::PatchCommonReverbTime: return "Reverb Time";
        case Param::PatchCommonReverbLevel: return "Reverb Level";
        case Param::PatchCommonReverbDelayFeedback: return "Reverb Delay Feedback";
        case Param::PatchCommonParam1: return "Control Parameter 1 Controller";
        case Param::PatchCommonParam1Param: return "Control Parameter 1 Destination";
        case Param::PatchCommonParam2: return "Control Parameter 2 Controller";
        case Param::PatchCommonParam2Param: return "Control Parameter 2 Destination";
        case Param::PatchCommonParam3: return "Control Parameter 3 Controller";
        case Param::PatchCommonParam3Param: return "Control Parameter 3 Destination";

        case Param::PatchRhythmRhythmSetup: return "Rhythm Setup";
        case Param::PatchRhythmVoiceReserve:
        case Param::PatchPartVoiceReserve: return "Voice Reserve";
        case Param::PatchRhythmReceiveChannel:
        case Param::PatchPartReceiveChannel: return "Rx Ch";
        case Param::PatchRhythmLevel:
        case Param::PatchPartLevel: return "Level";
        case Param::PatchRhythmLevelBoostSw: return "Level Boost Sw.";
        case Param::PatchRhythmRxVolume:
        case Param::PatchPartRxVolume: return "Rx Vol.";
        case Param::PatchRhythmRxHold:
        case Param::PatchPartRxHold: return "Rx Hold";
        case Param::PatchPartTimbreNumber: return "Timbre";
        case Param::PatchPartKeyRangeLow: return "Key Low";
        case Param::PatchPartKeyRangeHi: return "Key Hi";
        case Param::PatchPartVeloLevel: return "Velo. Level";
        case Param::PatchPartVeloThreshold: return "Velo. Thresh";
        case Param::PatchPartOutputAssign:
        case Param::RhythmSetupInstOutputAssign: return "Output Assign";
        case Param::PatchPartPan:
        case Param::RhythmSetupInstPan: return "Pan";
        case Param::PatchPartRxPan: return "Rx Pan";

        case Param::TimbreToneMedia:
        case Param::RhythmSetupInstToneMedia: return "Tone Media";
        case Param::TimbreToneNumber:
        case Param::RhythmSetupInstToneNumber: return "Tone Number";
        case Param::TimbreTimbreLevel: return "Timbre Level";
        case Param::TimbreVelocitySens: return "Velocity Sensitivity";
        case Param::TimbreChannelPressSens: return "Ch Aftertouch Sens";
        case Param::TimbreEnvAttackRate:
        case Param::RhythmSetupInstEnvAttackRate: return "Env Attack Rate";
        case Param::TimbreEnvDecayRate:
        case Param::RhythmSetupInstEnvDecayRate: return "Env Decay Rate";
        case Param::TimbreEnvSustainLevel: return "Env Sustain Level";
        case Param::TimbreEnvReleaseRate:
        case Param::RhythmSetupInstEnvReleaseRate: return "Env Release Rate";
        case Param::TimbrePitchShiftCoarse:
        case Param::RhythmSetupInstPitchShiftCoarse: return "Pitch Shift Coarse";
        case Param::TimbrePitchShiftFine:
        case Param::RhythmSetupInstPitchShiftFine: return "Pitch Shift Fine";
        case Param::TimbreBendRangeLower: return "Bender Range (Down)";
        case Param::TimbreBendRangeUpper: return "Bender Range (Up)";
        case Param::TimbrePitchChAfterSens: return "Pitch Ch Aftertouch Sens";
        case Param::TimbrePitchPolyAfterSens: return "Pitch Poly Aftertouch Sens";
        case Param::TimbreAutoBendDepth:
        case Param::RhythmSetupInstAutoBendDepth: return "Auto Bend Depth";
        case Param::TimbreAutoBendRate:
        case Param::RhythmSetupInstAutoBendRate: return "Auto Bend Rate";
        case Param::TimbreDetuneDepth:
        case Param::RhythmSetupInstDetuneDepth: return "Detune Depth";
        case Param::TimbreRate: return "Vib Rate";
        case Param::TimbreWaveform: return "Vib Waveform";
        case Param::TimbreDepth: return "Vib Depth";
        case Param::TimbreDelay: return "Vib Delay Time";
        case Param::TimbreRiseTime: return "Vib Rise Time";
        case Param::TimbreModulationDepth: return "Vib Modulation Depth";
        case Param::TimbreVibratoChAfterSens: return "Vib Ch Aftertouch Sens";
        case Param::TimbreVibratoPolyAfterSens: return "Vib Poly Aftertouch Sens";

        case Param::RhythmSetupCommonBenderRangeLower: return "Bender Range Lower";
        case Param::RhythmSetupCommonBenderRangeHigher: return "Bender Range Upper";
        case Param::RhythmSetupInstSourceKey: return "Source Key";
        case Param::RhythmSetupInstMuteInst: return "Mute Inst";
        case Param::RhythmSetupInstInstLevel: return "Inst Level";
        case Param::RhythmSetupInstVelocitySens: return "Velocity Sens";
        case Param::RhythmSetupInstEnvMode: return "Env Mode";
        case Param::RhythmSetupInstChannelAfterSens: return "Channel After Sens";
        case Param::RhythmSetupInstPolyAfterSens: return "Poly After Sens";
        case Param::RhythmSetupInstRandom: return "Random";
        case Param::Count: break;
    }
    return "";
}

}  // namespace quorvane
