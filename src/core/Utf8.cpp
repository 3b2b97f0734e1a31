#include "Utf8.h"

#include <cstdint>

namespace {

constexpr char32_t Replacement = 0xFFFD;

void Append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

void Append(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += char16_t(c);
    } else {
        c -= 0x10000;
        out += char16_t(0xD800 + (c >> 10));
        out += char16_t(0xDC00 + (c & 0x3FF));
    }
}

}  // namespace

std::string WindowsToUtf8(std::string_view bytes) {
    // 0x80 to 0x9F; 0 where the code page has no character.
    static constexpr char16_t High[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
        char32_t c = byte;
        if (byte >= 0x80 && byte <= 0x9F)
            c = High[byte - 0x80] ? High[byte - 0x80] : U'?';
        Append(out, c);
    }
    return out;
}

std::size_t Utf8Length(std::string_view text, char32_t* c) {
    if (text.empty())
        return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t extra = 0;
    char32_t code = lead;
    if (lead >= 0xC2 && lead < 0xE0) {
        extra = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        extra = 2;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        extra = 3;
        code = lead & 0x07;
    } else if (lead >= 0x80) {
        return 0;  // a continuation byte, an overlong lead or one past U+10FFFF
    }
    if (extra >= text.size())
        return 0;
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3F);
    }
    const bool overlong = (extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    if (c)
        *c = code;
    return extra + 1;
}

bool IsUtf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t n = Utf8Length(text);
        if (n == 0)
            return false;
        text.remove_prefix(n);
    }
    return true;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t c = 0;
        const std::size_t n = Utf8Length(text, &c);
        Append(out, n == 0 ? Replacement : c);
        text.remove_prefix(n == 0 ? 1 : n);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = Replacement;
        }
        Append(out, c);
    }
    return out;
}
