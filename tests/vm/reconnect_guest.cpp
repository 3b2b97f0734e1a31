// The reconnect scenario on a real kernel with a real USB serial adapter, run
// inside the virtual machine of tests/vm/usb-serial-rig: the main window's
// behaviour on the fake window system, with the operating system's serial
// ports and clock, against the simulated reader behind the adapter.
//
//   reconnect_guest OUT
//
// It works in a fresh folder under /tmp, where COM10 links to the adapter's
// /dev/ttyUSB<n>. The host acts on markers written into OUT: "connected" once
// the reader was found (the host presents chips), "ready" after a first
// reading (the host stops them and pulls the adapter out), "lost" once the
// window says so (the host plugs it back in), "again" once the reader is taken
// back (chips again), "back" after a reading that followed the return. Exit
// status 0 when every step held.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Drv232.h"
#include "Global.h"
#include "MainWindow.h"
#include "SerialPort.h"
#include "Sound.h"
#include "Texts.h"
#include "fakes/FakeWindow.h"
#include "vm/GuestReport.h"

namespace fs = std::filesystem;

namespace {

constexpr int Port = 10;
const std::string Link = "COM10";

using guest::Check;
using guest::Mark;
using guest::Say;

// The adapters the kernel has now, /dev/ttyUSB*, in name order.
std::vector<std::string> Adapters() {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev", ec))
        if (entry.path().filename().string().rfind("ttyUSB", 0) == 0)
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

std::string Target() {
    std::error_code ec;
    return fs::read_symlink(Link, ec).string();
}

// COM10 to the adapter, as a link to /dev/serial/by-id/... would follow it
// (no udev here to make one): re-pointed when its device has gone and
// another has come.
bool FollowAdapter() {
    const std::string now = Target();
    if (!now.empty() && fs::exists(now))
        return true;
    const std::vector<std::string> adapters = Adapters();
    if (adapters.empty())
        return false;
    std::error_code ec;
    fs::remove(Link, ec);
    fs::create_symlink(adapters.front(), Link);
    Say(Link + " -> " + adapters.front());
    return true;
}

// The operating system's serial ports, telling what the kernel answered on
// every failed call: the serial layer's error and errno as the call left it
// (0 when no call failed: a hang-up seen as POLLHUP/POLLERR).
std::vector<std::string> LineErrors;

class TellingPort final : public platform::SerialPort {
  public:
    TellingPort(std::unique_ptr<platform::SerialPort> port, std::string device)
        : port_(std::move(port)), device_(std::move(device)) {}
    platform::Error getLineSettings(platform::LineSettings& s) override {
        return Tell("getLineSettings", [&] { return port_->getLineSettings(s); });
    }
    platform::Error setLineSettings(const platform::LineSettings& s) override {
        return Tell("setLineSettings", [&] { return port_->setLineSettings(s); });
    }
    platform::Error getTimeouts(platform::Timeouts& t) override {
        return Tell("getTimeouts", [&] { return port_->getTimeouts(t); });
    }
    platform::Error setTimeouts(const platform::Timeouts& t) override {
        return Tell("setTimeouts", [&] { return port_->setTimeouts(t); });
    }
    platform::Error escape(platform::ControlLine line) override {
        return Tell("escape", [&] { return port_->escape(line); });
    }
    platform::Error setEventMask(std::uint32_t mask) override {
        return Tell("setEventMask", [&] { return port_->setEventMask(mask); });
    }
    platform::Error write(const std::uint8_t* d, std::size_t n, std::size_t& w) override {
        return Tell("write", [&] { return port_->write(d, n, w); });
    }
    platform::Error read(std::uint8_t* d, std::size_t n, std::size_t& r) override {
        return Tell("read", [&] { return port_->read(d, n, r); });
    }
    platform::Error close() override {
        return Tell("close", [&] { return port_->close(); });
    }

  private:
    template <typename Call>
    platform::Error Tell(const char* what, Call call) {
        errno = 0;
        const platform::Error e = call();
        const int code = errno;
        if (e != platform::Error::None && e != platform::Error::TimedOut) {
            std::ostringstream line;
            line << what << " on " << device_ << ": " << platform::ErrorText(e) << ", errno "
                 << code
                 << (code ? std::string(" (") + std::strerror(code) + ")"
                          : std::string(" (no call failed: poll's POLLHUP/POLLERR)"));
            LineErrors.push_back(line.str());
            Say("line error: " + line.str());
        }
        return e;
    }
    std::unique_ptr<platform::SerialPort> port_;
    std::string device_;
};

class TellingPorts final : public platform::SerialPorts {
  public:
    std::string deviceName(int n) override { return platform::SystemSerial().deviceName(n); }
    std::unique_ptr<platform::SerialPort> open(int n, platform::Error& error) override {
        const std::string device = Target();
        auto port = platform::SystemSerial().open(n, error);
        if (!port) {
            if (error != lastOpenError_)
                Say("open COM" + std::to_string(n) + " (" + device +
                    "): " + platform::ErrorText(error));
            lastOpenError_ = error;
            return nullptr;
        }
        lastOpenError_ = platform::Error::None;
        Say("open COM" + std::to_string(n) + " (" + device + "): ok");
        return std::make_unique<TellingPort>(std::move(port), device);
    }

  private:
    platform::Error lastOpenError_ = platform::Error::None;
};

class QuietSound final : public platform::Sound {
  public:
    void information() override {}
};

// The descriptors of this process that still hold an adapter.
std::vector<std::string> HeldAdapters() {
    std::vector<std::string> held;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        if (target.find("/dev/ttyUSB") != std::string::npos)
            held.push_back(entry.path().filename().string() + " -> " + target);
    }
    return held;
}

// The order numbers of the day's log, in its order.
std::vector<unsigned long> LoggedOrders() {
    std::vector<unsigned long> orders;
    for (const auto& entry : fs::directory_iterator(".")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ZV", 0) != 0 || entry.path().extension() != ".txt")
            continue;
        std::ifstream log(entry.path());
        for (std::string line; std::getline(log, line);)
            orders.push_back(std::strtoul(line.c_str(), nullptr, 10));
    }
    return orders;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: reconnect_guest OUT-FOLDER\n";
        return 2;
    }
    guest::OutFolder = argv[1];
    char folder[] = "/tmp/chipreader-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) {
        std::perror("work folder");
        return 2;
    }

    fakes::EventLoop loop;
    fakes::FakeWindow window(loop);
    TForm1 form(window);
    window.attach(form);
    TellingPorts ports;
    QuietSound sound;
    platform::UseSerial(&ports);
    platform::UseSound(&sound);
    // Only COM10: the guest's console is on ttyS0.
    platform::LimitToLinkedPorts(true);

    const std::string connected =
        texts::Connected + std::string("1234") + texts::OnPort + std::to_string(Port);
    const std::string lost = texts::ReaderLost + std::to_string(Port) + texts::ReaderLostEnd;
    const auto status = [&] { return window.status(); };

    // The adapter as the kernel found it at boot.
    loop.runUntil([] { return !Adapters().empty(); }, 15000);
    Check(FollowAdapter(), "a USB serial adapter at boot");
    const std::string before = Target();

    Settings = TReaderSettings{};
    Settings.Port = Port;
    Settings.AutoLedOff = true;
    Settings.SaveOnDisk = true;
    SaveSettings();
    window.activate();
    Check(form.StartupDone() && status() == connected, "found the reader: " + status());
    Mark("connected", before);

    loop.runUntil([] { return RunningOrder >= 1; }, 15000);
    Check(RunningOrder >= 1, "a reading before the adapter is pulled out");
    const std::uint32_t readBefore = RunningOrder;
    Mark("ready", before);

    // The host pulls the adapter out while the window polls.
    loop.runUntil([&] { return status() == lost; }, 20000);
    const std::uint32_t readWhileLost = RunningOrder;
    Check(status() == lost, "the reader said lost: " + status());
    Check(window.statusColour() == LostBarColor, "the lost bar's colour");
    std::string held;
    for (const auto& fd : HeldAdapters())
        held += " " + fd;
    Check(PortHandle == nullptr && held.empty(),
          "the hung-up port let go at once (descriptors held:" + (held.empty() ? " none" : held) +
              ")");
    Check(!LineErrors.empty(), "the serial layer reported the hang-up");
    std::string adaptersLeft;
    for (const auto& a : Adapters())
        adaptersLeft += " " + a;
    Say("adapters after the unplug:" + (adaptersLeft.empty() ? " none" : adaptersLeft));
    Mark("lost", LineErrors.empty() ? "no error" : LineErrors.front());

    // The host plugs it back in; COM10 follows the adapter under whichever
    // name it comes back with, as a by-id link would.
    const int follower = loop.watch([] { FollowAdapter(); });
    loop.runUntil([&] { return status() == connected; }, 30000);
    Check(status() == connected, "the reader taken back: " + status());
    Mark("again", Target());
    loop.runUntil([&] { return RunningOrder > readWhileLost; }, 15000);
    loop.unwatch(follower);
    Check(RunningOrder > readWhileLost, "a reading after the return");
    const std::string after = Target();
    // A descriptor left on the dead adapter keeps its name taken: it would
    // come back as the next ttyUSB.
    Check(after == before, "the adapter back under its old name: " + before + " -> " + after);

    const std::vector<unsigned long> orders = LoggedOrders();
    bool numberedOn = !orders.empty();
    for (std::size_t i = 0; i < orders.size(); ++i)
        numberedOn = numberedOn && orders[i] == i + 1;
    Check(numberedOn && orders.size() == RunningOrder,
          "every reading logged once, numbered on (" + std::to_string(orders.size()) +
              " lines, order " + std::to_string(RunningOrder) + ", " + std::to_string(readBefore) +
              " before the unplug)");
    Check(window.errors.empty(), "no error box");
    Mark("back", before + " -> " + after);

    ClosePort();
    platform::UseSerial(nullptr);
    platform::UseSound(nullptr);
    Say(guest::Failures.empty() ? "passed"
                                : std::to_string(guest::Failures.size()) + " step(s) failed");
    return guest::Failures.empty() ? 0 : 1;
}
