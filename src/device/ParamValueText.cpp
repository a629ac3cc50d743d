#include "device/ParamValueText.h"

#include <QHash>

#include "device/ValueLists.h"

namespace quorvane::ui {

namespace {

namespace lists = quorvane::ui::lists;

// Only the number: the editors add the memory's name, which the monitor does
// not read from the module.
QString Prefixed(const char* prefix, int count, int digits) {
    QStringList l;
    for (int i = 1; i <= count; ++i) l << QString("%1%2").arg(prefix).arg(i, digits, 10, QChar('0'));
    return l.join(',');
}

QString ListOf(Param p) {
    const QString sixteen = lists::Numbers(0, 15);
    const QString thirtyTwo = lists::Numbers(0, 31);
    const QString voices = lists::Numbers(0, 30);
    const QString level = lists::Numbers(0, 127);
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

std::optional<QString> ParamValueText(Param p, int value) {
    // Split once per parameter: the monitor asks for every data set it shows.
    static const QHash<int, QStringList> cache = [] {
        QHash<int, QStringList> h;
        for (Param q : AllParams()) h.insert(static_cast<int>(q), ListOf(q).split(','));
        return h;
    }();
    const QStringList l = cache.value(static_cast<int>(p));
    if (value < 0 || value >= l.size() || l[value].isEmpty()) return std::nullopt;
    return l[value];
}

}  // namespace quorvane::ui
