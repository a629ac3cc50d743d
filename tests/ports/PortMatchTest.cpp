// Picking a port by number, exact name or a unique part of a name, as the
// editor's --in/--out and quorvane-cli's --in/--out both do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ports/PortMatch.h"

using quorvane::midi::MatchPort;
using quorvane::midi::PortMatch;
using R = PortMatch::Result;

TEST(PortMatch, NumbersNamesAndPartsPickOnePortOrSayWhyNot) {
    // Number 3 has no name: a gap in the list (a port that went away).
    const std::vector<std::string> names{"Quorvane virtual U-220", "JACK: u220sim:in", "JACK: u220sim-out:out", "",
                                         "ALSA: Midi Through Port-0", "JACK: Sim"};
    struct Case {
        const char* wanted;
        int firstIndex;
        R result;
        int position;
        std::vector<int> candidates;
    };
    const Case cases[] = {
        {"0", 0, R::Found, 0, {}},
        {"+2", 0, R::Found, 2, {}},
        {"2", 1, R::Found, 1, {}},            // numbered from 1: number 2 is the second
        {"3", 0, R::NoSuchNumber, -1, {}},    // the gap
        {"6", 0, R::NoSuchNumber, -1, {}},    // past the end
        {"0", 1, R::NoSuchNumber, -1, {}},    // before the first
        {"-1", 0, R::NoSuchNumber, -1, {}},   // a number, never a name
        {"1234567890", 0, R::NoMatch, -1, {}},  // too long for a number: a name
        {"THROUGH", 0, R::Found, 4, {}},      // a part, in any case
        {"u220sim", 0, R::Ambiguous, -1, {1, 2}},
        {"u220SIM:IN", 0, R::Found, 1, {}},
        {"jack: sim", 0, R::Found, 5, {}},    // exact in any case wins over the parts it is in
        {"sim", 0, R::Ambiguous, -1, {1, 2, 5}},
        {"nosuchport", 0, R::NoMatch, -1, {}},
        {"", 0, R::EmptyName, -1, {}},
        {"  ", 0, R::EmptyName, -1, {}},
    };
    for (const Case& c : cases) {
        const PortMatch m = MatchPort(c.wanted, names, c.firstIndex);
        EXPECT_EQ(m.result, c.result) << "'" << c.wanted << "'";
        EXPECT_EQ(m.position, c.position) << "'" << c.wanted << "'";
        EXPECT_EQ(m.candidates, c.candidates) << "'" << c.wanted << "'";
    }
}
