#include "Global.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "Clock.h"
#include "Files.h"

// Reset for the tests in ResetProgramState (tests/fakes/ProgramState.h).
TReaderSettings Settings{};
std::uint32_t RunningOrder = 0;
FixedString<8> TimeText;
FixedString<16> ChipCode;

std::filesystem::path PathInCurrentDirectory(const std::string& fileName) {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::current_path(ec);
    if (ec || dir.empty())
        return {};
    // The whole path, however long: a shortened one would name another file.
    return dir / fileName;
}

bool LoadSettings() {
    const std::filesystem::path path = PathInCurrentDirectory(SettingsFileName);
    if (path.empty())
        return false;
    // Opened for us alone: no other program may open the file while it is read.
    char bytes[sizeof(TReaderSettings)];
    std::size_t got = 0;
    if (platform::TheFiles().read(path, bytes, sizeof bytes, got) != platform::Error::None)
        return false;
    // Only what the file holds replaces the start of the record; a file
    // shorter than the record is no failure.
    std::memcpy(&Settings, bytes, got);
    return true;
}

bool SaveSettings() {
    const std::filesystem::path path = PathInCurrentDirectory(SettingsFileName);
    if (path.empty())
        return false;
    platform::Files& files = platform::TheFiles();
    // What a plain rewrite would do: a read-only file stays as it is, and
    // through a link the file it leads to is replaced. The temporary file
    // goes beside that file, so the rename stays on its disk.
    std::filesystem::path target;
    if (files.replaceTarget(path, target) != platform::Error::None)
        return false;
    std::filesystem::path temp = target;
    temp += SettingsTempSuffix;
    platform::Error error = files.writeNew(temp, &Settings, sizeof Settings);
    if (error == platform::Error::None) {
        error = files.replace(temp, target);
        if (error == platform::Error::None)
            return true;
    }
    files.remove(temp);
    // No new file can take the old one's place (a folder the operator may
    // not write into, a file of another owner): the file is rewritten where
    // it is, as a plain rewrite would, which an interruption can leave torn.
    return error == platform::Error::AccessDenied &&
           files.rewrite(target, &Settings, sizeof Settings) == platform::Error::None;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::uint32_t> ParseOrderNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';

    std::string_view rest = text.substr(i);
    bool hex = false;
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (rest.size() > prefix.size() && rest.starts_with(prefix)) {
            rest.remove_prefix(prefix.size());
            hex = true;
            break;
        }
    }
    if (rest.empty())
        return std::nullopt;

    std::uint64_t value = 0;
    for (char c : rest) {
        const int digit = hex ? HexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0)
            return std::nullopt;
        value = value * (hex ? 16 : 10) + std::uint64_t(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (!hex && value > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        return std::nullopt;
    const std::uint32_t pattern = std::uint32_t(value);
    return negative ? std::uint32_t(0u - pattern) : pattern;
}

bool IsPrintableByte(unsigned char byte) {
    switch (byte) {
        case 0x7F:
        case 0x81:
        case 0x8D:
        case 0x8F:
        case 0x90:
        case 0x9D:
            return false;
        default:
            return byte >= 0x20;
    }
}

std::string PrintableText(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (!IsPrintableByte(static_cast<unsigned char>(c)))
            c = '?';
    return out;
}

std::string TwoDigits(std::uint16_t n) {
    const std::string digits = std::to_string(n);
    if (digits.size() == 1)
        return "0" + digits;
    if (digits.size() > 2)
        return digits.substr(2, 2);
    return digits;
}

std::string FormatTime() {
    return FormatTime(platform::TheClock().localTime());
}

std::string FormatTime(const platform::LocalTime& at) {
    return TwoDigits(std::uint16_t(at.hour)) + ":" + TwoDigits(std::uint16_t(at.minute)) + ":" +
           TwoDigits(std::uint16_t(at.second));
}

std::string LogFileName() {
    return LogFileName(platform::TheClock().localTime());
}

std::string LogFileName(const platform::LocalTime& at) {
    return std::string(1, char(std::filesystem::path::preferred_separator)) + texts::LogPrefix +
           TwoDigits(std::uint16_t(at.day)) + texts::LogDay + TwoDigits(std::uint16_t(at.month)) +
           texts::LogMonth + texts::LogExtension;
}

Reading MakeReading(std::uint32_t order, const platform::LocalTime& at, std::string_view code,
                    bool demo) {
    return {order, at, FormatTime(at), PrintableText(code), demo};
}

bool AppendLog(const Reading& reading) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::current_path(ec);
    if (ec || path.empty())
        return false;
    path += LogFileName(reading.at);
    const std::string line =
        std::to_string(reading.order) + " " + reading.time + " " + reading.code + "\r\n";
    return platform::TheFiles().append(path, line.data(), line.size()) == platform::Error::None;
}

std::string DemoChipText(std::uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4)
        text[std::size_t(i)] = digits[value & 0xF];
    return text;
}
