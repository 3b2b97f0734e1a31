// What the window tests share: the system's serial ports and clock with every
// open attempt and pause written down, settings files, the status line's
// texts, and the program-wide state put back between tests.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Clock.h"
#include "Global.h"
#include "SerialPort.h"

class TForm1;

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

// The program-wide state as a process has it when it starts.
void ResetProgramState();

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

}  // namespace uitest
