#include "FaultScenarios.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>
#include <utility>

#include "Drv232.h"
#include "Global.h"
#include "MainWindow.h"
#include "ReaderSimulator.h"
#include "SerialPort.h"
#include "Sound.h"
#include "fakes/CountingSound.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeWindow.h"
#include "fakes/ForwardingSerial.h"
#include "fakes/ProgramState.h"
#include "fakes/TempDir.h"

namespace faults {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

constexpr int ReaderPort = 3;
// The order number in the settings file at start: the first reading is 41.
constexpr std::uint32_t FirstOrder = 40;
// Without CRC digits the list shows the first 12 characters of a code.
constexpr std::size_t ListedLength = 12;
// What the window and the reader get to do a single step, in real time: a
// guard against waiting for ever, not a figure.
constexpr int StepMs = 5000;
// How long the operator reads an error box before pressing OK, in the
// window's time: longer than a poll cycle, so the reading cycle's timer fires
// while the box is open.
constexpr std::uint64_t ReadingABoxMs = 500;

// The status line's texts, as the window shows them (UTF-8).
const std::string BlockingFailed = "Error blocking the reader";
const std::string UnblockingFailed = "Error unblocking the reader";
const std::string LedOnFailed = "Error while turning on LEDs";
const std::string LedOnDone = "The LED is on\xC3\xAD";
const std::string LedOffFailed = "Error when LED goes off";
const std::string RepeatReadFailed = "Error while reading the chip";
const std::string ClosingFailed = "Error closing port";
const std::string ReaderLost = "Reader on COM3 lost: waiting for it to come back";

// A chip code of 16 characters, different for every n, with no "A" in it: a
// frame read from its middle then never starts with the frame's first byte.
std::string Code(int n) {
    const unsigned two = unsigned(n) % 100;
    return std::string{char('0' + two / 10), char('0' + two % 10)} + "0000B1C2D3E4F5";
}

std::string Listed(const std::string& code) {
    return code.substr(0, ListedLength);
}

// Bytes for messages: control bytes and anything beyond ASCII as <hex>.
std::string Shown(const std::string& bytes) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F)
            out += char(c);
        else
            out += std::string{'<', Hex[c >> 4], Hex[c & 15], '>'};
    }
    return out;
}

std::string Listing(const Texts& texts) {
    std::string out = "[";
    for (const std::string& text : texts)
        out += (out.size() > 1 ? ", \"" : "\"") + Shown(text) + "\"";
    return out + "]";
}

bool Contains(const Texts& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
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

// The system's serial ports, counting the reads of every port opened and the
// bytes they brought: a poll that read and got nothing found the line empty.
class CountedPort final : public fakes::ForwardingPort {
  public:
    CountedPort(std::unique_ptr<platform::SerialPort> port, std::size_t& reads, std::size_t& bytes)
        : ForwardingPort(std::move(port)), reads_(reads), bytes_(bytes) {}

    platform::Error read(std::uint8_t* data, std::size_t n, std::size_t& received,
                         platform::ReadEnd& ended) override {
        const platform::Error error = ForwardingPort::read(data, n, received, ended);
        ++reads_;
        bytes_ += received;
        return error;
    }

  private:
    std::size_t& reads_;
    std::size_t& bytes_;
};

class CountedPorts final : public platform::SerialPorts {
  public:
    std::size_t reads = 0;
    std::size_t bytes = 0;

    std::string deviceName(int n) override { return platform::SystemSerial().deviceName(n); }
    std::unique_ptr<platform::SerialPort> open(int n, platform::Error& error) override {
        std::unique_ptr<platform::SerialPort> port = platform::SystemSerial().open(n, error);
        if (!port)
            return nullptr;
        return std::make_unique<CountedPort>(std::move(port), reads, bytes);
    }
    platform::Whereabouts locate(const std::string& identity, int preferred) override {
        return platform::SystemSerial().locate(identity, preferred);
    }
    bool present(int n) override { return platform::SystemSerial().present(n); }
};

// The form's window: the fake one, with the reading cycle watched. The form
// stops Timer1 as a poll begins and starts it again as the poll ends (End
// stops it too, and no poll follows).
class PollWatch final : public Window {
  public:
    PollWatch(fakes::FakeWindow& window, std::function<void()> begins, std::function<void()> ended)
        : w_(window), begins_(std::move(begins)), ended_(std::move(ended)) {}

    void stopTimer(Timer t) override {
        if (t == Timer::Timer1) {
            polling_ = true;
            begins_();
        }
        w_.stopTimer(t);
    }
    void startTimer(Timer t) override {
        w_.startTimer(t);
        if (t == Timer::Timer1 && polling_) {
            polling_ = false;
            ended_();
        }
    }

    std::string text(Control c) const override { return w_.text(c); }
    void setText(Control c, std::string_view text) override { w_.setText(c, text); }
    bool shown(Control c) const override { return w_.shown(c); }
    void setShown(Control c, bool shown) override { w_.setShown(c, shown); }
    void setEnabled(Control c, bool enabled) override { w_.setEnabled(c, enabled); }
    bool checked(Control c) const override { return w_.checked(c); }
    void setChecked(Control c, bool checked) override { w_.setChecked(c, checked); }
    void setFocus(Control c) override { w_.setFocus(c); }
    void paintNow(Control c) override { w_.paintNow(c); }
    void setStatus(std::string_view text) override { w_.setStatus(text); }
    Color statusColor() const override { return w_.statusColor(); }
    void setStatusColor(Color colour) override { w_.setStatusColor(colour); }
    int lineCount() const override { return w_.lineCount(); }
    std::string lineText(int line) const override { return w_.lineText(line); }
    void setLineText(int line, std::string_view text) override { w_.setLineText(line, text); }
    std::string caption() const override { return w_.caption(); }
    void setCaption(std::string_view caption) override { w_.setCaption(caption); }
    void minimize() override { w_.minimize(); }
    void close() override { w_.close(); }
    void showError(std::string_view text) override { w_.showError(text); }
    void showManufacturer() override { w_.showManufacturer(); }
    void post(std::function<void()> function) override { w_.post(std::move(function)); }

  private:
    fakes::FakeWindow& w_;
    std::function<void()> begins_;
    std::function<void()> ended_;
    bool polling_ = false;
};

}  // namespace

// One case: the main window in a fresh folder against a fresh simulated
// reader, with the instruments that watch it.
class Rig {
  public:
    Rig(Outcome& out, const Expected& expected, const RunOptions& options)
        : expected(expected), options(options), out_(out) {
        window.attach(form_);
        window.answer = [this](std::string_view) {
            const std::uint64_t now = loop.now();
            if (window.errors.size() != boxesSeen_) {
                boxesSeen_ = window.errors.size();
                boxOpened_ = now;
            }
            return now - boxOpened_ >= ReadingABoxMs;
        };
    }

    ~Rig() {
        if (probe_ >= 0)
            loop.unwatch(probe_);
        for (std::thread& t : helpers_)
            t.join();
        // Closes the port and takes our sound, ports, clock and the port
        // limit away again.
        fakes::ResetProgramState();
        reader.reset();
    }

    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void Check(bool condition, const std::string& what) {
        if (!condition)
            out_.problems.push_back(what);
    }

    bool WaitFor(const std::function<bool()>& condition, int timeoutMs = StepMs) {
        return loop.runUntil(condition, timeoutMs);
    }

    // The reader on its port, a settings file that names that port, and the
    // window shown: it must find the reader and begin polling.
    bool Start() {
        fakes::ResetProgramState();
        platform::LimitToLinkedPorts(true);
        platform::UseSound(&sound_);
        platform::UseSerial(&ports_);
        if (!options.realTime)
            platform::UseClock(&clock);

        sim::Options line;
        line.folder = folder_.path().string();
        line.port = ReaderPort;
        // A frame goes out in one piece, so it is never split between two
        // polls by chance: every misaligned read below is the fault's doing.
        line.byteMicros = 0;
        reader = std::make_unique<sim::ReaderSimulator>(line);
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

        window.activate();
        if (!form_.StartupDone()) {
            Check(false, "the window's start-up did not run");
            return false;
        }
        if (!PortHandle || !window.timerActive(Timer::Timer1)) {
            // All there is to tell why: a rare start-up failure must be
            // found from its one report.
            Check(false, std::string("the window did not connect to the reader (port ") +
                             (PortHandle ? "open" : "closed") + ", status lines " +
                             Listing(window.statuses) + ", error boxes " + Listing(window.errors) +
                             ", the reader got " + Listing(reader->requests()) + ")");
            return false;
        }
        started_ = true;

        // In real time whatever the loop's time: the figure is the benchmark's.
        lastTurn_ = SteadyClock::now();
        probe_ = loop.watch([this] {
            const SteadyClock::time_point now = SteadyClock::now();
            out_.longestGapMs = std::max(out_.longestGapMs, Ms(now - lastTurn_));
            lastTurn_ = now;
        });
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

    // The reader closes the line; callable from a background step.
    void HangUp() {
        reader->hangUp();
        lineDead_ = true;
    }

    void WaitBackground() {
        Check(WaitFor([this] { return helpersDone_ == int(helpers_.size()); }, 10000),
              "a step in the background did not finish");
    }

    std::size_t Requests() const { return reader->requests().size(); }

    // ---- The program's side ----

    // Runs `action` in the window's handler as the next poll begins, or right
    // after the next poll has ended (before the 333 ms pause to the next).
    void AtNextPollStart(std::function<void()> action) { atPollStart_ = std::move(action); }
    void AtNextPollEnd(std::function<void()> action) { atPollEnd_ = std::move(action); }

    bool WaitPollHooks() {
        return WaitFor([this] { return !atPollStart_ && !atPollEnd_; });
    }

    std::size_t Polls() const { return polls_.size(); }

    // Waits until everything the reader sent has gone out and a poll that
    // began afterwards found the line empty (it read and got no byte in its
    // whole time-out): what was on the line has been taken.
    void WaitDrained() {
        if (!WaitFor([this] { return reader->waitIdle(0); })) {
            Check(false, "the reader did not finish sending");
            return;
        }
        // Between two turns no poll is under way: the ones from here on began
        // after the reader's last byte.
        const std::size_t from = Polls();
        Check(WaitFor([&] {
                  return std::any_of(polls_.begin() + std::ptrdiff_t(from), polls_.end(),
                                     [](const Poll& p) { return p.foundNothing; });
              }),
              "no poll found the line empty after the reader stopped sending");
    }

    // The operator clicks a button; the status line must then show `expected`.
    void Click(Control button, const std::string& expected) {
        const std::size_t before = window.statuses.size();
        window.click(button);
        if (window.statuses.size() == before) {
            Check(false, "\"" + window.text(button) + "\" showed nothing");
            return;
        }
        ExpectStatus(expected);
    }

    void ExpectStatus(const std::string& expected) {
        Check(window.status() == expected, "status line \"" + Shown(window.status()) +
                                               "\", expected \"" + Shown(expected) + "\"");
    }

    bool LampOn() const { return window.shown(Control::Image2) && !window.shown(Control::Image1); }
    bool LampOff() const { return window.shown(Control::Image1) && !window.shown(Control::Image2); }

    std::uint32_t Readings() const { return RunningOrder - FirstOrder; }

    void ExpectReadings(std::uint32_t expected, const std::string& when) {
        Check(Readings() == expected, when + ": " + std::to_string(Readings()) +
                                          " readings counted, expected " +
                                          std::to_string(expected));
    }

    // The line is left alone for `options.quietMs` of the window's time: the
    // window must go on polling, or, with the reader lost, trying to take it
    // back without polling. The CPU use is taken for the benchmark (a figure
    // of real time only: on virtual time the loop waits for no timer).
    void Quiet() {
        const int ms = options.quietMs;
        const std::size_t pollsBefore = Polls();
        const double cpuBefore = CpuSeconds();
        const auto start = SteadyClock::now();
        loop.runFor(ms);
        const double wallMs = Ms(SteadyClock::now() - start);
        out_.quietMs = ms;
        out_.quietCpuPercent = 100.0 * (CpuSeconds() - cpuBefore) * 1000.0 / wallMs;
        // A cycle is 333 ms plus at most the poll's 328 ms time-out.
        const std::size_t polled = Polls() - pollsBefore;
        if (lineDead_) {
            Check(!window.timerActive(Timer::Timer1) && polled == 0 &&
                      window.timerActive(Timer::Timer3),
                  "with the reader lost: " + std::to_string(polled) + " polls in " +
                      std::to_string(ms) + " ms, and no tries to take it back");
            return;
        }
        Check(window.timerActive(Timer::Timer1) && polled + 1 >= std::size_t(ms / 700),
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
            const std::string text = form_.ReadRow(row);
            if (text.empty())
                break;
            std::vector<std::string> fields;
            std::istringstream split(text);
            for (std::string field; std::getline(split, field, ' ');)
                if (!field.empty())
                    fields.push_back(field);
            const std::string order = std::to_string(FirstOrder + 1 + listed.size());
            if (fields.size() != 3 || fields[0] != order) {
                Check(false, "list row " + std::to_string(row) + " \"" + Shown(text) +
                                 "\" is not reading " + order);
                continue;
            }
            listed.push_back(fields[2]);
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
            Check(Contains(readable_, code),
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
    }

    // The operator clicks End: the program must close the port (the error
    // boxes on the way are judged with the outcome), save the settings and
    // close the window.
    void End() {
        window.click(Control::BitBtn7);
        // A turn after End, so that the time End blocked counts as a gap.
        loop.turn();
        out_.ended = window.closed;
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

    // What the case ended with, for the judgement.
    void Finish() {
        if (probe_ >= 0)
            loop.unwatch(probe_);
        probe_ = -1;
        if (started_)
            out_.readings = Readings();
        out_.lineDead = lineDead_;
        out_.statusTexts = window.statuses;
        out_.boxes = window.errors;
    }

    const Expected& expected;
    const RunOptions& options;
    std::unique_ptr<sim::ReaderSimulator> reader;
    // The platform's clock, and the window's virtual time, unless the case
    // runs in real time.
    fakes::FakeClock clock;
    fakes::EventLoop loop{options.realTime ? nullptr : &clock};
    fakes::FakeWindow window{loop};

  private:
    struct Poll {
        bool foundNothing = false;  // it read the line and got no byte
    };

    void PollBegins() {
        readsAtPollStart_ = ports_.reads;
        bytesAtPollStart_ = ports_.bytes;
        if (atPollStart_)
            std::exchange(atPollStart_, nullptr)();
    }

    void PollEnded() {
        polls_.push_back({ports_.reads > readsAtPollStart_ && ports_.bytes == bytesAtPollStart_});
        if (atPollEnd_)
            std::exchange(atPollEnd_, nullptr)();
    }

    Outcome& out_;
    fakes::TempWorkDir folder_;
    fakes::CountingSound sound_;
    CountedPorts ports_;
    PollWatch watched_{window, [this] { PollBegins(); }, [this] { PollEnded(); }};
    TForm1 form_{watched_};
    bool started_ = false;
    std::size_t boxesSeen_ = 0;
    std::uint64_t boxOpened_ = 0;
    int probe_ = -1;
    SteadyClock::time_point lastTurn_{};
    std::vector<Poll> polls_;
    std::size_t readsAtPollStart_ = 0;
    std::size_t bytesAtPollStart_ = 0;
    std::function<void()> atPollStart_;
    std::function<void()> atPollEnd_;
    std::vector<std::thread> helpers_;
    std::atomic<int> helpersDone_{0};
    std::atomic<bool> lineDead_{false};
    std::vector<std::string> readable_;  // listed codes of the good frames presented
    std::vector<std::string> mustRead_;  // those that had to be read, in order
};

namespace {

// On a line that is gone every command fails at once, with its own text.
void EveryCommandFails(Rig& rig) {
    rig.Click(Control::BitBtn1, BlockingFailed);
    rig.Click(Control::BitBtn2, UnblockingFailed);
    rig.Click(Control::BitBtn3, LedOnFailed);
    rig.Check(rig.LampOff(), "the lamp lit for a command that failed");
    rig.Click(Control::BitBtn4, LedOffFailed);
    rig.Click(Control::BitBtn5, RepeatReadFailed);
    rig.Check(rig.window.colour != RepeatReadBarColor,
              "the status bar turned yellow for a repeat read that failed");
}

// After a hang-up: the next poll finds the line gone. The port is let go at
// once, the status line says the reader is lost, on a bar that cannot be
// missed, and the polls stop while the window waits for the reader; nothing
// more is counted, the commands fail with their own texts, and End, which Run
// clicks next, has no port left to close.
void AfterHangUp(Rig& rig) {
    rig.WaitBackground();
    rig.Check(rig.WaitFor([&rig] { return rig.window.timerActive(Timer::Timer3); }),
              "the hang-up was not noticed");
    rig.Check(PortHandle == nullptr, "the port of a line that hung up is still held");
    rig.ExpectStatus(ReaderLost);
    rig.Check(rig.window.colour == LostBarColor, "the status bar did not turn red");
    rig.ExpectReadings(rig.expected.readings, "after the hang-up");
    rig.Quiet();
    EveryCommandFails(rig);
    rig.Check(rig.window.colour == LostBarColor, "the bar left red with the reader still lost");
    rig.ExpectReadings(rig.expected.readings, "after the commands on the dead line");
}

void HangUpInTheMiddleOfAFrame(Rig& rig) {
    rig.ReadGood(Code(1));
    rig.ReadGood(Code(2));
    // As the next poll begins, half a frame reaches it; then the line goes.
    const std::string half = "A" + Code(3).substr(0, 7);
    rig.AtNextPollStart([&rig, half] {
        rig.reader->sendRaw(half);
        rig.InBackground([&rig] {
            rig.reader->waitIdle(2000);
            rig.HangUp();
        });
    });
    rig.Check(rig.WaitPollHooks(), "no poll began");
    AfterHangUp(rig);
}

void HangUpBetweenPolls(Rig& rig) {
    rig.ReadGood(Code(1));
    rig.ReadGood(Code(2));
    rig.AtNextPollEnd([&rig] { rig.InBackground([&rig] { rig.HangUp(); }); });
    rig.Check(rig.WaitPollHooks(), "no poll ended");
    AfterHangUp(rig);
}

void HangUpDuringACommand(Rig& rig) {
    rig.ReadGood(Code(1));
    // The reply is held back; the line goes while the program waits for it.
    rig.SetFaults({.lateMs = 150, .repliesOnly = true});
    const std::size_t sent = rig.Requests();
    rig.InBackground([&rig, sent] {
        if (rig.reader->waitForRequests(sent + 1, 5000))
            rig.HangUp();
    });
    rig.Click(Control::BitBtn3, LedOnFailed);
    rig.WaitBackground();
    const std::vector<std::string> requests = rig.reader->requests();
    rig.Check(requests.size() == sent + 1 && requests.back() == "QR\r",
              "the reader did not get the LED command before it hung up");
    rig.Check(rig.LampOff(), "the lamp lit although the reply never came");
    AfterHangUp(rig);
}

void RepliesLaterThanTheTimeOut(Rig& rig) {
    rig.ReadGood(Code(1));
    // 400 ms is past every command time-out (232 ms; repeat read 344 ms).
    rig.SetFaults({.lateMs = 400, .repliesOnly = true});

    rig.Click(Control::BitBtn3, LedOnFailed);
    rig.Check(rig.LampOff(), "the lamp lit although the reply came too late");
    rig.WaitDrained();  // the late reply reaches a poll
    rig.ExpectReadings(1, "after the late LED reply");
    rig.ExpectStatus(LedOnFailed);

    rig.Click(Control::BitBtn5, RepeatReadFailed);
    rig.Check(rig.window.colour != RepeatReadBarColor,
              "the status bar turned yellow for a repeat read that failed");
    rig.WaitDrained();  // 18 late bytes: a 16-byte poll of them must fail
    rig.ExpectReadings(1, "after the late repeat-read reply");
    rig.ExpectStatus(RepeatReadFailed);

    // A reading whose automatic LED-off gets its reply too late: the
    // reading counts once, the lamp stays lit, and the reply is dropped.
    rig.Present(Code(2));
    rig.Check(rig.WaitFor([] { return RunningOrder == FirstOrder + 2; }),
              "the chip was not read while replies were late");
    rig.Check(rig.WaitFor([&] { return rig.window.status() == LedOffFailed; }),
              "no \"" + LedOffFailed + "\" for the late LED-off reply");
    rig.WaitDrained();
    rig.ExpectReadings(2, "after the late LED-off reply");
    rig.Check(rig.LampOn(), "the lamp went off although the LED-off failed");

    rig.SetFaults({});
    rig.ReadGood(Code(3));
    rig.Check(rig.LampOff(), "the lamp did not go off after a good reading");
    const std::vector<std::string> requests = rig.reader->requests();
    for (const char* request : {"QR\r", "*D0\r"})
        rig.Check(Contains(requests, request), "the reader never got " + Shown(request));
    rig.Quiet();
}

void RepliesCutShort(Rig& rig) {
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
    rig.Click(Control::BitBtn4, LedOffFailed);
    rig.WaitDrained();
    rig.SetFaults({});
    rig.ReadGood(Code(6));
    rig.Quiet();
}

void FramesWithBadEnds(Rig& rig) {
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
    // A damaged frame of full length keeps the stream in step: the good
    // frame right behind it is read.
    rig.SetFaults({.badLast = true});
    rig.PresentDamaged(Code(5));
    rig.SetFaults({});
    rig.ReadGood(Code(6));
    rig.ReadGood(Code(7));
    rig.Quiet();
}

void GarbageBetweenFrames(Rig& rig) {
    rig.ReadGood(Code(1));
    // 100 bytes, taken by the polls 16 at a time. "A" and CR are in them,
    // but never as the first and last byte of one poll's 16: an "A"
    // starting the first 16, a CR ending the second, an "A" and a CR 14
    // bytes apart one byte in, a whole frame straddling the fourth and
    // fifth 16, and a 4-byte tail "A12" CR.
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
    // Garbage with a good frame straight behind it: the frame is read out
    // of step and lost, never taken in part.
    rig.reader->sendRaw(Filler(37, 11));
    rig.Present(Code(3));
    rig.WaitDrained();
    rig.ReadGood(Code(4));
    rig.Quiet();
}

void ChipJustBeforeACommand(Rig& rig) {
    rig.ReadGood(Code(1));
    // In the pause after a poll: the frame arrives, then the operator
    // clicks "Light up LED". The command's read meets the frame first: the
    // frame is read whole and kept for the next poll, and the command's
    // reply read behind it.
    const std::string code = Code(2);
    rig.WillPresent(code);
    rig.AtNextPollEnd([&rig, code] {
        rig.reader->presentChip(code);
        rig.reader->waitIdle(1000);
        rig.window.click(Control::BitBtn3);
    });
    rig.Check(rig.WaitPollHooks(), "no poll ended");
    rig.ExpectStatus(LedOnDone);
    rig.Check(rig.WaitFor([] { return RunningOrder == FirstOrder + 2; }),
              "the chip whose frame the command met was not read");
    rig.WaitDrained();
    rig.ExpectReadings(2, "after the command and the chip");
    rig.Check(rig.LampOff(), "the lamp is not off after the reading's LED-off");
    rig.ReadGood(Code(3));
    rig.Quiet();
}

void ChipWhileACommandWaits(Rig& rig) {
    rig.ReadGood(Code(1));
    // The chip touches the reader as soon as the LED command reached it:
    // the reply goes out first, the frame behind it.
    const std::string code = Code(2);
    rig.WillPresent(code);
    const std::size_t sent = rig.Requests();
    rig.AtNextPollEnd([&rig, sent, code] {
        rig.InBackground([&rig, sent, code] {
            if (rig.reader->waitForRequests(sent + 1, 5000))
                rig.reader->presentChip(code);
        });
        rig.window.click(Control::BitBtn3);
    });
    rig.Check(rig.WaitPollHooks(), "no poll ended");
    rig.WaitBackground();
    rig.Check(rig.WaitFor([] { return RunningOrder == FirstOrder + 2; }),
              "the chip presented during the command was not read");
    rig.WaitDrained();
    rig.ExpectReadings(2, "after the command and the chip");
    rig.Check(rig.LampOff(), "the lamp is not off after the reading's LED-off");
    rig.ReadGood(Code(3));
    rig.Quiet();
}

// The outcome against what every case must end with, and this one.
void Judge(const Expected& expected, Outcome& out) {
    const auto fail = [&out](const std::string& problem) { out.problems.push_back(problem); };
    // The time without event processing and the CPU use are the benchmark's
    // figures (bench/faults.cpp), not judged here: a busy machine moves them.
    if (out.quietMs == 0)
        fail("the line was never left quiet: the polling after the fault went unchecked");
    if (!out.ended)
        fail("End did not close the window");
    if (expected.lineDead && !out.lineDead)
        fail("the reader's hang-up did not go through");
    const std::uint32_t most = expected.readings + expected.mayAlsoRead;
    if (out.readings < expected.readings || out.readings > most)
        fail(std::to_string(out.readings) + " readings counted, expected " +
             std::to_string(expected.readings) +
             (most > expected.readings ? " to " + std::to_string(most) : ""));
    for (const std::string& text : expected.shown)
        if (!Contains(out.statusTexts, text))
            fail("the status line never showed \"" + Shown(text) + "\"");
    for (const std::string& text : expected.notShown)
        if (Contains(out.statusTexts, text))
            fail("the status line showed \"" + Shown(text) + "\"");
    if (out.boxes != expected.boxes)
        fail("error boxes " + Listing(out.boxes) + ", expected " + Listing(expected.boxes));
}

}  // namespace

Outcome Run(const Scenario& scenario, const RunOptions& options) {
    Outcome out;
    out.name = scenario.name;
    {
        Rig rig(out, scenario.expected, options);
        if (rig.Start()) {
            scenario.play(rig);
            rig.CheckReadings();
            rig.End();
        }
        rig.Finish();
    }
    Judge(scenario.expected, out);
    return out;
}

const std::vector<Scenario>& Scenarios() {
    // A hang-up lets the port go: End has none left to close.
    static const Texts closingFails = {ClosingFailed};
    static const Texts lost = {ReaderLost};
    static const std::vector<Scenario> all = {
        {"HangUpInTheMiddleOfAFrame",
         "reader hangs up after half a frame",
         // The two readings before the hang-up, and no more.
         {.lineDead = true, .readings = 2, .shown = lost, .boxes = closingFails},
         &HangUpInTheMiddleOfAFrame},
        {"HangUpBetweenPolls",
         "reader hangs up between two polls",
         {.lineDead = true, .readings = 2, .shown = lost, .boxes = closingFails},
         &HangUpBetweenPolls},
        {"HangUpDuringACommand",
         "reader hangs up while a command waits",
         {.lineDead = true,
          .readings = 1,
          .shown = lost,
          .notShown = {LedOnDone},
          .boxes = closingFails},
         &HangUpDuringACommand},
        {"RepliesLaterThanTheTimeOut",
         "replies 400 ms late (LED, repeat read, LED-off)",
         // Two chips before and after the late replies, one during.
         {.readings = 3, .notShown = {LedOnDone}},
         &RepliesLaterThanTheTimeOut},
        {"RepliesCutShort",
         "frames and a reply missing their last bytes",
         // The good frame right behind a short one may be lost.
         {.readings = 2, .mayAlsoRead = 1},
         &RepliesCutShort},
        {"FramesWithBadEnds",
         "frames without \"A\" first or CR last",
         // Four damaged frames, three good ones.
         {.readings = 3},
         &FramesWithBadEnds},
        {"GarbageBetweenFrames",
         "100 and 37 bytes of garbage between frames",
         // The frame right behind the second burst may be lost.
         {.readings = 3, .mayAlsoRead = 1},
         &GarbageBetweenFrames},
        {"ChipJustBeforeACommand",
         "frame on the line as \"Light up LED\" is sent",
         {.readings = 3, .shown = {LedOnDone}},
         &ChipJustBeforeACommand},
        {"ChipWhileACommandWaits",
         "chip presented while \"Light up LED\" waits",
         {.readings = 3, .shown = {LedOnDone}},
         &ChipWhileACommandWaits},
    };
    return all;
}

}  // namespace faults
