// What the form's tests share: the main window's behaviour on the fake window
// system, in a working folder of its own, with the real serial code against a
// simulated reader; a clock that stands at 7 March 2026, 09:41:07, whose
// pauses take no time and whose monotonic time is the window's virtual time
// (its timers wait for nothing); a counting sound; a keyboard that writes its
// keys down; and the system's serial ports with every open attempt written
// down, whose stable device names and USB devices are those of the folders
// "serial" and "sys" there (tests/fakes/FakeUdev.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Clock.h"
#include "Global.h"
#include "Keyboard.h"
#include "Layout.h"
#include "MainWindow.h"
#include "SerialPort.h"
#include "Sound.h"
#include "fakes/CountingSound.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeWindow.h"
#include "fakes/RecordingKeyboard.h"

namespace fakes {
class TempWorkDir;
}
namespace sim {
class ReaderSimulator;
struct Faults;
}  // namespace sim

namespace formtest {

using Strings = std::vector<std::string>;

// The operating system's serial ports, writing every open attempt down:
// "open 7 ok", "open 6 failed"; the clock's pauses go there too ("sleep 300").
class RecordingSerial final : public platform::SerialPorts {
  public:
    std::string deviceName(int n) override;
    std::unique_ptr<platform::SerialPort> open(int n, platform::Error& error) override;
    platform::Whereabouts locate(const std::string& identity, int preferred) override;
    bool present(int n) override;

    std::vector<std::string>* events = nullptr;
    std::vector<int> attempts;  // the port of every open attempt
    // Ports that are made here instead of being opened on the system, and
    // ports that refuse to open with the error given.
    std::map<int, std::function<std::unique_ptr<platform::SerialPort>()>> madeHere;
    std::map<int, platform::Error> refused;
};

// The information sound, counted instead of heard.
using fakes::CountingSound;

using fakes::RecordingKeyboard;

// The bytes of a settings record; the file; the record as written by default.
std::string SettingsBytes(const TReaderSettings& settings);
void WriteSettingsFile(const TReaderSettings& settings);
TReaderSettings DefaultSettings();

// A list row as a reading writes it.
std::string Row(std::uint32_t order, const char* time, const std::string& code);

class FormTest : public ::testing::Test {
  protected:
    FormTest();
    ~FormTest() override;
    void SetUp() override;
    void TearDown() override;

    // Writes the settings file and shows the window, which runs the start-up.
    void Start(const TReaderSettings& settings);
    // A simulated reader on the port the settings name, found by the start-up.
    void StartWithReader(TReaderSettings settings = DefaultSettings());
    // No reader anywhere.
    void StartWithoutReader(TReaderSettings settings = DefaultSettings());
    // Another simulated reader, published as COM<port> in the folder.
    sim::ReaderSimulator& AddReader(int port, const std::string& id = "1234");

    // The reader sends the chip's frame; once it is on the line, one run of
    // the reading cycle takes it.
    void ReadChip(const std::string& code);
    // The operator clicks a control.
    void Click(Control c) { window.click(c); }
    // The operator puts the caret into the order field, types `text` over
    // what it shows (or leaves it) and moves on to the next control.
    void LeaveOrderField(const std::string* text);

    bool Shown(Control c) const { return window.shown(c); }
    bool LampOn() const { return Shown(Control::Image2) && !Shown(Control::Image1); }
    bool LampOff() const { return Shown(Control::Image1) && !Shown(Control::Image2); }
    std::string Status() const { return window.status(); }
    std::string FieldText() const { return window.text(Control::Edit1); }
    Strings Rows() const;  // rows 0 to 30 of the list

    fakes::FakeClock clock;
    CountingSound sound;
    RecordingKeyboard keyboard;
    RecordingSerial serial;
    std::vector<std::string> events;  // opens and pauses, in order
    std::unique_ptr<fakes::TempWorkDir> folder;
    std::vector<std::unique_ptr<sim::ReaderSimulator>> readers;
    sim::ReaderSimulator* reader = nullptr;  // the one StartWithReader made
    fakes::EventLoop loop{&clock};           // on the clock's virtual time
    fakes::FakeWindow window{loop};
    TForm1 form{window};
};

}  // namespace formtest
