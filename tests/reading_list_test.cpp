// The rules of the reading list's rows, on a plain list of lines.
#include "ReadingList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using readinglist::CleanRowText;
using readinglist::ReadRow;
using readinglist::RowExists;
using readinglist::WriteRow;

// Lines kept one per element; a row written with a line break in it would
// show up as an element holding "\n".
struct Lines {
    using Text = std::string;
    std::vector<std::string> lines;
    int writes = 0;

    int lineCount() const { return int(lines.size()); }
    std::string lineText(int i) const { return lines.at(std::size_t(i)); }
    void setLineText(int i, const std::string& text) {
        lines.at(std::size_t(i)) = text;
        ++writes;
    }
};

Lines DesignedList() {
    // 30 empty lines and the empty row after the last line break.
    EXPECT_EQ(readinglist::LastRow, 30);
    return Lines{std::vector<std::string>(readinglist::DesignedEmptyLines + 1), 0};
}

struct RowCase {
    int row;
    int lineCount;
    bool exists;
};

class RowExistence : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowExistence, OnlyRowsZeroToThirtyOfTheLinesThereAre) {
    const RowCase c = GetParam();
    EXPECT_EQ(RowExists(c.row, c.lineCount), c.exists);
}

INSTANTIATE_TEST_SUITE_P(Rows, RowExistence,
                         ::testing::Values(RowCase{0, 31, true}, RowCase{30, 31, true},
                                           RowCase{31, 31, false}, RowCase{31, 40, false},
                                           RowCase{30, 40, true}, RowCase{-1, 31, false},
                                           RowCase{5, 5, false}, RowCase{4, 5, true},
                                           RowCase{0, 0, false}, RowCase{2147483647, 31, false}));

TEST(ReadingListRows, WritingARowReplacesThatLineOnly) {
    Lines list = DesignedList();
    list.lines[4] = "old text of row 4";
    list.lines[6] = "row 6";
    EXPECT_TRUE(WriteRow(list, 5, std::string("42       09:41:07      00000A1B2C3D")));
    EXPECT_TRUE(WriteRow(list, 4, std::string("new")));
    EXPECT_EQ(list.lines[4], "new");
    EXPECT_EQ(list.lines[5], "42       09:41:07      00000A1B2C3D");
    EXPECT_EQ(list.lines[6], "row 6");
    EXPECT_EQ(list.lineCount(), 31);
    for (int row : {0, 1, 2, 3, 7, 30})
        EXPECT_EQ(list.lines[std::size_t(row)], "") << row;
}

TEST(ReadingListRows, ARowThatDoesNotExistIsNeitherWrittenNorRead) {
    Lines list = DesignedList();
    list.lines.push_back("typed by the operator");  // row 31 is never the program's
    const std::vector<std::string> before = list.lines;
    for (int row : {-1, 31, 32, 1000}) {
        EXPECT_FALSE(WriteRow(list, row, std::string("x"))) << row;
        EXPECT_EQ(ReadRow(list, row), "") << row;
    }
    EXPECT_EQ(list.lines, before);
    EXPECT_EQ(list.writes, 0);

    Lines shortList{{"a", "b", "c"}, 0};
    EXPECT_FALSE(WriteRow(shortList, 3, std::string("d")));
    EXPECT_EQ(ReadRow(shortList, 3), "");
    EXPECT_EQ(ReadRow(shortList, 2), "c");
    EXPECT_EQ(shortList.lines, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(ReadingListRows, LineBreaksAndOtherControlsInARowBecomeQuestionMarks) {
    Lines list = DesignedList();
    EXPECT_TRUE(WriteRow(list, 3,
                         std::string("A\r\nB\tC\x1b"
                                     "D\x7f")));
    EXPECT_EQ(list.lines[3], "A??B?C?D?");
    EXPECT_EQ(list.lineCount(), 31);
    EXPECT_EQ(list.lines[4], "");
}

// Every byte, plain char being signed here: 0xA0 to 0xFF are no controls.
TEST(ReadingListText, EveryC0AndC1ControlAndDeleteIsReplacedAndNothingElse) {
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += char(c);
    const std::string clean = CleanRowText(all);
    ASSERT_EQ(clean.size(), 256u);
    for (int c = 0; c < 256; ++c) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        EXPECT_EQ(clean[std::size_t(c)], control ? '?' : char(c)) << "byte " << c;
    }
}

TEST(ReadingListScrolling, RowsZeroToTwentyNineHoldTheThirtyLatestReadings) {
    Lines list = DesignedList();
    int row = 0;
    for (int reading = 1; reading <= 30; ++reading) {
        row = readinglist::AddReading(list, row, std::to_string(reading));
        EXPECT_EQ(row, reading);
    }
    EXPECT_EQ(list.lines[29], "30");
    EXPECT_EQ(list.lines[30], "");

    // The 31st goes into row 30, then everything moves up one row.
    for (int reading = 31; reading <= 32; ++reading) {
        row = readinglist::AddReading(list, row, std::to_string(reading));
        EXPECT_EQ(row, 30);
        for (int i = 0; i < 30; ++i)
            EXPECT_EQ(list.lines[std::size_t(i)], std::to_string(reading - 29 + i)) << "row " << i;
        EXPECT_EQ(list.lines[30], "");
    }
    EXPECT_EQ(list.lineCount(), 31);
}

TEST(ReadingListText, WideTextLosesTheUnicodeLineAndParagraphSeparatorsToo) {
    const std::u16string text = u"a\u2028b\u2029c\nd\u0085e\uFDD0f\uFDD1g\u00e9\u4e2d";
    EXPECT_EQ(CleanRowText(text), u"a?b?c?d?e?f?g\u00e9\u4e2d");
}

}  // namespace
