// Chips presented at random moments to the real program (a process of its
// own, Qt offscreen) through the simulated reader at 9600 baud: how many became
// readings with their own codes, in order, and how many were lost or read
// wrong. The moments fall anywhere in the reading cycle: during a poll, as a
// poll's time-out runs out, during the LED-off after a reading, two chips in
// one cycle. BENCH_CHIPS chips (default 100), BENCH_SEED for the moments.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Global.h"
#include "ProgramRun.h"
#include "ReaderSimulator.h"

#ifndef CHIPREADER_EXE
#define CHIPREADER_EXE "build/src/chipreader"
#endif

namespace {

std::string Code(int n) {
    char code[16];
    std::snprintf(code, sizeof code, "C%013d", n);
    return code;
}

// The codes of the day's logs of the folder, in order.
std::vector<std::string> LoggedCodes() {
    std::vector<std::string> codes;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ZV", 0) != 0 || entry.path().extension() != ".txt")
            continue;
        std::ifstream log(entry.path());
        for (std::string order, time, code; log >> order >> time >> code;)
            codes.push_back(code);
    }
    return codes;
}

}  // namespace

int main(int argc, char** argv) {
    const char* chipsEnv = std::getenv("BENCH_CHIPS");
    const char* seedEnv = std::getenv("BENCH_SEED");
    const int chips = chipsEnv ? std::max(1, std::atoi(chipsEnv)) : 100;
    std::mt19937 random(seedEnv ? unsigned(std::atoi(seedEnv)) : 4815u);
    const std::string program =
        std::filesystem::absolute(argc > 1 ? argv[1] : CHIPREADER_EXE).string();

    ProgramRun run("chiploss");
    if (!run.ready())
        return 1;
    // 14-character codes, each reading logged.
    Settings = TReaderSettings{};
    Settings.Port = 3;
    Settings.AutoLedOff = true;
    Settings.SaveOnDisk = true;
    Settings.CrcDigits = true;
    SaveSettings();
    run.start(program);
    if (!run.reader->waitForRequests(1, 20000)) {
        std::printf("chip loss: the program never asked the reader\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // From 50 ms to 1 s apart: about two readings' cycles at most.
    std::uniform_int_distribution<int> pause(50, 1000);
    for (int n = 1; n <= chips; ++n) {
        run.reader->presentChip(Code(n));
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    run.stop();

    const std::vector<std::string> logged = LoggedCodes();
    int read = 0, lost = 0, wrong = 0;
    std::size_t at = 0;  // codes must come in the order presented
    for (int n = 1; n <= chips; ++n) {
        const auto it = std::find(logged.begin() + long(at), logged.end(), Code(n));
        if (it == logged.end()) {
            ++lost;
            continue;
        }
        wrong += int(it - logged.begin() - long(at));  // codes before it that were never presented
        at = std::size_t(it - logged.begin()) + 1;
        ++read;
    }
    wrong += int(logged.size() - at);
    std::printf(
        "chip loss: %d chips presented at random moments, %d read, %d lost, %d readings "
        "of codes never presented or out of order\n",
        chips, read, lost, wrong);
    return 0;
}
