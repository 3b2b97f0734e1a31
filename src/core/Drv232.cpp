#include "Drv232.h"

#include <algorithm>
#include <array>

#include "Clock.h"
#include "Keyboard.h"

using platform::ControlLine;
using platform::Error;

std::unique_ptr<platform::SerialPort> PortHandle;
std::string ReaderVersion;
bool LinkLost = false;
std::array<std::uint8_t, 16> ChipChars{};
std::deque<ChipCharacters> KeptChips;
bool PortAccessDenied = false;

namespace {

constexpr std::uint8_t ReplyStart = 'A';
constexpr std::uint8_t CR = 0x0D;

bool IsReply(std::span<const std::uint8_t> bytes) {
    return bytes.front() == ReplyStart && bytes.back() == CR;
}

bool IsFrameCharacter(std::uint8_t byte) {
    return byte >= 0x20 && byte != 0x7F;
}

// Whether a call on the port succeeded; a hung-up line is noted in LinkLost.
bool Succeeded(Error error) {
    if (error == Error::HungUp)
        LinkLost = true;
    return error == Error::None;
}

// One read of the whole of `into`.
bool ReadWhole(std::span<std::uint8_t> into) {
    std::size_t received = 0;
    return Succeeded(PortHandle->read(into.data(), into.size(), received)) &&
           received == into.size();
}

// `reply` holds a whole read that is no reply. When it begins with chip
// frames, they are read whole and kept, and the reply is read behind them.
bool ReplyBehindChips(std::span<std::uint8_t> reply) {
    std::vector<std::uint8_t> window(reply.begin(), reply.end());
    for (int chips = 0; chips < MaxChipsBeforeReply; ++chips) {
        const std::size_t begun = std::min(window.size(), ChipFrameLength);
        if (!BeginsChipFrame(std::span(window).first(begun)))
            return false;
        if (begun < ChipFrameLength) {
            window.resize(ChipFrameLength);
            if (!ReadWhole(std::span(window).subspan(begun)) || !IsChipFrame(window))
                return false;
        }
        ChipCharacters chip;
        std::copy(window.begin() + 1, window.begin() + ChipFrameLength - 1, chip.begin());
        KeptChips.push_back(chip);
        window.erase(window.begin(), window.begin() + ChipFrameLength);
        const std::size_t have = window.size();
        window.resize(reply.size());
        if (!ReadWhole(std::span(window).subspan(have)))
            return false;
        if (IsReply(window)) {
            std::copy(window.begin(), window.end(), reply.begin());
            return true;
        }
    }
    return false;
}

// A poll's read of a chip frame. The reader sends a frame in one piece, but
// it may begin just before the read's time-out runs out: the read then ends
// with its first bytes, and the rest follows at once. Such a frame is read
// whole; a frame that stopped short (20 ms without a byte) is not, so that
// the bytes of another never join it.
bool ReadChipFrame(std::array<std::uint8_t, ChipFrameLength>& frame) {
    platform::Clock& clock = platform::TheClock();
    const std::uint64_t began = clock.monotonicMs();
    std::size_t received = 0;
    if (!Succeeded(PortHandle->read(frame.data(), frame.size(), received)))
        return false;
    constexpr std::uint64_t TimeOut = ReadTotalMultiplier * ChipFrameLength + ReadTotalConstant;
    const bool cut = received > 0 && received < frame.size() &&
                     clock.monotonicMs() - began + ReadIntervalTimeout >= TimeOut &&
                     BeginsChipFrame(std::span(frame).first(received));
    if (cut && !ReadWhole(std::span(frame).subspan(received)))
        return false;
    return (cut || received == frame.size()) && IsChipFrame(frame);
}

}  // namespace

bool IsChipFrame(std::span<const std::uint8_t> bytes) {
    return bytes.size() == ChipFrameLength && BeginsChipFrame(bytes);
}

bool BeginsChipFrame(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > ChipFrameLength || bytes.front() != ReplyStart)
        return false;
    const std::size_t characters = std::min(bytes.size(), ChipFrameLength - 1);
    if (!std::all_of(bytes.begin() + 1, bytes.begin() + characters, IsFrameCharacter))
        return false;
    return bytes.size() < ChipFrameLength || bytes.back() == CR;
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
    if (!PortHandle) {
        if (error == Error::AccessDenied)
            PortAccessDenied = true;
        return false;
    }
    LinkLost = false;
    KeptChips.clear();
    platform::SerialPort& port = *PortHandle;

    bool result = false;
    platform::LineSettings found;
    if (port.getLineSettings(found) == Error::None) {
        platform::LineSettings line = found;  // what the driver reported stays aside
        line.baudRate = 9600;
        line.byteSize = 8;
        line.parity = platform::Parity::None;
        line.stopBits = platform::StopBits::One;
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
    KeptChips.clear();
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
        if (!Succeeded(PortHandle->write(request.data(), request.size(), written)))
            return false;
    }
    if (!ReadWhole(reply))
        return false;
    // A chip that touched the reader meanwhile may have its frame on the line
    // before the reply: only a request has a reply to look for behind it.
    return IsReply(reply) || (!request.empty() && ReplyBehindChips(reply));
}

bool QueryVersion() {
    static constexpr std::array<std::uint8_t, 3> request{'Q', 'I', CR};
    std::array<std::uint8_t, 6> reply{};
    if (!Exchange(request, reply))
        return false;
    ReaderVersion.assign(reinterpret_cast<const char*>(reply.data() + 1), 4);
    return true;
}

std::string BuildChipText() {
    const std::size_t length = Settings.CrcDigits ? 14 : 12;
    return std::string(reinterpret_cast<const char*>(ChipChars.data()), length);
}

bool PollChip() {
    ChipCharacters chip;
    if (!KeptChips.empty()) {
        chip = KeptChips.front();
        KeptChips.pop_front();
    } else {
        std::array<std::uint8_t, ChipFrameLength> frame{};
        if (!PortHandle || !ReadChipFrame(frame))
            return false;
        std::copy(frame.begin() + 1, frame.end() - 1, chip.begin());
    }
    std::copy(chip.begin(), chip.end(), ChipChars.begin());
    ChipCode = BuildChipText();
    return true;
}

bool RepeatRead() {
    // The reader answers with its last chip whatever the third byte is; we
    // send a printable "0" so that a trace of the line reads plainly.
    static constexpr std::array<std::uint8_t, 4> request{'*', 'D', RepeatReadByte, CR};
    std::array<std::uint8_t, 18> reply{};
    if (!Exchange(request, reply))
        return false;
    std::copy(reply.begin() + 1, reply.end() - 1, ChipChars.begin());
    ChipCode = BuildChipText();
    return true;
}

bool SendCommand(char code) {
    const std::array<std::uint8_t, 3> request{'Q', std::uint8_t(code), CR};
    std::array<std::uint8_t, 4> reply{};
    return Exchange(request, reply);
}

std::vector<KeyEvent> KeySequence(bool withOrder, bool withTime, std::uint32_t order,
                                  std::string_view time, std::string_view code) {
    std::vector<KeyEvent> keys;
    auto tap = [&keys](std::uint8_t key) {
        keys.push_back({key, false, KeyDelay});
        keys.push_back({key, true, KeyDelay});
    };
    auto separator = [&tap] {
        for (int i = 0; i < 5; ++i)
            tap(KeySpace);
    };
    if (withOrder) {
        for (char c : std::to_string(order))
            tap(std::uint8_t(c));
        separator();
    }
    if (withTime) {
        for (char c : time)
            tap(c == ':' ? KeyPadMinus : std::uint8_t(c));
        separator();
    }
    for (char c : code) {
        const bool digit = c >= '0' && c <= '9';
        // A letter's key is its capital's virtual-key code; Shift is held for
        // every letter, so a code sent in lower case arrives as it is shown.
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (!digit && !(c >= 'A' && c <= 'Z'))
            continue;
        keys.push_back({KeyShift, digit, 0});
        keys.push_back({std::uint8_t(c), false, KeyDelay});
        keys.push_back({std::uint8_t(c), true, 0});
    }
    // The ending starts with a pause, also when no key came before it.
    if (keys.empty())
        keys.push_back({KeyPause, false, KeyDelay});
    else
        keys.back().pauseMs += KeyDelay;
    keys.push_back({KeyShift, true, KeyDelay});
    keys.push_back({KeyEnter, false, KeyDelay});
    keys.push_back({KeyEnter, true, KeyDelay});
    keys.push_back({KeyShift, true, 0});
    return keys;
}

TypingResult TypeReading(bool withOrder, bool withTime) {
    const std::vector<KeyEvent> keys =
        KeySequence(withOrder, withTime, RunningOrder, TimeText.view(), ChipCode.view());
    platform::Keyboard& keyboard = platform::TheKeyboard();
    if (keyboard.begin() != Error::None)
        return TypingResult::NoDisplay;
    if (!keyboard.targetTakesKeys()) {
        keyboard.end();
        return TypingResult::Barred;
    }
    for (const KeyEvent& k : keys) {
        if (k.key != KeyPause && k.key != KeyShift && !k.up && !keyboard.canType(k.key)) {
            keyboard.end();
            return TypingResult::Untypable;
        }
    }
    // A modifier held by the operator would turn the keys into shortcuts
    // (Ctrl with a letter saves, closes, prints): wait for its release.
    for (unsigned waited = 0; keyboard.modifierHeld();) {
        if (waited >= HeldKeyWaitMs) {
            keyboard.end();
            return TypingResult::KeyHeld;
        }
        const unsigned pause = std::min(KeyDelay, HeldKeyWaitMs - waited);
        platform::TheClock().sleepMs(pause);
        waited += pause;
    }
    if (!keyboard.releaseLocks()) {
        keyboard.end();
        return TypingResult::LockUnknown;
    }
    TypingResult result = TypingResult::Typed;
    bool anyTaken = false;
    for (const KeyEvent& k : keys) {
        if (k.key != KeyPause) {
            if (keyboard.key(k.key, k.up) != Error::None) {
                result = anyTaken ? TypingResult::BrokenOff : TypingResult::Refused;
                break;
            }
            anyTaken = true;
        }
        if (k.pauseMs > 0)
            platform::TheClock().sleepMs(k.pauseMs);
    }
    keyboard.end();
    return result;
}
