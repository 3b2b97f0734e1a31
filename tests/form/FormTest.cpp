#include "FormTest.h"

#include <cstring>
#include <fstream>

#include "Drv232.h"
#include "ReaderSimulator.h"
#include "ReadingList.h"
#include "fakes/ProgramState.h"
#include "fakes/SimulatedReader.h"
#include "fakes/TempDir.h"

namespace formtest {

std::string RecordingSerial::deviceName(int n) {
    return platform::SystemSerial().deviceName(n);
}

std::unique_ptr<platform::SerialPort> RecordingSerial::open(int n, platform::Error& error) {
    attempts.push_back(n);
    std::unique_ptr<platform::SerialPort> port;
    if (auto no = refused.find(n); no != refused.end()) {
        error = no->second;
    } else if (auto made = madeHere.find(n); made != madeHere.end()) {
        port = made->second();
        error = port ? platform::Error::None : platform::Error::NotFound;
    } else {
        port = platform::SystemSerial().open(n, error);
    }
    if (events)
        events->push_back("open " + std::to_string(n) + (port ? " ok" : " failed"));
    return port;
}

platform::Whereabouts RecordingSerial::locate(const std::string& identity, int preferred) {
    return platform::SystemSerial().locate(identity, preferred);
}

bool RecordingSerial::present(int n) {
    return platform::SystemSerial().present(n);
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

std::string Row(std::uint32_t order, const char* time, const std::string& code) {
    return std::to_string(order) + std::string(7, ' ') + time + std::string(6, ' ') + code;
}

FormTest::FormTest() = default;
FormTest::~FormTest() = default;

void FormTest::SetUp() {
    fakes::ResetProgramState();
    folder = std::make_unique<fakes::TempWorkDir>();
    // Nothing but the COM<n> links of the folder counts as a port.
    platform::LimitToLinkedPorts(true);
    platform::UseDeviceFolders((folder->path() / "serial").string(),
                               (folder->path() / "sys").string());
    serial.events = &events;
    clock.journal = &events;
    platform::UseSerial(&serial);
    platform::UseClock(&clock);
    platform::UseSound(&sound);
    platform::UseKeyboard(&keyboard);
    window.attach(form);
}

void FormTest::TearDown() {
    ClosePort();
    readers.clear();
    fakes::ResetProgramState();
    folder.reset();
}

sim::ReaderSimulator& FormTest::AddReader(int port, const std::string& id) {
    readers.push_back(fakes::StartReader(folder->path(), port, fakes::Pace::Whole, id));
    return *readers.back();
}

void FormTest::Start(const TReaderSettings& settings) {
    WriteSettingsFile(settings);
    window.activate();
    ASSERT_TRUE(form.StartupDone()) << "the start-up did not run";
}

void FormTest::StartWithReader(TReaderSettings settings) {
    reader = &AddReader(settings.Port);
    ASSERT_NO_FATAL_FAILURE(Start(settings));
    ASSERT_NE(PortHandle, nullptr) << "the reader was not found";
    // Only the test runs the reading cycle, by ReadChip.
    window.setTimerInterval(Timer::Timer1, 3600 * 1000);
    window.startTimer(Timer::Timer1);
}

void FormTest::StartWithoutReader(TReaderSettings settings) {
    ASSERT_NO_FATAL_FAILURE(Start(settings));
    ASSERT_TRUE(DemoStopped) << "a reader was found";
}

void FormTest::ReadChip(const std::string& code) {
    reader->presentChip(code);
    ASSERT_TRUE(reader->waitIdle(5000)) << "the frame did not leave the reader";
    form.Timer1Timer();
}

void FormTest::LeaveOrderField(const std::string* text) {
    window.moveFocus(Control::Edit1);
    if (text)
        window.type(Control::Edit1, *text);
    window.moveFocus(Control::BitBtn1);
}

Strings FormTest::Rows() const {
    Strings rows;
    for (int row = 0; row < readinglist::RowCount; ++row)
        rows.push_back(form.ReadRow(row));
    return rows;
}

}  // namespace formtest
