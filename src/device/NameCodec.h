// Names on the module are bytes of a one-byte code page: ASCII 20h..7Eh and
// half-width katakana at A1h..DFh (U+FF61..U+FF9F). These helpers convert
// between those bytes and UTF-8 text for display and editing.
#pragma once

#include <optional>
#include <string>

namespace quorvane {

// Module bytes -> UTF-8. A byte with no character of its own (a control code or a
// byte outside the two ranges) is shown as U+FFFD so it is never mistaken for text.
std::string NameBytesToUtf8(const std::string& bytes);

// UTF-8 -> module bytes. Returns nullopt and fills `error` when a character has no
// one-byte code on the module, or the text is not well-formed UTF-8 (a broken or
// overlong sequence, a surrogate). The error never holds the offending bytes as
// they are: broken sequences are shown in hex, controls as U+XXXX.
std::optional<std::string> Utf8ToNameBytes(const std::string& utf8, std::string* error = nullptr);

// True when the Unicode code point has a one-byte code on the module.
bool HasModuleCode(char32_t cp);

// A character for a message: `"ü" (U+00FC)`, or only `U+0007` for a control or
// an invisible or line-changing mark that must not be printed as it is.
std::string DescribeCharacter(char32_t cp);

}  // namespace quorvane
