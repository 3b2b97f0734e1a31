#include "UiTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <fstream>

#include "Drv232.h"
#include "MainWindow.h"
#include "ReaderSimulator.h"
#include "ReadingList.h"
#include "fakes/TempDir.h"

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

// ---- Sound and keyboard ----

platform::Error RecordingKeyboard::begin() {
    ++begins;
    return available ? platform::Error::None : platform::Error::NotSupported;
}

platform::Error RecordingKeyboard::key(std::uint8_t virtualKey, bool up) {
    keys.emplace_back(virtualKey, up);
    return platform::Error::None;
}

void RecordingKeyboard::end() {
    ++ends;
}

std::string RecordingKeyboard::typedText() const {
    std::string text;
    for (const auto& [k, up] : keys) {
        if (up || k == 0x10)  // releases, and Shift
            continue;
        if ((k >= '0' && k <= '9') || (k >= 'A' && k <= 'Z'))
            text += char(k);
        else if (k == 0x20)
            text += ' ';
        else if (k == 0x6D)
            text += '-';
        else if (k == 0x0D)
            text += '\n';
        else
            text += '?';
    }
    return text;
}

std::vector<std::uint8_t> RecordingKeyboard::keysStillDown() const {
    std::vector<std::uint8_t> down;
    for (const auto& [k, up] : keys) {
        std::erase(down, k);
        if (!up)
            down.push_back(k);
    }
    return down;
}

// ---- The operator at modal windows ----

ModalAnswerer::ModalAnswerer(Condition closeWhen, int giveUpMs)
    : closeWhen_(std::move(closeWhen)), giveUpMs_(giveUpMs) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
    timer_.start();
}

ModalAnswerer::~ModalAnswerer() = default;

void ModalAnswerer::look() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (modal != current_) {
        current_ = modal;
        windows.emplace_back(modal);
        auto* box = qobject_cast<QMessageBox*>(modal);
        texts << (box ? box->text() : modal->windowTitle());
        openFor_.start();
    }
    const bool done = !closeWhen_ || closeWhen_(modal);
    if (!done && openFor_.elapsed() < giveUpMs_)
        return;
    gaveUp = gaveUp || !done;
    if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->defaultButton())
        box->defaultButton()->click();
    else if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

bool EndsTheProgram(const std::function<void()>& action, int timeoutMs) {
    bool stopped = false;
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        stopped = true;
        QCoreApplication::exit(1);
    });
    stop.start(timeoutMs);
    QTimer::singleShot(0, qApp, action);
    const int code = QApplication::exec();
    return !stopped && code == 0;
}

// ---- A window in a folder of its own ----

WindowTest::WindowTest() = default;
WindowTest::~WindowTest() = default;

void WindowTest::SetUp() {
    ResetProgramState();
    folder = std::make_unique<fakes::TempWorkDir>();
    platform::LimitToLinkedPorts(true);
    platform::UseClock(&clock);
    platform::UseSound(&sound);
    platform::UseKeyboard(&keyboard);
}

void WindowTest::TearDown() {
    watch.reset();
    form.reset();
    ClosePort();
    reader.reset();
    platform::UseKeyboard(nullptr);
    platform::UseSound(nullptr);
    platform::UseClock(nullptr);
    platform::LimitToLinkedPorts(false);
    folder.reset();
}

void WindowTest::Start(const TReaderSettings& settings) {
    WriteSettingsFile(settings);
    form = std::make_unique<TForm1>();
    watch = std::make_unique<StatusWatch>(*form);
    ASSERT_TRUE(ShowAndStart(*form)) << "the start-up did not run";
}

void WindowTest::StartWithReader(TReaderSettings settings) {
    sim::Options options;
    options.folder = folder->path().string();
    options.port = settings.Port;
    // Each frame goes out in one piece: a frame paced byte by byte could
    // arrive just as a poll times out and be split between two polls.
    options.byteMicros = 0;
    reader = std::make_unique<sim::ReaderSimulator>(options);
    std::string error;
    ASSERT_TRUE(reader->start(error)) << error;
    ASSERT_NO_FATAL_FAILURE(Start(settings));
    ASSERT_NE(PortHandle, nullptr) << "the reader was not found";
    form->Timer1->setInterval(3600 * 1000);
    form->Timer1->start();
}

void WindowTest::StartWithoutReader(TReaderSettings settings) {
    ASSERT_NO_FATAL_FAILURE(Start(settings));
    ASSERT_TRUE(DemoStopped) << "a reader was found";
}

void WindowTest::ReadChip(const std::string& code) {
    reader->presentChip(code);
    ASSERT_TRUE(reader->waitIdle(5000)) << "the frame did not leave the reader";
    form->Timer1Timer();
}

bool WindowTest::Shown(const QWidget* w) const {
    return w->isVisibleTo(form.get());
}

bool WindowTest::LampOn() const {
    return Shown(form->Image2) && !Shown(form->Image1);
}

bool WindowTest::LampOff() const {
    return Shown(form->Image1) && !Shown(form->Image2);
}

QStringList WindowTest::Rows() const {
    QStringList rows;
    for (int row = 0; row < readinglist::RowCount; ++row)
        rows << form->ReadRow(row);
    return rows;
}

QString WindowTest::Row(std::uint32_t order, const char* time, const std::string& code) {
    return QString::number(order) + QString(7, QLatin1Char(' ')) + QString::fromLatin1(time) +
           QString(6, QLatin1Char(' ')) + QString::fromStdString(code);
}

}  // namespace uitest
