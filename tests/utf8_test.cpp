// The conversions between the program's single-byte text, UTF-8 and UTF-16.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Utf8.h"

namespace {

TEST(TextConversion, WindowsCodePageBytesBecomeTheirCharacters) {
    EXPECT_EQ(WindowsToUtf8("The LED is on\xED"), "The LED is on\xC3\xAD");
    EXPECT_EQ(WindowsToUtf8("\x80\x8A\x9F\xA0\xFF"),
              "\xE2\x82\xAC\xC5\xA0\xC5\xB8\xC2\xA0\xC3\xBF");
    // The five bytes Windows-1252 leaves undefined.
    EXPECT_EQ(WindowsToUtf8("\x81\x8D\x8F\x90\x9D"), "?????");
    EXPECT_EQ(WindowsToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextConversion, Utf8AndUtf16RoundTripAndMalformedInputIsReplaced) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
    const std::u16string wide = u"a\u00E9\u20AC\U0001F600z";
    EXPECT_EQ(Utf8ToUtf16(text), wide);
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    // Truncated, overlong, a stray continuation byte, a surrogate, past U+10FFFF.
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"
                          "b"),
              u"\uFFFD\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\x80"
                          "c"),
              u"\uFFFDc");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}

// One rule for well-formed UTF-8, for the window, the site file and the
// messages: the length of the character a text begins with, 0 for none.
TEST(TextConversion, OneRuleTellsWellFormedUtf8) {
    struct Case {
        const char* text;
        std::size_t length;
    };
    for (const Case& c : {Case{"a", 1},
                          {"\xC2\x80", 2},
                          {"\xC1\xBF", 0},
                          {"\xDF\xBF", 2},
                          {"\xE0\xA0\x80", 3},
                          {"\xE0\x9F\xBF", 0},
                          {"\xED\x9F\xBF", 3},
                          {"\xED\xA0\x80", 0},
                          {"\xF0\x90\x80\x80", 4},
                          {"\xF0\x8F\xBF\xBF", 0},
                          {"\xF4\x8F\xBF\xBF", 4},
                          {"\xF4\x90\x80\x80", 0},
                          {"\xF5\x80\x80\x80", 0},
                          {"\xE2\x82", 0},
                          {"\x80", 0},
                          {"", 0}}) {
        EXPECT_EQ(Utf8Length(c.text), c.length) << c.text;
        EXPECT_EQ(IsUtf8(c.text), c.length == std::strlen(c.text)) << c.text;
    }
    char32_t c = 0;
    EXPECT_EQ(Utf8Length("\xE2\x82\xAC!", &c), 3u);
    EXPECT_EQ(c, U'\u20AC');
}

}  // namespace
