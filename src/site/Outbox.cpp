// The outbox's lines, and the file kept short.
#include "Outbox.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
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

namespace {

// The outbox's lines as they come, in pieces of any size; a line longer than
// any the program writes is dropped without being kept whole.
class OutboxReader {
  public:
    void feed(std::string_view bytes) {
        while (!bytes.empty()) {
            const auto eol = bytes.find('\n');
            const std::string_view piece = bytes.substr(0, eol);
            if (!overlong_ && partial_.size() + piece.size() > MaxLineBytes) {
                overlong_ = true;
                partial_.clear();
            }
            if (!overlong_)
                partial_ += piece;
            if (eol == std::string_view::npos)
                return;
            bytes.remove_prefix(eol + 1);
            if (overlong_)
                ++found_.damaged;
            else
                line(partial_);
            overlong_ = false;
            partial_.clear();
        }
    }

    OutboxContents finish() {
        if (overlong_ || !partial_.empty())
            ++found_.damaged;  // a line cut off by the end of the file
        for (auto& [number, message] : waiting_)
            found_.waiting.push_back({number, std::move(message)});
        return std::move(found_);
    }

  private:
    static constexpr std::size_t MaxLineBytes = 1024 * 1024;

    void line(std::string_view line) {
        std::uint64_t number = 0;
        if (line.substr(0, 2) == "A ") {
            if (!ParseNumber(line.substr(2), number)) {
                ++found_.damaged;
                return;
            }
            waiting_.erase(number);
        } else if (line.substr(0, 2) == "R ") {
            const std::string_view rest = line.substr(2);
            const auto space = rest.find(' ');
            std::uint64_t crc = 0;
            if (space == std::string_view::npos || !ParseNumber(rest.substr(0, space), number) ||
                rest.size() < space + 10 || rest[space + 9] != ' ' ||
                !ParseNumber(rest.substr(space + 1, 8), crc, 16) ||
                Crc32(rest.substr(space + 10)) != crc) {
                ++found_.damaged;
                return;
            }
            waiting_[number] = std::string(rest.substr(space + 10));
        } else {
            ++found_.damaged;
            return;
        }
        if (number > found_.lastNumber)
            found_.lastNumber = number;
    }

    std::string partial_;
    bool overlong_ = false;
    std::map<std::uint64_t, std::string> waiting_;
    OutboxContents found_;
};

}  // namespace

OutboxContents ReadOutbox(std::string_view bytes) {
    OutboxReader reader;
    reader.feed(bytes);
    return reader.finish();
}

platform::Error Outbox::open(OutboxContents& found) {
    // Read whole, a piece at a time: however long it grew while the broker
    // was away, nothing at its end is lost by the rewrite below.
    OutboxReader reader;
    bool there = true;
    {
        // Closed before the file is written anew: Windows replaces no file
        // that is open.
        std::ifstream in(path_, std::ios::binary);
        if (!in) {
            // Not there, or why not in the platform's words.
            char none = 0;
            std::size_t got = 0;
            const auto e = platform::TheFiles().read(path_, &none, 0, got);
            if (e != platform::Error::NotFound)
                return e != platform::Error::None ? e : platform::Error::Other;
            there = false;
        } else {
            std::string piece(1024 * 1024, '\0');
            while (in) {
                in.read(piece.data(), std::streamsize(piece.size()));
                reader.feed(std::string_view(piece.data(), std::size_t(in.gcount())));
            }
            if (in.bad())
                return platform::Error::Other;
        }
    }
    found = reader.finish();
    if (!there && found.waiting.empty())
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
