// The serial link to the reader and the reader's request/reply protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "../platform/SerialPort.h"

// Raise RTS and DTR after configuring the port, lower them before closing it.
inline constexpr bool RaiseControlLines = true;

// Time-outs of every port we open, in milliseconds.
inline constexpr std::uint32_t ReadIntervalTimeout = 20;
inline constexpr std::uint32_t ReadTotalMultiplier = 8;
inline constexpr std::uint32_t ReadTotalConstant = 200;
// A request write that cannot complete within 8 ms a byte + 200 ms fails
// rather than blocking the window for good (a stuck handshake line).
inline constexpr std::uint32_t WriteTotalMultiplier = 8;
inline constexpr std::uint32_t WriteTotalConstant = 200;

// The open port, or null when none is open.
extern std::unique_ptr<platform::SerialPort> PortHandle;
// The reader's four identification characters; empty until it identified.
extern std::string ReaderVersion;

// "COM9" for port 9; from port 10 on the name takes the device-namespace
// prefix: "\\.\COM10".
std::string WindowsPortName(int n);

// The ports the start-up search tries, in order, for the stored port number.
std::vector<int> PortSearchOrder(std::uint8_t storedPort);

// Opens and configures port n (9600 baud, 8 data bits, no parity, 1 stop bit,
// the time-outs above, RTS and DTR raised). A port that opened but failed a
// configuration step is released again, and the result is false.
bool OpenPort(int n);

// True when a port was open and its control lines could be lowered.
bool ClosePort();

// One request and its reply: a single write of the request (none when it is
// empty), then a single read of the whole reply length. True only when both
// calls succeeded, the whole reply arrived, its first byte is "A" and its last CR.
bool Exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply);

// Sends "Q", "I", CR; a reply of "A", four characters, CR sets ReaderVersion.
bool QueryVersion();
