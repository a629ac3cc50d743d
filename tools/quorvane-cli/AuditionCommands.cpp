// "library audition" and "library recover": playing a library item on the
// module without changing its memory, and putting back what an interrupted
// audition (or any other write) left in the journal.
#include <charconv>
#include <iostream>

#include "LibraryModuleCommands.h"
#include "library/Audition.h"

namespace quorvane::cli {

namespace {

using namespace quorvane::library;

int Whole(const std::string& text, const std::string& what, int low, int high) {
    int v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || v < low || v > high)
        Fail(kUsage, what + " '" + text + "' is not a number in " + std::to_string(low) + ".." + std::to_string(high));
    return v;
}

int RunAudition(const std::vector<std::string>& args, SoundLibrary& lib, ModuleLink& link) {
    const char* const usage = "audition takes ID [--scratch N] [--part P]";
    int64_t id = 0;
    AuditionOptions options;
    bool scratchGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--scratch" || a == "--part") && i + 1 < args.size()) {
            if (a == "--scratch") {
                options.scratch = Whole(args[++i], "--scratch", 1, 64);
                scratchGiven = true;
            } else {
                options.part = Whole(args[++i], "--part", 1, 6);
            }
        } else if (id == 0 && !a.empty() && a[0] != '-') {
            id = Whole(a, "the item id", 1, 2147483647);
        } else {
            Fail(kUsage, usage);
        }
    }
    if (id == 0) Fail(kUsage, usage);
    AuditionSourceOf(lib, id);  // an unknown id ends here, before the ports open

    link.open();
    Audition audition(link.model, link.host, link.journal);
    const AuditionReport r = AuditionItem(lib, audition, id, options);
    if (!r.ok()) {
        std::string text = r.text;
        if (r.journalOpen) text += " ('quorvane-cli library recover' puts them back.)";
        else if (!scratchGiven && r.outcome == Outcome::Failed && r.text.find("came from is unknown") != std::string::npos)
            text += " Say which patch memory to audition in with --scratch N.";
        Fail(r.outcome == Outcome::NoAnswer ? kNoAnswer : kFailure, text);
    }
    std::cout << r.text << "\n";
    std::cout << "part timbres";
    for (int t : r.timbres) std::cout << '\t' << t;
    std::cout << "\nrhythm setup\t" << r.rhythmSetup << "\n";
    if (!r.timbresFromBank.empty() || r.rhythmFromBank) {
        std::cout << "from the library";
        for (int t : r.timbresFromBank) std::cout << "\ttimbre " << t;
        if (r.rhythmFromBank) std::cout << "\trhythm setup " << r.rhythmSetup;
        std::cout << "\n";
    }
    return kOk;
}

int RunRecover(const std::vector<std::string>& args, ModuleLink& link) {
    const bool discard = args.size() == 1 && args[0] == "--discard";
    if (!args.empty() && !discard) Fail(kUsage, "recover takes no arguments but --discard");
    if (!link.journal) {
        std::cout << "Nothing to recover: the built-in virtual U-220 keeps no journal (its memory ends with the program).\n";
        return kOk;
    }
    Journal& journal = *link.journal;
    const std::string pending = journal.PendingJournal();
    if (pending.empty()) {
        std::cout << "Nothing to recover: nothing interrupted waits in " << journal.Folder() << ".\n";
        return kOk;
    }
    std::cerr << "quorvane-cli: " << pending << "\n";
    if (discard) {
        std::string error;
        if (!journal.Discard(error)) Fail(kFailure, error);
        std::cout << "The journal was discarded; its originals were not put back.\n";
        return kOk;
    }
    link.open();
    Transfer transfer(link.model, link.host);
    transfer.journal = &journal;
    return link.finish(journal.Recover(transfer));
}

}  // namespace

std::optional<int> RunAuditionCommand(const std::string& command, const std::vector<std::string>& args, SoundLibrary& lib,
                                      ModuleLink& link) {
    if (command == "audition") return RunAudition(args, lib, link);
    if (command == "recover") return RunRecover(args, link);
    return std::nullopt;
}

}  // namespace quorvane::cli
