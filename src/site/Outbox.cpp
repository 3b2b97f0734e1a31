// The outbox's lines, and the file kept short.
#include "Outbox.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <map>

namespace site {

namespace {

std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

bool ParseNumber(std::string_view text, std::uint64_t& n, int base = 10) {
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// The longest outbox file read back: far more than a day of readings.
constexpr std::size_t MaxOutboxBytes = 256u * 1024 * 1024;

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    std::uint32_t c = 0xFFFFFFFFu;
    for (const char b : bytes)
        c = table[(c ^ static_cast<unsigned char>(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::string RecordLine(std::uint64_t number, std::string_view message) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(Crc32(message)));
    return "R " + std::to_string(number) + " " + crc + " " + std::string(message) + "\n";
}

std::string AckLine(std::uint64_t number) {
    return "A " + std::to_string(number) + "\n";
}

OutboxContents ReadOutbox(std::string_view bytes) {
    OutboxContents found;
    std::map<std::uint64_t, std::string> waiting;
    while (!bytes.empty()) {
        const auto eol = bytes.find('\n');
        if (eol == std::string_view::npos) {
            ++found.damaged;  // a line cut off by the end of the file
            break;
        }
        const std::string_view line = bytes.substr(0, eol);
        bytes.remove_prefix(eol + 1);
        std::uint64_t number = 0;
        if (line.substr(0, 2) == "A ") {
            if (!ParseNumber(line.substr(2), number)) {
                ++found.damaged;
                continue;
            }
            waiting.erase(number);
        } else if (line.substr(0, 2) == "R ") {
            const std::string_view rest = line.substr(2);
            const auto space = rest.find(' ');
            std::uint64_t crc = 0;
            if (space == std::string_view::npos || !ParseNumber(rest.substr(0, space), number) ||
                rest.size() < space + 10 || rest[space + 9] != ' ' ||
                !ParseNumber(rest.substr(space + 1, 8), crc, 16) ||
                Crc32(rest.substr(space + 10)) != crc) {
                ++found.damaged;
                continue;
            }
            waiting[number] = std::string(rest.substr(space + 10));
        } else {
            ++found.damaged;
            continue;
        }
        if (number > found.lastNumber)
            found.lastNumber = number;
    }
    for (auto& [number, message] : waiting)
        found.waiting.push_back({number, std::move(message)});
    return found;
}

platform::Error Outbox::open(OutboxContents& found) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path_, ec);
    std::string bytes;
    if (!ec) {
        bytes.resize(std::size_t(std::min<std::uintmax_t>(size, MaxOutboxBytes)));
        std::size_t got = 0;
        if (const auto e = platform::TheFiles().read(path_, bytes.data(), bytes.size(), got);
            e != platform::Error::None)
            return e;
        bytes.resize(got);
    }
    found = ReadOutbox(bytes);
    if (ec && found.waiting.empty())
        return platform::Error::None;  // no file, nothing to write

    // Only what still waits, in a new file put in the old one's place. The
    // last number stays in it as an acknowledged reading's line, so that the
    // numbers go on rising after an outbox that was all sent.
    std::string kept;
    for (const OutboxRecord& r : found.waiting)
        kept += RecordLine(r.number, r.message);
    if (found.waiting.empty() && found.lastNumber > 0)
        kept = AckLine(found.lastNumber);
    platform::Path made = path_;
    made += ".new";
    if (const auto e = platform::TheFiles().writeNew(made, kept.data(), kept.size());
        e != platform::Error::None)
        return e;
    if (const auto e = platform::TheFiles().replace(made, path_); e != platform::Error::None) {
        platform::TheFiles().remove(made);
        return e;
    }
    bytes_ = kept.size();
    return platform::Error::None;
}

platform::Error Outbox::add(std::uint64_t number, std::string_view message) {
    const std::string line = RecordLine(number, message);
    const auto e = platform::TheFiles().append(path_, line.data(), line.size());
    if (e == platform::Error::None)
        bytes_ += line.size();
    return e;
}

platform::Error Outbox::acknowledge(const std::vector<std::uint64_t>& numbers) {
    std::string lines;
    for (const std::uint64_t n : numbers)
        lines += AckLine(n);
    if (lines.empty())
        return platform::Error::None;
    const auto e = platform::TheFiles().append(path_, lines.data(), lines.size());
    if (e == platform::Error::None)
        bytes_ += lines.size();
    return e;
}

platform::Error Outbox::emptied() {
    if (bytes_ < RestartBytes)
        return platform::Error::None;
    OutboxContents found;
    return open(found);  // keeps the last number, drops the rest
}

}  // namespace site
