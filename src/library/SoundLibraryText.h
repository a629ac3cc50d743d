// Text helpers the sound library's files share.
#pragma once

#include <string>

namespace quorvane::library {

// ASCII letters in lower case, every other byte as it is: the same folding as
// SQLite's lower(), so text folded here matches text folded in a query.
inline std::string FoldCase(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace quorvane::library
