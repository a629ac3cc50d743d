#include "NameCodec.h"

#include <cstdint>
#include <cstdio>

namespace quorvane {

namespace {
void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t CodePointOf(uint8_t b) {
    if (b >= 0x20 && b <= 0x7E) return b;
    if (b >= 0xA1 && b <= 0xDF) return 0xFF61 + (b - 0xA1);
    return 0xFFFD;
}

// "C1 81": the bytes of a broken sequence, for an error message.
std::string HexBytes(const std::string& text, size_t from, size_t count) {
    std::string out;
    char buf[4];
    for (size_t k = 0; k < count && from + k < text.size(); ++k) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(static_cast<uint8_t>(text[from + k])));
        if (!out.empty()) out.push_back(' ');
        out += buf;
    }
    return out;
}

std::string CodePointName(char32_t cp) {
    char buf[16];
    std::snprintf(buf, sizeof buf, cp > 0xFFFF ? "U+%06X" : "U+%04X", static_cast<unsigned>(cp));
    return buf;
}

// Characters that an error message must not print as they are: controls, and
// marks that are invisible or change how the rest of the line is shown
// (direction overrides, joiners, private use, combining marks).
bool UnsafeToShow(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD || (cp >= 0x300 && cp <= 0x36F) ||
           (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) ||
           (cp >= 0xE000 && cp <= 0xF8FF) || (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp >= 0xFE00 && cp <= 0xFE0F) ||
           cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB) || (cp & 0xFFFE) == 0xFFFE || cp >= 0xE0000;
}

struct Decoded {
    char32_t cp = 0;
    size_t len = 0;          // bytes taken
    const char* fault = nullptr;  // why the sequence is not UTF-8
};

// One character from utf8[i..]: a well-formed sequence of the shortest length
// for its value, not a surrogate, not above U+10FFFF.
Decoded DecodeOne(const std::string& utf8, size_t i) {
    const uint8_t b = static_cast<uint8_t>(utf8[i]);
    Decoded d;
    char32_t min;
    if (b < 0x80) return {b, 1, nullptr};
    if ((b & 0xE0) == 0xC0) { d.cp = b & 0x1F; d.len = 2; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { d.cp = b & 0x0F; d.len = 3; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { d.cp = b & 0x07; d.len = 4; min = 0x10000; }
    else {
        d.len = 1;
        d.fault = (b & 0xC0) == 0x80 ? "a continuation byte without a lead byte" : "a byte that never occurs in UTF-8";
        return d;
    }
    for (size_t k = 1; k < d.len; ++k) {
        if (i + k >= utf8.size() || (static_cast<uint8_t>(utf8[i + k]) & 0xC0) != 0x80) {
            d.len = k;
            d.fault = "a sequence cut short";
            return d;
        }
        d.cp = (d.cp << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
    }
    if (d.cp < min) d.fault = "an overlong form";
    else if (d.cp >= 0xD800 && d.cp <= 0xDFFF) d.fault = "a surrogate";
    else if (d.cp > 0x10FFFF) d.fault = "beyond U+10FFFF";
    return d;
}
}  // namespace

bool HasModuleCode(char32_t cp) { return (cp >= 0x20 && cp <= 0x7E) || (cp >= 0xFF61 && cp <= 0xFF9F); }

std::string DescribeCharacter(char32_t cp) {
    if (UnsafeToShow(cp) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return CodePointName(cp);
    std::string shown = "\"";
    AppendUtf8(shown, cp);
    return shown + "\" (" + CodePointName(cp) + ")";
}

std::string NameBytesToUtf8(const std::string& bytes) {
    std::string out;
    for (char c : bytes) AppendUtf8(out, CodePointOf(static_cast<uint8_t>(c)));
    return out;
}

std::optional<std::string> Utf8ToNameBytes(const std::string& utf8, std::string* error) {
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        const Decoded d = DecodeOne(utf8, i);
        if (d.fault) {
            if (error)
                *error = "The name is not valid UTF-8 text: bytes " + HexBytes(utf8, i, d.len) + " at byte " +
                         std::to_string(i + 1) + " are " + d.fault + ".";
            return std::nullopt;
        }
        if (!HasModuleCode(d.cp)) {
            if (error) {
                const bool control = d.cp < 0x20 || (d.cp >= 0x7F && d.cp <= 0x9F);
                *error = "The " + std::string(control ? "control character " : "character ") + DescribeCharacter(d.cp) +
                         " cannot be stored in a U-220 name.";
            }
            return std::nullopt;
        }
        out.push_back(static_cast<char>(d.cp < 0x80 ? d.cp : 0xA1 + (d.cp - 0xFF61)));
        i += d.len;
    }
    return out;
}

}  // namespace quorvane
