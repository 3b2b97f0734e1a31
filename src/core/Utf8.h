// Text conversions between the program's single-byte characters, UTF-8 and
// UTF-16, and the one rule for what well-formed UTF-8 is: the window
// interface, the site file and the published messages all go by it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The program's single-byte text, a byte a character of Windows-1252; the
// five bytes that code page leaves undefined become "?".
std::string WindowsToUtf8(std::string_view bytes);

// The length (1 to 4) of the well-formed UTF-8 character that begins the
// text, and its code point in `c` when given; 0 when the text is empty or
// begins with none: a stray or missing continuation byte, an overlong form, a
// surrogate, a code point past U+10FFFF.
std::size_t Utf8Length(std::string_view text, char32_t* c = nullptr);
// Whether the whole text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// Malformed sequences become U+FFFD, one for each byte that begins none.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
