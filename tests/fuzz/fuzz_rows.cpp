// Arbitrary row numbers and texts written into the reading list. Whatever is
// written, the list keeps its number of lines, only the row written changes,
// and it holds the text with control characters shown as "?".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ReadingList.h"

namespace {

struct Lines {
    using Text = std::string;
    std::vector<std::string> lines;
    int lineCount() const { return int(lines.size()); }
    Text lineText(int i) const { return lines[std::size_t(i)]; }
    void setLineText(int i, const Text& t) { lines[std::size_t(i)] = t; }
};

void Check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Lines list;
    list.lines.assign(readinglist::RowCount, std::string());
    std::size_t pos = 0;
    while (pos + 2 <= size) {
        const int row = int(std::int8_t(data[pos]));
        const std::size_t length = std::min<std::size_t>(data[pos + 1], size - pos - 2);
        const std::string text(reinterpret_cast<const char*>(data + pos + 2), length);
        pos += 2 + length;
        const auto before = list.lines;
        const bool written = readinglist::WriteRow(list, row, text);
        Check(written == (row >= 0 && row <= readinglist::LastRow));
        Check(list.lines.size() == before.size());
        for (int i = 0; i < list.lineCount(); ++i) {
            if (written && i == row)
                continue;
            Check(list.lines[std::size_t(i)] == before[std::size_t(i)]);
        }
        if (written) {
            const std::string& stored = list.lines[std::size_t(row)];
            Check(stored.size() == text.size());
            for (std::size_t i = 0; i < text.size(); ++i) {
                const bool control = static_cast<unsigned char>(text[i]) < 0x20 ||
                                     (static_cast<unsigned char>(text[i]) >= 0x7F &&
                                      static_cast<unsigned char>(text[i]) <= 0x9F);
                Check(stored[i] == (control ? '?' : text[i]));
            }
            Check(readinglist::ReadRow(list, row) == stored);
        } else {
            Check(readinglist::ReadRow(list, row).empty());
        }
    }
    return 0;
}
