// Shared reading state, the settings record and its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Clock.h"
#include "FixedString.h"
#include "Reading.h"
#include "Texts.h"

// A flag byte of the settings file: false when 0, true otherwise. The raw byte
// is kept as loaded, so a record that was loaded saves back unchanged.
struct SettingsFlag {
    std::uint8_t raw = 0;

    operator bool() const { return raw != 0; }  // NOLINT: implicit on purpose
    SettingsFlag& operator=(bool value) {
        raw = value ? 1 : 0;
        return *this;
    }
};

// An unsigned 32-bit number stored least significant byte first, whatever the
// byte order of the host.
struct LittleEndian32 {
    std::uint8_t bytes[4] = {0, 0, 0, 0};

    operator std::uint32_t() const {  // NOLINT: implicit on purpose
        return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
               std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
    }
    LittleEndian32& operator=(std::uint32_t value) {
        for (auto& b : bytes) {
            b = std::uint8_t(value & 0xFF);
            value >>= 8;
        }
        return *this;
    }
};

// The options record; byte for byte the contents of the settings file.
struct TReaderSettings {
    std::uint8_t Port;             // offset 0: port where the reader was last found
    SettingsFlag OrderToKeyboard;  // 1
    SettingsFlag TimeToKeyboard;   // 2
    SettingsFlag ChipToKeyboard;   // 3
    SettingsFlag AutoLedOff;       // 4
    SettingsFlag MinimizeAtStart;  // 5
    SettingsFlag SaveOnDisk;       // 6
    SettingsFlag SoundSignal;      // 7
    LittleEndian32 OrderNumber;    // 8..11
    SettingsFlag CrcDigits;        // 12
    std::uint8_t Reserved[3];      // 13..15
};
static_assert(sizeof(TReaderSettings) == 16, "the settings file is exactly 16 bytes");
static_assert(offsetof(TReaderSettings, OrderNumber) == 8);
static_assert(offsetof(TReaderSettings, CrcDigits) == 12);

inline constexpr const char* SettingsFileName = texts::SettingsFile;

// The shared reading state. The tests put it back in ResetProgramState
// (tests/fakes/ProgramState.h).
extern TReaderSettings Settings;
extern std::uint32_t RunningOrder;
extern FixedString<8> TimeText;
extern FixedString<16> ChipCode;

// The full path of a file in the process's current directory; empty when the
// current directory cannot be had.
std::filesystem::path PathInCurrentDirectory(const std::string& fileName);

// Up to 16 bytes of the settings file replace the start of Settings. True when
// the file could be opened and read.
bool LoadSettings();

// Replaces the settings file with the 16 bytes of Settings. The new contents
// go to a new temporary file beside it first, which is then renamed over the
// old one, so a failure at any step leaves the old file exactly as it was.
// Like a plain rewrite, it fails on a read-only file, replaces the file a
// symbolic link leads to (the link stays) and keeps the file's permissions,
// owner and group; where no new file can be made or given them (a folder the
// operator may not write into, a file of another owner), it rewrites the file
// in place, as a plain rewrite would.
bool SaveSettings();

// The temporary file SaveSettings writes before the rename: the name of the
// file it replaces and this suffix, so "ZV4815.INI.new" unless ZV4815.INI is
// a link.
inline constexpr const char* SettingsTempSuffix = ".new";
inline constexpr const char* SettingsTempFileName = texts::SettingsTempFile;

// The order field's number: leading spaces, one optional "+" or "-", then
// decimal digits within -2147483648..2147483647, or hexadecimal digits after
// "$", "x", "X", "0x" or "0X" that fit in 32 bits. The result is the number's
// 32-bit pattern ("-1" and "$FFFFFFFF" both give 4294967295); nothing when the
// text is anything else (empty, trailing spaces, overflow ...).
std::optional<std::uint32_t> ParseOrderNumber(std::string_view text);

// The one rule for bytes from the reader wherever they are shown or written
// (list, log, status line, caption): the reader is a device of the Windows
// code page, so a byte is a character of Windows-1252; the control
// characters (below 0x20, and 0x7F) and the five bytes that code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become "?". So device data can
// never break a line, and the list and the log of one reading agree.
bool IsPrintableByte(unsigned char byte);
std::string PrintableText(std::string_view text);

// The decimal text of n with a "0" in front of a single digit; of a longer
// text only the third and fourth characters (2019 gives "19", 123 gives "3").
std::string TwoDigits(std::uint16_t n);

// HH:MM:SS of the current local time, or of the time given.
std::string FormatTime();
std::string FormatTime(const platform::LocalTime& at);

// The day's log file name with its leading directory separator:
// separator + "ZV" + day + "D" + month + "M" + ".txt"; of today, or of the
// day given.
std::string LogFileName();
std::string LogFileName(const platform::LocalTime& at);

// The reading of the chip text `code` given the order number `order` at the
// clock reading `at`: its time text (FormatTime) and its code made printable
// (PrintableText), once for every record of it.
Reading MakeReading(std::uint32_t order, const platform::LocalTime& at, std::string_view code,
                    bool demo);

// Appends "<order> <time> <code>" and CR LF to the log of the day of the
// reading's clock reading (read once: a reading at 23:59:59.9 belongs to that
// day's file, not the next day's), in the current directory, creating it
// when needed. The line goes through Files::append, as the outbox's do:
// flushed to the disk before it returns; on failure the file is cut back to
// where it was, so no partial line stays, and the result is false.
bool AppendLog(const Reading& reading);

// Demo chip codes: a value below DemoCodeLimit written as exactly 8 upper-case
// hexadecimal digits, leading zeros included.
inline constexpr std::uint32_t DemoCodeLimit = 0xFFFFE380u;
std::string DemoChipText(std::uint32_t value);
