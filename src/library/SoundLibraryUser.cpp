// The user's own data: favourite, tags, comment, rename, copies, user banks,
// and the images an export writes.
#include "library/SoundLibrary.h"

#include <algorithm>
#include <map>
#include <set>

#include "device/NameCodec.h"
#include "library/SoundLibraryText.h"

namespace quorvane::library {

namespace {

[[noreturn]] void Refuse(const std::string& why) { throw LibraryError(LibraryError::Input, why); }

std::string Plural(SoundType t) {
    switch (t) {
        case SoundType::Patch: return "patches";
        case SoundType::Timbre: return "timbres";
        case SoundType::Rhythm: return "rhythm setups";
        case SoundType::Working: return "working-area sounds";
    }
    return "";
}

}  // namespace

void SoundLibrary::Need(int64_t id) {
    Statement s(db_, "SELECT 1 FROM item WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) Refuse("there is no item " + std::to_string(id) + " in the library");
}

void SoundLibrary::Refresh(int64_t id) {
    Statement item(db_,
                   "UPDATE item SET display = COALESCE(NULLIF(user_name, ''), name),"
                   " tags = COALESCE((SELECT group_concat(tag, ', ') FROM (SELECT tag FROM tag WHERE item_id = ?1 ORDER BY tag)), ''),"
                   " source_count = (SELECT count(*) FROM source WHERE item_id = ?1) WHERE id = ?1");
    item.bind(1, id).run();
}

void SoundLibrary::SetFavourite(int64_t id, bool on) {
    Transaction t(db_);
    Need(id);
    Statement(db_, "UPDATE item SET favourite = ?2 WHERE id = ?1").bind(1, id).bind(2, on ? 1 : 0).run();
    t.commit();
}

void SoundLibrary::AddTag(int64_t id, const std::string& tag) {
    if (tag.empty() || tag.find_first_of("\t\n\r,") != std::string::npos)
        Refuse("a tag cannot be empty or hold a comma, tab or line break");
    Transaction t(db_);
    Need(id);
    Statement(db_, "INSERT OR IGNORE INTO tag(item_id, tag) VALUES(?1, ?2)").bind(1, id).bind(2, tag).run();
    Refresh(id);
    t.commit();
}

void SoundLibrary::RemoveTag(int64_t id, const std::string& tag) {
    Transaction t(db_);
    Need(id);
    Statement(db_, "DELETE FROM tag WHERE item_id = ?1 AND tag = ?2").bind(1, id).bind(2, tag).run();
    Refresh(id);
    t.commit();
}

void SoundLibrary::SetComment(int64_t id, const std::string& comment) {
    Transaction t(db_);
    Need(id);
    Statement(db_, "UPDATE item SET comment = ?2 WHERE id = ?1").bind(1, id).bind(2, comment).run();
    t.commit();
}

void SoundLibrary::Rename(int64_t id, const std::string& utf8Name) {
    std::string error;
    if (!utf8Name.empty() && !Utf8ToNameBytes(utf8Name, &error)) Refuse("the name cannot be used: " + error);
    Transaction t(db_);
    Need(id);
    Statement s(db_, "UPDATE item SET user_name = ?2 WHERE id = ?1");
    s.bind(1, id);
    if (utf8Name.empty()) s.bindNull(2);
    else s.bind(2, utf8Name);
    s.run();
    Refresh(id);
    t.commit();
}

void SoundLibrary::ApplyNameToBytes(int64_t id) {
    Transaction t(db_);
    Need(id);
    Statement s(db_, "SELECT bytes, COALESCE(user_name, '') FROM item WHERE id = ?1");
    s.bind(1, id);
    s.step();
    const Bytes bytes = s.blob(0);
    const std::string name = s.text(1);
    if (name.empty()) Refuse("item " + std::to_string(id) + " has no name of the library's own to apply");
    if (name.size() > 0 && SoundName(bytes) == name) Refuse("the bytes already hold the name \"" + name + "\"");
    std::string error;
    const auto nameBytes = Utf8ToNameBytes(name, &error);
    if (!nameBytes) Refuse("the name cannot be written to the bytes: " + error);
    if (nameBytes->size() > sysex::kNameChars)
        Refuse("the name \"" + name + "\" is longer than the module's " + std::to_string(sysex::kNameChars) + " characters");
    const Bytes changed = WithName(bytes, *nameBytes);
    Statement u(db_, "UPDATE item SET bytes = ?2, hash = ?3, sound_hash = ?4, name = ?5, user_name = NULL WHERE id = ?1");
    u.bind(1, id).bind(2, changed).bind(3, static_cast<int64_t>(BytesHash(changed)));
    u.bind(4, static_cast<int64_t>(SoundHash(changed))).bind(5, SoundName(changed)).run();
    Refresh(id);
    t.commit();
}

int64_t SoundLibrary::KeepCopy(int64_t id) {
    Transaction t(db_);
    Need(id);
    Statement s(db_,
                "INSERT INTO item(type, bytes, hash, sound_hash, name, user_name, display, favourite, comment, copy_of, added)"
                " SELECT type, bytes, hash, sound_hash, name, user_name, display, favourite, comment, id, datetime('now')"
                " FROM item WHERE id = ?1");
    s.bind(1, id).run();
    const int64_t copy = db_.lastInsertId();
    Statement(db_, "INSERT INTO tag(item_id, tag) SELECT ?2, tag FROM tag WHERE item_id = ?1").bind(1, id).bind(2, copy).run();
    Refresh(copy);
    t.commit();
    return copy;
}

void SoundLibrary::Remove(int64_t id) {
    Transaction t(db_);
    Need(id);
    Statement(db_, "DELETE FROM item WHERE id = ?1").bind(1, id).run();
    t.commit();
}

// ---------------------------------------------------------------------------
// User banks

int64_t SoundLibrary::MakeBank(const std::string& name, SoundType type) {
    if (name.empty()) Refuse("a bank needs a name");
    if (type == SoundType::Working) Refuse("a bank holds patches, timbres or rhythm setups");
    Transaction t(db_);
    Statement have(db_, "SELECT 1 FROM bank WHERE name = ?1");
    have.bind(1, name);
    if (have.step()) Refuse("there is a bank named \"" + name + "\" already");
    Statement(db_, "INSERT INTO bank(name, type, created) VALUES(?1, ?2, datetime('now'))")
        .bind(1, name).bind(2, static_cast<int64_t>(type)).run();
    const int64_t id = db_.lastInsertId();
    t.commit();
    return id;
}

std::optional<BankInfo> SoundLibrary::Bank(const std::string& name) {
    Statement b(db_, "SELECT id, type FROM bank WHERE name = ?1");
    b.bind(1, name);
    if (!b.step()) return std::nullopt;
    BankInfo info{b.integer(0), name, static_cast<SoundType>(b.integer(1)), {}};
    Statement s(db_,
                "SELECT o.slot, i.id, i.type, i.display, i.favourite, i.tags, i.source_count, i.added"
                " FROM bank_slot o JOIN item i ON i.id = o.item_id WHERE o.bank_id = ?1 ORDER BY o.slot");
    s.bind(1, info.id);
    while (s.step()) {
        ItemRow r{s.integer(1), static_cast<SoundType>(s.integer(2)), s.text(3), s.integer(4) != 0, s.text(5),
                  static_cast<int>(s.integer(6)), s.text(7)};
        info.slots.emplace_back(static_cast<int>(s.integer(0)), std::move(r));
    }
    return info;
}

std::vector<BankInfo> SoundLibrary::Banks() {
    Statement s(db_, "SELECT id, name, type FROM bank ORDER BY name COLLATE NOCASE");
    std::vector<BankInfo> out;
    while (s.step()) out.push_back({s.integer(0), s.text(1), static_cast<SoundType>(s.integer(2)), {}});
    return out;
}

namespace {

BankInfo NeedBank(SoundLibrary& lib, const std::string& name) {
    auto b = lib.Bank(name);
    if (!b) Refuse("there is no bank named \"" + name + "\"");
    return *b;
}

}  // namespace

void SoundLibrary::SetBankSlot(const std::string& bank, int slot, int64_t itemId) {
    Transaction t(db_);
    const BankInfo b = NeedBank(*this, bank);
    if (slot < 1 || slot > SoundSlots(b.type))
        Refuse("a bank of " + Plural(b.type) + " has places 1.." + std::to_string(SoundSlots(b.type)));
    if (itemId == 0) {
        Statement(db_, "DELETE FROM bank_slot WHERE bank_id = ?1 AND slot = ?2").bind(1, b.id).bind(2, slot).run();
    } else {
        Statement s(db_, "SELECT type FROM item WHERE id = ?1");
        s.bind(1, itemId);
        if (!s.step()) Refuse("there is no item " + std::to_string(itemId) + " in the library");
        if (static_cast<SoundType>(s.integer(0)) != b.type)
            Refuse("item " + std::to_string(itemId) + " is a " + SoundTypeWord(static_cast<SoundType>(s.integer(0))) +
                   "; bank \"" + bank + "\" holds " + Plural(b.type));
        Statement(db_, "INSERT OR REPLACE INTO bank_slot(bank_id, slot, item_id) VALUES(?1, ?2, ?3)")
            .bind(1, b.id).bind(2, slot).bind(3, itemId).run();
    }
    t.commit();
}

std::vector<int> SoundLibrary::AddToBank(const std::string& bank, const std::vector<int64_t>& itemIds) {
    Transaction t(db_);
    const BankInfo b = NeedBank(*this, bank);
    std::set<int> taken;
    for (const auto& [slot, row] : b.slots) taken.insert(slot);
    std::vector<int> used;
    int next = 1;
    for (int64_t id : itemIds) {
        while (taken.count(next)) ++next;
        if (next > SoundSlots(b.type))
            Refuse("bank \"" + bank + "\" has no room for " + std::to_string(itemIds.size()) + " more (it holds at most " +
                   std::to_string(SoundSlots(b.type)) + " " + Plural(b.type) + ")");
        SetBankSlot(bank, next, id);  // checks the item; nested in this transaction
        taken.insert(next);
        used.push_back(next);
    }
    t.commit();
    return used;
}

// ---------------------------------------------------------------------------
// Export

MemoryImage SoundLibrary::ImageOf(const std::vector<int64_t>& itemIds, std::vector<Placement>* placements) {
    MemoryImage image;
    std::map<SoundType, std::set<int>> taken;
    // The number in the item's first source; a copy without sources takes its original's.
    Statement s(db_,
                "SELECT i.type, i.bytes, i.display, (SELECT o.number FROM source o WHERE o.item_id = COALESCE("
                "(SELECT id FROM item WHERE id = i.copy_of), i.id) ORDER BY o.file_id, o.number LIMIT 1)"
                " FROM item i WHERE i.id = ?1");
    for (int64_t id : itemIds) {
        s.bind(1, id);
        if (!s.step()) Refuse("there is no item " + std::to_string(id) + " in the library");
        const auto type = static_cast<SoundType>(s.integer(0));
        const Bytes bytes = s.blob(1);
        const std::string name = s.text(2);
        int number = s.isNull(3) ? 1 : static_cast<int>(s.integer(3));
        s.reset();
        std::set<int>& used = taken[type];
        if (used.count(number)) {
            number = 1;
            while (used.count(number)) ++number;
        }
        if (number > SoundSlots(type))
            Refuse(type == SoundType::Working ? std::string("a file holds one working-area sound only")
                                              : "a file holds at most " + std::to_string(SoundSlots(type)) + " " + Plural(type));
        if (!PlaceSound(image, type, number, bytes))
            Refuse("item " + std::to_string(id) + " does not have the size of a " + SoundTypeWord(type));
        used.insert(number);
        if (placements) placements->push_back({id, type, number, name});
    }
    return image;
}

MemoryImage SoundLibrary::ImageOfBank(const std::string& bank, std::vector<Placement>* placements) {
    const BankInfo b = NeedBank(*this, bank);
    if (b.slots.empty()) Refuse("bank \"" + bank + "\" is empty");
    MemoryImage image;
    Statement s(db_, "SELECT bytes FROM item WHERE id = ?1");
    for (const auto& [slot, row] : b.slots) {
        s.bind(1, row.id);
        s.step();
        if (!PlaceSound(image, b.type, slot, s.blob(0)))
            Refuse("item " + std::to_string(row.id) + " does not have the size of a " + SoundTypeWord(b.type));
        s.reset();
        if (placements) placements->push_back({row.id, b.type, slot, row.name});
    }
    return image;
}

}  // namespace quorvane::library
