#include "EditTarget.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "clsU220.h"

namespace quorvane {

namespace {
const char* MemoryNameOf(MemoryKind m) {
    switch (m) {
        case MemoryKind::Patch: return "MemoryPatchName";
        case MemoryKind::Timbre: return "MemoryTimbreName";
        case MemoryKind::Rhythm: return "MemoryRhythmName";
    }
    return "";
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<EditTarget> MakeAll() {
    std::vector<EditTarget> all{EditTarget::Tune()};
    for (size_t i = 0; i < static_cast<size_t>(MasterParam::Count); ++i)
        all.push_back(EditTarget::Of(static_cast<MasterParam>(i)));
    for (NameParam n : {NameParam::PatchCommonPatchName, NameParam::TimbreTimbreName, NameParam::RhythmSeupCommonSetupName})
        all.push_back(EditTarget::Of(n));
    for (Param p : AllParams()) all.push_back(EditTarget::Of(p));
    for (MemoryKind m : {MemoryKind::Patch, MemoryKind::Timbre, MemoryKind::Rhythm}) all.push_back(EditTarget::Of(m));
    return all;
}
}  // namespace

std::string NameOf(const EditTarget& t) {
    switch (t.kind) {
        case EditTarget::Kind::Param: return Info(t.param()).name;
        case EditTarget::Kind::Name: return NameOf(t.name());
        case EditTarget::Kind::Master: return NameOf(t.master());
        case EditTarget::Kind::Tune: return "MasterSetupMTune";
        case EditTarget::Kind::MemoryName: return MemoryNameOf(t.memory());
    }
    return "";
}

std::optional<Block> BlockOf(const EditTarget& t) {
    switch (t.kind) {
        case EditTarget::Kind::Param: return Info(t.param()).block;
        case EditTarget::Kind::Name: return BlockOf(t.name());
        case EditTarget::Kind::Master:
        case EditTarget::Kind::Tune: return Block::MasterSetup;
        case EditTarget::Kind::MemoryName: break;
    }
    return std::nullopt;
}

IndexRange IndexRangeOf(const EditTarget& t) {
    if (t.kind == EditTarget::Kind::MemoryName) {
        static const char* const kWhat[] = {"patch number", "timbre number", "rhythm setup number"};
        return {true, 1, AreaOf(t.memory()).count, kWhat[static_cast<int>(t.memory())]};
    }
    return IndexRangeOf(*BlockOf(t));
}

IndexRange IndexRangeOf(Block b) {
    switch (IndexOf(b)) {
        case IndexKind::PartNo: return {true, IndexMin(b), IndexMax(b), "part number"};
        case IndexKind::InstNo: return {true, IndexMin(b), IndexMax(b), "instrument number"};
        case IndexKind::None: break;
    }
    return {};
}

const std::vector<EditTarget>& AllEditTargets() {
    static const std::vector<EditTarget> all = MakeAll();
    return all;
}

std::optional<EditTarget> FindEditTarget(const std::string& name) {
    const std::vector<EditTarget>& all = AllEditTargets();
    for (const EditTarget& t : all)
        if (NameOf(t) == name) return t;
    for (const EditTarget& t : all)
        if (Lower(NameOf(t)) == Lower(name)) return t;
    return std::nullopt;
}

EditValue ReadTarget(clsU220& model, const EditTarget& t) {
    switch (t.kind) {
        case EditTarget::Kind::Param: return int(model.get(t.param(), t.index));
        case EditTarget::Kind::Name: return model.getName(t.name(), t.index);
        case EditTarget::Kind::Master: return int(model.getMaster(t.master()));
        case EditTarget::Kind::Tune:
            return int(std::lround(static_cast<double>(model.MasterSetupMTune()) * 10.0));
        case EditTarget::Kind::MemoryName: {
            const auto n = static_cast<int16_t>(t.index);
            switch (t.memory()) {
                case MemoryKind::Patch: return model.MemoryPatchName(n);
                case MemoryKind::Timbre: return model.MemoryTimbreName(n);
                case MemoryKind::Rhythm: return model.MemoryRhythmName(n);
            }
        }
    }
    return 0;
}

std::optional<EditValue> LoadedValue(clsU220& model, const EditTarget& t) {
    // Only values the model holds: reading an unloaded block would wait for the
    // module in the middle of an edit.
    if (t.kind == EditTarget::Kind::MemoryName) {
        const bool loaded = t.memory() == MemoryKind::Patch    ? model.MemoryPatchNameLoaded(t.index)
                            : t.memory() == MemoryKind::Timbre ? model.MemoryTimbreNameLoaded(t.index)
                                                               : model.MemoryRhythmNameLoaded(t.index);
        if (!loaded) return std::nullopt;
    } else if (!model.BlockLoaded(*BlockOf(t), t.index)) {
        return std::nullopt;
    }
    return ReadTarget(model, t);
}

bool WriteTarget(clsU220& model, const EditTarget& t, const EditValue& v) {
    const int* number = std::get_if<int>(&v);
    const std::string* bytes = std::get_if<std::string>(&v);
    switch (t.kind) {
        case EditTarget::Kind::Param: return number && model.let(t.param(), t.index, static_cast<int16_t>(*number));
        case EditTarget::Kind::Name:
            if (!bytes) return false;
            model.letName(t.name(), t.index, *bytes);
            return true;
        case EditTarget::Kind::Master: return number && model.letMaster(t.master(), static_cast<int16_t>(*number));
        case EditTarget::Kind::Tune: return number && model.MasterSetupMTune(static_cast<float>(*number) / 10.0f);
        case EditTarget::Kind::MemoryName: return false;  // memories are never written
    }
    return false;
}

}  // namespace quorvane
