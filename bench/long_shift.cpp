// Memory over a long shift: readings go through the real window (Qt,
// offscreen) one after another, and the program's resident memory is printed
// every 1,000 readings. The list holds 31 rows whatever the count, so after
// the first thousand the memory should stay flat.
//
//   bench_long_shift [READINGS]        default 10000
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Global.h"
#include "MainWindow.h"
#include "QtMainWindow.h"

namespace {

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const long readings = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QtMainWindow window;
    TForm1 form(window);
    window.attach(form);
    window.show();
    QApplication::processEvents();

    // Listed, not logged or typed: the window's part of a reading.
    Settings = TReaderSettings{};
    window.setShown(Control::Memo1, true);
    long first = 0;
    std::printf("%10s %12s\n", "readings", "resident kB");
    for (long n = 1; n <= readings; ++n) {
        ChipCode = DemoChipText(std::uint32_t(n * 2654435761u % DemoCodeLimit));
        form.RecordReading(ReadingFrom::Demo);
        QApplication::processEvents();
        if (n % 1000 == 0) {
            const long kb = ResidentKb();
            if (n == 1000)
                first = kb;
            std::printf("%10ld %12ld\n", n, kb);
            std::fflush(stdout);
        }
    }
    if (readings >= 2000)
        std::printf("growth after the first 1000 readings: %ld kB\n", ResidentKb() - first);
    return 0;
}
