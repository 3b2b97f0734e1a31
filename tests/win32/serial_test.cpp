// The serial link through the real Win32 calls, against the reader simulator.
// scripts/test-windows starts the simulator on a pseudo-terminal, links a COM
// port of the Wine prefix to it, and tells these tests where to find it:
//   CHIPREADER_SIM_PORT    the port number
//   CHIPREADER_SIM_ID      the four identification characters it answers with
//   CHIPREADER_SIM_INPUT   its standard input (a pipe), as a Windows path
//   CHIPREADER_SIM_OUTPUT  its standard output (a file), as a Windows path
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Drv232.h"
#include "Global.h"
#include "ReplyRules.h"
#include "SerialPort.h"
#include "fakes/ForwardingSerial.h"
#include "fakes/ProgramState.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::Error;

long ElapsedMs(Clock::time_point since) {
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The system's ports, with a count of what was opened and what was closed
// again, and how the close went.
class WatchedPort final : public fakes::ForwardingPort {
  public:
    WatchedPort(std::unique_ptr<platform::SerialPort> port, std::vector<Error>& closes)
        : ForwardingPort(std::move(port)), closes_(closes) {}
    Error close() override {
        closes_.push_back(ForwardingPort::close());
        return closes_.back();
    }

  private:
    std::vector<Error>& closes_;
};

class WatchedPorts final : public platform::SerialPorts {
  public:
    int opened = 0;
    std::vector<Error> closes;  // the result of every close() call

    WatchedPorts() { platform::UseSerial(this); }
    ~WatchedPorts() override { platform::UseSerial(nullptr); }
    std::string deviceName(int n) override { return platform::SystemSerial().deviceName(n); }
    std::unique_ptr<platform::SerialPort> open(int n, Error& error) override {
        auto port = platform::SystemSerial().open(n, error);
        if (!port)
            return nullptr;
        ++opened;
        return std::make_unique<WatchedPort>(std::move(port), closes);
    }
};

class Simulator {
  public:
    int port = Environment("CHIPREADER_SIM_PORT").empty()
                   ? -1
                   : std::atoi(Environment("CHIPREADER_SIM_PORT").c_str());
    std::string id = Environment("CHIPREADER_SIM_ID");
    std::string input = Environment("CHIPREADER_SIM_INPUT");
    std::string output = Environment("CHIPREADER_SIM_OUTPUT");

    bool present() const { return port > 0 && id.size() == 4 && !input.empty() && !output.empty(); }

    // Carries out one command line and returns once the simulator has: a
    // "status" follows it, and its answer shows up in the output.
    ::testing::AssertionResult command(const std::string& line) const {
        const std::size_t before = count("blocked ");
        {
            std::ofstream pipe(input, std::ios::app | std::ios::binary);
            pipe << line << "\nstatus\n" << std::flush;
            if (!pipe)
                return ::testing::AssertionFailure() << "cannot write to " << input;
        }
        const auto start = Clock::now();
        while (count("blocked ") <= before) {
            if (ElapsedMs(start) > 5000)
                return ::testing::AssertionFailure() << "the simulator did not take: " << line;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return ::testing::AssertionSuccess();
    }

    // The output lines that start with prefix, in order.
    std::vector<std::string> lines(const std::string& prefix) const {
        std::ifstream file(output, std::ios::binary);
        std::vector<std::string> found;
        std::string line;
        while (std::getline(file, line))
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }
    std::size_t count(const std::string& prefix) const { return lines(prefix).size(); }

    // The last status line, such as "blocked no, LED on, last chip ..., 3 requests".
    std::string status() const {
        const auto all = lines("blocked ");
        return all.empty() ? "" : all.back();
    }
};

class Win32Serial : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.present())
            << "no reader simulator: run these tests through scripts/test-windows";
        ASSERT_TRUE(sim.command("normal"));
        fakes::ResetProgramState();
        platform::UseSerial(&ports);  // the reset took the watch off
        PortHandle.reset();
        ReaderVersion.clear();
        Settings = TReaderSettings{};
    }
    void TearDown() override {
        if (PortHandle)
            PortHandle->close();
        PortHandle.reset();
    }

    // OpenPort's steps but the control lines: a pseudo-terminal has none, and
    // Wine's EscapeCommFunction reports that as a failure. Anything still
    // waiting on the line from an earlier test is read away.
    void OpenForExchange() {
        Error error = Error::Other;
        PortHandle = platform::Serial().open(sim.port, error);
        ASSERT_NE(PortHandle, nullptr) << platform::ErrorText(error);
        platform::SerialPort& port = *PortHandle;
        platform::LineSettings line;
        ASSERT_EQ(port.getLineSettings(line), Error::None);
        line.baudRate = 9600;
        line.byteSize = 8;
        line.parity = platform::Parity::None;
        line.stopBits = platform::StopBits::One;
        ASSERT_EQ(port.setLineSettings(line), Error::None);
        ASSERT_EQ(port.setTimeouts(
                      {ReadIntervalTimeout, 0, 50, WriteTotalMultiplier, WriteTotalConstant}),
                  Error::None);
        std::array<std::uint8_t, 64> junk{};
        std::size_t got = 0;
        do {
            ASSERT_EQ(port.read(junk.data(), junk.size(), got), Error::None);
        } while (got > 0);
        ASSERT_EQ(port.setTimeouts({ReadIntervalTimeout, ReadTotalMultiplier, ReadTotalConstant,
                                    WriteTotalMultiplier, WriteTotalConstant}),
                  Error::None);
        ASSERT_EQ(port.setEventMask(platform::EventCharReceived), Error::None);
    }

    Simulator sim;
    WatchedPorts ports;  // outlives PortHandle, which TearDown releases
};

TEST(Win32PortNames, PortsFrom10OnTakeTheDeviceNamespacePrefix) {
    platform::SerialPorts& ports = platform::SystemSerial();
    EXPECT_EQ(ports.deviceName(0), "COM0");
    EXPECT_EQ(ports.deviceName(9), "COM9");
    EXPECT_EQ(ports.deviceName(10), "\\\\.\\COM10");
    EXPECT_EQ(ports.deviceName(29), "\\\\.\\COM29");
}

TEST(Win32PortOpen, AMissingPortFailsAndHoldsNothing) {
    // COM0 stands for no device under Windows or Wine; port 199 has none here.
    for (int n : {0, 199}) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(OpenPort(n));
        EXPECT_EQ(PortHandle, nullptr);
        Error error = Error::None;
        EXPECT_EQ(platform::SystemSerial().open(n, error), nullptr);
        EXPECT_EQ(error, Error::NotFound);
    }
}

TEST_F(Win32Serial, OpenPortFailsWhenTheControlLinesCannotBeRaisedAndReleasesThePort) {
    {
        // Why: the line opens and takes its settings, but has no RTS or DTR.
        Error error = Error::Other;
        auto port = platform::SystemSerial().open(sim.port, error);
        ASSERT_NE(port, nullptr) << platform::ErrorText(error);
        EXPECT_EQ(port->escape(platform::ControlLine::SetRts), Error::NotSupported);
        EXPECT_EQ(port->escape(platform::ControlLine::SetDtr), Error::NotSupported);
        EXPECT_EQ(port->setEventMask(platform::EventCharReceived), Error::None);
    }
    EXPECT_FALSE(OpenPort(sim.port));
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_EQ(ports.opened, 1);
    EXPECT_EQ(ports.closes, std::vector<Error>{Error::None}) << "CloseHandle released it";
    EXPECT_FALSE(ClosePort()) << "nothing is left open to close";
    EXPECT_EQ(ports.closes.size(), 1u);
}

TEST_F(Win32Serial, TheLineTakesTheSettingsAndTimeoutsGiven) {
    OpenForExchange();
    platform::SerialPort& port = *PortHandle;
    platform::LineSettings line;
    ASSERT_EQ(port.getLineSettings(line), Error::None);
    EXPECT_EQ(line.baudRate, 9600u);
    EXPECT_EQ(line.byteSize, 8);
    EXPECT_EQ(line.parity, platform::Parity::None);
    EXPECT_EQ(line.stopBits, platform::StopBits::One);

    // A pseudo-terminal keeps 8 bits and no parity whatever it is told; the
    // speed and the stop bits it takes.
    ASSERT_EQ(port.setLineSettings({4800, 8, platform::Parity::None, platform::StopBits::Two}),
              Error::None);
    ASSERT_EQ(port.getLineSettings(line), Error::None);
    EXPECT_EQ(line.baudRate, 4800u);
    EXPECT_EQ(line.stopBits, platform::StopBits::Two);
    ASSERT_EQ(port.setLineSettings({9600, 8, platform::Parity::None, platform::StopBits::One}),
              Error::None);
    ASSERT_EQ(port.getLineSettings(line), Error::None);
    EXPECT_EQ(line.baudRate, 9600u);
    EXPECT_EQ(line.stopBits, platform::StopBits::One);

    platform::Timeouts timeouts;
    ASSERT_EQ(port.getTimeouts(timeouts), Error::None);
    EXPECT_EQ(timeouts.readInterval, 20u);
    EXPECT_EQ(timeouts.readTotalMultiplier, 8u);
    EXPECT_EQ(timeouts.readTotalConstant, 200u);
    EXPECT_EQ(timeouts.writeTotalMultiplier, WriteTotalMultiplier);
    EXPECT_EQ(timeouts.writeTotalConstant, WriteTotalConstant);
    ASSERT_EQ(port.setTimeouts({1, 2, 3, 4, 5}), Error::None);
    ASSERT_EQ(port.getTimeouts(timeouts), Error::None);
    EXPECT_EQ(timeouts.readInterval, 1u);
    EXPECT_EQ(timeouts.readTotalMultiplier, 2u);
    EXPECT_EQ(timeouts.readTotalConstant, 3u);
    EXPECT_EQ(timeouts.writeTotalMultiplier, 4u);
    EXPECT_EQ(timeouts.writeTotalConstant, 5u);
}

TEST_F(Win32Serial, TheReaderIdentifiesItselfThroughWriteFileAndReadFile) {
    OpenForExchange();
    const std::size_t before = sim.count("<- ");
    ASSERT_TRUE(QueryVersion());
    EXPECT_EQ(ReaderVersion, sim.id);
    const auto requests = sim.lines("<- ");
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back(), "<- QI<CR>");
}

TEST_F(Win32Serial, TheReplyRuleAndTheReadTimeOuts) {
    OpenForExchange();
    replyrules::Check([this](const std::string& fault) { return sim.command(fault); }, sim.id);
}

TEST_F(Win32Serial, AChipFrameTheReaderSendsOnItsOwnIsCollected) {
    OpenForExchange();
    ASSERT_TRUE(sim.command("0123456789ABCDEF"));
    ASSERT_TRUE(PollChip());
    EXPECT_EQ(ChipCode.str(), "0123456789AB");
    ASSERT_TRUE(RepeatRead());
    EXPECT_EQ(std::string(ChipChars.begin(), ChipChars.end()), "0123456789ABCDEF");
    EXPECT_EQ(sim.lines("<- ").back(), "<- *D0<CR>");
}

TEST_F(Win32Serial, ReaderCommandsGoOutAndTheirRepliesAreChecked) {
    OpenForExchange();
    EXPECT_TRUE(SendCommand(CommandLedOn));
    ASSERT_TRUE(sim.command("status"));
    EXPECT_NE(sim.status().find("LED on"), std::string::npos) << sim.status();
    EXPECT_TRUE(SendCommand(CommandBlock));
    ASSERT_TRUE(sim.command("status"));
    EXPECT_NE(sim.status().find("blocked yes"), std::string::npos) << sim.status();
    EXPECT_TRUE(SendCommand(CommandUnblock));
    EXPECT_TRUE(SendCommand(CommandLedOff));
    ASSERT_TRUE(sim.command("status"));
    EXPECT_EQ(sim.status().rfind("blocked no, LED off", 0), 0u) << sim.status();
}

TEST_F(Win32Serial, ClosePortReleasesThePortOnceAndTheSecondCallFails) {
    OpenForExchange();
    ASSERT_EQ(ports.opened, 1);
    // Lowering DTR and RTS fails on a line without them, so the close reports
    // false, but the port is released all the same.
    EXPECT_FALSE(ClosePort());
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_EQ(ports.closes, std::vector<Error>{Error::None}) << "CloseHandle released it";
    EXPECT_FALSE(ClosePort());
    EXPECT_EQ(ports.closes.size(), 1u) << "the second call closes nothing";
    EXPECT_FALSE(QueryVersion()) << "no request without an open port";
    // Released, the port opens again.
    OpenForExchange();
    EXPECT_EQ(ports.opened, 2);
    EXPECT_TRUE(QueryVersion());
}

TEST_F(Win32Serial, AClosedPortRefusesEveryCall) {
    OpenForExchange();
    platform::SerialPort& port = *PortHandle;
    ASSERT_EQ(port.close(), Error::None);
    EXPECT_EQ(port.close(), Error::Invalid);
    std::uint8_t byte = 0;
    std::size_t n = 1;
    EXPECT_EQ(port.read(&byte, 1, n), Error::Invalid);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(port.write(&byte, 1, n), Error::Invalid);
    platform::LineSettings line;
    EXPECT_EQ(port.getLineSettings(line), Error::Invalid);
    EXPECT_EQ(port.setEventMask(platform::EventCharReceived), Error::Invalid);
}

}  // namespace
