// What the tests of the library window's audition and store share: a bank in
// the virtual module's second record packing, the module's memory byte for
// byte, and answers to the window's questions.
#pragma once

#include <QMessageBox>
#include <QStringList>

#include "device/MemoryMap.h"
#include "device/NameCodec.h"
#include "emulator/U220Emulator.h"
#include "library/SoundLibraryFiles.h"
#include "library/Transfer.h"
#include "ui/UiTestSupport.h"
#include "ui/backup/BackupPrompts.h"

namespace quorvane::test {
constexpr uint32_t kPacking = 7;  // the module's and the bank's record packing: not the default one

// A bank file of changed sounds, its records in the second packing (as a
// module of that packing would have sent them).
inline library::MemoryImage BankInPacking(uint32_t seed) {
    const library::MemoryImage sounds = library::testfiles::MutatedBank(seed);
    emulator::U220Emulator e(0x10);
    for (const library::DataSet& d : sounds.dataSets()) e.load(d.address, d.data);
    e.setPackingSeed(kPacking);
    library::MemoryImage out;
    for (const library::Range& r : library::BackupAreas()) out.put(r.address, e.read(r.address, r.size));
    return out;
}

// Every memory of the module, byte for byte.
inline library::MemoryImage ModuleMemory(midi::VirtualU220& vm) {
    library::MemoryImage image;
    vm.withEmulator([&](auto& e) {
        for (const MemoryArea& a : MemoryAreas())
            image.put(MemoryAddress(a.kind, 1), e.read(MemoryAddress(a.kind, 1), a.size()));
        return 0;
    });
    return image;
}

// The working patch's name as the module answers it (the model reads it again).
inline QString WorkingPatchName(clsU220& model) {
    model.InvalidateAll();
    return QString::fromStdString(NameBytesToUtf8(model.PatchCommonPatchName())).trimmed();
}

// Answers the window's questions and keeps what was asked and told.
struct Answers {
    QList<QMessageBox::StandardButton> buttons;
    QList<int> numbers;
    QStringList asked, told;
    ui::BackupPrompts Prompts() {
        ui::BackupPrompts p;
        p.openFile = [](QWidget*, const QString&) { return QString(); };
        p.saveFile = [](QWidget*, const QString&, const QString&) { return QString(); };
        p.ask = [this](QWidget*, const QString&, const QString& text, QMessageBox::StandardButtons) {
            asked << text;
            return buttons.isEmpty() ? QMessageBox::Cancel : buttons.takeFirst();
        };
        p.number = [this](QWidget*, const QString&, const QString&, int, int, int) {
            return numbers.isEmpty() ? 0 : numbers.takeFirst();
        };
        p.tell = [this](QWidget*, const QString&, const QString& text, bool) { told << text; };
        return p;
    }
};

}  // namespace quorvane::test
