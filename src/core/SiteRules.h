// What a site sets for all its stations beyond publishing: how a reading is
// typed, and when a chip read again is the same reading. Read from the site
// file at the start; without one, today's keys and every frame a reading.
#pragma once

#include <string>

// Today's pause after a key event, in ms, and the range a site may set.
inline constexpr unsigned KeyDelay = 30;
inline constexpr unsigned KeyPauseMinMs = 5;
inline constexpr unsigned KeyPauseMaxMs = 200;
// The longest prefix or suffix, and the widest decimal code (2^64 has 20 digits).
inline constexpr std::size_t AffixMaxLength = 32;
inline constexpr unsigned DecimalWidthMax = 20;
// The longest a site may ask a chip read again to be the same reading.
inline constexpr unsigned RepeatWithinMaxS = 3600;

struct TypingRules {
    enum class End { Enter, Tab, None };
    enum class Separator { Spaces, Tab };  // five spaces, or one Tab
    enum class Code { Hex, Decimal };
    End end = End::Enter;
    Separator separator = Separator::Spaces;
    // Typed before and after each reading: printable ASCII only (the site
    // file refuses anything else).
    std::string prefix{};
    std::string suffix{};
    // Decimal: the code's characters read as one hexadecimal number and
    // typed in decimal, zeros before it up to `width` (0: none).
    Code code = Code::Hex;
    unsigned width = 0;
    unsigned keyPauseMs = KeyDelay;
    bool operator==(const TypingRules&) const = default;
};

struct SiteRules {
    TypingRules typing{};
    // A frame with the code of the last reading, that many seconds after it
    // or less, is no new reading; 0: every frame is one.
    unsigned repeatWithinS = 0;
    // The site file sets how readings are typed but was refused: typing
    // them otherwise might put them where they do not belong, so none is
    // typed until the file is mended.
    bool typingRefused = false;
};
