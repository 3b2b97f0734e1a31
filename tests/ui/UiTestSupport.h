// What the window tests share: the system's serial ports and clock with every
// open attempt and pause written down, settings files, the status line's
// texts, the program-wide state put back between tests, a sound and a
// keyboard that only write down what they are asked, an operator who answers
// modal windows, and a window started in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "Clock.h"
#include "Global.h"
#include "Keyboard.h"
#include "ProgramState.h"
#include "SerialPort.h"
#include "Sound.h"
#include "fakes/FakeClock.h"

class QWidget;
class TForm1;

namespace fakes {
class TempWorkDir;
}
namespace sim {
class ReaderSimulator;
}

// Test messages show texts as texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace uitest {

// What happened below the window, in order: "open 7 ok", "open 6 failed",
// "sleep 300".
struct Journal {
    std::vector<std::string> events;
    std::vector<int> attempts;  // the port of every open attempt
    std::vector<unsigned> sleeps;
};

// The operating system's serial ports, writing every open attempt down.
class RecordingSerial final : public platform::SerialPorts {
  public:
    explicit RecordingSerial(Journal& journal) : journal_(journal) {}
    std::string deviceName(int n) override;
    std::unique_ptr<platform::SerialPort> open(int n, platform::Error& error) override;

    // Ports that are made here instead of being opened on the system.
    std::map<int, std::function<std::unique_ptr<platform::SerialPort>()>> madeHere;

  private:
    Journal& journal_;
};

// The operating system's clock, writing every pause down (and pausing).
class RecordingClock final : public platform::Clock {
  public:
    explicit RecordingClock(Journal& journal) : journal_(journal) {}
    platform::LocalTime localTime() override;
    std::uint64_t monotonicMs() override;
    std::uint64_t highResolutionCounter() override;
    void sleepMs(unsigned ms) override;

  private:
    Journal& journal_;
};

// The bytes of a settings record.
std::string SettingsBytes(const TReaderSettings& settings);
void WriteSettingsFile(const TReaderSettings& settings);

// A settings record as the program writes it by default.
TReaderSettings DefaultSettings();

// Shows the window and waits until its start-up sequence has run.
bool ShowAndStart(TForm1& form, int timeoutMs = 10000);

// The texts the status line took, and the texts it was painted with.
class StatusWatch {
  public:
    explicit StatusWatch(TForm1& form);
    ~StatusWatch();
    QStringList set;
    QStringList painted;

  private:
    struct Filter;
    std::unique_ptr<Filter> filter_;
};

// The information sound, counted instead of heard.
class CountingSound final : public platform::Sound {
  public:
    int beeps = 0;
    void information() override { ++beeps; }
};

// A keyboard that writes down the keys instead of pressing them; with
// `available` clear it is one that cannot type at all.
class RecordingKeyboard final : public platform::Keyboard {
  public:
    bool available = true;
    int begins = 0;
    int ends = 0;
    std::vector<std::pair<std::uint8_t, bool>> keys;  // key, released

    platform::Error begin() override;
    platform::Error key(std::uint8_t virtualKey, bool up) override;
    void end() override;

    // What the keys pressed would put into a text field: digits and capitals
    // as themselves, space, the keypad minus as "-", Enter as a line break;
    // Shift adds nothing, any other key shows as "?".
    std::string typedText() const;
    // The keys pressed and not released again.
    std::vector<std::uint8_t> keysStillDown() const;
};

// An operator who answers the modal windows that open while it lives: it
// writes each one down and closes it (an error box with its "OK" button) as
// soon as `closeWhen` holds. `closeWhen` is asked every few milliseconds
// while the window is open, so it can also act meanwhile; without it every
// window is closed at once. After `giveUpMs` a window is closed anyway.
class ModalAnswerer {
  public:
    using Condition = std::function<bool(QWidget* modal)>;
    explicit ModalAnswerer(Condition closeWhen = {}, int giveUpMs = 15000);
    ~ModalAnswerer();
    ModalAnswerer(const ModalAnswerer&) = delete;
    ModalAnswerer& operator=(const ModalAnswerer&) = delete;

    // A message box's text, another window's caption, one for every window.
    QStringList texts;
    std::vector<QPointer<QWidget>> windows;
    bool gaveUp = false;

  private:
    void look();
    Condition closeWhen_;
    int giveUpMs_;
    QTimer timer_;
    QPointer<QWidget> current_;
    QElapsedTimer openFor_;
};

// Runs the application's event loop, as the program does, with `action` as
// the first thing it does. True when the loop ended by itself (the program
// ended) within `timeoutMs`; false when it had to be stopped.
bool EndsTheProgram(const std::function<void()>& action, int timeoutMs = 15000);

// The main window in a fresh working folder, with a clock that stands at
// 7 March 2026, 09:41:07 and whose pauses take no time, a counting sound, a
// recording keyboard, and a simulated reader when one is asked for.
class WindowTest : public ::testing::Test {
  protected:
    WindowTest();
    ~WindowTest() override;
    void SetUp() override;
    void TearDown() override;

    // Writes the settings file, puts a simulated reader on the port it names
    // and starts the window, which finds the reader there. Timer1 is slowed
    // down so that only the test runs the reading cycle, by ReadChip.
    void StartWithReader(TReaderSettings settings = DefaultSettings());
    // Writes the settings file and starts the window with no reader anywhere.
    void StartWithoutReader(TReaderSettings settings = DefaultSettings());

    // The reader sends the chip's frame; once it is on the line, one run of
    // the reading cycle takes it.
    void ReadChip(const std::string& code);

    bool Shown(const QWidget* w) const;
    bool LampOn() const;   // the LED-on picture shown, the LED-off one hidden
    bool LampOff() const;  // the other way round
    // The texts of rows 0 to 30 of the list.
    QStringList Rows() const;

    // A list row as a reading writes it.
    static QString Row(std::uint32_t order, const char* time, const std::string& code);

    fakes::FakeClock clock;
    CountingSound sound;
    RecordingKeyboard keyboard;
    std::unique_ptr<fakes::TempWorkDir> folder;
    std::unique_ptr<sim::ReaderSimulator> reader;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<StatusWatch> watch;

  private:
    void Start(const TReaderSettings& settings);
};

}  // namespace uitest
