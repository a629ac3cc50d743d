// Tooltips for the editors' short labels ("Rx Pan", "Velo. Thresh", "Map 1"):
// what the value means and its range, on the list and on the label naming it.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <utility>
#include <vector>

namespace quorvane::ui {

using ControlTips = std::vector<std::pair<QWidget*, QString>>;

// Gives each control its tooltip, and the same one to every label under
// `root` whose buddy is that control.
inline void ApplyTips(QWidget* root, const ControlTips& tips) {
    const auto labels = root->findChildren<QLabel*>();
    for (const auto& [control, tip] : tips) {
        if (!control) continue;
        control->setToolTip(tip);
        for (QLabel* l : labels)
            if (l->buddy() == control) l->setToolTip(tip);
    }
}

}  // namespace quorvane::ui
