// What an audition of a library item needs, taken from the library: the
// item's bytes and, for a patch, the timbres and rhythm setups of the bank it
// was first imported from.
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

}  // namespace quorvane::library
