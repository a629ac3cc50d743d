#include "LibraryCommands.h"

#include <charconv>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "library/Compare.h"
#include "library/SoundLibrary.h"
#include "library/SoundLibraryModule.h"
#include "library/SysexFile.h"
#include "LibraryModuleCommands.h"

namespace quorvane::cli {

namespace {

using namespace quorvane::library;

// Exit codes (LibraryModuleCommands.h): 1 also when the library cannot be
// opened, is damaged, is of a newer version or the disk is full; 2 for an
// unknown id or a file that could not be imported.

const char* const kLibraryUsage =
    "usage: quorvane-cli [--library FILE] [--move-aside] library COMMAND [ARGS]\n"
    "\n"
    "The sound library: every patch, timbre and rhythm setup imported from .syx and\n"
    ".mid files, in one file (default: library.sqlite in the data folder,\n"
    "QUORVANE_DATA_DIR, else $XDG_DATA_HOME/quorvane or ~/.local/share/quorvane).\n"
    "\n"
    "Options (before or after 'library'):\n"
    "  --library FILE   the library file to use\n"
    "  --move-aside     when the library file is damaged, rename it (nothing is deleted)\n"
    "                   and start a new one\n"
    "\n"
    "Commands (output: one line per item, fields separated by tabs):\n"
    "  import PATH...                files and folders (recursively: *.syx, *.mid, *.midi)\n"
    "  list [--type patch|timbre|rhythm|working] [--search TEXT] [--tag TAG]\n"
    "       [--favourite] [--file NAME] [--sort type|name|favourite|tags|sources|date]\n"
    "       [--desc] [--limit N]     id, type, name, favourite (*), tags, sources, date added\n"
    "  show ID                       an item's fields, its sources and a patch's bank\n"
    "  tag ID TAG  /  untag ID TAG   add or remove a tag\n"
    "  favourite ID [on|off]         mark (or unmark) a favourite\n"
    "  rename ID NAME                the library's own name (\"\" takes the stored name again)\n"
    "  apply-name ID                 write the library's name into the item's bytes\n"
    "  comment ID TEXT               the item's comment\n"
    "  copy ID                       keep a duplicate of the item on purpose; prints its id\n"
    "  remove ID                     take the item out of the library\n"
    "  duplicates                    groups of the same sound under other names: group, id, type, name\n"
    "  export FILE ID...             write the items to FILE as a back-up file, each at its\n"
    "  export FILE --bank NAME       number in its first source (a bank: at its places);\n"
    "                                prints type, number, id, name of each\n"
    "  bank new NAME patch|timbre|rhythm\n"
    "  bank add NAME ID...           fill the first empty places; prints the places\n"
    "  bank set NAME PLACE ID        put an item at a place (ID 0 empties it)\n"
    "  bank show NAME                place, id, name\n"
    "  bank list                     name, type, places filled\n"
    "  compare A B [--all]           two patches, timbres or rhythm setups parameter by\n"
    "                                parameter, from what their auditions read: section,\n"
    "                                parameter, A, B, * when they differ (only the\n"
    "                                differences unless --all)\n"
    "\n"
    "Through the module (port options or --virtual before 'library'; exit 3: no answer):\n"
    "  audition ID [--scratch N] [--part P]\n"
    "                                play an item on the module, its memory as before: a\n"
    "                                patch (with its bank's timbres) through patch memory N\n"
    "                                (default: the module's current patch), a timbre on part\n"
    "                                P (default 1); prints the part timbres and rhythm setup\n"
    "  recover [--discard]           put back what an interrupted audition left in the journal\n"
    "  module-index                  read what each module patch uses: number, name,\n"
    "                                timbres, rhythm setup (kept in the library)\n"
    "  store ID SLOT [--alone] [--yes]\n"
    "                                store a patch into patch memory SLOT with the timbres\n"
    "                                it needs: shows the plan and asks first\n"
    "  put-back [SNAPSHOT-ID|--list] put back what a store replaced (default: the newest\n"
    "                                not put back)\n"
    "\n"
    "Exit codes: 0 done, 1 the library could not be used, 2 bad input (an unknown\n"
    "id, a file that could not be imported: the others are imported).\n";

std::string Clean(std::string s) {
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

int64_t Id(const std::string& text) {
    int64_t v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || v < 1)
        Fail(kUsage, "'" + Clean(text) + "' is not an item id (see 'library list')");
    return v;
}

int Number(const std::string& text, const char* what) {
    int v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size())
        Fail(kUsage, std::string(what) + " '" + Clean(text) + "' is not a number");
    return v;
}

SoundType Type(const std::string& word) {
    if (auto t = ParseSoundType(word)) return *t;
    Fail(kUsage, "'" + Clean(word) + "' is not a type: patch, timbre, rhythm or working");
}

void PrintRow(const ItemRow& r) {
    std::cout << r.id << '\t' << SoundTypeWord(r.type) << '\t' << Clean(r.name) << '\t' << (r.favourite ? "*" : "") << '\t'
              << Clean(r.tags) << '\t' << r.sources << '\t' << r.added << '\n';
}

class LibraryCli {
public:
    LibraryCli(std::string path, bool moveAside) : path_(std::move(path)), moveAside_(moveAside) {}

    int Run(const std::vector<std::string>& a) {
        if (a.empty()) Fail(kUsage, "library: which command? (see 'quorvane-cli library --help')");
        const std::string& c = a[0];
        const std::vector<std::string> args(a.begin() + 1, a.end());
        if (c == "import") return Import(args);
        if (c == "list") return List(args);
        if (c == "show") return Show(args);
        if (c == "tag" || c == "untag") {
            Count(c, args, 2, "ID TAG");
            if (c == "tag") Lib().AddTag(Id(args[0]), args[1]);
            else Lib().RemoveTag(Id(args[0]), args[1]);
            return kOk;
        }
        if (c == "favourite") {
            if (args.empty() || args.size() > 2 || (args.size() == 2 && args[1] != "on" && args[1] != "off"))
                Fail(kUsage, "favourite takes ID [on|off]");
            Lib().SetFavourite(Id(args[0]), args.size() == 1 || args[1] == "on");
            return kOk;
        }
        if (c == "rename") return Count(c, args, 2, "ID NAME"), Lib().Rename(Id(args[0]), args[1]), kOk;
        if (c == "apply-name") return Count(c, args, 1, "ID"), Lib().ApplyNameToBytes(Id(args[0])), kOk;
        if (c == "comment") return Count(c, args, 2, "ID TEXT"), Lib().SetComment(Id(args[0]), args[1]), kOk;
        if (c == "remove") return Count(c, args, 1, "ID"), Lib().Remove(Id(args[0])), kOk;
        if (c == "copy") {
            Count(c, args, 1, "ID");
            std::cout << Lib().KeepCopy(Id(args[0])) << '\n';
            return kOk;
        }
        if (c == "duplicates") return Duplicates(args);
        if (c == "export") return Export(args);
        if (c == "bank") return Bank(args);
        if (c == "compare") return Compare(args);
        Fail(kUsage, "unknown library command '" + Clean(c) + "' (see 'quorvane-cli library --help')");
    }

    // Opens the library on first use (moving a damaged one aside with --move-aside).
    SoundLibrary& Lib() {
        if (lib_) return *lib_;
        try {
            lib_ = std::make_unique<SoundLibrary>(path_);
        } catch (const LibraryError& e) {
            if (e.kind() != LibraryError::Damaged) throw;
            if (!moveAside_)
                Fail(kFailure, std::string(e.what()) +
                                   ". Run the command again with --move-aside to rename it (nothing is deleted) and "
                                   "start a new library.");
            std::string movedTo, error;
            if (!MoveLibraryAside(path_, movedTo, error)) Fail(kFailure, error);
            std::cerr << "quorvane-cli: moved the damaged library aside to " << movedTo << "; starting a new one\n";
            lib_ = std::make_unique<SoundLibrary>(path_);
        }
        return *lib_;
    }

private:
    static void Count(const std::string& c, const std::vector<std::string>& args, size_t n, const char* what) {
        if (args.size() != n) Fail(kUsage, c + " takes " + what);
    }

    int Import(const std::vector<std::string>& args) {
        if (args.empty()) Fail(kUsage, "import takes one or more files or folders");
        const ImportReport r = Lib().Import(args);
        for (const SkippedFile& s : r.skipped) std::cerr << "quorvane-cli: skipped " << s.path << ": " << s.reason << '\n';
        std::cout << "Imported " << r.files << (r.files == 1 ? " file: " : " files: ") << r.sounds << " sounds, "
                  << r.newItems << " new to the library";
        if (r.partial) std::cout << "; " << r.partial << " memories only partly in a file were left out";
        if (!r.skipped.empty()) std::cout << "; " << r.skipped.size() << " skipped";
        std::cout << ".\n";
        if (!r.error.empty()) Fail(kFailure, "the import stopped: " + r.error);
        return r.skipped.empty() ? kOk : kUsage;
    }

    int List(const std::vector<std::string>& args) {
        Query q;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& o = args[i];
            auto value = [&]() -> const std::string& {
                if (i + 1 >= args.size()) Fail(kUsage, "list: " + o + " needs a value");
                return args[++i];
            };
            if (o == "--type") q.type = Type(value());
            else if (o == "--search") q.text = value();
            else if (o == "--tag") q.tag = value();
            else if (o == "--file") q.sourceFile = value();
            else if (o == "--favourite") q.favouritesOnly = true;
            else if (o == "--desc") q.descending = true;
            else if (o == "--limit") q.limit = Number(value(), "--limit");
            else if (o == "--sort") {
                const std::string& s = value();
                const std::pair<const char*, SortColumn> columns[] = {
                    {"type", SortColumn::Type}, {"name", SortColumn::Name},       {"favourite", SortColumn::Favourite},
                    {"tags", SortColumn::Tags}, {"sources", SortColumn::Sources}, {"date", SortColumn::Date}};
                bool found = false;
                for (const auto& [word, column] : columns)
                    if (s == word) q.sort = column, found = true;
                if (!found) Fail(kUsage, "list: --sort takes type, name, favourite, tags, sources or date");
            } else Fail(kUsage, "list: unknown option '" + Clean(o) + "'");
        }
        for (const ItemRow& r : Lib().List(q)) PrintRow(r);
        return kOk;
    }

    int Show(const std::vector<std::string>& args) {
        Count("show", args, 1, "ID");
        const auto d = Lib().Details(Id(args[0]));
        if (!d) Fail(kUsage, "there is no item " + args[0] + " in the library");
        auto line = [](const char* key, const std::string& value) { std::cout << key << '\t' << Clean(value) << '\n'; };
        line("id", std::to_string(d->row.id));
        line("type", SoundTypeWord(d->row.type));
        line("name", d->row.name);
        line("name in bytes", d->nameInBytes);
        line("favourite", d->row.favourite ? "yes" : "no");
        line("tags", d->row.tags);
        line("comment", d->comment);
        line("added", d->row.added);
        if (d->copyOf) line("copy of", std::to_string(*d->copyOf));
        for (int64_t other : d->otherNames) line("same sound, other name", std::to_string(other));
        for (const SourceInfo& s : d->sources)
            std::cout << "source\t" << Clean(s.path) << '\t' << s.number << '\t' << s.imported << '\n';
        for (const FileMember& m : d->bank)
            std::cout << "bank\t" << SoundTypeWord(m.type) << '\t' << m.number << '\t' << m.itemId << '\t' << Clean(m.name)
                      << '\n';
        // What the module told when it was last auditioned.
        if (const auto r = LoadReading(Lib(), d->row.id); r && d->row.type == SoundType::Patch) {
            line("auditioned", r->readAt);
            std::cout << "part timbres";
            for (int t : r->timbres) std::cout << '\t' << t;
            std::cout << '\n';
            if (r->rhythmSetup) line("rhythm setup", std::to_string(r->rhythmSetup));
        }
        return kOk;
    }

    // No module needed: the readings are in the library.
    int Compare(const std::vector<std::string>& args) {
        std::vector<std::string> ids;
        bool all = false;
        for (const std::string& a : args) {
            if (a == "--all") all = true;
            else if (a.rfind("--", 0) == 0) Fail(kUsage, "compare: unknown option '" + Clean(a) + "'");
            else ids.push_back(a);
        }
        if (ids.size() != 2) Fail(kUsage, "compare takes A B [--all]");
        const Comparison c = CompareItems(Lib(), Id(ids[0]), Id(ids[1]), !all);
        if (!c.ok) Fail(kUsage, c.message);
        for (const CompareRow& r : c.rows)
            std::cout << Clean(r.section) << '\t' << Clean(r.parameter) << '\t' << Clean(r.a) << '\t' << Clean(r.b) << '\t'
                      << (r.differs ? "*" : "") << '\n';
        return kOk;
    }

    int Duplicates(const std::vector<std::string>& args) {
        Count("duplicates", args, 0, "no arguments");
        int group = 0;
        for (const DuplicateGroup& g : Lib().Duplicates()) {
            ++group;
            for (const ItemRow& r : g.items)
                std::cout << group << '\t' << r.id << '\t' << SoundTypeWord(r.type) << '\t' << Clean(r.name) << '\n';
        }
        return kOk;
    }

    int Export(const std::vector<std::string>& args) {
        if (args.size() < 2) Fail(kUsage, "export takes FILE ID... or FILE --bank NAME");
        const std::string& file = args[0];
        if (std::string why; !CheckSaveTarget(file, why)) Fail(kUsage, why);
        std::vector<Placement> placed;
        MemoryImage image;
        if (args[1] == "--bank") {
            Count("export", args, 3, "FILE --bank NAME");
            image = Lib().ImageOfBank(args[2], &placed);
        } else {
            std::vector<int64_t> ids;
            for (size_t i = 1; i < args.size(); ++i) ids.push_back(Id(args[i]));
            image = Lib().ImageOf(ids, &placed);
        }
        std::string error;
        // Device ID 17 as the module shows it, the module's default.
        if (!SaveBackup(file, image, 0x10, error)) Fail(kFailure, error);
        for (const Placement& p : placed)
            std::cout << SoundTypeWord(p.type) << '\t' << p.number << '\t' << p.itemId << '\t' << Clean(p.name) << '\n';
        return kOk;
    }

    int Bank(const std::vector<std::string>& args) {
        const std::string c = args.empty() ? "" : args[0];
        if (c == "new") {
            if (args.size() != 3) Fail(kUsage, "bank new takes NAME patch|timbre|rhythm");
            Lib().MakeBank(args[1], Type(args[2]));
        } else if (c == "add") {
            if (args.size() < 3) Fail(kUsage, "bank add takes NAME ID...");
            std::vector<int64_t> ids;
            for (size_t i = 2; i < args.size(); ++i) ids.push_back(Id(args[i]));
            for (int place : Lib().AddToBank(args[1], ids)) std::cout << place << '\n';
        } else if (c == "set") {
            if (args.size() != 4) Fail(kUsage, "bank set takes NAME PLACE ID");
            Lib().SetBankSlot(args[1], Number(args[2], "place"), args[3] == "0" ? 0 : Id(args[3]));
        } else if (c == "show") {
            if (args.size() != 2) Fail(kUsage, "bank show takes NAME");
            const auto b = Lib().Bank(args[1]);
            if (!b) Fail(kUsage, "there is no bank named \"" + Clean(args[1]) + "\"");
            for (const auto& [place, row] : b->slots) std::cout << place << '\t' << row.id << '\t' << Clean(row.name) << '\n';
        } else if (c == "list") {
            if (args.size() != 1) Fail(kUsage, "bank list takes no arguments");
            for (const BankInfo& b : Lib().Banks())
                std::cout << Clean(b.name) << '\t' << SoundTypeWord(b.type) << '\t' << Lib().Bank(b.name)->slots.size()
                          << '\n';
        } else {
            Fail(kUsage, "bank takes new, add, set, show or list");
        }
        return kOk;
    }

    std::string path_;
    bool moveAside_;
    std::unique_ptr<SoundLibrary> lib_;
};

}  // namespace

namespace {

struct LibraryWords {
    std::string path;
    bool moveAside = false;
    bool help = false;
    std::vector<std::string> rest;  // the command and its words
};

bool IsLibraryOption(const std::string& a) {
    return a == "--library" || a.rfind("--library=", 0) == 0 || a == "--move-aside";
}

// Library options come before the command's own words (and before or after the
// word "library"); after the command everything is its own.
LibraryWords ParseLibraryWords(const std::vector<std::string>& args) {
    LibraryWords w;
    bool pathGiven = false, seenCommand = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!w.rest.empty()) w.rest.push_back(a);
        else if (a == "library" && !seenCommand) seenCommand = true;
        else if (a == "--library") {
            if (i + 1 >= args.size()) Fail(kUsage, "--library needs a file name");
            w.path = args[++i];
            pathGiven = true;
        } else if (a.rfind("--library=", 0) == 0) {
            w.path = a.substr(10);
            pathGiven = true;
        }
        else if (a == "--move-aside") w.moveAside = true;
        else if (a == "-h" || a == "--help") w.help = true;
        else if (!seenCommand)
            Fail(kUsage, "'" + Clean(a) + "': --library and --move-aside go with 'library COMMAND' (see 'quorvane-cli library --help')");
        else w.rest.push_back(a);
    }
    if (!w.help && !seenCommand) Fail(kUsage, "--library and --move-aside go with the library commands (see --help)");
    if (pathGiven && w.path.empty()) Fail(kUsage, "--library: the file name is empty");
    if (w.path.empty()) w.path = DefaultLibraryPath();
    return w;
}

// Runs `body`, turning what it throws into a message on stderr and the exit code.
template <class F>
int Guarded(F&& body) {
    try {
        const int code = body();
        std::cout.flush();
        return code;
    } catch (const Stop& s) {
        std::cout.flush();
        std::cerr << "quorvane-cli: " << s.message << '\n';
        return s.code;
    } catch (const LibraryError& e) {
        std::cout.flush();
        std::cerr << "quorvane-cli: " << e.what() << '\n';
        return e.kind() == LibraryError::Input ? kUsage : kFailure;
    }
}

}  // namespace

bool IsModuleLibraryCommand(const std::vector<std::string>& words) {
    static const char* const commands[] = {"audition", "store", "recover", "put-back", "module-index"};
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--library") ++i;  // its value
        if (w == "library" || w.rfind("--", 0) == 0) continue;
        for (const char* c : commands)
            if (w == c) return true;
        return false;
    }
    return false;
}

std::optional<int> RunLibraryCommand(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || (args[0] != "library" && !IsLibraryOption(args[0]))) return std::nullopt;
    // The ones through the module go with the port options: the session runs them.
    if (IsModuleLibraryCommand(args)) return std::nullopt;
    try {
        return Guarded([&] {
            const LibraryWords w = ParseLibraryWords(args);
            if (w.help) {
                std::cout << kLibraryUsage;
                return static_cast<int>(kOk);
            }
            LibraryCli cli(w.path, w.moveAside);
            return cli.Run(w.rest);
        });
    } catch (const std::exception& e) {
        std::cerr << "quorvane-cli: " << e.what() << '\n';
        return kFailure;
    }
}

int RunModuleLibraryCommand(const std::vector<std::string>& words, ModuleLink& link) {
    return Guarded([&] {
        const LibraryWords w = ParseLibraryWords(words);
        if (w.help) {
            std::cout << kLibraryUsage;
            return static_cast<int>(kOk);
        }
        LibraryCli cli(w.path, w.moveAside);
        if (w.rest.empty()) return cli.Run(w.rest);  // says which commands there are
        const std::string& c = w.rest[0];
        const std::vector<std::string> args(w.rest.begin() + 1, w.rest.end());
        if (auto code = RunAuditionCommand(c, args, cli.Lib(), link)) return *code;
        if (auto code = RunStoreCommand(c, args, cli.Lib(), link)) return *code;
        return cli.Run(w.rest);  // one that needs no module, after port options
    });
}

}  // namespace quorvane::cli
