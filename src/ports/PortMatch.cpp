#include "ports/PortMatch.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace quorvane::midi {

namespace {

std::optional<long> Number(const std::string& text) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) i = 1;
    const size_t digits = text.size() - i;
    if (digits == 0 || digits > 9) return std::nullopt;
    long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        v = v * 10 + (text[i] - '0');
    }
    return negative ? -v : v;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool Blank(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isspace(c) != 0; });
}

}  // namespace

PortMatch MatchPort(const std::string& wanted, const std::vector<std::string>& names, int firstIndex) {
    PortMatch m;
    if (Blank(wanted)) {
        m.result = PortMatch::Result::EmptyName;
        return m;
    }
    if (const auto number = Number(wanted)) {
        const long pos = *number - firstIndex;
        if (pos >= 0 && pos < static_cast<long>(names.size()) && !names[pos].empty()) {
            m.result = PortMatch::Result::Found;
            m.position = static_cast<int>(pos);
        } else {
            m.result = PortMatch::Result::NoSuchNumber;
        }
        return m;
    }
    const std::string needle = Lower(wanted);
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        if (names[i].empty()) continue;
        const std::string name = Lower(names[i]);
        if (name == needle) {
            m.result = PortMatch::Result::Found;
            m.position = i;
            m.candidates.clear();
            return m;
        }
        if (name.find(needle) != std::string::npos) m.candidates.push_back(i);
    }
    if (m.candidates.size() == 1) {
        m.result = PortMatch::Result::Found;
        m.position = m.candidates.front();
        m.candidates.clear();
    } else {
        m.result = m.candidates.empty() ? PortMatch::Result::NoMatch : PortMatch::Result::Ambiguous;
    }
    return m;
}

}  // namespace quorvane::midi
