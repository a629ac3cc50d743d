// Picking a MIDI port by what a user typed on a command line: its number in
// the list, its exact name in any case, or a part of exactly one name in any
// case. Both the editor (--in/--out) and quorvane-cli use it; each words the
// refusals its own way.
#pragma once

#include <string>
#include <vector>

namespace quorvane::midi {

struct PortMatch {
    enum class Result {
        Found,
        EmptyName,     // nothing but blanks typed
        NoSuchNumber,  // a number that no listed port has
        NoMatch,       // no name holds the text
        Ambiguous,     // the text is part of several names and no name is exactly it
    };
    Result result = Result::NoMatch;
    int position = -1;            // Found: the list position (0-based)
    std::vector<int> candidates;  // Ambiguous: the positions of the names that fit
};

// `names[i]` is listed as number `firstIndex + i`; an empty name is no port (a
// gap in the numbering). A number is digits with an optional sign (at most
// nine digits); anything else is a name. Names are compared without regard to
// the case of ASCII letters.
PortMatch MatchPort(const std::string& wanted, const std::vector<std::string>& names, int firstIndex = 0);

}  // namespace quorvane::midi
