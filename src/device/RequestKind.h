// What a request to the module asks for. The model hands it to its owner when
// a request goes unanswered; the window or tool that shows it words it.
#pragma once

namespace quorvane {

enum class RequestKind {
    MasterSetup,   // the master setup block
    PatchData,     // the working patch: common, rhythm part, six parts
    TimbreData,    // the six timbres of the working patch
    RhythmCommon,  // the working rhythm setup's common block
    RhythmInst,    // one rhythm instrument
    PatchName,     // the name of one patch memory
    TimbreName,    // the name of one timbre memory
    RhythmName,    // the name of one rhythm setup memory
    PatchChange,   // the answer that shows a program change was taken
    RawRange,      // memory bytes for a back-up, restore or copy
};

}  // namespace quorvane
