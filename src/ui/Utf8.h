// Text conversions between the program's single-byte characters, the UTF-8
// of the window interface and UTF-16.
#pragma once

#include <string>
#include <string_view>

// The program's single-byte text, a byte a character of Windows-1252; the
// five bytes that code page leaves undefined become "?".
std::string WindowsToUtf8(std::string_view bytes);

// Malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
