// Serial ports on POSIX systems. A Windows port does no line processing, so
// the line is put in raw mode; reads and writes follow the Windows time-out
// rules, measured with poll() and the monotonic clock (how long a read may
// wait is ReadTimeLeft's, ReadTimer.cpp).
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ReadTimer.h"
#include "SerialPort.h"
#include "errno_posix.h"

namespace platform {

namespace {

// Set by tests (LimitToLinkedPorts); put back in ResetProgramState
// (tests/fakes/ProgramState.h).
bool linkedPortsOnly = false;

// Where the system keeps the stable names of serial devices: udev's links in
// by-id (named after the adapter's make, model and serial number) and by-path
// (after its place on the bus); and the kernel's facts about devices (sysfs).
// Set by tests (UseDeviceFolders); put back in ResetProgramState.
const char* const SystemNamesFolder = "/dev/serial";
const char* const SystemFactsFolder = "/sys";
std::string namesFolder = SystemNamesFolder;
std::string factsFolder = SystemFactsFolder;

// The device number of the character device that `path` leads to, links
// followed; false when there is none.
bool CharDevice(const std::string& path, dev_t& device) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    device = st.st_rdev;
    return true;
}

// The entry of `folder` that leads to the device numbered `device`, as a
// path; empty when none does. Told by device number, not by name: the port
// may have been opened through any link or name.
std::string EntryLeadingTo(const std::string& folder, dev_t device) {
    std::vector<std::string> entries;
    std::error_code ec;
    // udev makes each name as a hidden temporary link (".#name" and some
    // letters) and then renames it: such a link is gone a moment later.
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.path().filename().string().rfind('.', 0) != 0)
            entries.push_back(entry.path().string());
    std::sort(entries.begin(), entries.end());  // the same answer whatever the folder's order
    for (const std::string& entry : entries) {
        dev_t found{};
        if (CharDevice(entry, found) && found == device)
            return entry;
    }
    return {};
}

// A USB device as udev names it: its vendor and product numbers and its
// serial number (empty when it has none).
struct UsbId {
    std::string vendor, product, serial;
    bool operator==(const UsbId&) const = default;
};

std::string Attribute(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string value;
    std::getline(in, value);
    return value;
}

// The serial number udev puts into the names, from the attribute "serial":
// ignored when it has a control character, a byte above 127 or a comma,
// spaces around it dropped.
std::string SerialNumber(const std::string& attribute) {
    for (const unsigned char c : attribute)
        if (c < 0x20 || c > 0x7f || c == ',')
            return {};
    const auto first = attribute.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return attribute.substr(first, attribute.find_last_not_of(' ') - first + 1);
}

UsbId UsbIdOf(const std::filesystem::path& usbDevice) {
    return {Attribute(usbDevice / "idVendor"), Attribute(usbDevice / "idProduct"),
            SerialNumber(Attribute(usbDevice / "serial"))};
}

// The sysfs folder of the USB device that carries the character device
// numbered `device` (the first folder above the device's own with an
// "idVendor"); empty when it is on no USB device.
std::filesystem::path UsbDeviceOf(dev_t device) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path root = fs::canonical(factsFolder, ec);
    if (ec)
        return {};
    const std::string number = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    fs::path at = fs::canonical(root / "dev" / "char" / number, ec);
    if (ec)
        return {};
    for (; at != root && at != at.root_path(); at = at.parent_path())
        if (fs::exists(at / "idVendor", ec))
            return at;
    return {};
}

// Whether the by-id name of the device numbered `device` is its adapter's
// alone. udev makes it from the make, model and serial number, and points it
// at any one of the adapters that have the same; so it is only when the
// adapter has a serial number and no other USB device present has the same
// vendor, product and serial number. (The name itself cannot tell: spaces in
// the make and model become "_" as the one before the serial number does.)
bool NamesOneAdapter(dev_t device) {
    namespace fs = std::filesystem;
    const fs::path usb = UsbDeviceOf(device);
    if (usb.empty())
        return false;
    const UsbId id = UsbIdOf(usb);
    if (id.serial.empty())
        return false;
    // Devices come and go meanwhile: the listing's errors end it, never throw.
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(factsFolder) / "bus/usb/devices", ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code gone;
        const fs::path other = fs::canonical(it->path(), gone);
        if (!gone && other != usb && fs::exists(other / "idVendor", gone) && UsbIdOf(other) == id)
            return false;
    }
    return true;
}

// The stable name of the device numbered `device`: its by-id entry when that
// names its adapter alone, otherwise its by-path entry (its place on the
// bus); empty when it has no by-id entry (not a USB adapter) or no place.
std::string IdentityOf(dev_t device) {
    const std::string byId = EntryLeadingTo(namesFolder + "/by-id", device);
    if (byId.empty() || NamesOneAdapter(device))
        return byId;
    return EntryLeadingTo(namesFolder + "/by-path", device);
}

std::int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct BaudCode {
    std::uint32_t rate;
    speed_t code;
};
constexpr BaudCode Bauds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                              {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

std::uint32_t RateOf(speed_t code) {
    for (const auto& b : Bauds)
        if (b.code == code)
            return b.rate;
    return 0;
}

// Whether fd is the terminal side of a pseudo-terminal. Decided by the
// device number, which the kernel fixes: Unix98 pseudo-terminal slaves
// (/dev/pts/N) have majors 136 to 143 (Linux's devices.txt). A name test
// ("/dev/pts/...") would be fooled by a link, and the pseudo-terminal calls
// (ptsname, TIOCGPTN) answer on the master side, not on the side we open.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned int deviceMajor = major(st.st_rdev);
    return deviceMajor >= 136 && deviceMajor <= 143;
}

// The error of a read or write on a port that is open. A device that went
// away (a USB adapter pulled out) answers EIO, or ENXIO / ENODEV: here that is
// the line hanging up, not a port that was never there.
Error LineError(int code) {
    return code == ENXIO || code == ENODEV ? Error::HungUp : FromErrno(code);
}

class PosixSerialPort final : public SerialPort {
  public:
    explicit PosixSerialPort(int fd) : fd_(fd) {}
    ~PosixSerialPort() override { close(); }

    Error getLineSettings(LineSettings& s) override {
        termios t{};
        if (tcgetattr(fd_, &t) != 0)
            return FromErrno(errno);
        s.baudRate = RateOf(cfgetospeed(&t));
        switch (t.c_cflag & CSIZE) {
            case CS5:
                s.byteSize = 5;
                break;
            case CS6:
                s.byteSize = 6;
                break;
            case CS7:
                s.byteSize = 7;
                break;
            default:
                s.byteSize = 8;
                break;
        }
        s.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? Parity::Odd : Parity::Even)
                                        : Parity::None;
        s.stopBits = (t.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
        return Error::None;
    }

    Error setLineSettings(const LineSettings& s) override {
        termios t{};
        if (tcgetattr(fd_, &t) != 0)
            return FromErrno(errno);
        speed_t speed = 0;
        bool known = false;
        for (const auto& b : Bauds)
            if (b.rate == s.baudRate)
                speed = b.code, known = true;
        tcflag_t size = s.byteSize == 5 ? CS5 : s.byteSize == 6 ? CS6 : s.byteSize == 7 ? CS7 : CS8;
        if (!known || s.byteSize < 5 || s.byteSize > 8 || s.parity > Parity::Even ||
            s.stopBits == StopBits::OneAndHalf)
            return Error::Invalid;
        // Raw: no echo, no canonical input, no CR/NL translation, no signal
        // characters, no software flow control. Hardware flow control stays as found.
        t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                               IXOFF | IXANY);
        t.c_oflag &= ~tcflag_t(OPOST);
        t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB);
        t.c_cflag |= size | CREAD | CLOCAL;
        if (s.parity == Parity::Odd)
            t.c_cflag |= PARENB | PARODD;
        if (s.parity == Parity::Even)
            t.c_cflag |= PARENB;
        if (s.stopBits == StopBits::Two)
            t.c_cflag |= CSTOPB;
        // Reads never rely on VMIN/VTIME: the descriptor is non-blocking and
        // the time-outs are kept in milliseconds here.
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0)
            return FromErrno(errno);
        if (tcsetattr(fd_, TCSANOW, &t) != 0)
            return FromErrno(errno);
        return Error::None;
    }

    Error getTimeouts(Timeouts& t) override {
        if (fd_ < 0)
            return Error::Invalid;
        t = timeouts_;
        return Error::None;
    }

    Error setTimeouts(const Timeouts& t) override {
        if (fd_ < 0)
            return Error::Invalid;
        timeouts_ = t;
        return Error::None;
    }

    Error escape(ControlLine line) override {
        int bit =
            (line == ControlLine::SetRts || line == ControlLine::ClearRts) ? TIOCM_RTS : TIOCM_DTR;
        bool raise = line == ControlLine::SetRts || line == ControlLine::SetDtr;
        if (ioctl(fd_, raise ? TIOCMBIS : TIOCMBIC, &bit) == 0)
            return Error::None;
        const int failure = errno;
        // A pseudo-terminal (the reader simulator) has no modem-control lines:
        // there, and only there, a refusal counts as done. A real adapter that
        // refuses them has failed.
        if ((failure == ENOTTY || failure == EINVAL) && IsPseudoTerminal(fd_))
            return Error::None;
        return FromErrno(failure);
    }

    Error setEventMask(std::uint32_t) override {
        // Nothing waits for port events; the mask has no POSIX counterpart.
        return fd_ >= 0 ? Error::None : Error::Invalid;
    }

    Error write(const std::uint8_t* data, std::size_t n, std::size_t& written) override {
        written = 0;
        if (fd_ < 0)
            return Error::Invalid;
        const bool bounded = timeouts_.writeTotalMultiplier || timeouts_.writeTotalConstant;
        const std::int64_t deadline =
            NowMs() + std::int64_t(timeouts_.writeTotalMultiplier) * std::int64_t(n) +
            timeouts_.writeTotalConstant;
        while (written < n) {
            ssize_t w = ::write(fd_, data + written, n - written);
            if (w > 0) {
                written += std::size_t(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                return LineError(errno);
            int wait = -1;
            if (bounded) {
                std::int64_t left = deadline - NowMs();
                if (left <= 0)
                    return Error::TimedOut;
                wait = int(left);
            }
            pollfd p{fd_, POLLOUT, 0};
            int r = ::poll(&p, 1, wait);
            if (r < 0 && errno != EINTR)
                return FromErrno(errno);
            if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return Error::HungUp;
        }
        return Error::None;
    }

    Error read(std::uint8_t* data, std::size_t n, std::size_t& received, ReadEnd& ended) override {
        received = 0;
        ended = ReadEnd::No;
        if (fd_ < 0)
            return Error::Invalid;
        const std::int64_t start = NowMs();
        std::int64_t lastByte = start;
        while (received < n) {
            const ReadWait wait = ReadTimeLeft(timeouts_, n, start, received, lastByte, NowMs());
            if (wait.end != ReadEnd::No) {
                ended = wait.end;
                return Error::None;
            }
            pollfd p{fd_, POLLIN, 0};
            int r = ::poll(&p, 1, wait.ms < 0 ? -1 : int(std::min<std::int64_t>(wait.ms, INT_MAX)));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return FromErrno(errno);
            }
            if (r == 0)
                continue;  // the loop head decides whether time is up
            if (p.revents & POLLNVAL)
                return Error::Invalid;
            ssize_t got = ::read(fd_, data + received, n - received);
            if (got > 0) {
                received += std::size_t(got);
                lastByte = NowMs();
            } else if (got == 0) {
                return Error::HungUp;  // end of file: the line is gone
            } else if (errno != EAGAIN && errno != EINTR) {
                return LineError(errno);
            } else if (p.revents & (POLLHUP | POLLERR)) {
                return Error::HungUp;  // nothing to read, and nothing will come
            }
        }
        ended = ReadEnd::Count;
        return Error::None;
    }

    Error close() override {
        if (fd_ < 0)
            return Error::Invalid;
        int fd = fd_;
        fd_ = -1;
        // The exclusive mark belongs to the device, not to this descriptor:
        // take it away, or nobody but root could open the port again while
        // another holder (a simulator) keeps the device open.
        if (::isatty(fd))
            ::ioctl(fd, TIOCNXCL);
        return ::close(fd) == 0 ? Error::None : FromErrno(errno);
    }

    std::string identity() override {
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISCHR(st.st_mode))
            return {};
        return IdentityOf(st.st_rdev);
    }

  private:
    int fd_;
    Timeouts timeouts_{};
};

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

class PosixSerialPorts final : public SerialPorts {
  public:
    std::string deviceName(int n) override {
        std::string link = "COM" + std::to_string(n);
        if (Exists(link) || linkedPortsOnly)
            return link;
        if (n >= 0 && n <= 9)
            return "/dev/ttyS" + std::to_string(n);
        if (n >= 10 && n <= 19)
            return "/dev/ttyUSB" + std::to_string(n - 10);
        if (n >= 20 && n <= 29)
            return "/dev/ttyACM" + std::to_string(n - 20);
        return "/dev/ttyS" + std::to_string(n);
    }

    std::unique_ptr<SerialPort> open(int n, Error& error) override {
        std::string name = deviceName(n);
        int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = FromErrno(errno);
            return nullptr;
        }
        // Exclusive: flock keeps out every other opener, root included;
        // TIOCEXCL also keeps out programs that do not take the lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = FromErrno(errno);
            ::close(fd);
            return nullptr;
        }
        if (::isatty(fd))
            ::ioctl(fd, TIOCEXCL);
        error = Error::None;
        return std::make_unique<PosixSerialPort>(fd);
    }

    Whereabouts locate(const std::string& identity, int preferred) override {
        Whereabouts where;
        dev_t wanted{};
        if (identity.empty() || !CharDevice(identity, wanted))
            return where;
        std::error_code ec;
        where.device = std::filesystem::canonical(identity, ec).string();
        if (ec)
            where.device = identity;
        const auto reaches = [&](int n) {
            dev_t device{};
            return CharDevice(deviceName(n), device) && device == wanted;
        };
        if (preferred >= 0 && preferred <= MaxPort && reaches(preferred)) {
            where.port = preferred;
            return where;
        }
        for (int n = 0; n <= MaxPort; ++n)
            if (n != preferred && reaches(n)) {
                where.port = n;
                break;
            }
        return where;
    }

    bool present(int n) override {
        dev_t device{};
        return CharDevice(deviceName(n), device);
    }

  private:
    static constexpr int MaxPort = 255;
};

}  // namespace

SerialPorts& SystemSerial() {
    static PosixSerialPorts ports;
    return ports;
}

void LimitToLinkedPorts(bool limit) {
    linkedPortsOnly = limit;
}

void UseDeviceFolders(const std::string& names, const std::string& facts) {
    namesFolder = names.empty() ? SystemNamesFolder : names;
    factsFolder = facts.empty() ? SystemFactsFolder : facts;
}

}  // namespace platform
