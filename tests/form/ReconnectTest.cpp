// The reader's line hangs up (a USB adapter pulled out): the next poll lets
// the port go and says so; about once a second the window tries the same
// port again, and when the reader answers, the readings go on where they
// stopped. An adapter with a stable name is looked for by that name instead,
// under whatever port number it comes back with.
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Drv232.h"
#include "FormTest.h"
#include "ReaderSimulator.h"
#include "Texts.h"
#include "fakes/FakeUdev.h"
#include "fakes/FakeWindow.h"
#include "fakes/TempDir.h"

namespace {

using formtest::DefaultSettings;
using formtest::Row;
using formtest::Strings;
using Requests = std::vector<std::string>;

const std::string Lost = "Reader on COM29 lost: waiting for it to come back";

class Reconnect : public formtest::FormTest {
  protected:
    // The reader comes back on the same COM<n>, on a new line.
    void Replug(const std::string& id = {}) {
        std::string error;
        ASSERT_TRUE(reader->replug(error, id)) << error;
        requestsBefore = reader->requests().size();
    }

    // What the reader was asked since it came back.
    Requests SinceReplug() const {
        const Requests all = reader->requests();
        return Requests(all.begin() + std::ptrdiff_t(requestsBefore), all.end());
    }

    std::size_t requestsBefore = 0;

    void ExpectLost() {
        EXPECT_EQ(Status(), Lost);
        EXPECT_EQ(window.statusColor(), LostBarColor);
        EXPECT_EQ(PortHandle, nullptr) << "a hung-up port keeps its device taken";
        EXPECT_FALSE(window.timerActive(Timer::Timer1));
        EXPECT_TRUE(window.timerActive(Timer::Timer3));
    }

    // One try to take the reader back; the events it caused.
    Strings Try() {
        events.clear();
        form.Timer3Timer();
        return events;
    }
};

TEST_F(Reconnect, AReaderPulledOutIsLostAtTheNextPollAndReadsOnWhenItComesBack) {
    TReaderSettings settings = DefaultSettings();
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    const Color designed = window.statusColor();
    const std::string caption = window.caption();
    ReadChip("0100000000000000");
    ASSERT_EQ(RunningOrder, 1u);

    // Pulled out between two polls: the next one finds the line gone.
    reader->unplug();
    form.Timer1Timer();
    ExpectLost();
    EXPECT_EQ(RunningOrder, 1u);
    EXPECT_EQ(window.errors, Strings{}) << "a lost reader is said on the status line only";

    // While it is away: a command fails with its own text; a try costs one
    // failed open and no pause, and the next try is a full second later.
    Click(Control::BitBtn1);
    EXPECT_EQ(Status(), "Error blocking the reader");
    EXPECT_EQ(window.statusColor(), LostBarColor);
    EXPECT_EQ(Try(), Strings{"open 29 failed"});
    EXPECT_TRUE(window.timerActive(Timer::Timer3));
    EXPECT_EQ(window.timerInterval(Timer::Timer3), 1000u);

    // Back on the same port: opened, the settle pause and one identification,
    // as in the start-up search; then the polls again, the counter going on.
    Replug();
    EXPECT_EQ((Try()), (Strings{"open 29 ok", "sleep 300"}));
    EXPECT_EQ(SinceReplug(), Requests{"QI\r"});
    EXPECT_EQ(Status(), "Connected device ZEVO1234 on port COM29");
    EXPECT_EQ(window.statusColor(), designed);
    EXPECT_EQ(window.caption(), caption);
    EXPECT_TRUE(window.timerActive(Timer::Timer1));
    EXPECT_FALSE(window.timerActive(Timer::Timer3));
    ReadChip("0200000000000000");
    EXPECT_EQ((SinceReplug()), (Requests{"QI\r", "QZ\r"}));
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_EQ(sound.beeps, 2);

    // Pulled out while a command waits for its reply: the command fails with
    // its text, and the poll after it lets the port go. It comes back as
    // another reader: the caption takes the new identification.
    reader->unplug();
    Click(Control::BitBtn3);
    EXPECT_EQ(Status(), "Error while turning on LEDs");
    form.Timer1Timer();
    ExpectLost();
    Replug("5678");
    Try();
    EXPECT_EQ(Status(), "Connected device ZEVO5678 on port COM29");
    EXPECT_EQ(window.caption(), "Chip Reader ZEVO5678");
    ReadChip("0300000000000000");

    // Every reading once: listed, logged, numbered on; the port kept.
    const Strings rows = Rows();
    EXPECT_EQ((Strings(rows.begin(), rows.begin() + 4)),
              (Strings{Row(1, "09:41:07", "010000000000"), Row(2, "09:41:07", "020000000000"),
                       Row(3, "09:41:07", "030000000000"), ""}));
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"),
              "1 09:41:07 010000000000\r\n2 09:41:07 020000000000\r\n3 09:41:07 030000000000\r\n");
    EXPECT_EQ(Settings.Port, 29);

    // Back once more, too slow for its first identification, and a chip
    // touched meanwhile: its frame came whole, so it waits for the reader.
    reader->unplug();
    form.Timer1Timer();
    Replug("5678");
    reader->setFaults({.lateMs = 400, .repliesOnly = true});
    reader->presentChipDuringNextRequest("0400000000000000");
    Try();
    ExpectLost();
    reader->setFaults({});
    ASSERT_TRUE(reader->waitIdle(2000));
    Try();
    ASSERT_EQ(Status(), "Connected device ZEVO5678 on port COM29");
    form.Timer1Timer();
    EXPECT_EQ(RunningOrder, 4u);
    EXPECT_EQ(Rows()[3], Row(4, "09:41:07", "040000000000"));
}

// A reader that never comes back: the window tries the same port once a
// second, on its virtual time, and End still saves and closes. (What the
// tries cost in CPU, the real program's, is bench/reconnect.cpp's figure.)
TEST_F(Reconnect, AReaderThatNeverComesBackIsTriedOnceASecondAndEndStillWorks) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    window.setTimerInterval(Timer::Timer1, 333);
    window.startTimer(Timer::Timer1);
    reader->unplug();
    ASSERT_TRUE(loop.runUntil([this] { return window.timerActive(Timer::Timer3); }, 2000));
    ExpectLost();

    serial.attempts.clear();
    loop.runFor(3500);
    EXPECT_EQ(serial.attempts, std::vector<int>(3, 29));

    Click(Control::BitBtn7);
    EXPECT_EQ(window.errors, Strings{"Error closing port"});
    EXPECT_TRUE(window.closed);
    EXPECT_FALSE(window.timerActive(Timer::Timer3));
    EXPECT_EQ(fakes::ReadFile(SettingsFileName).substr(0, 1), std::string(1, char(29)));
}

// ---- An adapter with a stable name (udev's /dev/serial/by-id, here the
// folder "serial/by-id" of the test's folder: tests/fakes/FakeUdev.h) ----

namespace fs = std::filesystem;

const fakes::UsbAdapter ReaderAdapter{"R1A2B3", 1};
const fakes::UsbAdapter SpareAdapter{"S9Y8X7", 2};

class ReconnectByName : public Reconnect {
  protected:
    void SetUp() override {
        Reconnect::SetUp();
        udev = std::make_unique<fakes::FakeUdev>(folder->path());
    }

    // The stable name of a line's adapter, as udev makes it when the adapter
    // is plugged in, and takes it away when it is pulled out.
    void Name(const sim::ReaderSimulator& line, const fakes::UsbAdapter& adapter) {
        udev->plug(line.devicePath(), adapter);
    }

    // The reader on COM29 behind a named adapter, found by the start-up.
    void StartWithNamedReader() {
        reader = &AddReader(29);
        Name(*reader, ReaderAdapter);
        ASSERT_NO_FATAL_FAILURE(Start(DefaultSettings()));
        ASSERT_NE(PortHandle, nullptr) << "the reader was not found";
        window.setTimerInterval(Timer::Timer1, 3600 * 1000);
        window.startTimer(Timer::Timer1);
    }

    // Its adapter pulled out; the next poll finds the line gone.
    void PullOut() {
        udev->unplug(reader->devicePath());
        reader->unplug();
        form.Timer1Timer();
    }

    // A device that is no reader: it answers nothing and keeps what it gets.
    sim::ReaderSimulator& AddOtherDevice(int port) {
        sim::ReaderSimulator& other = AddReader(port, "9999");
        sim::Faults silent;
        silent.silent = true;
        other.setFaults(silent);
        return other;
    }

    // The opens of a search from COM29 down: the ports that open get the
    // settle pause; it ends at `found`.
    static Strings Search(const std::set<int>& opening, int found = -1) {
        Strings events;
        for (int port = 29; port >= 0; --port) {
            const std::string open = "open " + std::to_string(port);
            if (opening.count(port) || port == found) {
                events.push_back(open + " ok");
                events.push_back("sleep 300");
            } else {
                events.push_back(open + " failed");
            }
            if (port == found)
                break;
        }
        return events;
    }

    std::unique_ptr<fakes::FakeUdev> udev;
};

// The adapter comes back under another number, because another device took
// its old one meanwhile. That device is never opened by the tries; only the
// one search, ten tries on, asks it once who it is. The adapter is found by
// its name under the new number, and the reader is taken back there.
TEST_F(ReconnectByName, ItsOldNumberIsLeftToTheDeviceThatTookItAndItIsTakenBackUnderItsNew) {
    ASSERT_NO_FATAL_FAILURE(StartWithNamedReader());
    const Color designed = window.statusColor();
    const std::string caption = window.caption();
    ReadChip("0100000000000000");
    PullOut();
    ExpectLost();

    sim::ReaderSimulator& other = AddOtherDevice(29);
    for (int attempt = 1; attempt < SearchAfterTries; ++attempt)
        EXPECT_EQ(Try(), Strings{}) << "try " << attempt;
    EXPECT_EQ(other.requests(), Requests{});
    EXPECT_EQ(Try(), Search({29}));
    EXPECT_EQ(other.requests(), Requests{"QI\r"});
    ExpectLost();
    for (int attempt = 0; attempt < 5; ++attempt)
        EXPECT_EQ(Try(), Strings{});

    reader = &AddReader(27);
    Name(*reader, ReaderAdapter);
    EXPECT_EQ(Try(), (Strings{"open 27 ok", "sleep 300"}));
    EXPECT_EQ(Status(), "Connected device ZEVO1234 on port COM27");
    EXPECT_EQ(window.statusColor(), designed);
    EXPECT_EQ(window.caption(), caption);
    EXPECT_EQ(Settings.Port, 27);
    EXPECT_TRUE(window.timerActive(Timer::Timer1));
    EXPECT_FALSE(window.timerActive(Timer::Timer3));
    ReadChip("0200000000000000");
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r"}));
    const Strings rows = Rows();
    EXPECT_EQ((Strings(rows.begin(), rows.begin() + 2)),
              (Strings{Row(1, "09:41:07", "010000000000"), Row(2, "09:41:07", "020000000000")}));
    EXPECT_EQ(other.requests(), Requests{"QI\r"});

    // End keeps the new number for the next start.
    Click(Control::BitBtn7);
    EXPECT_EQ(window.errors, Strings{});
    EXPECT_EQ(fakes::ReadFile(SettingsFileName).substr(0, 1), std::string(1, char(27)));
}

// Back under its own number, the adapter costs what it did without a name.
// Not back for ten tries: every port is tried once; after that, only a port
// that appears, a try later, when its device is ready: the devices already
// asked are not asked again. A reader found so, behind another adapter, is
// taken back there and known by that adapter's name from then on.
TEST_F(ReconnectByName, ThePortsAreSearchedOnceAndAgainOnlyWhenADeviceAppears) {
    ASSERT_NO_FATAL_FAILURE(StartWithNamedReader());
    PullOut();
    EXPECT_EQ(Try(), Strings{});
    Replug();
    Name(*reader, ReaderAdapter);
    EXPECT_EQ(Try(), (Strings{"open 29 ok", "sleep 300"}));
    EXPECT_EQ(SinceReplug(), Requests{"QI\r"});
    EXPECT_EQ(Status(), "Connected device ZEVO1234 on port COM29");

    PullOut();
    for (int attempt = 1; attempt < SearchAfterTries; ++attempt)
        EXPECT_EQ(Try(), Strings{}) << "try " << attempt;
    EXPECT_EQ(Try(), Search({}));
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_EQ(Try(), Strings{});

    sim::ReaderSimulator& other = AddOtherDevice(12);
    EXPECT_EQ(Try(), Strings{});
    EXPECT_EQ(Try(), (Strings{"open 12 ok", "sleep 300"}));
    EXPECT_EQ(other.requests(), Requests{"QI\r"});
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_EQ(Try(), Strings{});
    ExpectLost();

    reader = &AddReader(7);
    Name(*reader, SpareAdapter);
    EXPECT_EQ(Try(), Strings{});
    EXPECT_EQ(Try(), (Strings{"open 7 ok", "sleep 300"}));
    EXPECT_EQ(Status(), "Connected device ZEVO1234 on port COM7");
    EXPECT_EQ(Settings.Port, 7);
    EXPECT_EQ(other.requests(), Requests{"QI\r"});

    PullOut();
    EXPECT_EQ(Status(), "Reader on COM7 lost: waiting for it to come back");
    reader = &AddReader(8);
    Name(*reader, SpareAdapter);
    EXPECT_EQ(Try(), (Strings{"open 8 ok", "sleep 300"}));
    EXPECT_EQ(Status(), "Connected device ZEVO1234 on port COM8");

    // Taken back on a port the system has not named yet: its name, given a
    // poll later, is what finds it under its next number.
    PullOut();
    for (int attempt = 1; attempt <= SearchAfterTries; ++attempt)
        Try();
    reader = &AddReader(5);
    EXPECT_EQ(Try(), Strings{});
    EXPECT_EQ(Try(), (Strings{"open 5 ok", "sleep 300"}));
    EXPECT_EQ(Status(), "Connected device ZEVO1234 on port COM5");
    Name(*reader, SpareAdapter);
    form.Timer1Timer();
    PullOut();
    reader = &AddReader(3);
    Name(*reader, SpareAdapter);
    EXPECT_EQ(Try(), (Strings{"open 3 ok", "sleep 300"}));
    EXPECT_EQ(Status(), "Connected device ZEVO1234 on port COM3");
}

// The adapter back where no port number reaches it: the status line says
// where, standard error how to mend it, once; when the operator links its
// name as the port, the reader is taken back on that port.
TEST_F(ReconnectByName, BackWhereNoPortNumberReachesItIsSaidWithTheMend) {
    ASSERT_NO_FATAL_FAILURE(StartWithNamedReader());
    PullOut();
    sim::ReaderSimulator& back = AddReader(256);
    Name(back, ReaderAdapter);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Try(), Strings{});
    EXPECT_EQ(Try(), Strings{});
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Status(), "Reader on COM29 is back, but no port number reaches " + back.devicePath());
    EXPECT_EQ(window.statusColor(), LostBarColor);
    const std::string name = udev->byId(ReaderAdapter);
    EXPECT_EQ(said, texts::ReaderLinkHint + name + " COM29\n");

    fs::create_symlink(name, "COM29");
    EXPECT_EQ(Try(), (Strings{"open 29 ok", "sleep 300"}));
    EXPECT_EQ(Status(), "Connected device ZEVO1234 on port COM29");
    reader = &back;
    ReadChip("0300000000000000");
    EXPECT_EQ(RunningOrder, 1u);
}

}  // namespace
