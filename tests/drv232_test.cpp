// Opening, closing and the request/reply rule, against a port that fails on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "Drv232.h"
#include "fakes/FakeSerial.h"
#include "fakes/ProgramState.h"

namespace {

using Calls = std::vector<std::string>;

class ReaderLink : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetProgramState();
        platform::UseSerial(&ports);
        PortHandle.reset();
        ReaderVersion.clear();
    }
    void TearDown() override {
        PortHandle.reset();
        platform::UseSerial(nullptr);
    }
    fakes::SerialScript script;
    fakes::FakeSerialPorts ports{script};
};

TEST(PortNames, WindowsNamesTakeTheDevicePrefixFromPort10On) {
    EXPECT_EQ(WindowsPortName(0), "COM0");
    EXPECT_EQ(WindowsPortName(9), "COM9");
    EXPECT_EQ(WindowsPortName(10), "\\\\.\\COM10");
    EXPECT_EQ(WindowsPortName(255), "\\\\.\\COM255");
}

TEST(PortSearch, VisitsEveryPortOnceCountingDownAndWrapping) {
    const std::vector<int> fromFive = {5,  4,  3,  2,  1,  0,  29, 28, 27, 26, 25, 24, 23, 22, 21,
                                       20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9,  8,  7,  6};
    EXPECT_EQ(PortSearchOrder(5), fromFive);
    EXPECT_EQ(PortSearchOrder(5)[28], 7) << "the reader on COM7 is found on the 29th attempt";
    const std::vector<int> fromTop = {29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15,
                                      14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  4,  3,  2,  1,  0};
    EXPECT_EQ(PortSearchOrder(29), fromTop);
    EXPECT_EQ(PortSearchOrder(255), fromTop) << "255 counts as 29";
    const std::vector<int> fromZero = {0,  29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16,
                                       15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  4,  3,  2,  1};
    EXPECT_EQ(PortSearchOrder(0), fromZero);
}

TEST(PortSearch, AboveTheRangeCountsDownThirtyPorts) {
    const std::vector<int> fromForty = {40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26,
                                        25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11};
    EXPECT_EQ(PortSearchOrder(40), fromForty);
    for (const auto& [stored, last] : {std::pair{30, 1}, std::pair{254, 225}}) {
        const std::vector<int> order = PortSearchOrder(std::uint8_t(stored));
        ASSERT_EQ(order.size(), 30u) << stored;
        EXPECT_EQ(order.front(), stored);
        EXPECT_EQ(order.back(), last);
        EXPECT_TRUE(std::is_sorted(order.rbegin(), order.rend())) << stored;
    }
}

TEST_F(ReaderLink, OpenConfiguresTheLineInOrder) {
    ASSERT_TRUE(OpenPort(12));
    EXPECT_EQ(script.openPort, 12);
    EXPECT_EQ(script.calls, (Calls{"open", "getLineSettings", "setLineSettings", "getTimeouts",
                                   "setTimeouts", "SetRts", "SetDtr", "setEventMask"}));
    EXPECT_EQ(script.applied.baudRate, 9600u);
    EXPECT_EQ(script.applied.byteSize, 8);
    EXPECT_EQ(script.applied.parity, platform::Parity::None);
    EXPECT_EQ(script.applied.stopBits, platform::StopBits::One);
    EXPECT_EQ(script.timeouts.readInterval, 20u);
    EXPECT_EQ(script.timeouts.readTotalMultiplier, 8u);
    EXPECT_EQ(script.timeouts.readTotalConstant, 200u);
    EXPECT_EQ(script.timeouts.writeTotalMultiplier, 8u);
    EXPECT_EQ(script.timeouts.writeTotalConstant, 200u);
    EXPECT_NE(PortHandle, nullptr);
    EXPECT_EQ(script.closes, 0);
}

TEST_F(ReaderLink, AnyFailingStepFailsTheOpenAndReleasesThePort) {
    const std::vector<std::string> steps = {"open",        "getLineSettings", "setLineSettings",
                                            "getTimeouts", "setTimeouts",     "SetRts",
                                            "SetDtr",      "setEventMask"};
    for (const auto& step : steps) {
        SCOPED_TRACE(step);
        script = {};
        script.failStep = step;
        EXPECT_FALSE(OpenPort(3));
        EXPECT_EQ(PortHandle, nullptr);
        EXPECT_EQ(script.closes, step == "open" ? 0 : 1);
        if (step != "open") {
            // The steps after a failed one are still attempted.
            EXPECT_EQ(script.calls.back(), "close");
            EXPECT_EQ(script.calls[script.calls.size() - 2], "setEventMask");
        }
    }
}

TEST_F(ReaderLink, AFailedReadOfTheLineSettingsAppliesNone) {
    script.failStep = "getLineSettings";
    EXPECT_FALSE(OpenPort(1));
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "setLineSettings"), 0);
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "setTimeouts"), 1);
}

TEST_F(ReaderLink, CloseLowersDtrThenRtsAndWorksOnce) {
    EXPECT_FALSE(ClosePort()) << "no port open";
    ASSERT_TRUE(OpenPort(0));
    script.calls.clear();
    EXPECT_TRUE(ClosePort());
    EXPECT_EQ(script.calls, (Calls{"ClearDtr", "ClearRts", "close"}));
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_FALSE(ClosePort()) << "a second close";
    EXPECT_EQ(script.closes, 1);
}

TEST_F(ReaderLink, ALineThatCannotBeLoweredFailsTheCloseButIsReleased) {
    for (const char* step : {"ClearDtr", "ClearRts"}) {
        SCOPED_TRACE(step);
        script = {};
        ASSERT_TRUE(OpenPort(0));
        script.failStep = step;
        script.calls.clear();
        EXPECT_FALSE(ClosePort());
        EXPECT_EQ(script.calls, (Calls{"ClearDtr", "ClearRts", "close"}));
        EXPECT_EQ(PortHandle, nullptr);
    }
}

TEST_F(ReaderLink, AFailedCloseCallDoesNotFailTheClose) {
    ASSERT_TRUE(OpenPort(0));
    script.failStep = "close";
    EXPECT_TRUE(ClosePort());
    EXPECT_EQ(PortHandle, nullptr);
}

TEST_F(ReaderLink, QueryVersionSendsQIAndTakesTheFourCharacters) {
    ASSERT_TRUE(OpenPort(3));
    script.replies = {std::string("A1234\r")};
    ASSERT_TRUE(QueryVersion());
    EXPECT_EQ(script.written, std::string("QI\r"));
    EXPECT_EQ(ReaderVersion, "1234");
}

TEST_F(ReaderLink, ABadIdentificationReplyLeavesTheVersionAsItWas) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"first byte not A", "B1234\r", ""}, {"sixth byte not CR", "A1234\n", ""},
        {"incomplete", "A123", ""},          {"nothing", "", ""},
        {"read fails", "A1234\r", "read"},   {"write fails", "A1234\r", "write"},
    };
    for (const auto& [name, reply, failing] : cases) {
        SCOPED_TRACE(name);
        script = {};
        ASSERT_TRUE(OpenPort(3));
        ReaderVersion = "OLD!";
        script.replies = {reply};
        script.failStep = failing;
        EXPECT_FALSE(QueryVersion());
        EXPECT_EQ(ReaderVersion, "OLD!");
    }
}

TEST_F(ReaderLink, AWriteThatSucceedsCountsWhateverNumberItReports) {
    for (std::size_t reported : {0, 1, 2}) {
        SCOPED_TRACE(reported);
        script = {};
        ASSERT_TRUE(OpenPort(3));
        script.writeReports = reported;
        script.replies = {std::string("A1234\r"), std::string("A\x01\x02\r")};
        EXPECT_TRUE(QueryVersion());
        EXPECT_TRUE(SendCommand(CommandLedOn));
        EXPECT_EQ(script.written, std::string("QI\rQR\r"));
    }
}

TEST_F(ReaderLink, APortRefusedForLackOfPermissionIsRemembered) {
    const std::vector<std::pair<platform::Error, bool>> cases = {
        {platform::Error::NotFound, false},
        {platform::Error::Busy, false},
        {platform::Error::AccessDenied, true},
    };
    for (const auto& [failure, denied] : cases) {
        SCOPED_TRACE(platform::ErrorText(failure));
        PortAccessDenied = false;
        script = {};
        script.failStep = "open";
        script.failure = failure;
        EXPECT_FALSE(OpenPort(3));
        EXPECT_EQ(PortAccessDenied, denied);
        script = {};
        EXPECT_TRUE(OpenPort(2));
        EXPECT_EQ(PortAccessDenied, denied) << "a later port that opens does not clear it";
    }
    PortAccessDenied = false;
}

TEST_F(ReaderLink, RequestsFailWithoutAnOpenPort) {
    EXPECT_FALSE(QueryVersion());
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(ReaderLink, ExchangeWithoutARequestOnlyReads) {
    ASSERT_TRUE(OpenPort(3));
    script.calls.clear();
    script.replies = {std::string("AXY\r")};
    std::uint8_t reply[4];
    EXPECT_TRUE(Exchange({}, reply));
    EXPECT_EQ(script.calls, (Calls{"read"}));
    EXPECT_TRUE(script.written.empty());
}

TEST_F(ReaderLink, AFrameThatTheReadsTimeOutCutIsReadOnToItsEnd) {
    ASSERT_TRUE(OpenPort(3));
    // The frame began 8 bytes before the poll's 328 ms ran out.
    script.calls.clear();
    script.replies = {"A0123456", "789ABCD\r"};
    script.ends = {platform::ReadEnd::Total};
    ASSERT_TRUE(PollChip());
    EXPECT_EQ(ChipCode.view(), "0123456789AB");
    EXPECT_EQ(script.calls, (Calls{"read", "read"}));
    // A frame that stopped short, 20 ms after its last byte, is no frame, and
    // nothing is read on: the bytes that come next are another's.
    script.calls.clear();
    script.replies = {"A0123456", "789ABCD\r"};
    script.ends = {platform::ReadEnd::Interval};
    EXPECT_FALSE(PollChip());
    EXPECT_EQ(script.calls, (Calls{"read"}));
    EXPECT_FALSE(PollChip()) << "the rest alone";
    // Cut by the time-out, but what follows does not end the frame; and what
    // was cut is no start of a frame.
    for (const char* first : {"A0123456", "XO0\r"}) {
        script.replies = {first, "78\r"};
        script.ends = {platform::ReadEnd::Total};
        EXPECT_FALSE(PollChip()) << first;
    }
    EXPECT_EQ(ChipCode.view(), "0123456789AB");
}

}  // namespace
