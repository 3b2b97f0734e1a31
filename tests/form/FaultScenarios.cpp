#include "FaultScenarios.h"

#include <sys/resource.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "Drv232.h"
#include "Global.h"
#include "MainWindow.h"
#include "ReaderSimulator.h"
#include "SerialPort.h"
#include "Sound.h"
#include "fakes/TempDir.h"
#include "ui/ProgramState.h"

namespace faults {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int ReaderPort = 3;
// The order number in the settings file at start: the first reading is 41.
constexpr std::uint32_t FirstOrder = 40;
// Without CRC digits the list shows the first 12 characters of a code.
constexpr std::size_t ListedLength = 12;
// A poll of an empty line waits its whole time-out (328 ms); one that found
// bytes ends 20 ms after the last of them.
constexpr auto EmptyPoll = std::chrono::milliseconds(250);
// What the window and the reader get to do a single step.
constexpr int StepMs = 5000;

// A chip code of 16 characters, different for every n, with no "A" in it: a
// frame read from its middle then never starts with the frame's first byte.
std::string Code(int n) {
    const unsigned two = unsigned(n) % 100;
    return std::string{char('0' + two / 10), char('0' + two % 10)} + "0000B1C2D3E4F5";
}

std::string Listed(const std::string& code) {
    return code.substr(0, ListedLength);
}

// Bytes for messages: control bytes as <hex>.
std::string Shown(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            out += hex;
        }
    }
    return out;
}

std::string Shown(const QString& text) {
    return Shown(text.toLatin1().toStdString());
}

// Filler for garbage: the same bytes every run, never "A" or CR.
std::string Filler(std::size_t count, std::uint32_t seed) {
    std::string bytes;
    std::uint32_t x = seed;
    while (bytes.size() < count) {
        x = x * 1664525u + 1013904223u;
        const char c = char(x >> 24);
        if (c != 'A' && c != '\r')
            bytes += c;
    }
    return bytes;
}

double CpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

double Ms(SteadyClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

class SilentSound final : public platform::Sound {
  public:
    void information() override {}
};

// One case: the main window in a fresh folder against a fresh simulated
// reader, with the instruments that watch it.
class Rig final : public QObject {
  public:
    explicit Rig(Outcome& out) : out_(out) {}

    ~Rig() override {
        probe_.stop();
        for (std::thread& t : helpers_)
            t.join();
        form.reset();
        ClosePort();
        reader.reset();
        platform::UseSound(nullptr);
        platform::LimitToLinkedPorts(false);
    }

    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void Check(bool condition, const std::string& what) {
        if (!condition)
            out_.problems.push_back(what);
    }

    bool WaitFor(const std::function<bool()>& condition, int timeoutMs = StepMs) {
        return QTest::qWaitFor(condition, timeoutMs);
    }

    // The reader on its port, a settings file that names that port, and the
    // window started: it must find the reader and begin polling.
    bool Start() {
        uitest::ResetProgramState();
        platform::LimitToLinkedPorts(true);
        platform::UseSound(&sound_);

        sim::Options options;
        options.folder = folder_.path().string();
        options.port = ReaderPort;
        // A frame goes out in one piece, so it is never split between two
        // polls by chance: every misaligned read below is the fault's doing.
        options.byteMicros = 0;
        reader = std::make_unique<sim::ReaderSimulator>(options);
        std::string error;
        if (!reader->start(error)) {
            Check(false, "the simulated reader did not start: " + error);
            return false;
        }

        Settings = TReaderSettings{};
        Settings.Port = ReaderPort;
        Settings.AutoLedOff = true;
        Settings.SaveOnDisk = true;
        Settings.SoundSignal = false;
        Settings.OrderNumber = FirstOrder;
        Check(SaveSettings(), "the settings file could not be written");
        Settings = TReaderSettings{};

        form = std::make_unique<TForm1>();
        form->Timer1->installEventFilter(this);
        // Connected after the window's own handler: runs when a poll has ended.
        connect(form->Timer1, &QTimer::timeout, this, [this] { PollEnded(); });
        connect(form.get(), &TForm1::statusTextChanged, this,
                [this](const QString& text) { out_.statusTexts << text; });
        form->show();
        form->activateWindow();
        if (!WaitFor([this] { return form->StartupDone(); }, 10000)) {
            Check(false, "the window's start-up did not run");
            return false;
        }
        if (!PortHandle || !form->Timer1->isActive()) {
            Check(false, "the window did not connect to the reader");
            return false;
        }

        probe_.setTimerType(Qt::PreciseTimer);
        probe_.setInterval(10);
        connect(&probe_, &QTimer::timeout, this, [this] {
            out_.longestGapMs = std::max(out_.longestGapMs, double(sinceTick_.restart()));
        });
        sinceTick_.start();
        probe_.start();
        return true;
    }

    // ---- The reader's side ----

    // A chip whose frame must reach the program whole and be read.
    void Present(const std::string& code) {
        readable_.push_back(Listed(code));
        reader->presentChip(code);
    }

    // A good chip that a step below presents from another thread.
    void WillPresent(const std::string& code) {
        readable_.push_back(Listed(code));
        mustRead_.push_back(Listed(code));
    }

    // A chip whose frame the fault in force damages: it must not be read.
    void PresentDamaged(const std::string& code) { reader->presentChip(code); }

    void SetFaults(const sim::Faults& faults) { reader->setFaults(faults); }

    // The reader presents a good chip and the program must read it: one
    // reading more. The wait ends after the whole reading cycle, the
    // automatic LED-off included.
    void ReadGood(const std::string& code) {
        const std::uint32_t before = RunningOrder;
        Present(code);
        mustRead_.push_back(Listed(code));
        if (!WaitFor([&] { return RunningOrder != before; })) {
            Check(false, "the good frame of " + code + " was not read");
            return;
        }
        Check(RunningOrder == before + 1, "one frame of " + code + " gave " +
                                              std::to_string(RunningOrder - before) + " readings");
    }

    // Runs `work` on a thread of its own, so that the window's event loop
    // goes on meanwhile (the reader's hang-up waits for the line to close).
    void InBackground(std::function<void()> work) {
        helpers_.emplace_back([this, work = std::move(work)] {
            work();
            ++helpersDone_;
        });
    }

    bool BackgroundDone() const { return helpersDone_ == int(helpers_.size()); }

    void WaitBackground() {
        Check(WaitFor([this] { return BackgroundDone(); }, 10000),
              "a step in the background did not finish");
    }

    std::size_t Requests() const { return reader->requests().size(); }

    // ---- The program's side ----

    // Runs `action` on the UI thread as the next poll begins, or right
    // after the next poll has ended (before the 333 ms pause to the next).
    void AtNextPollStart(std::function<void()> action) { atPollStart_ = std::move(action); }
    void AtNextPollEnd(std::function<void()> action) { atPollEnd_ = std::move(action); }

    bool WaitPollHooks() {
        return WaitFor([this] { return !atPollStart_ && !atPollEnd_; });
    }

    std::size_t Polls() const { return polls_.size(); }

    // Waits for `count` more polls to end.
    void WaitPolls(std::size_t count) {
        const std::size_t target = Polls() + count;
        Check(WaitFor([&] { return Polls() >= target; }),
              "the polls stopped: " + std::to_string(Polls()) + " of " + std::to_string(target));
    }

    // Waits until everything the reader sent has gone out and a poll that
    // began afterwards found the line empty: what was on it has been taken.
    void WaitDrained() {
        if (!WaitFor([this] { return reader->waitIdle(0); })) {
            Check(false, "the reader did not finish sending");
            return;
        }
        const auto sent = SteadyClock::now();
        Check(WaitFor([&] {
                  return std::any_of(polls_.begin(), polls_.end(), [&](const Poll& p) {
                      return p.start >= sent && p.end - p.start >= EmptyPoll;
                  });
              }),
              "no poll found the line empty after the reader stopped sending");
    }

    // The operator clicks a button (the click goes through the event loop);
    // the status line must then show `expected`.
    void Click(QAbstractButton* button, const QString& expected) {
        const qsizetype before = out_.statusTexts.size();
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        if (!WaitFor([&] { return out_.statusTexts.size() > before; })) {
            Check(false, "\"" + button->text().toStdString() + "\" showed nothing");
            return;
        }
        ExpectStatus(expected);
    }

    void ExpectStatus(const QString& expected) {
        const QString now = form->StatusText();
        Check(now == expected,
              "status line \"" + Shown(now) + "\", expected \"" + Shown(expected) + "\"");
    }

    bool LampOn() const { return Visible(form->Image2) && !Visible(form->Image1); }
    bool LampOff() const { return Visible(form->Image1) && !Visible(form->Image2); }

    std::uint32_t Readings() const { return RunningOrder - FirstOrder; }

    void ExpectReadings(std::uint32_t expected, const std::string& when) {
        Check(Readings() == expected, when + ": " + std::to_string(Readings()) +
                                          " readings counted, expected " +
                                          std::to_string(expected));
    }

    // The line is left alone for `ms`: the process must use next to no CPU,
    // and the window must go on polling.
    void Quiet(int ms) {
        const std::size_t pollsBefore = Polls();
        const double cpuBefore = CpuSeconds();
        const auto start = SteadyClock::now();
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        const double wallMs = Ms(SteadyClock::now() - start);
        out_.quietMs = ms;
        out_.quietCpuPercent = 100.0 * (CpuSeconds() - cpuBefore) * 1000.0 / wallMs;
        std::ostringstream cpu;
        cpu.precision(2);
        cpu << std::fixed << out_.quietCpuPercent;
        Check(out_.quietCpuPercent < MaxQuietCpuPercent,
              "CPU " + cpu.str() + " % while the line was " + (out_.lineDead ? "dead" : "silent"));
        // A cycle is 333 ms plus at most the poll's 328 ms time-out.
        const std::size_t polled = Polls() - pollsBefore;
        Check(form->Timer1->isActive() && polled + 1 >= std::size_t(ms / 700),
              "the window stopped polling: " + std::to_string(polled) + " polls in " +
                  std::to_string(ms) + " ms");
    }

    // Every reading in the list and in the day's log is one of the good
    // frames presented, in order, numbered on from the stored order number;
    // the ones that had to be read are all there, and the counter counts
    // exactly these.
    void CheckReadings() {
        std::vector<std::string> listed;
        for (int row = 0; row <= 30; ++row) {
            const QString text = form->ReadRow(row);
            if (text.isEmpty())
                break;
            const QStringList fields = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const std::string order = std::to_string(FirstOrder + 1 + listed.size());
            if (fields.size() != 3 || fields[0].toStdString() != order) {
                Check(false, "list row " + std::to_string(row) + " \"" + Shown(text) +
                                 "\" is not reading " + order);
                continue;
            }
            listed.push_back(fields[2].toStdString());
        }
        std::string logged;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("ZV") && name.ends_with(".txt"))
                logged += fakes::ReadFile(entry.path());
        }
        std::vector<std::string> logCodes;
        std::istringstream lines(logged);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string order, time, code;
            fields >> order >> time >> code;
            if (order != std::to_string(FirstOrder + 1 + logCodes.size()))
                Check(false, "log line \"" + Shown(line) + "\" out of order");
            logCodes.push_back(code);
        }

        Check(Readings() == listed.size(), std::to_string(Readings()) + " readings counted, " +
                                               std::to_string(listed.size()) + " listed");
        Check(logCodes == listed,
              std::to_string(logCodes.size()) + " readings logged, not the ones listed");
        for (const std::string& code : listed)
            Check(std::find(readable_.begin(), readable_.end(), code) != readable_.end(),
                  "a reading \"" + Shown(code) + "\" that no good frame carried");
        auto next = listed.begin();
        for (const std::string& code : mustRead_) {
            next = std::find(next, listed.end(), code);
            if (next == listed.end()) {
                Check(false, "the reading of " + code + " is missing from the list");
                break;
            }
            ++next;
        }
        out_.readings = Readings();
    }

    // The operator clicks End: the program must close the port (showing
    // `expectedBoxes` on the way), save the settings and end.
    void End(const QStringList& expectedBoxes) {
        QTimer operatorAtBoxes;
        operatorAtBoxes.setInterval(5);
        QPointer<QWidget> current;
        connect(&operatorAtBoxes, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box || box == current)
                return;
            current = box;
            out_.boxes << box->text();
            if (box->defaultButton())
                box->defaultButton()->click();
        });
        operatorAtBoxes.start();
        bool stopped = false;
        QTimer stop;
        stop.setSingleShot(true);
        connect(&stop, &QTimer::timeout, this, [&] {
            stopped = true;
            QCoreApplication::exit(1);
        });
        stop.start(10000);
        QTimer::singleShot(0, form->BitBtn7, &QAbstractButton::click);
        const int code = QApplication::exec();
        operatorAtBoxes.stop();
        out_.ended = !stopped && code == 0 && !form->isVisible();
        Check(out_.ended, "End did not end the program");
        Check(out_.boxes == expectedBoxes,
              "End showed \"" + out_.boxes.join(QStringLiteral("\", \"")).toStdString() +
                  "\", expected \"" + expectedBoxes.join(QStringLiteral("\", \"")).toStdString() +
                  "\"");
        Check(PortHandle == nullptr, "the port is still open after End");

        const std::string saved = fakes::ReadFile(folder_.path() / SettingsFileName);
        if (saved.size() != sizeof(TReaderSettings)) {
            Check(false, "the settings file has " + std::to_string(saved.size()) + " bytes");
            return;
        }
        TReaderSettings file{};
        std::copy(saved.begin(), saved.end(), reinterpret_cast<char*>(&file));
        Check(std::uint32_t(file.OrderNumber) == RunningOrder,
              "the settings file keeps order " + std::to_string(std::uint32_t(file.OrderNumber)) +
                  ", the counter stood at " + std::to_string(RunningOrder));
        Check(file.Port == ReaderPort, "the settings file lost the reader's port");
    }

    // The longest gap is final once the program has ended.
    void Finish() {
        probe_.stop();
        std::ostringstream gap;
        gap << int(out_.longestGapMs);
        Check(out_.longestGapMs < MaxGapMs,
              "the window went " + gap.str() + " ms without processing events");
    }

    std::unique_ptr<sim::ReaderSimulator> reader;
    std::unique_ptr<TForm1> form;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (form && watched == form->Timer1 && e->type() == QEvent::Timer) {
            pollStart_ = SteadyClock::now();
            if (atPollStart_)
                std::exchange(atPollStart_, nullptr)();
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    struct Poll {
        SteadyClock::time_point start;
        SteadyClock::time_point end;
    };

    void PollEnded() {
        polls_.push_back({pollStart_, SteadyClock::now()});
        if (atPollEnd_)
            std::exchange(atPollEnd_, nullptr)();
    }

    bool Visible(const QWidget* w) const { return w->isVisibleTo(form.get()); }

    Outcome& out_;
    fakes::TempWorkDir folder_;
    SilentSound sound_;
    QTimer probe_;
    QElapsedTimer sinceTick_;
    std::vector<Poll> polls_;
    SteadyClock::time_point pollStart_{};
    std::function<void()> atPollStart_;
    std::function<void()> atPollEnd_;
    std::vector<std::thread> helpers_;
    std::atomic<int> helpersDone_{0};
    std::vector<std::string> readable_;  // listed codes of the good frames presented
    std::vector<std::string> mustRead_;  // those that had to be read, in order
};

const QString LedOnFailed = QStringLiteral("Error while turning on LEDs");
const QString LedOnDone = QString::fromLatin1("The LED is on\xED");
const QString LedOffFailed = QStringLiteral("Error when LED goes off");
const QString RepeatReadFailed = QStringLiteral("Error while reading the chip");
const QString ClosingFailed = QStringLiteral("Error closing port");

// On a line that is gone every command fails at once, with its own text.
void EveryCommandFails(Rig& rig) {
    TForm1& f = *rig.form;
    rig.Click(f.BitBtn1, QStringLiteral("Error blocking the reader"));
    rig.Click(f.BitBtn2, QStringLiteral("Error unblocking the reader"));
    rig.Click(f.BitBtn3, LedOnFailed);
    rig.Check(rig.LampOff(), "the lamp lit for a command that failed");
    rig.Click(f.BitBtn4, LedOffFailed);
    rig.Click(f.BitBtn5, RepeatReadFailed);
    rig.Check(f.StatusBarColor() != RepeatReadBarColor,
              "the status bar turned yellow for a repeat read that failed");
}

// After a hang-up: the polls go on failing quietly, nothing more is counted,
// the commands fail, and End closes, saves and quits.
void AfterHangUp(Rig& rig, const RunOptions& options, std::uint32_t readings) {
    rig.WaitPolls(3);
    rig.ExpectReadings(readings, "after the hang-up");
    rig.Quiet(options.quietMs);
    EveryCommandFails(rig);
    rig.ExpectReadings(readings, "after the commands on the dead line");
    rig.CheckReadings();
    // The control lines of a line that is gone cannot be lowered.
    rig.End({ClosingFailed});
}

Outcome Named(const char* name) {
    Outcome out;
    out.name = name;
    return out;
}

}  // namespace

Outcome HangUpInTheMiddleOfAFrame(const RunOptions& options) {
    Outcome out = Named("hang-up in the middle of a frame");
    {
        Rig rig(out);
        if (rig.Start()) {
            rig.ReadGood(Code(1));
            rig.ReadGood(Code(2));
            // As the next poll begins, half a frame reaches it; then the line goes.
            sim::ReaderSimulator* r = rig.reader.get();
            const std::string half = "A" + Code(3).substr(0, 7);
            rig.AtNextPollStart([&rig, r, half] {
                r->sendRaw(half);
                rig.InBackground([r] {
                    r->waitIdle(2000);
                    r->hangUp();
                });
            });
            rig.Check(rig.WaitPollHooks(), "no poll began");
            rig.WaitBackground();
            out.lineDead = true;
            AfterHangUp(rig, options, 2);
        }
        rig.Finish();
    }
    return out;
}

Outcome HangUpBetweenPolls(const RunOptions& options) {
    Outcome out = Named("hang-up between polls");
    {
        Rig rig(out);
        if (rig.Start()) {
            rig.ReadGood(Code(1));
            rig.ReadGood(Code(2));
            rig.AtNextPollEnd([&rig] {
                sim::ReaderSimulator* r = rig.reader.get();
                rig.InBackground([r] { r->hangUp(); });
            });
            rig.Check(rig.WaitPollHooks(), "no poll ended");
            rig.WaitBackground();
            out.lineDead = true;
            AfterHangUp(rig, options, 2);
        }
        rig.Finish();
    }
    return out;
}

Outcome HangUpDuringACommand(const RunOptions& options) {
    Outcome out = Named("hang-up during a command");
    {
        Rig rig(out);
        if (rig.Start()) {
            rig.ReadGood(Code(1));
            // The reply is held back; the line goes while the program waits for it.
            rig.SetFaults({.lateMs = 150, .repliesOnly = true});
            sim::ReaderSimulator* r = rig.reader.get();
            const std::size_t sent = rig.Requests();
            rig.InBackground([r, sent] {
                if (r->waitForRequests(sent + 1, 5000))
                    r->hangUp();
            });
            rig.Click(rig.form->BitBtn3, LedOnFailed);
            rig.WaitBackground();
            out.lineDead = true;
            const std::vector<std::string> requests = r->requests();
            rig.Check(requests.size() == sent + 1 && requests.back() == "QR\r",
                      "the reader did not get the LED command before it hung up");
            rig.Check(rig.LampOff(), "the lamp lit although the reply never came");
            AfterHangUp(rig, options, 1);
        }
        rig.Finish();
    }
    return out;
}

Outcome RepliesLaterThanTheTimeOut(const RunOptions& options) {
    Outcome out = Named("replies 400 ms late");
    {
        Rig rig(out);
        if (rig.Start()) {
            TForm1& f = *rig.form;
            rig.ReadGood(Code(1));
            // 400 ms is past every command time-out (232 ms; repeat read 344 ms).
            rig.SetFaults({.lateMs = 400, .repliesOnly = true});

            rig.Click(f.BitBtn3, LedOnFailed);
            rig.Check(rig.LampOff(), "the lamp lit although the reply came too late");
            rig.WaitDrained();  // the late reply reaches a poll
            rig.ExpectReadings(1, "after the late LED reply");
            rig.ExpectStatus(LedOnFailed);

            rig.Click(f.BitBtn5, RepeatReadFailed);
            rig.Check(f.StatusBarColor() != RepeatReadBarColor,
                      "the status bar turned yellow for a repeat read that failed");
            rig.WaitDrained();  // 18 late bytes: a 16-byte poll of them must fail
            rig.ExpectReadings(1, "after the late repeat-read reply");
            rig.ExpectStatus(RepeatReadFailed);

            // A reading whose automatic LED-off gets its reply too late: the
            // reading counts once, the lamp stays lit, and the reply is dropped.
            rig.Present(Code(2));
            rig.Check(rig.WaitFor([] { return RunningOrder == FirstOrder + 2; }),
                      "the chip was not read while replies were late");
            rig.Check(rig.WaitFor([&] { return f.StatusText() == LedOffFailed; }),
                      "no \"" + LedOffFailed.toStdString() + "\" for the late LED-off reply");
            rig.WaitDrained();
            rig.ExpectReadings(2, "after the late LED-off reply");
            rig.Check(rig.LampOn(), "the lamp went off although the LED-off failed");

            rig.SetFaults({});
            rig.ReadGood(Code(3));
            rig.Check(rig.LampOff(), "the lamp did not go off after a good reading");
            const std::vector<std::string> requests = rig.reader->requests();
            for (const char* request : {"QR\r", "*D0\r"})
                rig.Check(std::find(requests.begin(), requests.end(), request) != requests.end(),
                          "the reader never got " + Shown(std::string(request)));
            rig.Quiet(options.quietMs);
            rig.CheckReadings();
            rig.End({});
        }
        rig.Finish();
    }
    return out;
}

Outcome RepliesCutShort(const RunOptions& options) {
    Outcome out = Named("replies cut short");
    {
        Rig rig(out);
        if (rig.Start()) {
            rig.ReadGood(Code(1));
            // The CR missing: 15 bytes, the read ends 20 ms after the last.
            rig.SetFaults({.shortBy = 1});
            rig.PresentDamaged(Code(2));
            rig.WaitDrained();
            rig.ExpectReadings(1, "after a frame one byte short");
            // Half a frame.
            rig.SetFaults({.shortBy = 8});
            rig.PresentDamaged(Code(3));
            rig.WaitDrained();
            rig.ExpectReadings(1, "after a frame eight bytes short");
            // A short frame with a good one straight behind it: the poll reads
            // across the two, and neither may give a reading made of both.
            rig.SetFaults({.shortBy = 1});
            rig.PresentDamaged(Code(4));
            rig.SetFaults({});
            rig.Present(Code(5));
            rig.WaitDrained();
            // A command reply without its CR.
            rig.SetFaults({.shortBy = 1, .repliesOnly = true});
            rig.Click(rig.form->BitBtn4, LedOffFailed);
            rig.WaitDrained();
            rig.SetFaults({});
            rig.ReadGood(Code(6));
            rig.Quiet(options.quietMs);
            rig.CheckReadings();
            rig.End({});
        }
        rig.Finish();
    }
    return out;
}

Outcome FramesWithBadEnds(const RunOptions& options) {
    Outcome out = Named("frames with bad first or last byte");
    {
        Rig rig(out);
        if (rig.Start()) {
            rig.ReadGood(Code(1));
            rig.SetFaults({.badFirst = true});
            rig.PresentDamaged(Code(2));
            rig.WaitDrained();
            rig.SetFaults({.badLast = true});
            rig.PresentDamaged(Code(3));
            rig.WaitDrained();
            rig.SetFaults({.badFirst = true, .badLast = true});
            rig.PresentDamaged(Code(4));
            rig.WaitDrained();
            rig.ExpectReadings(1, "after three damaged frames");
            // A damaged frame of full length keeps the stream in step: the
            // good frame right behind it is read.
            rig.SetFaults({.badLast = true});
            rig.PresentDamaged(Code(5));
            rig.SetFaults({});
            rig.ReadGood(Code(6));
            rig.ReadGood(Code(7));
            rig.Quiet(options.quietMs);
            rig.CheckReadings();
            rig.End({});
        }
        rig.Finish();
    }
    return out;
}

Outcome GarbageBetweenFrames(const RunOptions& options) {
    Outcome out = Named("garbage between frames");
    {
        Rig rig(out);
        if (rig.Start()) {
            rig.ReadGood(Code(1));
            // 100 bytes, taken by the polls 16 at a time. "A" and CR are in
            // them, but never as the first and last byte of one poll's 16:
            // an "A" starting the first 16, a CR ending the second, an "A"
            // and a CR 14 bytes apart one byte in, a whole frame straddling
            // the fourth and fifth 16, and a 4-byte tail "A12" CR.
            std::string garbage = Filler(100, 7);
            garbage[0] = 'A';
            garbage[31] = '\r';
            garbage[33] = 'A';
            garbage[46] = '\r';
            const std::string inside = "A" + Code(90).substr(0, 14) + "\r";
            garbage.replace(56, inside.size(), inside);
            garbage.replace(96, 4, "A12\r");
            rig.reader->sendRaw(garbage);
            rig.WaitDrained();
            rig.ExpectReadings(1, "after 100 bytes of garbage");
            rig.ReadGood(Code(2));
            // Garbage with a good frame straight behind it: the frame is read
            // out of step and lost, never taken in part.
            rig.reader->sendRaw(Filler(37, 11));
            rig.Present(Code(3));
            rig.WaitDrained();
            rig.ReadGood(Code(4));
            rig.Quiet(options.quietMs);
            rig.CheckReadings();
            rig.End({});
        }
        rig.Finish();
    }
    return out;
}

Outcome ChipJustBeforeACommand(const RunOptions& options) {
    Outcome out = Named("chip just before a command");
    {
        Rig rig(out);
        if (rig.Start()) {
            TForm1& f = *rig.form;
            rig.ReadGood(Code(1));
            // In the pause after a poll: the frame arrives, then the operator
            // clicks "Light up LED". The command's 4-byte read takes the
            // frame's first 4 bytes; its reply ends up behind the rest of the
            // frame, and the next poll takes both together and rejects them.
            const std::string code = Code(2);
            rig.AtNextPollEnd([&rig, &f, code] {
                rig.PresentDamaged(code);
                rig.reader->waitIdle(1000);
                f.BitBtn3->click();
            });
            rig.Check(rig.WaitPollHooks(), "no poll ended");
            rig.ExpectStatus(LedOnFailed);
            rig.Check(rig.LampOff(), "the lamp lit for a reply that was a chip frame");
            rig.WaitDrained();
            rig.ExpectReadings(1, "after the frame the command took");
            rig.ReadGood(Code(3));
            rig.Quiet(options.quietMs);
            rig.CheckReadings();
            rig.End({});
        }
        rig.Finish();
    }
    return out;
}

Outcome ChipWhileACommandWaits(const RunOptions& options) {
    Outcome out = Named("chip while a command waits");
    {
        Rig rig(out);
        if (rig.Start()) {
            TForm1& f = *rig.form;
            rig.ReadGood(Code(1));
            // The chip touches the reader as soon as the LED command reached
            // it: the reply goes out first, the frame behind it.
            const std::string code = Code(2);
            rig.WillPresent(code);
            sim::ReaderSimulator* r = rig.reader.get();
            const std::size_t sent = rig.Requests();
            rig.AtNextPollEnd([&rig, &f, r, sent, code] {
                rig.InBackground([r, sent, code] {
                    if (r->waitForRequests(sent + 1, 5000))
                        r->presentChip(code);
                });
                f.BitBtn3->click();
            });
            rig.Check(rig.WaitPollHooks(), "no poll ended");
            rig.WaitBackground();
            rig.Check(out.statusTexts.contains(LedOnDone), "\"Light up LED\" did not succeed");
            rig.Check(rig.WaitFor([] { return RunningOrder == FirstOrder + 2; }),
                      "the chip presented during the command was not read");
            rig.WaitDrained();
            rig.ExpectReadings(2, "after the command and the chip");
            rig.Check(rig.LampOff(), "the lamp is not off after the reading's LED-off");
            rig.ReadGood(Code(3));
            rig.Quiet(options.quietMs);
            rig.CheckReadings();
            rig.End({});
        }
        rig.Finish();
    }
    return out;
}

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> all = {
        {"HangUpInTheMiddleOfAFrame", "reader hangs up after half a frame",
         &HangUpInTheMiddleOfAFrame},
        {"HangUpBetweenPolls", "reader hangs up between two polls", &HangUpBetweenPolls},
        {"HangUpDuringACommand", "reader hangs up while a command waits", &HangUpDuringACommand},
        {"RepliesLaterThanTheTimeOut", "replies 400 ms late (LED, repeat read, LED-off)",
         &RepliesLaterThanTheTimeOut},
        {"RepliesCutShort", "frames and a reply missing their last bytes", &RepliesCutShort},
        {"FramesWithBadEnds", "frames without \"A\" first or CR last", &FramesWithBadEnds},
        {"GarbageBetweenFrames", "100 and 37 bytes of garbage between frames",
         &GarbageBetweenFrames},
        {"ChipJustBeforeACommand", "frame on the line as \"Light up LED\" is sent",
         &ChipJustBeforeACommand},
        {"ChipWhileACommandWaits", "chip presented while \"Light up LED\" waits",
         &ChipWhileACommandWaits},
    };
    return all;
}

}  // namespace faults
