// What an audition of a library item needs, taken from the library: the
// item's bytes and, for a patch, the timbres and rhythm setups of the bank it
// was first imported from; and the audition of an item, whose reading the
// library keeps.
#include "library/Audition.h"
#include "library/SoundLibrary.h"

namespace quorvane::library {

AuditionSource AuditionSourceOf(SoundLibrary& lib, int64_t itemId) {
    const std::optional<ItemDetails> d = lib.Details(itemId);
    if (!d) throw LibraryError(LibraryError::Input, "there is no item " + std::to_string(itemId) + " in the library");
    AuditionSource source;
    source.itemId = itemId;
    source.type = d->row.type;
    source.name = d->row.name;
    source.patch = d->bytes;
    Statement bytes(lib.Db(), "SELECT bytes FROM item WHERE id = ?1");
    for (const FileMember& m : d->bank) {
        if (m.type != SoundType::Timbre && m.type != SoundType::Rhythm) continue;
        bytes.reset();
        bytes.bind(1, m.itemId);
        if (!bytes.step()) continue;
        (m.type == SoundType::Timbre ? source.timbres : source.rhythms)[m.number] = bytes.blob(0);
    }
    return source;
}

AuditionReport AuditionItem(SoundLibrary& lib, Audition& audition, int64_t id, const AuditionOptions& options) {
    const AuditionSource source = AuditionSourceOf(lib, id);
    AuditionOptions o = options;
    if (source.type == SoundType::Patch && o.scratch == 0) {
        AuditionReport report;
        o.scratch = audition.CurrentPatch(report.outcome, report.text);
        if (o.scratch == 0) return report;
    }
    AuditionReport report = audition.Play(source, o);
    if (report.ok()) SaveReading(lib, report.reading);
    return report;
}

}  // namespace quorvane::library
