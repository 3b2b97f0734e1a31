// The serial-port facility: exclusive open, line settings, time-outs, modem
// control lines, event mask, write, read and close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Error.h"

namespace platform {

enum class Parity : std::uint8_t { None, Odd, Even, Mark, Space };
enum class StopBits : std::uint8_t { One, OneAndHalf, Two };

// The line settings the program touches; everything else stays as the driver
// has it.
struct LineSettings {
    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 0;  // data bits, 5 to 8
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
};

// Milliseconds. A read of n bytes returns when n bytes have arrived, when
// readTotalMultiplier * n + readTotalConstant have passed since it began, or
// when readInterval passes between two received bytes. A write of n bytes
// fails after writeTotalMultiplier * n + writeTotalConstant (both 0: no bound).
struct Timeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

enum class ControlLine { SetRts, SetDtr, ClearDtr, ClearRts };

// Why a read ended.
enum class ReadEnd : std::uint8_t {
    No,        // it has not (a read that may wait on; a read that failed)
    Count,     // with every byte it asked for
    Total,     // readTotalMultiplier * n + readTotalConstant passed since it began
    Interval,  // readInterval passed since the last byte received
};

inline constexpr std::uint32_t EventCharReceived = 0x0002;  // EV_RXFLAG

class SerialPort {
  public:
    virtual ~SerialPort() = default;
    virtual Error getLineSettings(LineSettings& settings) = 0;
    virtual Error setLineSettings(const LineSettings& settings) = 0;
    virtual Error getTimeouts(Timeouts& timeouts) = 0;
    virtual Error setTimeouts(const Timeouts& timeouts) = 0;
    virtual Error escape(ControlLine line) = 0;
    virtual Error setEventMask(std::uint32_t mask) = 0;
    // Success with fewer than n bytes written or read means a time-out ran
    // out; a read says which, or Count when all n came.
    virtual Error write(const std::uint8_t* data, std::size_t n, std::size_t& written) = 0;
    virtual Error read(std::uint8_t* data, std::size_t n, std::size_t& received,
                       ReadEnd& ended) = 0;
    Error read(std::uint8_t* data, std::size_t n, std::size_t& received) {
        ReadEnd ended = ReadEnd::No;
        return read(data, n, received, ended);
    }
    // Releases the device; later calls fail. The destructor closes too.
    virtual Error close() = 0;
    // The device's stable name, which stays the same whatever number the
    // system gives it when it comes back: on Linux the /dev/serial/by-id entry
    // that leads to it when that names its adapter alone (the adapter has a
    // serial number no other present one has), otherwise its /dev/serial/by-path
    // entry, the adapter's place on the bus. Empty when it has none (a built-in
    // port, a pseudo-terminal, any port on Windows).
    virtual std::string identity() { return {}; }
};

// Where the device of a stable name is now: `device` is empty when it is not
// there; `port` is the number that reaches it, or -1 when none of 0..255 does.
struct Whereabouts {
    std::string device;
    int port = -1;
};

class SerialPorts {
  public:
    virtual ~SerialPorts() = default;
    // The device that port number n stands for.
    virtual std::string deviceName(int n) = 0;
    // Opens port n for reading and writing, for this process alone.
    virtual std::unique_ptr<SerialPort> open(int n, Error& error) = 0;
    // Where the device of a stable name (SerialPort::identity) is now; port
    // `preferred` first when it reaches it. Nothing opens the device.
    virtual Whereabouts locate(const std::string& /*identity*/, int /*preferred*/) { return {}; }
    // Whether the device of port n is there now; it is not opened. Ports that
    // have no stable names never ask.
    virtual bool present(int /*n*/) { return false; }
};

// "COM9" for port 9; from port 10 on the name takes the device-namespace
// prefix: "\\.\COM10".
std::string WindowsPortName(int n);

// The serial ports in use: the operating system's unless a test installed others.
SerialPorts& Serial();
void UseSerial(SerialPorts* ports);  // nullptr: back to the operating system's
SerialPorts& SystemSerial();

// When set, port n is opened only through an entry "COM<n>" of the current
// directory, never through the machine's own serial devices. For tests, which
// put it back in ResetProgramState (tests/fakes/ProgramState.h).
void LimitToLinkedPorts(bool limit);

// Where the system tells about serial devices: on Linux `names` is the folder
// of their stable names, "/dev/serial" (by-id, by-path), and `facts` that of
// the kernel's devices, "/sys", unless a test set others (empty: back to the
// system's). For tests, which put them back in ResetProgramState; nothing on
// Windows, whose ports have no stable names.
void UseDeviceFolders(const std::string& names, const std::string& facts);

}  // namespace platform
