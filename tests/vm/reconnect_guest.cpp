// The reconnect scenario on a real kernel with real USB serial adapters, run
// inside the virtual machine of tests/vm/usb-serial-rig: the main window's
// behaviour on the fake window system, with the operating system's serial
// ports and clock, against the simulated reader behind one adapter, and with
// udev naming the adapters in /dev/serial/by-id.
//
//   reconnect_guest OUT serials|no-serials
//
// serials: each adapter has a USB serial number of its own, so a by-id name
// of its own, by which the reader's is known. no-serials: neither has one;
// they share a by-id name, which leads to whichever adapter is there, and
// the reader's is known by its place on the bus (/dev/serial/by-path).
// It works in a fresh folder under /tmp, where COM10 to COM19 link to
// /dev/ttyUSB0 to 9, the machine's own numbers for USB adapters (the ttyS
// ports are left out: the guest's console is on ttyS0). The host acts on
// markers written into OUT: "connected" once the reader was found on COM10
// (the host presents chips); "ready" after a first reading (the host stops
// them and pulls the adapter out); "lost" once the window says so (the host
// plugs in another adapter, which takes /dev/ttyUSB0 and writes what it
// receives to OUT/other-adapter.bin); "searched" once the window has searched
// the ports and then left that adapter alone for a while (the host plugs the
// reader's adapter back: /dev/ttyUSB1); "again" once the reader is taken back
// on COM11 (chips again); "back" after a reading that followed the return.
// Exit status 0 when every step held.
#include <sys/stat.h>
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
#include <utility>
#include <vector>

#include "Drv232.h"
#include "Global.h"
#include "MainWindow.h"
#include "SerialPort.h"
#include "Sound.h"
#include "Texts.h"
#include "fakes/CountingSound.h"
#include "fakes/FakeWindow.h"
#include "fakes/ForwardingSerial.h"
#include "vm/GuestReport.h"

namespace fs = std::filesystem;

namespace {

constexpr int ReaderPort = 10;  // /dev/ttyUSB0, where the reader's adapter is at boot
constexpr int ReturnPort = 11;  // /dev/ttyUSB1, where it comes back: the other took ttyUSB0
const std::string ByIdFolder = "/dev/serial/by-id";
const std::string ByPathFolder = "/dev/serial/by-path";

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

std::string Listed(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items)
        text += " " + item;
    return text.empty() ? " none" : text;
}

// The stable name udev gave the device, as a path in `folder` (by-id or
// by-path); empty when it has none (yet). Told by device number
// (fs::equivalent turns character devices down).
std::string StableNameIn(const std::string& device, const std::string& folder) {
    struct stat wanted {};
    if (::stat(device.c_str(), &wanted) != 0 || !S_ISCHR(wanted.st_mode))
        return {};
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        struct stat found {};
        // Not udev's temporary link (".#name..."), renamed a moment later.
        if (entry.path().filename().string().rfind('.', 0) != 0 &&
            ::stat(entry.path().c_str(), &found) == 0 && S_ISCHR(found.st_mode) &&
            found.st_rdev == wanted.st_rdev)
            return entry.path().string();
    }
    return {};
}

std::string LinkOf(int port) {
    std::error_code ec;
    return fs::read_symlink("COM" + std::to_string(port), ec).string();
}

// The operating system's serial ports, telling what the kernel answered on
// every failed call: the serial layer's error and errno as the call left it
// (0 when no call failed: a hang-up seen as POLLHUP/POLLERR).
std::vector<std::string> LineErrors;

class TellingPort final : public fakes::ForwardingPort {
  public:
    TellingPort(std::unique_ptr<platform::SerialPort> port, std::string device)
        : ForwardingPort(std::move(port)), device_(std::move(device)) {}

  private:
    platform::Error call(const char* what, const std::function<platform::Error()>& make) override {
        errno = 0;
        const platform::Error e = make();
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
    std::string device_;
};

// Every open attempt: the port and whether it opened.
std::vector<std::pair<int, bool>> Opens;

class TellingPorts final : public platform::SerialPorts {
  public:
    std::string deviceName(int n) override { return platform::SystemSerial().deviceName(n); }
    std::unique_ptr<platform::SerialPort> open(int n, platform::Error& error) override {
        const std::string device = LinkOf(n);
        auto port = platform::SystemSerial().open(n, error);
        Opens.emplace_back(n, port != nullptr);
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
    platform::Whereabouts locate(const std::string& identity, int preferred) override {
        return platform::SystemSerial().locate(identity, preferred);
    }
    bool present(int n) override { return platform::SystemSerial().present(n); }

  private:
    platform::Error lastOpenError_ = platform::Error::None;
};

// The successful opens of port n from the open attempt `since` on.
int OpensOf(int n, std::size_t since) {
    int count = 0;
    for (std::size_t i = since; i < Opens.size(); ++i)
        count += Opens[i].first == n && Opens[i].second;
    return count;
}

// What the other adapter received, as the host's QEMU wrote it down.
std::string OtherReceived() {
    std::ifstream file(fs::path(guest::OutFolder) / "other-adapter.bin", std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string Visible(const std::string& bytes) {
    std::string text;
    for (const unsigned char c : bytes)
        text += c == '\r' ? std::string("\\r") : c < 32 || c > 126 ? "?" : std::string(1, char(c));
    return '"' + text + '"';
}

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
    const std::string adapters = argc == 3 ? argv[2] : "";
    if (adapters != "serials" && adapters != "no-serials") {
        std::cerr << "usage: reconnect_guest OUT-FOLDER serials|no-serials\n";
        return 2;
    }
    // The folder of the name the reader's adapter is known by.
    const std::string knownBy = adapters == "serials" ? ByIdFolder : ByPathFolder;
    const auto NameOf = [&](const std::string& device) { return StableNameIn(device, knownBy); };
    guest::OutFolder = argv[1];
    char folder[] = "/tmp/chipreader-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) {
        std::perror("work folder");
        return 2;
    }
    for (int n = 0; n <= 9; ++n)
        fs::create_symlink("/dev/ttyUSB" + std::to_string(n), "COM" + std::to_string(10 + n));

    fakes::EventLoop loop;
    fakes::FakeWindow window(loop);
    TForm1 form(window);
    window.attach(form);
    TellingPorts ports;
    fakes::CountingSound sound;
    platform::UseSerial(&ports);
    platform::UseSound(&sound);
    platform::LimitToLinkedPorts(true);

    const auto connected = [](int port) {
        return texts::Connected + std::string("1234") + texts::OnPort + std::to_string(port);
    };
    const std::string lost = texts::ReaderLost + std::to_string(ReaderPort) + texts::ReaderLostEnd;
    const auto status = [&] { return window.status(); };

    // The adapter as the kernel found it at boot, named by udev.
    const std::string first = "/dev/ttyUSB0";
    const auto byId = [](const std::string& device) { return StableNameIn(device, ByIdFolder); };
    loop.runUntil([&] { return !NameOf(first).empty() && !byId(first).empty(); }, 20000);
    const std::string readerName = NameOf(first);
    const std::string readerById = byId(first);
    Check(!readerName.empty() && !readerById.empty(),
          "the reader's adapter at boot: " + first + " named " +
              (readerName.empty() ? "(nothing)" : readerName) + ", by-id " +
              (readerById.empty() ? "(nothing)" : readerById) + "; adapters:" + Listed(Adapters()));

    Settings = TReaderSettings{};
    Settings.Port = ReaderPort;
    Settings.AutoLedOff = true;
    Settings.SaveOnDisk = true;
    SaveSettings();
    window.activate();
    Check(form.StartupDone() && status() == connected(ReaderPort), "found the reader: " + status());
    const std::string known = PortHandle ? PortHandle->identity() : std::string();
    Check(!known.empty() && known == readerName,
          "its port tells the adapter's stable name: " + known);
    Mark("connected", first);

    loop.runUntil([] { return RunningOrder >= 1; }, 15000);
    Check(RunningOrder >= 1, "a reading before the adapter is pulled out");
    const std::uint32_t readBefore = RunningOrder;
    Mark("ready", first);

    // The host pulls the adapter out while the window polls.
    loop.runUntil([&] { return status() == lost; }, 20000);
    const std::uint32_t readWhileLost = RunningOrder;
    const std::size_t opensAtLoss = Opens.size();
    Check(status() == lost, "the reader said lost: " + status());
    Check(window.statusColor() == LostBarColor, "the lost bar's colour");
    std::string held;
    for (const auto& fd : HeldAdapters())
        held += " " + fd;
    Check(PortHandle == nullptr && held.empty(),
          "the hung-up port let go at once (descriptors held:" + (held.empty() ? " none" : held) +
              ")");
    Check(!LineErrors.empty(), "the serial layer reported the hang-up");
    Say("adapters after the unplug:" + Listed(Adapters()));
    Mark("lost", LineErrors.empty() ? "no error" : LineErrors.front());

    // The host plugs in another adapter. It takes ttyUSB0: a descriptor left
    // on the reader's dead adapter would have kept that number taken.
    std::string otherName;
    loop.runUntil(
        [&] {
            otherName = NameOf(first);
            return !otherName.empty() && otherName != readerName && !byId(first).empty();
        },
        20000);
    Check(!otherName.empty() && otherName != readerName,
          "another adapter took " + first + ": " + (otherName.empty() ? "(none)" : otherName));
    // Without serial numbers it has the reader's by-id name too: that name
    // leads to it now.
    Check((byId(first) == readerById) == (adapters == "no-serials"),
          "its by-id name: " + byId(first));

    // Nothing opens it until the one search, about ten tries after the loss;
    // after that it is left alone.
    loop.runUntil([&] { return OpensOf(ReaderPort, opensAtLoss) > 0; }, 30000);
    const std::size_t searchedAt = Opens.size();
    loop.runFor(4000);
    Check(OpensOf(ReaderPort, opensAtLoss) == 1 && Opens.size() == searchedAt,
          "the other adapter on COM" + std::to_string(ReaderPort) +
              " opened once, by the search (" + std::to_string(OpensOf(ReaderPort, opensAtLoss)) +
              " opens, " + std::to_string(Opens.size() - searchedAt) +
              " open attempts in the 4 s after it)");
    Check(status() == lost, "still lost after the search: " + status());
    Check(OtherReceived() == "QI\r",
          "the other adapter received the search's identification request only: " +
              Visible(OtherReceived()));
    Mark("searched", otherName);

    // The host plugs the reader's adapter back: ttyUSB1, found by its name.
    loop.runUntil([&] { return status() == connected(ReturnPort); }, 30000);
    Check(status() == connected(ReturnPort), "the reader taken back: " + status());
    // udev names the adapter a moment after its device appears.
    loop.runUntil([&] { return !NameOf(LinkOf(ReturnPort)).empty(); }, 10000);
    Check(Settings.Port == ReturnPort && NameOf(LinkOf(ReturnPort)) == readerName,
          "on COM" + std::to_string(int(Settings.Port)) + ", " + LinkOf(ReturnPort) + ", named " +
              NameOf(LinkOf(ReturnPort)));
    Mark("again", LinkOf(ReturnPort));
    loop.runUntil([&] { return RunningOrder > readWhileLost; }, 15000);
    Check(RunningOrder > readWhileLost, "a reading after the return");
    loop.runFor(2000);
    Check(OpensOf(ReaderPort, opensAtLoss) == 1 && OtherReceived() == "QI\r",
          "the other adapter left alone: " + std::to_string(OpensOf(ReaderPort, opensAtLoss)) +
              " open, received " + Visible(OtherReceived()));

    const std::vector<unsigned long> orders = LoggedOrders();
    bool numberedOn = !orders.empty();
    for (std::size_t i = 0; i < orders.size(); ++i)
        numberedOn = numberedOn && orders[i] == i + 1;
    Check(numberedOn && orders.size() == RunningOrder,
          "every reading logged once, numbered on (" + std::to_string(orders.size()) +
              " lines, order " + std::to_string(RunningOrder) + ", " + std::to_string(readBefore) +
              " before the unplug)");
    Check(window.errors.empty(), "no error box");
    Mark("back", first + " -> " + LinkOf(ReturnPort));

    ClosePort();
    platform::UseSerial(nullptr);
    platform::UseSound(nullptr);
    Say(guest::Failures.empty() ? "passed"
                                : std::to_string(guest::Failures.size()) + " step(s) failed");
    return guest::Failures.empty() ? 0 : 1;
}
