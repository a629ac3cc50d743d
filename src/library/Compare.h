// Two library sounds side by side, parameter by parameter, in the editors'
// words. What is compared are readings (SoundLibraryModule.h): the working
// area's blocks as the module sent them while it played each sound, decoded
// with the one parameter table. A memory record itself is never decoded (its
// layout is the module's own); a working-area sound (Save Patch As...) holds
// working-area blocks already and needs no reading.
//
// Patches: the common block with the name, the rhythm part, each part followed
// by the timbre it played, then the rhythm setup's common block and the rhythm
// keys both sides read. A block only one side read gives rows with the other
// side empty, marked as differing. Timbres: a timbre's reading holds the timbre block of
// the part it played on (and no other timbre block); where it holds several,
// the lowest part's is taken. The two timbres are compared under "Timbre",
// whatever parts they played on.
// Standard C++.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/SoundLibraryModule.h"

namespace quorvane::library {

struct CompareRow {
    std::string section;    // "Common", "Rhythm part", "Part 3", "Timbre of part 3", "Rhythm setup", "Timbre"
    std::string parameter;  // "Name", "Chorus Type", ... (the editors' captions)
    std::string a, b;       // value texts as the editors' lists show them; "" when that side was not read
    bool differs = false;   // the values differ, or only one side was read
};

// The working-area blocks a patch's reading holds for a comparison, in
// address order: the patch blocks, the six part timbres and, when asked, the
// rhythm setup's common block.
std::vector<Range> ReadingRanges(bool withRhythmSetup);

// The part (1..6) whose timbre block a timbre's reading holds (the lowest when
// several), 0 when none.
int TimbrePart(const Reading& r);

// Every parameter both readings hold (or one of them), in the order above; only
// the differing rows when `onlyDifferences`. Two readings of patches (both hold
// the patch's common block) are compared block by block; otherwise as timbres.
std::vector<CompareRow> CompareReadings(const Reading& a, const Reading& b, bool onlyDifferences);

// Two library items: their readings (a working-area sound's own blocks), names
// and rows. `message` says why there are no rows when `ok` is false: an item
// without a reading, items of kinds that do not compare.
struct Comparison {
    bool ok = false;
    std::string message;
    std::string nameA, nameB;
    std::vector<CompareRow> rows;
};
// Throws LibraryError(Input) for an unknown id.
Comparison CompareItems(SoundLibrary& lib, int64_t a, int64_t b, bool onlyDifferences);

// "Audition <name> once so the module can tell its parameters; the library keeps what it reads".
std::string NoReadingMessage(const std::string& name);

}  // namespace quorvane::library
