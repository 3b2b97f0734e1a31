// Figures of the reading cycle: latency from the last byte of a chip frame on
// the line to the row in the list, the duration of typing a reading against
// its formula, and the program's CPU use while it polls with no chip.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Drv232.h"
#include "Global.h"
#include "Keyboard.h"
#include "MainWindow.h"
#include "ProcessStats.h"
#include "QtMainWindow.h"
#include "ReaderSimulator.h"

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path MakeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "chipbench-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void WriteSettings(int port, bool keyboard) {
    Settings = TReaderSettings{};
    Settings.Port = std::uint8_t(port);
    Settings.ChipToKeyboard = keyboard;
    SaveSettings();
    Settings = TReaderSettings{};
}

void Latency(int readings) {
    const auto folder = MakeFolder();
    std::filesystem::current_path(folder);
    platform::LimitToLinkedPorts(true);
    sim::Options options;
    options.folder = folder.string();
    sim::ReaderSimulator reader(options);
    std::string error;
    if (!reader.start(error)) {
        std::printf("latency: no simulator: %s\n", error.c_str());
        return;
    }
    WriteSettings(options.port, false);
    QtMainWindow window;
    TForm1 form(window);
    window.attach(form);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitFor([&] { return form.StartupDone(); }, 10000) ||
        !window.timer(Timer::Timer1)->isActive()) {
        std::printf("latency: the window did not connect\n");
        return;
    }
    std::vector<double> samples;
    for (int i = 0; i < readings; ++i) {
        const std::uint32_t before = RunningOrder;
        reader.presentChip(sim::MakeUpChipCode());
        if (!QTest::qWaitFor([&] { return RunningOrder != before; }, 3000))
            break;
        const auto listed = Clock::now();
        samples.push_back(Ms(listed - reader.lastByteSentAt()));
        // Let the LED-off exchange finish and start the next reading at a
        // different point of the poll cycle.
        QTest::qWait(50 + (i * 37) % 300);
    }
    ClosePort();
    std::sort(samples.begin(), samples.end());
    if (samples.empty())
        return;
    std::printf("%-44s %8zu readings\n", "Latency, last frame byte to listed row:", samples.size());
    std::printf(
        "  median %.1f ms, worst %.1f ms, best %.1f ms; bound 333 + 16 frame bytes "
        "+ 328 ms time-out = %.0f ms\n",
        samples[samples.size() / 2], samples.back(), samples.front(), 333.0 + 16 * 1.04 + 328.0);
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder);
}

class NoKeys final : public platform::Keyboard {
  public:
    platform::Error begin() override { return platform::Error::None; }
    platform::Error key(std::uint8_t, bool) override { return platform::Error::None; }
    void end() override {}
};

void Typing() {
    NoKeys keys;
    struct Case {
        const char* name;
        bool order, time;
        std::uint32_t number;
        const char* code;
        double formula;
    };
    const Case cases[] = {
        {"12-character code alone", false, false, 7, "00000A1B2C3D", 480},
        {"4-digit order, time, 12 characters", true, true, 1234, "00000A1B2C3D", 1800},
        {"10-digit order, time, 14 characters", true, true, 4294967295u, "0123456789ABCD", 2220},
        {"8-character demo code", false, false, 1, "00C0FFEE", 360},
    };
    std::printf("\nTyping a reading (injection stubbed out, real pauses)\n");
    std::printf("  %-38s %10s %10s %8s\n", "reading", "formula", "measured", "ratio");
    platform::UseKeyboard(&keys);
    for (const Case& c : cases) {
        const Reading reading{.order = c.number, .time = "09:41:07", .code = c.code};
        const auto start = Clock::now();
        TypeReading(reading, c.order, c.time);
        const double ms = Ms(Clock::now() - start);
        std::printf("  %-38s %8.0f ms %7.1f ms %8.3f\n", c.name, c.formula, ms, ms / c.formula);
    }
    // The 1800 ms case at the paces a site may set (key_pause_ms): 60 pauses.
    // Through XTest too when there is an X server (DISPLAY): the keys go to
    // whatever has its focus.
    const Reading reading{.order = 1234, .time = "09:41:07", .code = "00000A1B2C3D"};
    std::printf("\nTyping the 1800 ms reading at a site's pace (formula: 60 pauses)\n");
    std::printf("  %-38s %10s %10s %8s\n", "pace, keys", "formula", "measured", "ratio");
    const bool x11 = std::getenv("DISPLAY") != nullptr;
    for (const bool real : {false, true}) {
        if (real && !x11)
            break;
        platform::UseKeyboard(real ? nullptr : &keys);
        for (const unsigned pace : {10u, 30u, 60u}) {
            const auto start = Clock::now();
            const TypingResult result =
                TypeReading(reading, true, true, TypingRules{.keyPauseMs = pace});
            const double ms = Ms(Clock::now() - start);
            const std::string name =
                std::to_string(pace) + " ms, " + (real ? "XTest" : "injection stubbed out");
            std::string note;
            if (result != TypingResult::Typed)
                note.append(" (not typed: result ").append(std::to_string(int(result))).append(")");
            std::printf("  %-38s %8u ms %7.1f ms %8.3f%s\n", name.c_str(), 60 * pace, ms,
                        ms / (60 * pace), note.c_str());
        }
    }
    platform::UseKeyboard(nullptr);
}

void IdleCpu(const std::string& program, int seconds) {
    const auto folder = MakeFolder();
    std::filesystem::current_path(folder);
    sim::Options options;
    options.folder = folder.string();
    sim::ReaderSimulator reader(options);
    std::string error;
    if (!reader.start(error))
        return;
    WriteSettings(options.port, false);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const bool connected = reader.waitForRequests(1, 10000);
    ::usleep(1000000);  // past the start-up
    const double before = CpuSeconds(pid);
    ::usleep(useconds_t(seconds) * 1000000u);
    const double used = CpuSeconds(pid) - before;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::printf("\nCPU of the program polling with no chip, %d s%s: %.2f s = %.2f %%\n", seconds,
                connected ? "" : " (NOT connected)", used, 100.0 * used / seconds);
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("BENCH_SECONDS");
    const int seconds = env ? std::atoi(env) : 30;
    const std::string program =
        std::filesystem::absolute(argc > 1 ? argv[1] : "build/src/chipreader").string();
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    Latency(50);
    Typing();
    IdleCpu(program, seconds);
    return 0;
}
