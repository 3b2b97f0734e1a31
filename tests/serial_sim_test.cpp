// The real serial code against the simulated reader on a pseudo-terminal.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <utility>
#include <vector>

#include "Drv232.h"
#include "ReaderSimulator.h"
#include "ReplyRules.h"
#include "fakes/FakeUdev.h"
#include "fakes/ProgramState.h"
#include "fakes/SimulatedReader.h"
#include "fakes/TempDir.h"

namespace {

class SimulatedReader : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetProgramState();
        platform::LimitToLinkedPorts(true);
        reader = fakes::StartReader(dir.path(), 3, fakes::Pace::Paced);
        ASSERT_FALSE(HasFailure());
        ReaderVersion.clear();
        ASSERT_TRUE(OpenPort(3));
    }
    void TearDown() override {
        ClosePort();
        reader.reset();
        platform::LimitToLinkedPorts(false);
    }

    fakes::TempWorkDir dir;
    std::unique_ptr<sim::ReaderSimulator> reader;
};

TEST_F(SimulatedReader, TheReplyRuleAndTheReadTimeOuts) {
    replyrules::Check(
        [this](const std::string& command) {
            sim::Faults faults = reader->faults();
            if (!sim::ApplyFaultCommand(faults, command))
                return ::testing::AssertionFailure() << "no fault command: " << command;
            reader->setFaults(faults);
            return ::testing::AssertionSuccess();
        },
        "1234");
}

TEST_F(SimulatedReader, IdentifiesItselfAndSeesTheExactRequest) {
    ASSERT_TRUE(QueryVersion());
    EXPECT_EQ(ReaderVersion, "1234");
    ASSERT_TRUE(reader->waitForRequests(1, 1000));
    EXPECT_EQ(reader->requests().front(), "QI\r");
}

TEST_F(SimulatedReader, TheLineIsConfiguredAs9600EightNoneOne) {
    platform::LineSettings line;
    ASSERT_EQ(PortHandle->getLineSettings(line), platform::Error::None);
    EXPECT_EQ(line.baudRate, 9600u);
    EXPECT_EQ(line.byteSize, 8);
    EXPECT_EQ(line.parity, platform::Parity::None);
    EXPECT_EQ(line.stopBits, platform::StopBits::One);
}

TEST_F(SimulatedReader, TheLineIsRawEveryByteArrivesUnchanged) {
    // CR, LF, Ctrl-C, XON/XOFF, DEL and high bytes would be eaten or changed
    // by a line left in its default cooked mode.
    std::string bytes = "\r\n\x03\x11\x13\x7F\xFF\x04z";
    reader->sendRaw(bytes);
    EXPECT_EQ(replyrules::ReadBytes(bytes.size()).bytes, bytes);
}

TEST_F(SimulatedReader, ASecondOpenOfTheSamePortFails) {
    platform::Error error = platform::Error::None;
    auto second = platform::Serial().open(3, error);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(error, platform::Error::Busy);
    // Released by ClosePort, the port opens again.
    ASSERT_TRUE(ClosePort());
    EXPECT_FALSE(ClosePort());
    EXPECT_TRUE(OpenPort(3));
}

// Silence is no hang-up; a hang-up is told apart, fails at once, and the
// same COM<n> opens afresh once the adapter is back (the link read anew).
TEST_F(SimulatedReader, AHangUpIsToldFromSilenceAndThePortOpensAgainAfterAReplug) {
    EXPECT_FALSE(PollChip());
    EXPECT_FALSE(LinkLost) << "a poll with no chip is no hang-up";
    reader->setFaults({.silent = true});
    EXPECT_FALSE(SendCommand(CommandLedOn));
    EXPECT_FALSE(LinkLost) << "a reader that does not answer is no hang-up";
    reader->setFaults({});

    reader->unplug();
    std::array<std::uint8_t, 16> buffer{};
    std::size_t got = 0;
    // Told, not timed out: a read that waited for its time-out would end
    // without an error.
    EXPECT_EQ(PortHandle->read(buffer.data(), buffer.size(), got), platform::Error::HungUp);
    EXPECT_FALSE(PollChip());
    EXPECT_TRUE(LinkLost);
    LinkLost = false;
    EXPECT_FALSE(QueryVersion());
    EXPECT_TRUE(LinkLost) << "the write or the read of a request sees the hang-up too";
    ClosePort();  // whatever the lines say, the port is released
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_FALSE(OpenPort(3)) << "COM3 is gone while unplugged";

    std::string error;
    ASSERT_TRUE(reader->replug(error, "5678")) << error;
    ASSERT_TRUE(OpenPort(3));
    EXPECT_FALSE(LinkLost) << "a port opened afresh is not lost";
    EXPECT_TRUE(QueryVersion());
    EXPECT_EQ(ReaderVersion, "5678");
    reader->presentChip("0123456789ABCDEF");
    ASSERT_TRUE(reader->waitIdle(2000));
    EXPECT_TRUE(PollChip());
}

TEST(PosixPortNames, LinksFirstThenTheMachinesDevices) {
    fakes::TempWorkDir dir;
    platform::SerialPorts& ports = platform::SystemSerial();
    EXPECT_EQ(ports.deviceName(0), "/dev/ttyS0");
    EXPECT_EQ(ports.deviceName(9), "/dev/ttyS9");
    EXPECT_EQ(ports.deviceName(10), "/dev/ttyUSB0");
    EXPECT_EQ(ports.deviceName(19), "/dev/ttyUSB9");
    EXPECT_EQ(ports.deviceName(20), "/dev/ttyACM0");
    EXPECT_EQ(ports.deviceName(29), "/dev/ttyACM9");
    EXPECT_EQ(ports.deviceName(30), "/dev/ttyS30");
    std::filesystem::create_symlink("/dev/null", "COM10");
    EXPECT_EQ(ports.deviceName(10), "COM10");
    platform::LimitToLinkedPorts(true);
    EXPECT_EQ(ports.deviceName(0), "COM0");
    platform::LimitToLinkedPorts(false);
}

TEST(PosixPorts, AMissingPortFailsToOpen) {
    fakes::TempWorkDir dir;
    platform::LimitToLinkedPorts(true);
    PortHandle.reset();
    EXPECT_FALSE(OpenPort(7));
    EXPECT_EQ(PortHandle, nullptr);
    platform::LimitToLinkedPorts(false);
}

TEST(PosixPorts, RefusedModemLinesCountAsDoneOnAPseudoTerminalOnly) {
    fakes::TempWorkDir dir;
    const auto reader = fakes::StartReader(dir.path(), 3, fakes::Pace::Paced);
    ASSERT_FALSE(::testing::Test::HasFailure());
    std::filesystem::create_symlink("/dev/null", "COM4");  // a device that has no modem lines
    using platform::ControlLine;
    const std::vector<std::pair<int, platform::Error>> cases = {{3, platform::Error::None},
                                                                {4, platform::Error::NotSupported}};
    for (const auto& [port, expected] : cases) {
        SCOPED_TRACE(port);
        platform::Error error = platform::Error::Other;
        auto line = platform::SystemSerial().open(port, error);
        ASSERT_NE(line, nullptr) << platform::ErrorText(error);
        for (ControlLine c : {ControlLine::SetRts, ControlLine::SetDtr, ControlLine::ClearDtr,
                              ControlLine::ClearRts})
            EXPECT_EQ(line->escape(c), expected);
    }
}

TEST(PosixPorts, ADeviceThatIsNotASerialLineIsReleased) {
    fakes::TempWorkDir dir;
    std::filesystem::create_symlink("/dev/null", "COM4");
    EXPECT_FALSE(OpenPort(4)) << "no line settings on /dev/null";
    EXPECT_EQ(PortHandle, nullptr);
    // Released: it opens exclusively again at once.
    platform::Error error;
    EXPECT_NE(platform::SystemSerial().open(4, error), nullptr);
}

// ---- An adapter's stable name: its by-id name when that is its alone,
// otherwise its place on the bus (tests/fakes/FakeUdev.h) ----

TEST(StableName, IsTheByIdNameOnlyWhenThatNamesOneAdapter) {
    const fakes::UsbAdapter reader{"R1A2B3", 1};
    struct Case {
        const char* what;
        fakes::UsbAdapter reader;
        std::vector<fakes::UsbAdapter> others;
        bool byId;
    } cases[] = {
        {"a serial number", reader, {}, true},
        {"others with other numbers", reader, {{"S9Y8X7", 2}, {"R1A2B3", 3, "6015"}}, true},
        {"no serial number", {"", 1}, {}, false},
        {"one udev leaves out", {"R1,A2", 1}, {}, false},
        {"only spaces", {"  ", 1}, {}, false},
        {"another adapter with the same number", reader, {{"R1A2B3", 2}}, false},
    };
    platform::LimitToLinkedPorts(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fakes::TempWorkDir dir;
        fakes::FakeUdev udev(dir.path());
        platform::UseDeviceFolders(udev.Names(), udev.Facts());
        std::vector<std::unique_ptr<sim::ReaderSimulator>> devices;
        int port = 3;
        for (const fakes::UsbAdapter& adapter : c.others) {
            devices.push_back(fakes::StartReader(dir.path(), ++port));
            udev.plug(devices.back()->devicePath(), adapter);
        }
        devices.push_back(fakes::StartReader(dir.path(), 3));
        udev.plug(devices.back()->devicePath(), c.reader);
        // udev makes each name as a temporary link, then renames it: one
        // caught half-way is no name.
        for (const std::filesystem::path name : {udev.byId(c.reader), udev.byPath(c.reader)})
            std::filesystem::create_symlink(
                devices.back()->devicePath(),
                name.parent_path() / (".#" + name.filename().string() + "4f1c"));
        platform::Error error{};
        const auto line = platform::SystemSerial().open(3, error);
        ASSERT_NE(line, nullptr) << platform::ErrorText(error);
        EXPECT_EQ(line->identity(), c.byId ? udev.byId(c.reader) : udev.byPath(c.reader));
    }
    fakes::ResetProgramState();
}

}  // namespace
