// library module-index, store and put-back: what the module's patches use,
// storing a library patch with the timbres it needs, and putting back what a
// store replaced (ModuleStore.h).
#include <charconv>
#include <iostream>
#include <string>

#include "LibraryModuleCommands.h"
#include "library/ModuleStore.h"

namespace quorvane::cli {

namespace {

using namespace quorvane::library;

std::string Clean(std::string s) {
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

int64_t Whole(const std::string& text, const std::string& what) {
    int64_t v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || v < 1)
        Fail(kUsage, what + " '" + Clean(text) + "' is not a number from 1");
    return v;
}

// Ends on a report that did not go well: exit 3 when the module did not answer.
[[noreturn]] void FailWith(Outcome o, const std::string& text) { Fail(o == Outcome::NoAnswer ? kNoAnswer : kFailure, text); }

int ModuleIndexCommand(const std::vector<std::string>& args, SoundLibrary& lib, ModuleLink& link) {
    if (!args.empty()) Fail(kUsage, "module-index takes no arguments");
    link.open();
    int shown = -1;
    const IndexReport r = ReadModuleIndex(link.model, link.host, lib, [&](int done, int total) {
        if (done != shown) std::cerr << "\rReading patch " << done << " of " << total << std::flush;
        shown = done;
        return true;
    });
    std::cerr << "\n";
    for (const ModulePatch& p : r.index.patches) {
        std::cout << p.number << '\t' << Clean(p.name) << '\t';
        for (size_t i = 0; i < p.timbres.size(); ++i) std::cout << (i ? "," : "") << p.timbres[i];
        std::cout << '\t' << (p.rhythmSetup ? std::to_string(p.rhythmSetup) : "-") << '\n';
    }
    if (r.outcome != Outcome::Done) FailWith(r.outcome, r.text);
    std::cerr << r.text << "\n";
    return kOk;
}

int StoreCommand(const std::vector<std::string>& args, SoundLibrary& lib, ModuleLink& link) {
    bool alone = false, yes = false;
    std::vector<std::string> rest;
    for (const std::string& a : args) {
        if (a == "--alone") alone = true;
        else if (a == "--yes") yes = true;
        else rest.push_back(a);
    }
    if (rest.size() != 2) Fail(kUsage, "store takes an item id and a patch number (1..64), and --alone, --yes");
    const int64_t id = Whole(rest[0], "item id");
    const int64_t slot = Whole(rest[1], "patch number");
    if (slot > 64) Fail(kUsage, "patch number " + rest[1] + " is outside 1..64");
    link.open();
    const StorePlan plan = PlanStore(link.model, link.host, lib, link.journal, id, static_cast<int>(slot));
    if (plan.outcome != Outcome::Done) FailWith(plan.outcome, plan.text);
    std::cout << plan.text << "\n";
    if (alone) std::cout << "Storing the patch alone.\n";
    if (!yes) {
        std::cout << "Store? [y/N] " << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        if (answer != "y" && answer != "Y" && answer != "yes") {
            std::cout << "Nothing was stored.\n";
            return kOk;
        }
    }
    const StoreReport r = Store(link.model, link.host, lib, link.journal, plan, alone);
    TransferReport t;
    t.outcome = r.outcome;
    t.text = r.text;
    t.journalOpen = r.journalOpen;
    if (r.outcome != Outcome::Done || r.journalOpen) {
        if (t.outcome == Outcome::Done) t.outcome = Outcome::Failed;
        if (r.snapshotId) t.text += " Snapshot " + std::to_string(r.snapshotId) + " keeps what it replaced.";
    } else {
        t.text += " ('library put-back " + std::to_string(r.snapshotId) + "' puts it back.)";
    }
    return link.finish(t);
}

int PutBackCommand(const std::vector<std::string>& args, SoundLibrary& lib, ModuleLink& link) {
    if (args.size() > 1) Fail(kUsage, "put-back takes a snapshot id or --list");
    if (args.size() == 1 && args[0] == "--list") {
        // id, when made, the store it undoes, when put back ("-" while not).
        for (const Snapshot& s : Snapshots(lib, 1000))
            std::cout << s.id << '\t' << s.made << '\t' << Clean(s.operation) << '\t'
                      << (s.putBack.empty() ? "-" : s.putBack) << '\n';
        return kOk;
    }
    int64_t id = 0;
    if (args.size() == 1) {
        id = Whole(args[0], "snapshot id");
    } else {
        for (const Snapshot& s : Snapshots(lib, 1000))
            if (s.putBack.empty() && s.deviceId == link.deviceByte) {
                id = s.id;
                break;
            }
        if (!id) Fail(kUsage, "no snapshot waits to be put back (see 'library put-back --list')");
    }
    link.open();
    return link.finish(PutBackSnapshot(link.model, link.host, lib, link.journal, id));
}

}  // namespace

std::optional<int> RunStoreCommand(const std::string& command, const std::vector<std::string>& args,
                                   library::SoundLibrary& lib, ModuleLink& link) {
    if (command == "module-index") return ModuleIndexCommand(args, lib, link);
    if (command == "store") return StoreCommand(args, lib, link);
    if (command == "put-back") return PutBackCommand(args, lib, link);
    return std::nullopt;
}

}  // namespace quorvane::cli
