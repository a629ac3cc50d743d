// The name converter between UTF-8 text and the module's one-byte code page:
// what it takes, what it refuses, and that a refusal never prints the bad
// bytes themselves.
#include <gtest/gtest.h>

#include <string>

#include "device/NameCodec.h"

using namespace quorvane;

namespace {

// An error message is safe to print when it is well-formed UTF-8 without
// control bytes (a terminal shows it as written).
bool PrintableUtf8(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return false;
    // Every byte >= 0x80 must belong to a well-formed sequence: decode the message
    // as a name would be, ignoring which characters the module has.
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        if (b == 0xC0 || b == 0xC1 || b > 0xF4) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        if (len == 2 && b == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) return false;  // C1 controls
        i += len;
    }
    return true;
}

}  // namespace

TEST(NameCodec, AcceptsModuleCharactersAndRefusesMalformedOrForeignText) {
    struct Case {
        const char* what;
        std::string text;
        bool ok;
        std::string bytes;     // when ok
        std::string inError;   // when refused: the message holds this
        std::string notInError;  // ...and never this
    };
    const Case cases[] = {
        {"ASCII", "Piano 1", true, "Piano 1", "", ""},
        {"both ends of ASCII", " ~", true, " ~", "", ""},
        {"half-width kana, first and last", "\xEF\xBD\xA1\xEF\xBE\x9F", true, "\xA1\xDF", "", ""},
        {"empty", "", true, "", "", ""},
        // Overlong forms of ASCII letters: C1 81 would be "A" to a careless decoder.
        {"overlong two bytes", "X\xC1\x81", false, "", "bytes C1 81 at byte 2 are an overlong form", "\xC1"},
        {"overlong NUL", "\xC0\x80", false, "", "C0 80", "\xC0"},
        {"overlong three bytes", "\xE0\x81\x81", false, "", "E0 81 81", "\xE0"},
        {"overlong four bytes", "\xF0\x80\x81\x81", false, "", "F0 80 81 81", "\xF0"},
        {"surrogate", "\xED\xA0\x80", false, "", "a surrogate", "\xED"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false, "", "beyond U+10FFFF", "\xF4"},
        {"cut short at the end", "AB\xC3", false, "", "C3 at byte 3 are a sequence cut short", "\xC3"},
        {"cut short before ASCII", "\xE3\x81Z", false, "", "E3 81", "\xE3"},
        {"lone continuation byte", "\x81", false, "", "81 at byte 1", "\x81"},
        {"byte never in UTF-8", "\xFF", false, "", "FF", "\xFF"},
        {"Latin-1 byte for e-acute", "Caf\xE9", false, "", "E9", "\xE9"},
        // Controls are refused and named by code point only.
        {"tab", "A\tB", false, "", "control character U+0009", "\t"},
        {"escape", "\x1B[31m", false, "", "U+001B", "\x1B"},
        {"delete", "\x7F", false, "", "U+007F", "\x7F"},
        {"C1 control NEL", "\xC2\x85", false, "", "U+0085", "\xC2\x85"},
        {"newline", "A\nB", false, "", "U+000A", "\n"},
        // A valid character without a one-byte code: shown, with its code point.
        {"u-umlaut", "Gr\xC3\xBC\xC3\x9F" "e", false, "", "\"\xC3\xBC\" (U+00FC)", ""},
        {"full-width katakana", "\xE3\x82\xA2", false, "", "U+30A2", ""},
        {"emoji", "\xF0\x9F\x8E\xB9", false, "", "(U+01F3B9)", ""},
        // Marks that would change how the message itself is shown: code point only.
        {"right-to-left override", "\xE2\x80\xAE", false, "", "U+202E", "\xE2\x80\xAE"},
        {"zero-width space", "\xE2\x80\x8B", false, "", "U+200B", "\xE2\x80\x8B"},
        {"byte order mark", "\xEF\xBB\xBF", false, "", "U+FEFF", "\xEF\xBB\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        const auto bytes = Utf8ToNameBytes(c.text, &error);
        ASSERT_EQ(bytes.has_value(), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(*bytes, c.bytes);
            EXPECT_EQ(NameBytesToUtf8(*bytes), c.text);  // and back
            continue;
        }
        EXPECT_NE(error.find(c.inError), std::string::npos) << error;
        if (!c.notInError.empty()) {
            EXPECT_EQ(error.find(c.notInError), std::string::npos) << error;
        }
        EXPECT_TRUE(PrintableUtf8(error)) << error;
        EXPECT_FALSE(Utf8ToNameBytes(c.text).has_value());  // refused without an error slot too
    }
}

TEST(NameCodec, ModuleBytesWithoutACharacterShowAsReplacement) {
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {
        {"A\x1F" "B", "A\xEF\xBF\xBD" "B"},
        {"\x7F\x80\xA0", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xE0\xFF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::string("\0", 1), "\xEF\xBF\xBD"},
        {"\xB1", "\xEF\xBD\xB1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NameBytesToUtf8(c.bytes), c.text);
        // What is shown for a damaged name cannot be written back as it was.
        if (c.text.find("\xEF\xBF\xBD") != std::string::npos) {
            EXPECT_FALSE(Utf8ToNameBytes(c.text));
        }
    }
}
