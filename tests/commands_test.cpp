// Chip frames and reader commands, against the simulated reader.
#include <gtest/gtest.h>

#include "Drv232.h"
#include "ReaderSimulator.h"
#include "fakes/ProgramState.h"
#include "fakes/SimulatedReader.h"
#include "fakes/TempDir.h"

namespace {

class ReaderCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetProgramState();
        platform::LimitToLinkedPorts(true);
        reader = fakes::StartReader(dir.path(), 5);
        ASSERT_FALSE(HasFailure());
        ASSERT_TRUE(OpenPort(5));
        Settings = TReaderSettings{};
        ChipChars.fill('.');
        ChipCode.clear();
    }
    void TearDown() override {
        ClosePort();
        reader.reset();
        platform::LimitToLinkedPorts(false);
        Settings = TReaderSettings{};
    }
    std::string Chars() const { return std::string(ChipChars.begin(), ChipChars.end()); }

    fakes::TempWorkDir dir;
    std::unique_ptr<sim::ReaderSimulator> reader;
};

TEST_F(ReaderCommands, APollTakesTwelveOrFourteenCharactersOfTheFrame) {
    reader->presentChip("0123456789ABCDEF");
    ASSERT_TRUE(PollChip());
    EXPECT_EQ(ChipCode.view(), "0123456789AB");
    EXPECT_EQ(Chars(), "0123456789ABCD..") << "a poll fills 14 characters only";
    Settings.CrcDigits = true;
    reader->presentChip("0123456789ABCDEF");
    ASSERT_TRUE(PollChip());
    EXPECT_EQ(ChipCode.view(), "0123456789ABCD");
}

TEST_F(ReaderCommands, NoChipMeansNoReading) {
    ChipCode = "unchanged";
    EXPECT_FALSE(PollChip());
    EXPECT_EQ(ChipCode.view(), "unchanged");
}

TEST_F(ReaderCommands, AFrameThatDoesNotStartWithAIsRejectedWhole) {
    reader->sendRaw("X0123456789ABCD\r");
    ChipCode = "before";
    EXPECT_FALSE(PollChip());
    EXPECT_EQ(ChipCode.view(), "before");
    EXPECT_EQ(Chars(), std::string(16, '.'));
    // A frame read from its middle is rejected too; the stream then goes on
    // from where it stands, and a whole frame is read again.
    reader->sendRaw("56789ABCD\r");
    ASSERT_TRUE(reader->waitIdle(1000));
    EXPECT_FALSE(PollChip());
    reader->presentChip("FEDCBA9876543210");
    ASSERT_TRUE(PollChip());
    EXPECT_EQ(ChipCode.view(), "FEDCBA987654");
}

TEST_F(ReaderCommands, AWindowThatIsNotOneFrameIsNeverAReading) {
    // "A" first and CR last, but a control byte among the 14 characters: the
    // tail of a frame with a command's reply behind it, a tab, a DEL.
    for (const char* window :
         {"A71B2C3D4E5\rAO0\r", "A0123456789AB\tD\r", "A0123456789ABC\x7F\r"}) {
        SCOPED_TRACE(window);
        reader->sendRaw(window);
        ASSERT_TRUE(reader->waitIdle(1000));
        EXPECT_FALSE(PollChip());
        EXPECT_TRUE(ChipCode.empty());
    }
}

TEST_F(ReaderCommands, ChipsPresentedWhileARequestWaitsAreKeptAndReadInOrder) {
    // A chip touches the reader as a request reaches it: its frame comes
    // first. Every request still gets its own reply.
    reader->presentChipDuringNextRequest("000A71B2C3D4E5");
    ASSERT_TRUE(SendCommand(CommandLedOn));
    EXPECT_TRUE(reader->ledOn());
    reader->presentChipDuringNextRequest("11111111111111");
    reader->presentChipDuringNextRequest("22222222222222");
    ReaderVersion.clear();
    ASSERT_TRUE(QueryVersion());
    EXPECT_EQ(ReaderVersion, "1234");
    // The reader reports its last chip: the one that came before the reply.
    reader->presentChipDuringNextRequest("3333333333333399");
    ASSERT_TRUE(RepeatRead());
    EXPECT_EQ(Chars(), "3333333333333399");
    EXPECT_EQ(KeptChips.size(), 4u);
    // A chip presented after all these waits on the line behind them.
    reader->presentChip("44444444444444");
    ASSERT_TRUE(reader->waitIdle(1000));
    Settings.CrcDigits = true;
    for (const char* code : {"000A71B2C3D4E5", "11111111111111", "22222222222222", "33333333333333",
                             "44444444444444"}) {
        ASSERT_TRUE(PollChip()) << code;
        EXPECT_EQ(ChipCode.view(), code);
    }
    EXPECT_FALSE(PollChip());
    EXPECT_EQ(reader->requests(), (std::vector<std::string>{"QR\r", "QI\r", "*D0\r"}));
}

TEST_F(ReaderCommands, TheRestOfACutReplyIsNeverAReadingAndTheChipBehindItIsReadOnce) {
    // The chip on the reader makes the repeat read's reply "A0A23456789ABCD00",
    // CR: after its first two bytes, the rest has a chip frame's shape.
    reader->presentChip("0A23456789ABCD");
    ASSERT_TRUE(PollChip());
    struct Case {
        const char* request;
        unsigned pauseAfter, lateMs;
    };
    // A reply that begins near the end of the read's total time-out may be
    // cut (the link reads on and gets it whole), paused or not begun at all,
    // by a few milliseconds either way: then only a wrong answer is a fault.
    for (const Case c : {Case{"*D0", 2, 0}, Case{"*D0", 2, 330}, Case{"*D0", 9, 0},
                         Case{"QZ", 1, 0}, Case{"QZ", 2, 0}, Case{"QI", 3, 240}}) {
        SCOPED_TRACE(std::string(c.request) + " paused after " + std::to_string(c.pauseAfter) +
                     (c.lateMs != 0 ? ", late" : ""));
        sim::Faults busy;
        busy.pauseAfter = c.pauseAfter;
        busy.pauseMs = 150;
        busy.lateMs = c.lateMs;
        busy.repliesOnly = true;
        reader->setFaults(busy);
        const std::string request = c.request;
        ChipCode.clear();
        ReaderVersion.clear();
        const bool answered = request == "*D0"  ? RepeatRead()
                              : request == "QZ" ? SendCommand(CommandLedOff)
                                                : QueryVersion();
        if (c.lateMs == 0) {
            EXPECT_FALSE(answered);
        } else if (answered) {
            // The reader's last chip is by now the one read after a case before.
            EXPECT_TRUE(request == "*D0" ? ChipCode.view() == "111111111111"
                                         : ReaderVersion == "1234");
        }
        reader->setFaults({});
        reader->presentChip("11111111111111");
        ASSERT_TRUE(reader->waitIdle(2000));
        // A reply given up on may still be on the line: its rest costs a poll.
        std::vector<std::string> read;
        for (int poll = 0; poll < 3 && read.empty(); ++poll)
            if (PollChip())
                read.emplace_back(ChipCode.view());
        if (PollChip())
            read.emplace_back(ChipCode.view());
        EXPECT_EQ(read, std::vector<std::string>{"111111111111"});
    }
}

TEST_F(ReaderCommands, HoweverManyChipsWaitInFrontOfAReplyAllAreKept) {
    const std::vector<std::string> codes{"00000000000001", "00000000000002", "00000000000003",
                                         "00000000000004", "00000000000005", "00000000000006"};
    for (const std::string& code : codes)
        reader->presentChipDuringNextRequest(code);
    ASSERT_TRUE(SendCommand(CommandLedOff));
    Settings.CrcDigits = true;
    for (const std::string& code : codes) {
        ASSERT_TRUE(PollChip());
        EXPECT_EQ(ChipCode.view(), code);
    }
    EXPECT_FALSE(PollChip());
}

TEST_F(ReaderCommands, AFrameWithoutItsEndingCrIsRejected) {
    sim::Faults f;
    f.badLast = true;
    reader->setFaults(f);
    reader->presentChip("0123456789ABCDEF");
    EXPECT_FALSE(PollChip());
    EXPECT_TRUE(ChipCode.empty());
}

TEST_F(ReaderCommands, ARepeatReadKeepsTheLastTwoCharactersAside) {
    reader->presentChip("0123456789ABCDEF");
    ASSERT_TRUE(PollChip());
    ASSERT_TRUE(RepeatRead());
    EXPECT_EQ(reader->requests().back(), std::string("*D0\r"));
    EXPECT_EQ(ChipCode.view(), "0123456789AB");
    EXPECT_EQ(Chars(), "0123456789ABCDEF");
    Settings.CrcDigits = true;
    ASSERT_TRUE(RepeatRead());
    EXPECT_EQ(ChipCode.view(), "0123456789ABCD");
    // A later poll overwrites only the first 14.
    reader->presentChip("FFFFFFFFFFFFFF");
    ASSERT_TRUE(PollChip());
    EXPECT_EQ(Chars(), "FFFFFFFFFFFFFFEF");
}

TEST_F(ReaderCommands, EachCommandSendsItsThreeBytesAndChangesTheReader) {
    ASSERT_TRUE(SendCommand(CommandBlock));
    EXPECT_TRUE(reader->blocked());
    ASSERT_TRUE(SendCommand(CommandUnblock));
    EXPECT_FALSE(reader->blocked());
    ASSERT_TRUE(SendCommand(CommandLedOn));
    EXPECT_TRUE(reader->ledOn());
    ASSERT_TRUE(SendCommand(CommandLedOff));
    EXPECT_FALSE(reader->ledOn());
    EXPECT_EQ(reader->requests(), (std::vector<std::string>{"QB\r", "QO\r", "QR\r", "QZ\r"}));
}

TEST_F(ReaderCommands, ABlockedReaderSendsNoFrames) {
    ASSERT_TRUE(SendCommand(CommandBlock));
    reader->presentChip("0123456789ABCDEF");
    EXPECT_FALSE(PollChip());
}

TEST_F(ReaderCommands, BadRepliesFailEveryRequestAndChangeNothing) {
    reader->presentChip("0123456789ABCDEF");
    ASSERT_TRUE(PollChip());
    const std::string chars = Chars();
    sim::Faults bad;
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        bad = {};
        if (kind == 0)
            bad.badFirst = true;
        if (kind == 1)
            bad.badLast = true;
        if (kind == 2)
            bad.shortBy = 1;
        if (kind == 3)
            bad.silent = true;
        reader->setFaults(bad);
        EXPECT_FALSE(SendCommand(CommandLedOn));
        EXPECT_FALSE(RepeatRead());
        EXPECT_EQ(Chars(), chars);
        EXPECT_EQ(ChipCode.view(), "0123456789AB");
    }
}

}  // namespace
