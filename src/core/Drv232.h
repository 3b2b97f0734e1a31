// The serial link to the reader and the reader's request/reply protocol.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Global.h"
#include "Reading.h"
#include "SerialPort.h"
#include "SiteRules.h"

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

// The link's state. The tests put it back in ResetProgramState
// (tests/fakes/ProgramState.h).
// The open port, or null when none is open.
extern std::unique_ptr<platform::SerialPort> PortHandle;
// The reader's four identification characters; empty until it identified.
extern std::string ReaderVersion;
// Set by a request whose read or write found the line hung up (the reader or
// its USB adapter gone), as opposed to a reply that did not come; cleared by
// OpenPort when it opens a port. The request itself still just fails.
extern bool LinkLost;

using platform::WindowsPortName;

// The ports the start-up search tries, in order, for the stored port number.
std::vector<int> PortSearchOrder(std::uint8_t storedPort);

// Set when OpenPort found a port that exists but that this user may not open
// (on Linux: not a member of the group that owns the serial devices; Windows
// also says so of a port another program holds). Never cleared by OpenPort:
// the caller clears it before a search and asks after it.
extern bool PortAccessDenied;
// What to tell a Linux operator then: texts::PortAccessHint.

// Opens and configures port n (9600 baud, 8 data bits, no parity, 1 stop bit,
// the time-outs above, RTS and DTR raised). A port that opened but failed a
// configuration step is released again, and the result is false.
bool OpenPort(int n);

// True when a port was open and its control lines could be lowered.
bool ClosePort();

// One request and its reply: a single write of the request (none when it is
// empty), then a single read of the whole reply length. True only when both
// calls succeeded, the whole reply arrived, its first byte is "A" and its last CR.
// When a request's read brings chip frames instead, they are read whole and
// kept (KeptChips), and the reply read behind them. The rest of a reply
// that a pause or the time-out cut off is never read as a chip frame.
bool Exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply);

// Sends "Q", "I", CR; a reply of "A", four characters, CR sets ReaderVersion.
bool QueryVersion();

// The characters of the last chip frame as received: a poll fills the first
// 14, a repeat read all 16; the rest keep what they had.
extern std::array<std::uint8_t, 16> ChipChars;

// A chip frame as the reader sends it: "A", 14 characters, CR. A control byte
// (below 0x20, or 0x7F) among the 14 means the bytes are not one frame (a CR
// inside is the end of another reply or frame): such a window is never a
// reading.
inline constexpr std::size_t ChipFrameLength = 16;
using ChipCharacters = std::array<std::uint8_t, ChipFrameLength - 2>;
bool IsChipFrame(std::span<const std::uint8_t> bytes);
// Whether the bytes (at most a frame's length) can be the start of a chip
// frame, so that the rest of one may follow them.
bool BeginsChipFrame(std::span<const std::uint8_t> bytes);

// The reader sends a chip's frame whenever a chip touches it, also while a
// request waits for its reply. Such a frame is recognised and kept here,
// oldest first, and the reply read behind it; the polls take these chips, in
// order, before reading the line again. Emptied when a port opens or closes:
// whoever closes the port records them first.
extern std::deque<ChipCharacters> KeptChips;
// How long a request reads chip frames on the way to its reply, however many
// there are, and how long a poll reads on to finish a frame it began (each
// read within it bounded by the read time-outs).
inline constexpr std::uint64_t ReplyWaitLimitMs = 2000;
inline constexpr std::uint64_t PollLimitMs = 1000;

// The third byte of the repeat-read request "*", "D", byte, CR.
inline constexpr std::uint8_t RepeatReadByte = '0';

// The chip text of ChipChars: its first 14 characters with Settings.CrcDigits,
// else its first 12, byte for byte.
std::string BuildChipText();

// Collects a chip frame the reader sent on its own: "A", 14 characters, CR;
// a chip kept during a request first. A frame whose first bytes came as the
// read's time-out ran out is read on to its end; what is no frame (the rest
// of a cut reply, a late reply, bytes of no unit) is passed over up to the
// next unit. On success ChipChars[0..13] and ChipCode are set; on failure
// nothing changes.
bool PollChip();

// Asks for the last chip again: "A", 16 characters, CR. On success
// ChipChars[0..15] and ChipCode are set; on failure nothing changes.
bool RepeatRead();

// Reader commands, sent as "Q", the code, CR; the reply is "A", two bytes, CR.
inline constexpr char CommandBlock = 'B';
inline constexpr char CommandUnblock = 'O';
inline constexpr char CommandLedOn = 'R';
inline constexpr char CommandLedOff = 'Z';
bool SendCommand(char code);

// Keystroke output. Every event is a key of the sequence, pressed or
// released, and the pause after it: a Windows virtual-key code, or for a
// punctuation mark of the site's texts its mark key (platform::MarkKey).
inline constexpr std::uint8_t KeyShift = 0x10;
inline constexpr std::uint8_t KeySpace = 0x20;
inline constexpr std::uint8_t KeyEnter = 0x0D;
inline constexpr std::uint8_t KeyTab = 0x09;
inline constexpr std::uint8_t KeyPadMinus = 0x6D;
// No key at all (0 is no virtual-key code): only the pause after it.
inline constexpr std::uint8_t KeyPause = 0;

struct KeyEvent {
    std::uint8_t key;
    bool up;
    unsigned pauseMs;
    bool operator==(const KeyEvent&) const = default;
};

// The keys of one reading: the site's prefix; optionally the order number
// and a separator (five spaces, or Tab), optionally the time (":" as keypad
// minus) and a separator; the chip code (Shift held for letters, released
// for digits), the site's suffix, and Enter (or Tab, or no key). Only the
// characters 0-9, A-Z and a-z (typed as A-Z) of the code are keys; any other
// byte is left out, so a chip code can never press Tab, Escape, Alt or the
// like. With the code in decimal, a code that is no hexadecimal number gives
// no keys at all. The pause after a key is the rules' (KeyDelay by default).
std::vector<KeyEvent> KeySequence(bool withOrder, bool withTime, std::uint32_t order,
                                  std::string_view time, std::string_view code,
                                  const TypingRules& rules = {});

// A code's characters read as one hexadecimal number, in decimal, with zeros
// before it up to width; none when the code is not 1 to 16 hexadecimal digits.
std::optional<std::string> DecimalCode(std::string_view code, unsigned width);

// What became of the keys of one reading.
enum class TypingResult {
    Typed,
    NoDisplay,    // there is nothing to type into here
    Untypable,    // some character has no key in the keyboard layout: nothing typed
    NotANumber,   // the code is to be typed in decimal but is no hexadecimal number
    Barred,       // the window in front would drop the keys without an error: nothing typed
    KeyHeld,      // the operator held a modifier down throughout the wait: nothing typed
    LockUnknown,  // Caps Lock's state could not be known or changed: nothing typed
    Refused,      // the system took none of the keys
    BrokenOff,    // the system stopped taking keys part-way
};
// How long a reading waits for the operator to let go of a modifier before
// it is given up; about the time the reading itself takes to type.
inline constexpr unsigned HeldKeyWaitMs = 2000;
// Types the reading (its order, time and code, as KeySequence under the
// rules) into whatever
// window has the focus; no key is left pressed, whatever the result. Waits
// first, up to HeldKeyWaitMs, for the operator to let go of any modifier;
// any lock that changes what keys give is off while the keys go out.
TypingResult TypeReading(const Reading& reading, bool withOrder, bool withTime,
                         const TypingRules& rules = {});
