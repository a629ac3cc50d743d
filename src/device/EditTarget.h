// What can be edited through the model, in one table: every one-byte
// parameter with its index, the three names of the working area, the master
// setup's fields and its tune, and the memory names (read only). The editor
// windows' undo history and the command-line tool both name, check, read and
// write values through it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "MemoryMap.h"
#include "ParamTable.h"

namespace quorvane {

class clsU220;

// One place an edit writes to: a one-byte parameter with its index, a name, a
// master setup field, the master tune (in tenths of a hertz), or the name of
// a patch, timbre or rhythm setup memory (index: its number; never written).
struct EditTarget {
    enum class Kind : uint8_t { Param, Name, Master, Tune, MemoryName };
    Kind kind = Kind::Param;
    int id = 0;     // the Param, NameParam, MasterParam or MemoryKind
    int index = 0;  // PartNo, InstNo or memory number; 0 where there is none

    static EditTarget Of(Param p, int index = 0) { return {Kind::Param, static_cast<int>(p), index}; }
    static EditTarget Of(NameParam n, int index = 0) { return {Kind::Name, static_cast<int>(n), index}; }
    static EditTarget Of(MasterParam m) { return {Kind::Master, static_cast<int>(m), 0}; }
    static EditTarget Of(MemoryKind m, int number = 0) { return {Kind::MemoryName, static_cast<int>(m), number}; }
    static EditTarget Tune() { return {Kind::Tune, 0, 0}; }

    quorvane::Param param() const { return static_cast<quorvane::Param>(id); }
    quorvane::NameParam name() const { return static_cast<quorvane::NameParam>(id); }
    quorvane::MasterParam master() const { return static_cast<quorvane::MasterParam>(id); }
    quorvane::MemoryKind memory() const { return static_cast<quorvane::MemoryKind>(id); }
    // The same target at another index.
    EditTarget At(int i) const { return {kind, id, i}; }
    bool operator==(const EditTarget&) const = default;
};

// A list index, a tune position, or a name's module bytes.
using EditValue = std::variant<int, std::string>;

// The name the model gives a target: "PatchPartPan", "MasterSetupMTune",
// "MemoryPatchName".
std::string NameOf(const EditTarget& t);
// The block a target lies in (the master setup for its fields and tune);
// nullopt for memory names.
std::optional<Block> BlockOf(const EditTarget& t);

// The index a target takes: whether it needs one, its range and what it is.
struct IndexRange {
    bool needed = false;
    int min = 0, max = 0;
    const char* what = "";  // "part number", "instrument number", "patch number" ...
};
IndexRange IndexRangeOf(const EditTarget& t);
IndexRange IndexRangeOf(Block b);

// Every target at index 0, in this order: the master tune, the master fields,
// the names, the parameters in table order, the memory names.
const std::vector<EditTarget>& AllEditTargets();
// The target of that name; a name that differs only in case is taken too.
std::optional<EditTarget> FindEditTarget(const std::string& name);

// Reads a target through the model, which waits for the module when the block
// is not loaded yet. Tune: tenths of a hertz; names: the module's 12 bytes.
EditValue ReadTarget(clsU220& model, const EditTarget& t);
// The model's value of a target without waiting: nullopt when its block is not
// loaded (or for a memory name that has not been read).
std::optional<EditValue> LoadedValue(clsU220& model, const EditTarget& t);
// Writes a value through the model, which sends it at once; false when
// refused (a value of the wrong type or outside its list, a memory name).
bool WriteTarget(clsU220& model, const EditTarget& t, const EditValue& v);

}  // namespace quorvane
