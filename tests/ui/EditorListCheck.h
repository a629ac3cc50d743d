// Every list of an editor picked once: each must send exactly one data set, at
// the address that the hand-written parameter table gives the parameter its
// label names, carrying the entry picked (plus the parameter's bias).
#pragma once

#include <QComboBox>
#include <QStringList>
#include <QWidget>
#include <map>
#include <set>

#include "device/ParamPins.h"
#include "ui/UiTestSupport.h"

namespace quorvane::test {

// What picking one list must write.
struct ListWrite {
    const pins::Row* row = nullptr;  // the parameter, from the hand-written table
    int index = 0;                   // its part or instrument, 0 for none
    bool down = false;               // pick the entry below, where there is one
};

// Picks an entry next to the one shown in every list of `window` but those in
// `skip`, keyed as ListKey() names them. Returns every fault in words: a
// parameter missing from the table, a list `expected` does not know, a wrong
// write, and a list of `expected` the window does not have.
inline QStringList EveryListFaults(midi::VirtualU220& vm, QWidget& window, std::map<QString, ListWrite> expected,
                                   const std::set<const QComboBox*>& skip = {}) {
    QStringList faults;
    for (const auto& [list, write] : expected)
        if (!write.row) faults << list + ": its parameter is not in the table";
    if (!faults.isEmpty()) return faults;
    for (QComboBox* c : window.findChildren<QComboBox*>()) {
        if (skip.count(c)) continue;
        const auto e = expected.find(ListKey(c));
        if (e == expected.end()) {
            faults << ListKey(c) + ": a list this test does not know";
            continue;
        }
        const ListWrite& write = e->second;
        const int pick = NeighbourEntry(c, write.down);
        const QString fault = PickFault(vm, c, pick, pins::Expected(*write.row, write.index), pick + write.row->bias);
        if (!fault.isEmpty()) faults << fault;
        expected.erase(e);
    }
    for (const auto& [list, write] : expected) faults << list + ": list not found";
    return faults;
}

}  // namespace quorvane::test
