#include "Drv232.h"

#include <algorithm>
#include <array>
#include <optional>

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

// What the reader sends is a series of units, each "A" first and CR last
// with no CR inside, sent whole one after another: chip frames and the
// replies to requests. These are their lengths (the command's reply, the
// identification, the chip frame, the repeat read's reply).
constexpr std::array<std::size_t, 4> UnitLengths{4, 6, ChipFrameLength, 18};
constexpr std::size_t LongestUnit = 18;

// A bit for each length a unit's rest may have.
using RestLengths = std::uint32_t;
constexpr RestLengths RestOf(std::size_t unit, std::size_t have) {
    return unit > have ? RestLengths{1} << (unit - have) : 0;
}

// The link's place among the units, kept from one poll or request to the
// next, so that the rest of a unit that a read's time-out cut off is never
// taken for the start of another. Put back by OpenPort and ClosePort.
struct LinePlace {
    // Bytes read off the line that no call has used yet.
    std::vector<std::uint8_t> carried;
    enum class Skip : std::uint8_t {
        No,
        // The rest of a unit that is no reading, up to its CR; a pause on
        // the line ends it too.
        Unit,
        // The rest of a unit that stopped short (a busy reader's pause in
        // a reply): the bytes up to the next CR, when their count is one of
        // `restLengths`, whatever pauses come between. A CR elsewhere means
        // the rest never came, and what is there is another unit.
        Rest,
    } skip = Skip::No;
    RestLengths restLengths = 0;
    // With Unit: the bytes passed over since its last "A" (0: none), which
    // may have begun a unit whose rest comes after a pause.
    std::size_t sinceStart = 0;
};
LinePlace Line;

// How a read of the line ended.
enum class Ended : std::uint8_t {
    Whole,   // with every byte asked for
    Pause,   // the line paused after its last byte (the interval time-out)
    Cut,     // the total time-out ran out with bytes still coming
    Quiet,   // the total time-out ran out without a byte
    Failed,  // the call failed
};

// One read of up to n bytes, added to the carried bytes.
Ended ReadMore(std::size_t n) {
    std::array<std::uint8_t, LongestUnit> buffer{};
    n = std::min(n, buffer.size());
    std::size_t received = 0;
    platform::ReadEnd end = platform::ReadEnd::No;
    if (!Succeeded(PortHandle->read(buffer.data(), n, received, end)))
        return Ended::Failed;
    received = std::min(received, n);
    Line.carried.insert(Line.carried.end(), buffer.begin(), buffer.begin() + received);
    if (received == n)
        return Ended::Whole;
    if (received == 0)
        return Ended::Quiet;
    return end == platform::ReadEnd::Total ? Ended::Cut : Ended::Pause;
}

enum class Found : std::uint8_t { Nothing, Chip, Reply, LineDown };

// Ends passing over what is no unit. When a pause ended it `have` bytes
// after an "A", they may have begun a unit: its rest is passed over too.
void StopPassingOver(std::size_t have) {
    Line.skip = LinePlace::Skip::No;
    Line.restLengths = 0;
    for (const std::size_t length : UnitLengths)
        Line.restLengths |= have != 0 ? RestOf(length, have) : 0;
    if (Line.restLengths != 0)
        Line.skip = LinePlace::Skip::Rest;
    Line.sinceStart = 0;
}

// Drops the rest of a unit that is no reading from the carried bytes. False
// while the rest may still be coming.
bool SkipRest(Ended last) {
    std::vector<std::uint8_t>& bytes = Line.carried;
    if (Line.skip == LinePlace::Skip::Unit) {
        const auto cr = std::find(bytes.begin(), bytes.end(), CR);
        for (auto b = bytes.begin(); b != cr; ++b)
            Line.sinceStart = *b == ReplyStart ? 1 : Line.sinceStart + (Line.sinceStart != 0);
        const bool atCr = cr != bytes.end();
        const bool ended = atCr || last == Ended::Pause || last == Ended::Quiet;
        bytes.erase(bytes.begin(), atCr ? cr + 1 : cr);
        if (ended)
            StopPassingOver(atCr ? 0 : Line.sinceStart);
        return Line.skip == LinePlace::Skip::No;
    }
    const auto cr = std::find(bytes.begin(), bytes.end(), CR);
    if (cr == bytes.end() && last == Ended::Pause && !bytes.empty()) {
        // The rest paused again: what came so far is more of it.
        Line.restLengths =
            bytes.size() < 32 ? Line.restLengths >> bytes.size() & ~RestLengths{1} : 0;
        bytes.clear();
        if (Line.restLengths != 0)
            return false;
    } else if (cr == bytes.end() && (RestLengths{1} << bytes.size()) <= Line.restLengths) {
        return false;
    } else if (cr != bytes.end()) {
        const std::size_t count = std::size_t(cr - bytes.begin()) + 1;
        if (count < 32 && (Line.restLengths >> count & 1) != 0)
            bytes.erase(bytes.begin(), cr + 1);
    }
    Line.skip = LinePlace::Skip::No;
    return true;
}

// The next chip frame on the line, or with `replyLength` also the next
// reply of that length, into `unit`. Reads only while `deadline` has not
// passed; a poll (no reply awaited) reads the line for one new unit, and on
// only to finish what it began. Whatever is left stays for the next call.
Found NextUnit(std::size_t replyLength, std::uint64_t deadline, std::vector<std::uint8_t>& unit) {
    platform::Clock& clock = platform::TheClock();
    std::vector<std::uint8_t>& bytes = Line.carried;
    bool readNew = false;
    Ended last = Ended::Whole;
    for (;;) {
        if (Line.skip != LinePlace::Skip::No && !SkipRest(last)) {
            if (clock.monotonicMs() >= deadline)
                return Found::Nothing;
            last = ReadMore(LongestUnit - bytes.size());
            if (last == Ended::Failed)
                return Found::LineDown;
            if (last == Ended::Quiet) {
                // A quiet line ends what is no unit; a reply's rest may still come.
                if (Line.skip == LinePlace::Skip::Unit)
                    StopPassingOver(Line.sinceStart);
                return Found::Nothing;
            }
            continue;
        }
        if (bytes.empty()) {
            if ((readNew && replyLength == 0) || clock.monotonicMs() >= deadline)
                return Found::Nothing;
            const std::size_t want = replyLength != 0 ? replyLength : ChipFrameLength;
            readNew = true;
            last = ReadMore(want);
            if (last == Ended::Failed || last == Ended::Quiet)
                return last == Ended::Failed ? Found::LineDown : Found::Nothing;
            // What the reader sends as the Parts of the protocol have it: the
            // whole reply, or a whole chip frame, in one read.
            if (bytes.size() == want && (replyLength != 0 ? IsReply(bytes) : IsChipFrame(bytes))) {
                unit.swap(bytes);
                bytes.clear();
                return replyLength != 0 ? Found::Reply : Found::Chip;
            }
            continue;
        }
        // Bytes that begin no unit: passed over up to a CR or a pause.
        if (bytes.front() != ReplyStart) {
            Line.skip = LinePlace::Skip::Unit;
            continue;
        }
        // A unit begins with "A" and ends at its CR.
        if (const auto cr = std::find(bytes.begin(), bytes.end(), CR); cr != bytes.end()) {
            unit.assign(bytes.begin(), cr + 1);
            bytes.erase(bytes.begin(), cr + 1);
            if (IsChipFrame(unit))
                return Found::Chip;
            if (replyLength != 0 && unit.size() == replyLength)
                return Found::Reply;
            continue;  // no unit of ours
        }
        const std::size_t have = bytes.size();
        const bool frame = have < ChipFrameLength && BeginsChipFrame(bytes);
        const bool reply = have < replyLength;
        if (!frame && !reply) {
            if (have >= ChipFrameLength)
                // A frame's length that is no frame: what follows is another's.
                bytes.erase(bytes.begin(), bytes.begin() + ChipFrameLength);
            else
                Line.skip = LinePlace::Skip::Unit;
            continue;
        }
        if (last == Ended::Pause || last == Ended::Quiet) {
            // It stopped short. Its rest, when it comes, is no unit of its
            // own: it may be any unit's, a late reply's to an earlier request too.
            Line.skip = LinePlace::Skip::Rest;
            Line.restLengths = 0;
            for (const std::size_t length : UnitLengths)
                Line.restLengths |= RestOf(length, have);
            bytes.clear();
            return Found::Nothing;
        }
        // Read on to where it may end: a frame's end or the reply's.
        std::size_t end = frame ? ChipFrameLength : replyLength;
        if (reply)
            end = std::min(end, replyLength);
        if (clock.monotonicMs() >= deadline)
            return Found::Nothing;
        last = ReadMore(end - have);
        if (last == Ended::Failed)
            return Found::LineDown;
    }
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
    Line = {};
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
    Line = {};
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
    const std::uint64_t deadline = platform::TheClock().monotonicMs() + ReplyWaitLimitMs;
    if (!request.empty()) {
        std::size_t written = 0;
        if (!Succeeded(PortHandle->write(request.data(), request.size(), written)))
            return false;
    }
    // A chip that touched the reader meanwhile has its frame on the line
    // before the reply: kept for the polls, however many there are.
    std::vector<std::uint8_t> unit;
    for (;;) {
        const Found found = NextUnit(reply.size(), deadline, unit);
        if (found == Found::Reply) {
            std::copy(unit.begin(), unit.end(), reply.begin());
            return true;
        }
        if (found != Found::Chip)
            return false;
        ChipCharacters chip;
        std::copy(unit.begin() + 1, unit.end() - 1, chip.begin());
        KeptChips.push_back(chip);
    }
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
        std::vector<std::uint8_t> frame;
        if (!PortHandle ||
            NextUnit(0, platform::TheClock().monotonicMs() + PollLimitMs, frame) != Found::Chip)
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

std::optional<std::string> DecimalCode(std::string_view code, unsigned width) {
    if (code.empty() || code.size() > 16)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : code) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | std::uint64_t(digit);
    }
    std::string text = std::to_string(value);
    if (text.size() < width)
        text.insert(0, width - text.size(), '0');
    return text;
}

std::vector<KeyEvent> KeySequence(bool withOrder, bool withTime, std::uint32_t order,
                                  std::string_view time, std::string_view code,
                                  const TypingRules& rules) {
    const unsigned pause = rules.keyPauseMs;
    std::vector<KeyEvent> keys;
    auto tap = [&](std::uint8_t key) {
        keys.push_back({key, false, pause});
        keys.push_back({key, true, pause});
    };
    auto separator = [&] {
        if (rules.separator == TypingRules::Separator::Tab)
            return tap(KeyTab);
        for (int i = 0; i < 5; ++i)
            tap(KeySpace);
    };
    // A character of the code or of the site's texts: Shift held for a
    // capital letter only, and released for anything else.
    bool shifted = false;
    auto character = [&](std::uint8_t key, bool capital) {
        keys.push_back({KeyShift, !capital, 0});
        keys.push_back({key, false, pause});
        keys.push_back({key, true, 0});
        shifted = capital;
    };
    // The site's prefix and suffix: printable ASCII, each as it is written.
    auto text = [&](std::string_view s) {
        for (const char c : s) {
            if (c >= 'a' && c <= 'z')
                character(std::uint8_t(c - 'a' + 'A'), false);
            else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
                character(std::uint8_t(c), c >= 'A');
            else if (c == ' ')
                character(KeySpace, false);
            else if (platform::IsMark(c))
                character(platform::MarkKey(c), false);
        }
    };
    std::string shown(code);
    if (rules.code == TypingRules::Code::Decimal) {
        const std::optional<std::string> decimal = DecimalCode(code, rules.width);
        if (!decimal)
            return {};
        shown = *decimal;
    }

    text(rules.prefix);
    if (shifted)
        keys.push_back({KeyShift, true, 0});
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
    for (char c : shown) {
        const bool digit = c >= '0' && c <= '9';
        // A letter's key is its capital's virtual-key code; Shift is held for
        // every letter, so a code sent in lower case arrives as it is shown.
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (!digit && !(c >= 'A' && c <= 'Z'))
            continue;
        character(std::uint8_t(c), !digit);
    }
    text(rules.suffix);
    // The ending starts with a pause, also when no key came before it.
    if (keys.empty())
        keys.push_back({KeyPause, false, pause});
    else
        keys.back().pauseMs += pause;
    keys.push_back({KeyShift, true, pause});
    if (rules.end != TypingRules::End::None) {
        const std::uint8_t end = rules.end == TypingRules::End::Tab ? KeyTab : KeyEnter;
        keys.push_back({end, false, pause});
        keys.push_back({end, true, pause});
        keys.push_back({KeyShift, true, 0});
    }
    return keys;
}

TypingResult TypeReading(const Reading& reading, bool withOrder, bool withTime,
                         const TypingRules& rules) {
    const std::vector<KeyEvent> keys =
        KeySequence(withOrder, withTime, reading.order, reading.time, reading.code, rules);
    if (keys.empty())
        return TypingResult::NotANumber;
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
