// What an edit can write to through the model.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "ParamTable.h"

namespace quorvane {

// One place an edit writes to: a one-byte parameter with its index, a name, a
// master setup field, or the master tune (in tenths of a hertz).
struct EditTarget {
    enum class Kind : uint8_t { Param, Name, Master, Tune };
    Kind kind = Kind::Param;
    int id = 0;     // the Param, NameParam or MasterParam
    int index = 0;  // PartNo or InstNo; 0 where the parameter has none

    static EditTarget Of(Param p, int index = 0) { return {Kind::Param, static_cast<int>(p), index}; }
    static EditTarget Of(NameParam n, int index = 0) { return {Kind::Name, static_cast<int>(n), index}; }
    static EditTarget Of(MasterParam m) { return {Kind::Master, static_cast<int>(m), 0}; }
    static EditTarget Tune() { return {Kind::Tune, 0, 0}; }

    quorvane::Param param() const { return static_cast<quorvane::Param>(id); }
    quorvane::NameParam name() const { return static_cast<quorvane::NameParam>(id); }
    quorvane::MasterParam master() const { return static_cast<quorvane::MasterParam>(id); }
    bool operator==(const EditTarget&) const = default;
};

// A list index, a tune position, or a name's module bytes.
using EditValue = std::variant<int, std::string>;

}  // namespace quorvane
