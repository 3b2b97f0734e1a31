// The real program as a process of its own, against a simulated reader: a
// fresh working folder with the reader on COM3 and a settings file that names
// that port (automatic LED-off on, no sound), and the program started there.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "Global.h"
#include "ReaderSimulator.h"

class ProgramRun {
  public:
    explicit ProgramRun(const char* name) : previous_(std::filesystem::current_path()) {
        std::string pattern = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::printf("no temporary folder\n");
            return;
        }
        folder_ = pattern;
        std::filesystem::current_path(folder_);
        sim::Options options;
        options.folder = folder_.string();
        options.port = 3;
        reader = std::make_unique<sim::ReaderSimulator>(options);
        std::string error;
        if (!reader->start(error)) {
            std::printf("no simulated reader: %s\n", error.c_str());
            reader.reset();
            return;
        }
        Settings = TReaderSettings{};
        Settings.Port = 3;
        Settings.AutoLedOff = true;
        Settings.SoundSignal = false;
        SaveSettings();
        Settings = TReaderSettings{};
    }

    ~ProgramRun() {
        stop();
        reader.reset();
        std::filesystem::current_path(previous_);
        if (!folder_.empty())
            std::filesystem::remove_all(folder_);
    }

    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool ready() const { return reader != nullptr; }

    // Starts the program in the folder, Qt offscreen.
    void start(const std::string& program) {
        pid = ::fork();
        if (pid == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    // Ends the program; whether it was still running.
    bool stop() {
        if (pid <= 0)
            return false;
        const bool alive = ::waitpid(pid, nullptr, WNOHANG) == 0;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = 0;
        return alive;
    }

    std::unique_ptr<sim::ReaderSimulator> reader;
    pid_t pid = 0;

  private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};
