// Serial ports on Windows: the communications functions of the Win32 API on
// the port's device name, synchronous reads and writes, the driver's own
// time-out handling.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>

#include "SerialPort.h"
#include "errors_win32.h"

namespace platform {

namespace {

// One call never moves more than a DWORD can count; callers ask for a few bytes.
DWORD CountFor(std::size_t n) {
    return DWORD(std::min<std::size_t>(n, std::numeric_limits<DWORD>::max()));
}

class Win32SerialPort final : public SerialPort {
  public:
    explicit Win32SerialPort(HANDLE handle) : handle_(handle) {}
    ~Win32SerialPort() override { close(); }

    Error getLineSettings(LineSettings& s) override {
        if (!isOpen())
            return Error::Invalid;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb))
            return LastWin32Error();
        read_ = dcb;
        s.baudRate = dcb.BaudRate;
        s.byteSize = dcb.ByteSize;
        // The block's numbers are the enums' (NOPARITY 0 … SPACEPARITY 4,
        // ONESTOPBIT 0 … TWOSTOPBITS 2).
        s.parity = Parity(dcb.Parity);
        s.stopBits = StopBits(dcb.StopBits);
        return Error::None;
    }

    // Applies the four values to the block as last read from the driver, so
    // that handshake, XON/XOFF and every other setting stay as it reported them.
    Error setLineSettings(const LineSettings& s) override {
        if (!isOpen())
            return Error::Invalid;
        if (!read_) {
            LineSettings ignored;
            if (Error e = getLineSettings(ignored); e != Error::None)
                return e;
        }
        DCB dcb = *read_;
        dcb.BaudRate = s.baudRate;
        dcb.ByteSize = s.byteSize;
        dcb.Parity = BYTE(s.parity);
        dcb.StopBits = BYTE(s.stopBits);
        if (!SetCommState(handle_, &dcb))
            return LastWin32Error();
        return Error::None;
    }

    Error getTimeouts(Timeouts& t) override {
        if (!isOpen())
            return Error::Invalid;
        COMMTIMEOUTS c{};
        if (!GetCommTimeouts(handle_, &c))
            return LastWin32Error();
        t.readInterval = c.ReadIntervalTimeout;
        t.readTotalMultiplier = c.ReadTotalTimeoutMultiplier;
        t.readTotalConstant = c.ReadTotalTimeoutConstant;
        t.writeTotalMultiplier = c.WriteTotalTimeoutMultiplier;
        t.writeTotalConstant = c.WriteTotalTimeoutConstant;
        return Error::None;
    }

    Error setTimeouts(const Timeouts& t) override {
        if (!isOpen())
            return Error::Invalid;
        timeouts_ = t;
        COMMTIMEOUTS c{};
        c.ReadIntervalTimeout = t.readInterval;
        c.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
        c.ReadTotalTimeoutConstant = t.readTotalConstant;
        c.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
        c.WriteTotalTimeoutConstant = t.writeTotalConstant;
        if (!SetCommTimeouts(handle_, &c))
            return LastWin32Error();
        return Error::None;
    }

    Error escape(ControlLine line) override {
        if (!isOpen())
            return Error::Invalid;
        DWORD function = 0;
        switch (line) {
            case ControlLine::SetRts:
                function = SETRTS;
                break;
            case ControlLine::SetDtr:
                function = SETDTR;
                break;
            case ControlLine::ClearDtr:
                function = CLRDTR;
                break;
            case ControlLine::ClearRts:
                function = CLRRTS;
                break;
        }
        if (!EscapeCommFunction(handle_, function))
            return LastWin32Error();
        return Error::None;
    }

    Error setEventMask(std::uint32_t mask) override {
        if (!isOpen())
            return Error::Invalid;
        if (!SetCommMask(handle_, mask))
            return LastWin32Error();
        return Error::None;
    }

    Error write(const std::uint8_t* data, std::size_t n, std::size_t& written) override {
        written = 0;
        if (!isOpen())
            return Error::Invalid;
        DWORD done = 0;
        const BOOL ok = WriteFile(handle_, data, CountFor(n), &done, nullptr);
        written = done;
        return ok ? Error::None : LastWin32PortError();
    }

    Error read(std::uint8_t* data, std::size_t n, std::size_t& received, ReadEnd& ended) override {
        received = 0;
        ended = ReadEnd::No;
        if (!isOpen())
            return Error::Invalid;
        const auto began = std::chrono::steady_clock::now();
        DWORD done = 0;
        const BOOL ok = ReadFile(handle_, data, CountFor(n), &done, nullptr);
        received = done;
        if (!ok)
            return LastWin32PortError();
        ended = received == n ? ReadEnd::Count : EndOf(n, received, began);
        return Error::None;
    }

    Error close() override {
        if (!isOpen())
            return Error::Invalid;
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) ? Error::None : LastWin32Error();
    }

  private:
    // The driver does not say which time-out ended a read short: before its
    // first byte only the total can, and a read that ended well before the
    // total ended on the interval after its last byte.
    ReadEnd EndOf(std::size_t n, std::size_t received,
                  std::chrono::steady_clock::time_point began) const {
        const std::uint64_t total =
            std::uint64_t(timeouts_.readTotalMultiplier) * n + timeouts_.readTotalConstant;
        if (received == 0)
            return ReadEnd::Total;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - began)
                              .count();
        return total != 0 && std::uint64_t(took) + timeouts_.readInterval >= total
                   ? ReadEnd::Total
                   : ReadEnd::Interval;
    }

    // INVALID_HANDLE_VALUE also stands for the current process in some calls:
    // a closed port must never reach the system.
    bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

    HANDLE handle_;
    std::optional<DCB> read_;
    Timeouts timeouts_;  // as last set
};

class Win32SerialPorts final : public SerialPorts {
  public:
    std::string deviceName(int n) override { return WindowsPortName(n); }

    std::unique_ptr<SerialPort> open(int n, Error& error) override {
        const std::string name = deviceName(n);
        // Reading and writing, no sharing, no security attributes, an existing
        // device only, normal attributes, no template.
        HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = LastWin32Error();
            // A COM port has no per-user permissions: "access denied" means
            // another program holds it.
            if (error == Error::AccessDenied)
                error = Error::Busy;
            return nullptr;
        }
        error = Error::None;
        return std::make_unique<Win32SerialPort>(handle);
    }
};

}  // namespace

SerialPorts& SystemSerial() {
    static Win32SerialPorts ports;
    return ports;
}

void LimitToLinkedPorts(bool) {
    // Nothing to do: on Windows a test points a port name at its simulator
    // through the system (a DOS device link under Wine), and the program's
    // open goes through the same name as it does for a real port.
}

void UseDeviceFolders(const std::string&, const std::string&) {
    // Nothing to do: Windows ports have no stable names here, and a lost
    // reader is looked for on its own port number only.
}

}  // namespace platform
