#include "UiTestSupport.h"

#include <QEvent>
#include <QLabel>
#include <QObject>
#include <QTest>
#include <cstring>
#include <fstream>

#include "Drv232.h"
#include "MainWindow.h"

namespace uitest {

std::string RecordingSerial::deviceName(int n) {
    return platform::SystemSerial().deviceName(n);
}

std::unique_ptr<platform::SerialPort> RecordingSerial::open(int n, platform::Error& error) {
    journal_.attempts.push_back(n);
    std::unique_ptr<platform::SerialPort> port;
    if (auto made = madeHere.find(n); made != madeHere.end()) {
        port = made->second();
        error = port ? platform::Error::None : platform::Error::NotFound;
    } else {
        port = platform::SystemSerial().open(n, error);
    }
    journal_.events.push_back("open " + std::to_string(n) + (port ? " ok" : " failed"));
    return port;
}

platform::LocalTime RecordingClock::localTime() {
    return platform::SystemClock().localTime();
}
std::uint64_t RecordingClock::monotonicMs() {
    return platform::SystemClock().monotonicMs();
}
std::uint64_t RecordingClock::highResolutionCounter() {
    return platform::SystemClock().highResolutionCounter();
}
void RecordingClock::sleepMs(unsigned ms) {
    journal_.sleeps.push_back(ms);
    journal_.events.push_back("sleep " + std::to_string(ms));
    platform::SystemClock().sleepMs(ms);
}

std::string SettingsBytes(const TReaderSettings& settings) {
    std::string bytes(sizeof settings, '\0');
    std::memcpy(bytes.data(), &settings, sizeof settings);
    return bytes;
}

void WriteSettingsFile(const TReaderSettings& settings) {
    const std::string bytes = SettingsBytes(settings);
    std::ofstream(SettingsFileName, std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size()));
}

TReaderSettings DefaultSettings() {
    TReaderSettings s{};
    s.Port = 29;
    s.AutoLedOff = true;
    s.SoundSignal = true;
    return s;
}

void ResetProgramState() {
    ClosePort();
    PortHandle.reset();
    Settings = TReaderSettings{};
    RunningOrder = 0;
    ReaderVersion.clear();
    DisplayRow = 0;
    DemoStopped = false;
    SavedBarColor = QColor();
}

bool ShowAndStart(TForm1& form, int timeoutMs) {
    form.show();
    form.activateWindow();
    return QTest::qWaitFor([&] { return form.StartupDone(); }, timeoutMs);
}

struct StatusWatch::Filter : QObject {
    explicit Filter(StatusWatch& watch) : watch_(watch) {}
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            watch_.painted.append(static_cast<QLabel*>(watched)->text());
        return false;
    }
    StatusWatch& watch_;
};

StatusWatch::StatusWatch(TForm1& form) : filter_(std::make_unique<Filter>(*this)) {
    form.StatusPanel->installEventFilter(filter_.get());
    QObject::connect(&form, &TForm1::statusTextChanged, filter_.get(),
                     [this](const QString& text) { set.append(text); });
}

StatusWatch::~StatusWatch() = default;

}  // namespace uitest
