// USB serial adapters as udev and the kernel show them, in a test's folder:
// the stable names in serial/by-id and serial/by-path, the USB devices in sys
// (for platform::UseDeviceFolders(Names(), Facts())). Each adapter leads to
// a test's own device, a simulator's pseudo-terminal. Like udev, a by-id name
// that several adapters share leads to the last one plugged in that remains.
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fakes/TempDir.h"

namespace fakes {

struct UsbAdapter {
    std::string serial;  // empty: it has none
    int place = 1;       // the port of the root hub it is plugged into
    std::string product = "6001";
};

class FakeUdev {
  public:
    explicit FakeUdev(std::filesystem::path folder) : root_(std::move(folder)) {}
    std::string Names() const { return (root_ / "serial").string(); }
    std::string Facts() const { return (root_ / "sys").string(); }

    std::string byId(const UsbAdapter& a) const {
        return Names() + "/by-id/usb-ZEVO_Reader" + (a.serial.empty() ? "" : "_" + a.serial) +
               "-if00-port0";
    }
    std::string byPath(const UsbAdapter& a) const {
        return Names() + "/by-path/pci-0000:00:04.0-usb-0:" + std::to_string(a.place) +
               ":1.0-port0";
    }

    void plug(const std::string& device, const UsbAdapter& a) {
        namespace fs = std::filesystem;
        const fs::path usb = root_ / "sys/devices/usb1" / ("1-" + std::to_string(a.place));
        const fs::path tty = usb / ("1-" + std::to_string(a.place) + ":1.0/tty/ttyUSB");
        fs::create_directories(tty);
        fs::create_directories(root_ / "sys/dev/char");
        fs::create_directories(root_ / "sys/bus/usb/devices");
        WriteFile(usb / "idVendor", "0403\n");
        WriteFile(usb / "idProduct", a.product + "\n");
        if (!a.serial.empty())
            WriteFile(usb / "serial", a.serial + "\n");
        struct stat st {};
        ::stat(device.c_str(), &st);
        const auto number =
            std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        fs::create_symlink(tty, root_ / "sys/dev/char" / number);
        fs::create_symlink(usb, root_ / "sys/bus/usb/devices" / usb.filename());
        plugged_.push_back({device, a});
        Relink();
    }

    void unplug(const std::string& device) {
        namespace fs = std::filesystem;
        const auto at = std::find_if(plugged_.begin(), plugged_.end(),
                                     [&](const Plugged& p) { return p.device == device; });
        if (at == plugged_.end())
            return;
        const std::string usb = "1-" + std::to_string(at->adapter.place);
        fs::remove_all(root_ / "sys/devices/usb1" / usb);
        fs::remove(root_ / "sys/bus/usb/devices" / usb);
        for (const auto& link : fs::directory_iterator(root_ / "sys/dev/char"))
            if (!fs::exists(link.path()))
                fs::remove(link.path());
        plugged_.erase(at);
        Relink();
    }

  private:
    struct Plugged {
        std::string device;
        UsbAdapter adapter;
    };

    void Relink() {
        namespace fs = std::filesystem;
        fs::remove_all(Names());
        fs::create_directories(Names() + "/by-id");
        fs::create_directories(Names() + "/by-path");
        for (const Plugged& p : plugged_) {
            fs::remove(byId(p.adapter));
            fs::create_symlink(p.device, byId(p.adapter));
            fs::create_symlink(p.device, byPath(p.adapter));
        }
    }

    std::filesystem::path root_;
    std::vector<Plugged> plugged_;
};

}  // namespace fakes
