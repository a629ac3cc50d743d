// quorvane-cli: reads and writes the module from a shell, through the same
// clsU220 model the windows use, with a SimpleHost as its event loop.
//
// Exit codes: 0 done; 1 a port could not be opened or another run-time failure;
// 2 bad input (usage, unknown property, index or value out of range, a name
// character with no one-byte code); 3 the module did not answer in time.
//
// Copy, swap, restore and put back save what they overwrite in the journal in
// the user's data folder first (not for the built-in virtual module, which ends
// with the command); `recover` finishes what an interrupted one left.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "device/EditTarget.h"
#include "device/Host.h"
#include "device/NameCodec.h"
#include "device/ParamTable.h"
#include "device/clsU220.h"
#include "LibraryCommands.h"
#include "library/Journal.h"
#include "library/SysexFile.h"
#include "library/Transfer.h"
#include "ports/PortMatch.h"
#include "ports/PortSet.h"
#include "emulator/LoadBackup.h"
#include "emulator/VirtualU220.h"

using namespace quorvane;

namespace {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitNoAnswer = 3 };

// Ends the command with one line on stderr and an exit code. Thrown rather than
// exiting on the spot so that the model is destroyed normally and the paced
// output queue is flushed.
struct CliError {
    int code;
    std::string message;
};

[[noreturn]] void Fail(int code, const std::string& message) { throw CliError{code, message}; }

const char* const kUsage =
    "usage: quorvane-cli [OPTIONS] COMMAND [ARGS]\n"
    "\n"
    "Options:\n"
    "  --in PORT          MIDI input: an index or a case-insensitive part of its name\n"
    "  --out PORT         MIDI output: an index or a case-insensitive part of its name\n"
    "  --virtual          use the built-in virtual U-220 (the default without --in/--out)\n"
    "  --virtual-from FILE  start the built-in virtual U-220 from a backup (.syx or .mid)\n"
    "  --packing-seed N   the built-in virtual U-220 keeps its memory records in another\n"
    "                     packing (0, the default packing)\n"
    "  --device-id N      the module's device ID, 1..32 as the module shows it (default 17)\n"
    "  --timeout-ms MS    time limit of one request (default 3000)\n"
    "  --retries N        send a request again up to N times when it gets no answer (default 0)\n"
    "  --gap-ms MS        least gap between two messages sent (default: the port's own)\n"
    "  --verbose          report on stderr what the module sent that was dropped\n"
    "  --version          print the version and end\n"
    "  -h, --help         this text\n"
    "\n"
    "Commands:\n"
    "  ports                          list MIDI input and output ports with their index (the\n"
    "                                 virtual U-220 is 0 in both lists)\n"
    "  probe                          exit 0 when the module answers, 3 when not\n"
    "  get PROPERTY [INDEX]           print a value as the model holds it\n"
    "  set PROPERTY [INDEX] VALUE     write a value\n"
    "  names patches|timbres|rhythms  one line per memory: N<TAB>name\n"
    "  patch N                        switch the module to patch N (1..64)\n"
    "  dump                           every property of every block: Property[index] = value\n"
    "  backup FILE                    save the module's whole memory to FILE (.syx; a Standard MIDI\n"
    "                                 File when FILE ends in .mid or .midi)\n"
    "  restore FILE [--no-verify]     write a .syx or .mid backup into the module, read it back\n"
    "                                 and send what differs again\n"
    "  copy-patch FROM TO             copy patch memory FROM to TO (1..64), verified\n"
    "  swap-patch A B                 swap patch memories A and B (1..64), verified\n"
    "  recover [--discard]            put back, verified, what an interrupted copy, swap or\n"
    "                                 restore overwrote (kept in the journal), or forget it\n"
    "  put-back                       put back what the last copy, swap or restore overwrote\n"
    "  library COMMAND ...            the sound library (see 'quorvane-cli library --help')\n"
    "\n"
    "PROPERTY is a model property name such as PatchPartPan, TimbreTimbreName,\n"
    "MasterSetupMTune (hertz) or MemoryPatchName. INDEX is the part 1..6 for patch parts\n"
    "and timbres, the instrument 0..63 for rhythm instruments, the memory number for\n"
    "memory names. Values are list indexes (0 = first entry), names are text.\n"
    "\n"
    "Copy, swap, restore and put back first save what they overwrite in the journal\n"
    "(QUORVANE_DATA_DIR, else $XDG_DATA_HOME/quorvane or ~/.local/share/quorvane);\n"
    "while an interrupted one waits there, only 'recover' or a command that overwrites\n"
    "the same memories again may write.\n"
    "\n"
    "Exit codes: 0 done, 1 port failure (or a write that could not be verified),\n"
    "2 bad input (a file that cannot be restored), 3 the module did not answer.\n";

// ---------------------------------------------------------------------------
// Parsing helpers

// Whole decimal numbers only: an optional sign and digits, nothing around them
// (no blanks, no hex, no exponent).
std::optional<long> ParseInt(const std::string& text) {
    long v = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    auto [ptr, ec] = std::from_chars(first, last, v);
    if (text.empty() || ec != std::errc() || ptr != last) return std::nullopt;
    return v;
}

// A decimal number with an optional fraction: "440", "440.5", "-3". Blanks, hex,
// exponents, "inf" and "nan" are refused; the C locale's point is the separator
// whatever the user's locale says.
std::optional<double> ParseNumber(const std::string& text) {
    size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    const size_t intStart = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == intStart) return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        const size_t fracStart = ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (i == fracStart) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double v = 0;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// Text from the command line as it may be put in a message: control bytes and
// bytes that are not UTF-8 are shown as \xNN, so an error line never carries
// escape sequences or broken text to the terminal.
std::string Printable(const std::string& text) {
    std::string out;
    char buf[8];
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        size_t len = b < 0x80 ? 1 : (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3 : (b >= 0xF0 && b <= 0xF4) ? 4 : 0;
        bool ok = len > 0 && i + len <= text.size();
        for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (ok && len == 3) {
            const auto c = static_cast<unsigned char>(text[i + 1]);
            ok = !(b == 0xE0 && c < 0xA0) && !(b == 0xED && c >= 0xA0);  // overlong, surrogate
        }
        if (ok && len == 4) {
            const auto c = static_cast<unsigned char>(text[i + 1]);
            ok = !(b == 0xF0 && c < 0x90) && !(b == 0xF4 && c >= 0x90);  // overlong, past U+10FFFF
        }
        if (ok && len == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) ok = false;  // C1 controls
        if (ok && len == 1 && (b < 0x20 || b == 0x7F)) ok = false;
        if (!ok) {
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
            ++i;
            continue;
        }
        out.append(text, i, len);
        i += len;
    }
    return out;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// ---------------------------------------------------------------------------
// Properties: every name the model answers to (EditTarget), with its index rule

EditTarget FindProperty(const std::string& name) {
    if (const auto t = FindEditTarget(name)) return *t;
    Fail(kExitUsage, "unknown property '" + name + "' (names as in the model, e.g. PatchPartPan, MasterSetupMTune)");
}

int ParseIndex(const EditTarget& p, const std::string& text) {
    const IndexRange rule = IndexRangeOf(p);
    const std::string name = NameOf(p);
    const auto v = ParseInt(text);
    if (!v) Fail(kExitUsage, name + ": " + rule.what + " '" + text + "' is not a number");
    if (*v < rule.min || *v > rule.max)
        Fail(kExitUsage, name + ": " + rule.what + " " + text + " is outside " + std::to_string(rule.min) + ".." +
                             std::to_string(rule.max));
    return static_cast<int>(*v);
}

// Splits "PROPERTY [INDEX] [VALUE]" by the property's index rule; the index goes into the target.
EditTarget ParseTarget(const std::vector<std::string>& args, size_t valueCount, const std::string& command) {
    if (args.empty()) Fail(kExitUsage, command + ": which property? (see --help)");
    EditTarget t = FindProperty(args[0]);
    const std::string name = NameOf(t);
    const IndexRange rule = IndexRangeOf(t);
    const size_t expected = 1 + (rule.needed ? 1 : 0) + valueCount;
    if (args.size() < expected) {
        // "set PatchPartPan 2": a good index and no value says the value is missing;
        // "set PatchPartPan" or "set PatchPartPan 9" says what the index is.
        const bool indexGiven = rule.needed && args.size() >= 2 && ParseInt(args[1]) &&
                                *ParseInt(args[1]) >= rule.min && *ParseInt(args[1]) <= rule.max;
        if (rule.needed && !indexGiven)
            Fail(kExitUsage, name + " needs a " + rule.what + " (" + std::to_string(rule.min) + ".." +
                                 std::to_string(rule.max) + ")" + (valueCount ? " and a value" : ""));
        Fail(kExitUsage, command + " " + name + (rule.needed ? " " + args[1] : "") + ": the value is missing");
    }
    if (args.size() > expected)
        Fail(kExitUsage, command + " " + name + ": too many arguments" +
                             (rule.needed ? "" : " (this property has no index)"));
    if (rule.needed) t.index = ParseIndex(t, args[1]);
    return t;
}

[[noreturn]] void NotANumber(const std::string& property, const std::string& text, int listSize) {
    Fail(kExitUsage, property + ": value '" + text + "' is not a number (0.." + std::to_string(listSize - 1) +
                         ", the index of the list entry)");
}

std::string FormatTune(float hz) {
    // The module holds tenths of a hertz; print 440 rather than 440.0.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", std::round(static_cast<double>(hz) * 10.0) / 10.0);
    std::string s = buf;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    return s;
}

// ---------------------------------------------------------------------------
// Options

struct Options {
    std::optional<std::string> in, out;
    bool useVirtual = false;
    std::optional<std::string> virtualFrom;  // backup file the virtual module starts from
    std::optional<uint32_t> packingSeed;      // the virtual module's record packing
    int deviceId = 17;  // as the module shows it; the byte is one less
    int timeoutMs = 3000;
    bool timeoutGiven = false;
    int retries = 0;
    std::optional<int> gapMs;
    bool verbose = false;
    std::vector<std::string> libraryWords;  // --library FILE, --move-aside (for the library commands)
    std::vector<std::string> args;  // command and its arguments
};

int ParseIntOption(const std::string& option, const std::string& text, int min, int max) {
    const auto v = ParseInt(text);
    if (!v)
        Fail(kExitUsage, option + " takes a whole decimal number " + std::to_string(min) + ".." + std::to_string(max) +
                             ", not '" + text + "'");
    if (*v < min || *v > max)
        Fail(kExitUsage, option + " takes a number " + std::to_string(min) + ".." + std::to_string(max) + ", not '" +
                             text + "'");
    return static_cast<int>(*v);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    int i = 1;
    auto value = [&](const std::string& option) -> std::string {
        if (i + 1 >= argc) Fail(kExitUsage, option + " needs a value");
        return argv[++i];
    };
    // Options come before the command; everything after it is the command's own,
    // so a name or value that starts with '-' is never taken for an option.
    for (; i < argc; ++i) {
        std::string a = argv[i];
        std::string inlineValue;
        bool hasInline = false;
        if (a.rfind("--", 0) == 0) {
            const auto eq = a.find('=');
            if (eq != std::string::npos) {
                inlineValue = a.substr(eq + 1);
                a = a.substr(0, eq);
                hasInline = true;
            }
        }
        auto optValue = [&](const std::string& option) { return hasInline ? inlineValue : value(option); };
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            std::exit(kExitOk);
        } else if (a == "--version") {
            std::cout << "quorvane-cli " QUORVANE_VERSION "\n";
            std::exit(kExitOk);
        } else if (a == "--in") {
            o.in = optValue(a);
        } else if (a == "--out") {
            o.out = optValue(a);
        } else if (a == "--virtual") {
            o.useVirtual = true;
        } else if (a == "--virtual-from") {
            o.virtualFrom = optValue(a);
            if (o.virtualFrom->empty()) Fail(kExitUsage, "--virtual-from: the file name is empty");
            o.useVirtual = true;
        } else if (a == "--packing-seed") {
            o.packingSeed = static_cast<uint32_t>(ParseIntOption(a, optValue(a), 0, 2147483647));
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--library") {
            o.libraryWords.push_back(a);
            o.libraryWords.push_back(optValue(a));
        } else if (a == "--move-aside") {
            o.libraryWords.push_back(a);
        } else if (a == "--device-id") {
            o.deviceId = ParseIntOption(a, optValue(a), 1, 32);
        } else if (a == "--timeout-ms") {
            o.timeoutMs = ParseIntOption(a, optValue(a), 1, 600000);
            o.timeoutGiven = true;
        } else if (a == "--retries") {
            o.retries = ParseIntOption(a, optValue(a), 0, 1000);
        } else if (a == "--gap-ms") {
            o.gapMs = ParseIntOption(a, optValue(a), 0, 10000);
        } else if (a.size() > 1 && a[0] == '-') {
            Fail(kExitUsage, "unknown option '" + a + "' (see --help)");
        } else {
            break;
        }
    }
    for (; i < argc; ++i) o.args.push_back(argv[i]);
    if (o.args.empty()) Fail(kExitUsage, "no command given (see --help)");
    if (o.useVirtual && (o.in || o.out))
        Fail(kExitUsage, std::string(o.virtualFrom ? "--virtual-from" : "--virtual") + " cannot be combined with --in or --out");
    if (o.packingSeed && (o.in || o.out))
        Fail(kExitUsage, "--packing-seed is for the built-in virtual U-220 and cannot be combined with --in or --out");
    if (o.in.has_value() != o.out.has_value())
        Fail(kExitUsage, std::string("give both --in and --out (only ") + (o.in ? "--in" : "--out") + " was given)");
    if (!o.in) o.useVirtual = true;
    return o;
}

// ---------------------------------------------------------------------------
// Ports

// Both lists number the virtual U-220 0 and the system's ports from 1, in the
// same order as the MIDI setup dialog and the editor's --in/--out: the ports'
// own device numbers (output -1, input 0 for the virtual module) stay inside.
struct PortEntry {
    int index;   // as listed and as given to --in/--out
    int device;  // the port's own number
    std::string name;
};

std::vector<PortEntry> ListOutputs(const midi::MIDIOutput& out) {
    std::vector<PortEntry> list;
    for (int i = -1; i < out.deviceCount(); ++i) {
        std::string name = out.deviceName(i);
        if (!name.empty()) list.push_back({i + 1, i, name});
    }
    return list;
}

std::vector<PortEntry> ListInputs(const midi::MIDIInput& in) {
    std::vector<PortEntry> list;
    for (int i = 0; i < in.deviceCount(); ++i) list.push_back({i, i, in.deviceName(i)});
    return list;
}

// PORT is an index or a case-insensitive part of a name (midi::MatchPort). A
// part that fits more than one port is refused unless one of them is named
// exactly that. Returns the port's own device number.
int ResolvePort(const std::string& wanted, const std::vector<PortEntry>& ports, const char* direction) {
    // By listed number: a gap where a port has no name.
    std::vector<std::string> names;
    for (const PortEntry& p : ports) {
        if (p.index < 0) continue;
        if (p.index >= static_cast<int>(names.size())) names.resize(p.index + 1);
        names[p.index] = p.name;
    }
    const midi::PortMatch m = midi::MatchPort(wanted, names);
    auto entry = [&](int index) {
        return *std::find_if(ports.begin(), ports.end(), [&](const PortEntry& p) { return p.index == index; });
    };
    switch (m.result) {
        case midi::PortMatch::Result::Found: return entry(m.position).device;
        case midi::PortMatch::Result::EmptyName:
            Fail(kExitUsage, std::string("an empty name picks no ") + direction + " port (see 'quorvane-cli ports')");
        case midi::PortMatch::Result::NoSuchNumber:
            Fail(kExitUsage, std::string("there is no ") + direction + " port " + wanted + " (see 'quorvane-cli ports')");
        case midi::PortMatch::Result::NoMatch:
            Fail(kExitUsage, std::string("no ") + direction + " port matches '" + wanted + "' (see 'quorvane-cli ports')");
        case midi::PortMatch::Result::Ambiguous: break;
    }
    std::string fits;
    for (int i : m.candidates) fits += (fits.empty() ? "" : ", ") + std::to_string(i) + " \"" + names[i] + "\"";
    Fail(kExitUsage, std::string("'") + wanted + "' fits more than one " + direction + " port: " + fits);
}

// ---------------------------------------------------------------------------
// The session: the model on its ports, and the commands

class Session {
public:
    explicit Session(const Options& o) : options_(o) {}

    // Creates the ports (not opened) so that they can be listed.
    void CreatePorts() {
        if (!options_.useVirtual) journal_.emplace();
        if (options_.useVirtual)
            virtual_ = std::make_shared<midi::VirtualU220>(static_cast<uint8_t>(options_.deviceId - 1));
        if (options_.packingSeed)
            virtual_->withEmulator([&](emulator::U220Emulator& e) { e.setPackingSeed(*options_.packingSeed); });
        if (options_.virtualFrom) midi::LoadIntoVirtualModule(*virtual_, ReadFile(*options_.virtualFrom).image);
        midi::Ports ports = midi::CreatePorts([this](std::function<void()> fn) { host_.post(std::move(fn)); }, virtual_);
        model_ = std::make_unique<clsU220>(host_, std::move(ports.output), std::move(ports.input));
        model_->DeviceID(static_cast<int16_t>(options_.deviceId - 1));
        model_->RequestTimeout = std::chrono::milliseconds(options_.timeoutMs);
        model_->OnPortError = [](const std::string& text) { std::cerr << "quorvane-cli: MIDI: " << text << "\n"; };
        model_->OnNotResponding = [this](RequestKind what) {
            if (retriesLeft_ > 0) {
                --retriesLeft_;
                return true;
            }
            gaveUp_ = RequestText(what);
            return false;
        };
    }

    void Open() {
        const int outIndex = options_.useVirtual ? -1 : ResolvePort(*options_.out, ListOutputs(*model_->MIDIOutput1), "output");
        const int inIndex = options_.useVirtual ? 0 : ResolvePort(*options_.in, ListInputs(*model_->MIDIInput1), "input");
        const std::string outName = model_->MIDIOutput1->deviceName(outIndex);
        const std::string inName = model_->MIDIInput1->deviceName(inIndex);
        if (!model_->MIDIOutput1->open(outIndex)) {
            host_.processPending();
            Fail(kExitFailure, "cannot open the output port \"" + outName + "\"");
        }
        if (!model_->MIDIInput1->open(inIndex)) {
            host_.processPending();
            Fail(kExitFailure, "cannot open the input port \"" + inName + "\"");
        }
        if (options_.gapMs) model_->MIDIOutput1->setSendGapMs(*options_.gapMs);
        host_.processPending();
    }

    // Hands every queued message to the port before the program ends (closing
    // the port, when the model goes, waits until the last one has left).
    void Flush() {
        if (!model_ || !model_->MIDIOutput1 || !model_->MIDIOutput1->isOpen()) return;
        model_->MIDIOutput1->flush();
    }

    // What the inbound handler kept and dropped, for --verbose.
    void Report() const {
        if (!options_.verbose || !model_) return;
        const InboundStats& s = model_->Stats();
        std::cerr << "quorvane-cli: received: stored " << s.stored << ", malformed " << s.malformed << ", foreign "
                  << s.foreign << ", unexpected " << s.unexpected << "; requests timed out " << model_->TimeoutCount()
                  << "; input dropped " << (model_->MIDIInput1 ? model_->MIDIInput1->droppedCount() : 0) << "\n";
    }

    int Run() {
        const std::string& command = options_.args[0];
        const std::vector<std::string> args(options_.args.begin() + 1, options_.args.end());
        if (command == "ports") return Ports(args);
        if (command == "probe") return Probe(args);
        if (command == "get") return Get(args);
        if (command == "set") return Set(args);
        if (command == "names") return Names(args);
        if (command == "patch") return Patch(args);
        if (command == "dump") return Dump(args);
        if (command == "backup") return Backup(args);
        if (command == "restore") return Restore(args);
        if (command == "copy-patch") return CopyPatch(args, false);
        if (command == "swap-patch") return CopyPatch(args, true);
        if (command == "recover") return Recover(args);
        if (command == "put-back") return PutBack(args);
        if (command == "library") return Library(args);
        Fail(kExitUsage, "unknown command '" + command + "' (see --help)");
    }

private:
    static void NoArguments(const std::string& command, const std::vector<std::string>& args) {
        if (!args.empty()) Fail(kExitUsage, command + " takes no arguments");
    }

    // Every model call that may wait goes through here: the retry budget is per
    // step, and a request the model gave up on ends the command with exit 3.
    template <class F>
    auto Ask(F&& fn) {
        retriesLeft_ = options_.retries;
        gaveUp_.clear();
        auto result = fn();
        if (!gaveUp_.empty()) NoAnswer(gaveUp_);
        return result;
    }

    // What an unanswered request asked for, for the message that says so.
    static std::string RequestText(RequestKind what) {
        switch (what) {
            case RequestKind::MasterSetup: return "the master setup";
            case RequestKind::PatchData: return "the working patch";
            case RequestKind::TimbreData: return "the working patch's timbres";
            case RequestKind::RhythmCommon: return "the working rhythm setup";
            case RequestKind::RhythmInst: return "a rhythm instrument";
            case RequestKind::PatchName: return "a patch name";
            case RequestKind::TimbreName: return "a timbre name";
            case RequestKind::RhythmName: return "a rhythm setup name";
            case RequestKind::PatchChange: return "the confirmation of a patch change";
            case RequestKind::RawRange: return "memory data";
        }
        return "a request";
    }

    [[noreturn]] void NoAnswer(const std::string& what) {
        Fail(kExitNoAnswer, "the U-220 does not answer (" + what + ": no complete reply within " +
                                std::to_string(options_.timeoutMs) + " ms" +
                                (options_.retries ? ", " + std::to_string(options_.retries) + " retries" : "") +
                                "); check the ports and the device ID");
    }

    // The value as the tool prints it: list indexes as numbers, the tune in
    // hertz, names as UTF-8.
    std::string Read(const EditTarget& t) {
        const EditValue v = Ask([&] { return ReadTarget(*model_, t); });
        if (const std::string* name = std::get_if<std::string>(&v)) return NameBytesToUtf8(*name);
        const int n = std::get<int>(v);
        return t.kind == EditTarget::Kind::Tune ? FormatTune(static_cast<float>(n) / 10.0f) : std::to_string(n);
    }

    int Ports(const std::vector<std::string>& args) {
        NoArguments("ports", args);
        for (const PortEntry& p : ListInputs(*model_->MIDIInput1)) std::cout << "in\t" << p.index << "\t" << p.name << "\n";
        for (const PortEntry& p : ListOutputs(*model_->MIDIOutput1)) std::cout << "out\t" << p.index << "\t" << p.name << "\n";
        return kExitOk;
    }

    int Probe(const std::vector<std::string>& args) {
        NoArguments("probe", args);
        Open();
        bool answers;
        if (options_.timeoutGiven || options_.retries > 0) {
            // Same question as Responding (the current patch data), within the
            // limits given on the command line.
            model_->InvalidateAll();
            retriesLeft_ = options_.retries;
            gaveUp_.clear();
            model_->get(Param::PatchCommonChorusType, 0);
            answers = model_->PatchDataLoaded();
        } else {
            answers = model_->Responding();
        }
        if (!answers) NoAnswer("Patch Data");
        std::cout << "responding\n";
        return kExitOk;
    }

    int Get(const std::vector<std::string>& args) {
        const EditTarget t = ParseTarget(args, 0, "get");
        Open();
        std::cout << Read(t) << "\n";
        return kExitOk;
    }

    int Set(const std::vector<std::string>& args) {
        const EditTarget t = ParseTarget(args, 1, "set");
        const EditTarget& p = t;
        const std::string name = NameOf(t);
        const std::string& text = args.back();
        clsU220& u = *model_;
        switch (p.kind) {
            case EditTarget::Kind::Param: {
                const auto v = ParseInt(text);
                const int size = Info(p.param()).listSize;
                if (!v) NotANumber(name, text, size);
                if (*v < 0 || *v >= size)
                    Fail(kExitUsage, name + ": value '" + text + "' is outside 0.." + std::to_string(size - 1) +
                                         " (the index of the list entry)");
                Open();
                if (!u.let(p.param(), t.index, static_cast<int16_t>(*v))) Fail(kExitUsage, name + ": " + u.LastError());
                return kExitOk;
            }
            case EditTarget::Kind::Master: {
                const auto v = ParseInt(text);
                const int size = ListSizeOf(p.master());
                if (!v) NotANumber(name, text, size);
                if (*v < 0 || *v >= size)
                    Fail(kExitUsage, name + ": value '" + text + "' is outside 0.." + std::to_string(size - 1) +
                                         " (the index of the list entry)");
                Open();
                // The whole block is sent, so the other fields must be the module's.
                Ask([&] { return u.getMaster(p.master()); });
                if (!Ask([&] { return u.letMaster(p.master(), static_cast<int16_t>(*v)); }))
                    Fail(kExitFailure, name + ": " + u.LastError());
                return kExitOk;
            }
            case EditTarget::Kind::Tune: {
                const auto hz = ParseNumber(text);
                if (!hz) Fail(kExitUsage, name + ": '" + text + "' is not a number (a tune in hertz such as 440 or 440.5)");
                const long steps = std::lround((*hz - kMasterTuneMinHz) * 10.0);
                if (steps < 0 || steps > 255)
                    Fail(kExitUsage, name + ": '" + text + "' is not a tune in hertz within 427.4..452.9");
                // The module holds tenths of a hertz: a finer value would be changed
                // without a word, so it is refused.
                if (std::fabs(*hz * 10.0 - std::round(*hz * 10.0)) > 1e-6)
                    Fail(kExitUsage, name + ": '" + text + "' is finer than the module's steps of 0.1 Hz");
                Open();
                Ask([&] { return u.MasterSetupMTune(); });
                if (!Ask([&] { return u.MasterSetupMTune(static_cast<float>(*hz)); }))
                    Fail(kExitFailure, name + ": " + u.LastError());
                return kExitOk;
            }
            case EditTarget::Kind::Name: {
                std::string error;
                const auto bytes = Utf8ToNameBytes(text, &error);
                if (!bytes) Fail(kExitUsage, name + ": " + (error.empty() ? "the name cannot be written" : error));
                if (bytes->size() > sysex::kNameChars)
                    std::cerr << "quorvane-cli: " << name << ": the name is cut to its first "
                              << sysex::kNameChars << " characters\n";
                Open();
                u.letName(p.name(), t.index, *bytes);
                return kExitOk;
            }
            case EditTarget::Kind::MemoryName:
                Fail(kExitUsage, name + " is read only: memories are never written");
        }
        return kExitOk;
    }

    int Names(const std::vector<std::string>& args) {
        if (args.size() != 1) Fail(kExitUsage, "names takes one of: patches, timbres, rhythms");
        EditTarget p;
        const std::string which = Lower(args[0]);
        if (which == "patches") p = EditTarget::Of(MemoryKind::Patch);
        else if (which == "timbres") p = EditTarget::Of(MemoryKind::Timbre);
        else if (which == "rhythms") p = EditTarget::Of(MemoryKind::Rhythm);
        else Fail(kExitUsage, "names takes one of: patches, timbres, rhythms (not '" + args[0] + "')");
        const IndexRange rule = IndexRangeOf(p);
        Open();
        for (int n = rule.min; n <= rule.max; ++n) std::cout << n << "\t" << Read(p.At(n)) << "\n";
        return kExitOk;
    }

    int Patch(const std::vector<std::string>& args) {
        if (args.size() != 1) Fail(kExitUsage, "patch takes one patch number (1..64)");
        const auto n = ParseInt(args[0]);
        if (!n) Fail(kExitUsage, "patch number '" + args[0] + "' is not a number (1..64)");
        if (*n < 1 || *n > 64) Fail(kExitUsage, "patch number '" + args[0] + "' is outside 1..64");
        Open();
        clsU220& u = *model_;
        const PatchChangeResult result = Ask([&] { return u.PatchChange(static_cast<int16_t>(*n)); });
        switch (result) {
            case PatchChangeResult::Done: return kExitOk;
            // With the channel "Off" the module takes no program change: saying the
            // patch was changed would be false.
            case PatchChangeResult::RxChannelOff:
                Fail(kExitFailure, "the module's Rx control channel is Off, so it takes no program change; "
                                   "set MasterSetupMIDIRxCh to a channel (0..15) first");
            // It answered, but its working patch is not the one asked for.
            case PatchChangeResult::OtherPatch: Fail(kExitFailure, u.LastError());
            case PatchChangeResult::NoAnswer: NoAnswer("Patch Change");
            case PatchChangeResult::Refused: Fail(kExitUsage, u.LastError());
        }
        return kExitOk;
    }

    int Dump(const std::vector<std::string>& args) {
        NoArguments("dump", args);
        Open();
        auto line = [&](const EditTarget& p, int index, bool indexed) {
            std::cout << NameOf(p);
            if (indexed) std::cout << "[" << index << "]";
            std::cout << " = " << Read(p.At(index)) << "\n";
        };
        const std::vector<EditTarget>& all = AllEditTargets();
        // Master setup first, then the temporary areas block by block; an indexed
        // block lists every property of index 1 (or 0), then of the next index.
        for (const EditTarget& p : all)
            if (p.kind == EditTarget::Kind::Tune || p.kind == EditTarget::Kind::Master) line(p, 0, false);
        const Block blocks[] = {Block::PatchCommon, Block::PatchRhythm, Block::PatchPart, Block::Timbre,
                                Block::RhythmCommon, Block::RhythmInst};
        for (Block b : blocks) {
            const IndexRange rule = IndexRangeOf(b);
            for (int index = rule.min; index <= rule.max; ++index) {
                for (const EditTarget& p : all) {
                    const bool inBlock = (p.kind == EditTarget::Kind::Name || p.kind == EditTarget::Kind::Param) &&
                                         BlockOf(p) == b;
                    if (inBlock) line(p, index, rule.needed);
                }
            }
        }
        return kExitOk;
    }

    // A backup file, or exit 2 with the reason.
    static library::BackupFile ReadFile(const std::string& path) {
        if (path.empty()) Fail(kExitUsage, "the file name is empty");
        library::BackupFile f = library::ReadBackupFile(path);
        if (!f.ok) Fail(kExitUsage, path + ": " + f.error);
        return f;
    }

    // Ends with the transfer's own words: exit 3 when the module stopped
    // answering, 1 when something could not be saved or verified. A failure
    // that left originals in the journal says how to put them back.
    int Finish(const library::TransferReport& r, const std::string& resume = "") {
        std::string text = r.text;
        if (!r.ok() && r.journalOpen)
            text += resume.empty() ? " ('quorvane-cli recover' puts the originals back.)"
                                   : " ('quorvane-cli " + resume + "' finishes it; 'quorvane-cli recover' puts the originals back.)";
        else if (!r.ok() && !resume.empty() && r.outcome != library::Outcome::Failed)
            text += " ('quorvane-cli " + resume + "' finishes it.)";
        // (A module that stopped answering times out too: no word on the gap then.)
        if (r.gapMs > 0 && r.outcome != library::Outcome::NoAnswer)
            std::cerr << "quorvane-cli: the U-220 lost messages sent closer together, so the gap between messages "
                         "was widened to "
                      << r.gapMs << " ms (--gap-ms " << r.gapMs << " starts there)\n";
        if (r.outcome == library::Outcome::NoAnswer) Fail(kExitNoAnswer, text);
        if (!r.ok()) Fail(kExitFailure, text);
        std::cout << text << "\n";
        return kExitOk;
    }

    // Runs a transfer with the retry budget of --retries and ends with its report
    // (never the bare "does not answer": the report names what was done).
    template <class F>
    int Transfer(F&& work, const std::string& resume = "") {
        Open();
        library::Transfer t(*model_, host_);
        if (journal_) t.journal = &*journal_;
        retriesLeft_ = options_.retries;
        gaveUp_.clear();
        return Finish(work(t), resume);
    }

    int Backup(const std::vector<std::string>& args) {
        if (args.size() != 1) Fail(kExitUsage, "backup takes one file name");
        // Refused before the module is read: an empty name, a directory, a device.
        if (std::string why; !library::CheckSaveTarget(args[0], why)) Fail(kExitUsage, why);
        return Transfer([&](library::Transfer& t) { return t.BackUp(args[0]); });
    }

    int Restore(const std::vector<std::string>& args) {
        std::vector<std::string> files;
        bool verify = true;
        for (const std::string& a : args) {
            if (a == "--no-verify") verify = false;
            else files.push_back(a);
        }
        if (files.size() != 1) Fail(kExitUsage, "restore takes one file name (and --no-verify)");
        // The whole file is checked before anything is sent.
        const library::BackupFile f = ReadFile(files[0]);
        std::cerr << "quorvane-cli: " << files[0] << " holds " << f.Summary() << "\n";
        return Transfer([&](library::Transfer& t) { return t.Restore(f.image, verify); },
                        "restore " + Printable(files[0]));
    }

    int CopyPatch(const std::vector<std::string>& args, bool swap) {
        const std::string command = swap ? "swap-patch" : "copy-patch";
        if (args.size() != 2) Fail(kExitUsage, command + " takes two patch numbers (1..64)");
        int n[2];
        for (int i = 0; i < 2; ++i) {
            const auto v = ParseInt(args[i]);
            if (!v || *v < 1 || *v > 64) Fail(kExitUsage, command + ": patch number '" + args[i] + "' is outside 1..64");
            n[i] = static_cast<int>(*v);
        }
        if (n[0] == n[1]) Fail(kExitUsage, command + ": the two patch numbers are the same");
        return Transfer([&](library::Transfer& t) {
            return swap ? t.Swap(library::MemoryKind::Patch, n[0], n[1]) : t.Copy(library::MemoryKind::Patch, n[0], n[1]);
        });
    }

    library::Journal& UserJournal(const std::string& command) {
        if (!journal_)
            Fail(kExitUsage, command + " works on the journal of a real module; the built-in virtual U-220 keeps none");
        return *journal_;
    }

    int Recover(const std::vector<std::string>& args) {
        const bool discard = args.size() == 1 && args[0] == "--discard";
        if (!args.empty() && !discard) Fail(kExitUsage, "recover takes no arguments but --discard");
        library::Journal& journal = UserJournal("recover");
        const std::string pending = journal.PendingJournal();
        if (pending.empty()) {
            std::cout << "Nothing to recover: no interrupted copy, swap or restore waits in " << journal.Folder() << ".\n";
            return kExitOk;
        }
        std::cerr << "quorvane-cli: " << pending << "\n";
        if (discard) {
            std::string error;
            if (!journal.Discard(error)) Fail(kExitFailure, error);
            std::cout << "The journal was discarded; its originals were not put back.\n";
            return kExitOk;
        }
        return Transfer([&](library::Transfer& t) { return journal.Recover(t); });
    }

    int PutBack(const std::vector<std::string>& args) {
        NoArguments("put-back", args);
        UserJournal("put-back");
        return Transfer([&](library::Transfer& t) { return t.PutBack(); });
    }

    // The library commands that work through the module (LibraryModuleCommands.h).
    int Library(const std::vector<std::string>& args) {
        std::vector<std::string> words = options_.libraryWords;
        words.push_back("library");
        words.insert(words.end(), args.begin(), args.end());
        cli::ModuleLink link{*model_, host_, journal_ ? &*journal_ : nullptr, model_->DeviceID(), [this] { Open(); },
                        [this](const library::TransferReport& r) {
                            retriesLeft_ = options_.retries;
                            gaveUp_.clear();
                            return Finish(r);
                        }};
        retriesLeft_ = options_.retries;
        gaveUp_.clear();
        return cli::RunModuleLibraryCommand(words, link);
    }

    const Options& options_;
    std::optional<library::Journal> journal_;  // none for the virtual module
    SimpleHost host_;
    std::shared_ptr<midi::VirtualU220> virtual_;
    std::unique_ptr<clsU220> model_;
    int retriesLeft_ = 0;
    std::string gaveUp_;
};

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(true);
    if (const auto code = cli::RunLibraryCommand(argc, argv)) return *code;
    int code = kExitOk;
    try {
        const Options options = ParseOptions(argc, argv);
        Session session(options);
        try {
            session.CreatePorts();
            code = session.Run();
        } catch (const CliError& e) {
            std::cout.flush();
            std::cerr << "quorvane-cli: " << Printable(e.message) << "\n";
            code = e.code;
        }
        session.Flush();
        session.Report();
    } catch (const CliError& e) {
        std::cerr << "quorvane-cli: " << Printable(e.message) << "\n";
        code = e.code;
    } catch (const std::exception& e) {
        std::cerr << "quorvane-cli: " << e.what() << "\n";
        code = kExitFailure;
    }
    std::cout.flush();
    return code;
}
