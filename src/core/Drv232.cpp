#include "Drv232.h"

#include <array>

using platform::ControlLine;
using platform::Error;

std::unique_ptr<platform::SerialPort> PortHandle;
std::string ReaderVersion;

namespace {
constexpr std::uint8_t ReplyStart = 'A';
constexpr std::uint8_t CR = 0x0D;
}  // namespace

std::string WindowsPortName(int n) {
    std::string name = "COM" + std::to_string(n);
    return n > 9 ? "\\\\.\\" + name : name;
}

std::vector<int> PortSearchOrder(std::uint8_t storedPort) {
    int port = storedPort == 255 ? 29 : storedPort;
    std::vector<int> order;
    order.reserve(30);
    for (int attempt = 0; attempt < 30; ++attempt) {
        order.push_back(port);
        port = port == 0 ? 29 : port - 1;
    }
    return order;
}

bool OpenPort(int n) {
    Error error = Error::None;
    PortHandle = platform::Serial().open(n, error);
    if (!PortHandle)
        return false;
    platform::SerialPort& port = *PortHandle;

    bool result = false;
    platform::LineSettings found;
    if (port.getLineSettings(found) == Error::None) {
        platform::LineSettings line = found;  // what the driver reported stays aside
        line.baudRate = 9600;
        line.byteSize = 8;
        line.parity = 0;
        line.stopBits = 0;
        result = port.setLineSettings(line) == Error::None;
    }

    platform::Timeouts timeouts;
    if (port.getTimeouts(timeouts) != Error::None) {
        result = false;
    } else {
        timeouts.readInterval = ReadIntervalTimeout;
        timeouts.readTotalMultiplier = ReadTotalMultiplier;
        timeouts.readTotalConstant = ReadTotalConstant;
        timeouts.writeTotalMultiplier = WriteTotalMultiplier;
        timeouts.writeTotalConstant = WriteTotalConstant;
        if (port.setTimeouts(timeouts) != Error::None)
            result = false;
    }

    if (RaiseControlLines) {
        if (port.escape(ControlLine::SetRts) != Error::None)
            result = false;
        if (port.escape(ControlLine::SetDtr) != Error::None)
            result = false;
    }

    if (port.setEventMask(platform::EventCharReceived) != Error::None)
        result = false;

    if (!result) {
        // Do not hold a device the program cannot use.
        port.close();
        PortHandle.reset();
    }
    return result;
}

bool ClosePort() {
    if (!PortHandle)
        return false;
    bool result = true;
    if (RaiseControlLines) {
        if (PortHandle->escape(ControlLine::ClearDtr) != Error::None)
            result = false;
        if (PortHandle->escape(ControlLine::ClearRts) != Error::None)
            result = false;
    }
    PortHandle->close();
    PortHandle.reset();
    return result;
}

bool Exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply) {
    if (!PortHandle || reply.empty())
        return false;
    if (!request.empty()) {
        std::size_t written = 0;
        if (PortHandle->write(request.data(), request.size(), written) != Error::None)
            return false;
    }
    std::size_t received = 0;
    if (PortHandle->read(reply.data(), reply.size(), received) != Error::None)
        return false;
    return received == reply.size() && reply.front() == ReplyStart && reply.back() == CR;
}

bool QueryVersion() {
    static constexpr std::array<std::uint8_t, 3> request{'Q', 'I', CR};
    std::array<std::uint8_t, 6> reply{};
    if (!Exchange(request, reply))
        return false;
    ReaderVersion.assign(reinterpret_cast<const char*>(reply.data() + 1), 4);
    return true;
}
