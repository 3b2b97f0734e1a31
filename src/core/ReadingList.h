// The reading list: the rows of text that the main window's list shows, one
// row a line. The program uses rows 0 to 30. Writing a row replaces the text
// of that line only; no text written into a row can split it into two lines or
// join it with the next, so every later row stays where it is.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace readinglist {

inline constexpr int RowCount = 31;
inline constexpr int LastRow = RowCount - 1;
// The list starts with this many empty lines; with the empty row after the
// last line break they make the 31 rows.
inline constexpr int DesignedEmptyLines = 30;
inline constexpr char ReplacementChar = '?';

// A character that has no place inside a row: the C0 controls (CR, LF, tab,
// ...), DEL and the C1 controls, the Unicode line and paragraph separators,
// and the two noncharacters that text widgets use as frame marks.
template <class Char>
constexpr bool IsControl(Char c) {
    static_assert(std::is_integral_v<Char>);
    const auto u = std::uint32_t(static_cast<std::make_unsigned_t<Char>>(c));
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029 || u == 0xFDD0 ||
           u == 0xFDD1;
}

// The text with every control character replaced by "?".
template <class String>
String CleanRowText(String text) {
    for (auto& c : text) {
        if (IsControl(c))
            c = ReplacementChar;
    }
    return text;
}

// Whether the program may read or write row `row` of a list of `lineCount` lines.
constexpr bool RowExists(int row, int lineCount) {
    return row >= 0 && row <= LastRow && row < lineCount;
}

// A line store offers: type Text; int lineCount() const; Text lineText(int)
// const; void setLineText(int, const Text&).

// The text of a row; empty for a row that does not exist.
template <class Store>
typename Store::Text ReadRow(const Store& store, int row) {
    if (!RowExists(row, store.lineCount()))
        return {};
    return store.lineText(row);
}

// Replaces the text of a row with the cleaned text. A row that does not exist
// is left alone and the result is false.
template <class Store>
bool WriteRow(Store& store, int row, typename Store::Text text) {
    if (!RowExists(row, store.lineCount()))
        return false;
    store.setLineText(row, CleanRowText(std::move(text)));
    return true;
}

// Writes a reading into row `displayRow` and returns the row for the next
// one. Past the last row the list moves up one row: row i + 1 is copied into
// row i for i = 0 to 29, in that order, and row 30 is emptied, so rows 0 to 29
// hold the 30 latest readings, oldest at the top.
template <class Store>
int AddReading(Store& store, int displayRow, const typename Store::Text& text) {
    WriteRow(store, displayRow, text);
    if (++displayRow > LastRow) {
        displayRow = LastRow;
        for (int row = 0; row < LastRow; ++row)
            WriteRow(store, row, ReadRow(store, row + 1));
        WriteRow(store, LastRow, typename Store::Text());
    }
    return displayRow;
}

}  // namespace readinglist
