// Time from the start of the process to the end of the start-up search, with
// the reader on the first port tried ("first") or on no port at all ("none"),
// and the memory high-water mark once the window is shown. Offscreen.
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Drv232.h"
#include "Global.h"
#include "MainWindow.h"
#include "QtMainWindow.h"
#include "ReaderSimulator.h"

namespace {

// Milliseconds since the process started, from the kernel's start time (in
// clock ticks since boot, so good to about 10 ms).
double MsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 0; i < 19; ++i)
        fields >> field;  // state .. itrealvalue
    unsigned long long startTicks = 0;
    fields >> startTicks;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
    return nowMs - double(startTicks) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

std::string Status(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return line.substr(line.find_first_not_of(" \t", 6));
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "first";
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string pattern = (std::filesystem::temp_directory_path() / "chipstart-XXXXXX").string();
    const std::filesystem::path folder = ::mkdtemp(pattern.data());
    std::filesystem::current_path(folder);

    std::unique_ptr<sim::ReaderSimulator> reader;
    Settings = TReaderSettings{};
    if (mode == "first") {
        sim::Options options;
        options.folder = folder.string();
        options.port = 3;
        reader = std::make_unique<sim::ReaderSimulator>(options);
        std::string error;
        if (!reader->start(error))
            return 1;
        Settings.Port = 3;
    } else {
        // Every port a link that leads nowhere: the search meets no device
        // of this machine.
        for (int n = 0; n < 30; ++n)
            std::filesystem::create_symlink("/nonexistent", "COM" + std::to_string(n));
        Settings.Port = 29;
    }
    SaveSettings();
    Settings = TReaderSettings{};

    QApplication app(argc, argv);
    QtMainWindow window;
    TForm1 form(window);
    window.attach(form);
    window.show();
    window.activateWindow();
    const bool done = QTest::qWaitFor([&] { return form.StartupDone(); }, 30000);
    const double ms = MsSinceProcessStart();
    std::printf("start-up search, reader %s: %.0f ms from process start (%s), %s; VmHWM %s\n",
                mode == "first" ? "on the first port" : "on no port", ms,
                window.text(Control::StatusBar1).c_str(), done ? "done" : "NOT done",
                Status("VmHWM:").c_str());
    ClosePort();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder);
    return done ? 0 : 1;
}
