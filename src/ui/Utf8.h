// Text conversions between the program's single-byte characters, the UTF-8
// of the window interface and UTF-16.
#pragma once

#include <string>
#include <string_view>

// Each byte as the character of the same number (ISO 8859-1).
std::string Latin1ToUtf8(std::string_view bytes);

// Malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
