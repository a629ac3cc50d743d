#include "NameCodec.h"

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
}  // namespace

bool HasModuleCode(char32_t cp) { return (cp >= 0x20 && cp <= 0x7E) || (cp >= 0xFF61 && cp <= 0xFF9F); }

std::string NameBytesToUtf8(const std::string& bytes) {
    std::string out;
    for (char c : bytes) AppendUtf8(out, CodePointOf(static_cast<uint8_t>(c)));
    return out;
}

std::optional<std::string> Utf8ToNameBytes(const std::string& utf8, std::string* error) {
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        uint8_t b = static_cast<uint8_t>(utf8[i]);
        char32_t cp;
        size_t len;
        if (b < 0x80) { cp = b; len = 1; }
        else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; len = 2; }
        else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; len = 3; }
        else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; len = 4; }
        else {
            if (error) *error = "The name is not valid UTF-8 text.";
            return std::nullopt;
        }
        if (i + len > utf8.size()) {
            if (error) *error = "The name is not valid UTF-8 text.";
            return std::nullopt;
        }
        for (size_t k = 1; k < len; ++k) {
            uint8_t c = static_cast<uint8_t>(utf8[i + k]);
            if ((c & 0xC0) != 0x80) {
                if (error) *error = "The name is not valid UTF-8 text.";
                return std::nullopt;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!HasModuleCode(cp)) {
            if (error) {
                std::string ch;
                AppendUtf8(ch, cp < 0x110000 ? cp : 0xFFFD);
                *error = "The character \"" + ch + "\" cannot be stored in a U-220 name.";
            }
            return std::nullopt;
        }
        out.push_back(static_cast<char>(cp < 0x80 ? cp : 0xA1 + (cp - 0xFF61)));
        i += len;
    }
    return out;
}

}  // namespace quorvane
