// Arbitrary byte streams from the reader, cut into the reads a poll and a
// repeat read make. A poll's reading is a whole chip frame of the stream ("A",
// 14 characters without a control byte, CR), read by that poll or kept by an
// earlier request; a repeat read's code is the 18 bytes it read last, "A"
// first and CR last; the chip code is exactly their characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Drv232.h"
#include "Global.h"

namespace {

// A port that hands out the fuzz input as the bytes on the line; the first
// byte of each read says how many of the bytes asked for have arrived, and
// which time-out ended the read when they are fewer.
class StreamPort final : public platform::SerialPort {
  public:
    StreamPort(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::string stream;  // every byte read so far

    platform::Error getLineSettings(platform::LineSettings&) override { return {}; }
    platform::Error setLineSettings(const platform::LineSettings&) override { return {}; }
    platform::Error getTimeouts(platform::Timeouts&) override { return {}; }
    platform::Error setTimeouts(const platform::Timeouts&) override { return {}; }
    platform::Error escape(platform::ControlLine) override { return {}; }
    platform::Error setEventMask(std::uint32_t) override { return {}; }
    platform::Error write(const std::uint8_t*, std::size_t n, std::size_t& written) override {
        written = n;
        return {};
    }
    platform::Error read(std::uint8_t* out, std::size_t n, std::size_t& received,
                         platform::ReadEnd& ended) override {
        received = 0;
        ended = platform::ReadEnd::Total;
        if (pos_ >= size_)
            return platform::Error::None;
        const std::uint8_t say = data_[pos_++];
        const std::size_t arrived = std::min<std::size_t>(say % (n + 2), n);
        received = std::min(arrived, size_ - pos_);
        ended = received == n                 ? platform::ReadEnd::Count
                : received != 0 && say & 0x80 ? platform::ReadEnd::Interval
                                              : platform::ReadEnd::Total;
        std::memcpy(out, data_ + pos_, received);
        stream.append(reinterpret_cast<const char*>(out), received);
        pos_ += received;
        return platform::Error::None;
    }
    platform::Error close() override { return {}; }
    bool done() const { return pos_ >= size_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool IsFrame(const std::string& f) {
    if (f.size() != 16 || f.front() != 'A' || f.back() != '\r')
        return false;
    for (std::size_t i = 1; i < 15; ++i)
        if (static_cast<unsigned char>(f[i]) < 0x20 || f[i] == 0x7F)
            return false;
    return true;
}

std::string Text(const std::uint8_t* bytes, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto owned = std::make_unique<StreamPort>(data, size);
    StreamPort* port = owned.get();
    PortHandle = std::move(owned);
    Settings = TReaderSettings{};
    ChipChars.fill(0);
    ChipCode.clear();
    KeptChips.clear();
    for (int turn = 0; !port->done(); ++turn) {
        Settings.CrcDigits = turn % 3 == 0;
        const bool repeat = turn % 4 == 3;
        const auto charsBefore = ChipChars;
        const std::string codeBefore = ChipCode.str();
        const std::deque<ChipCharacters> keptBefore = KeptChips;
        const std::size_t readBefore = port->stream.size();
        const bool accepted = repeat ? RepeatRead() : PollChip();
        const std::string read = port->stream.substr(readBefore);
        const std::size_t length = repeat ? 18 : 16;
        const std::string payload = Text(ChipChars.data(), length - 2);
        if (repeat) {
            // Chips kept on the way are whole frames of the stream (the link
            // carries a unit's first bytes from one call to the next).
            Check(KeptChips.size() >= keptBefore.size());
            for (std::size_t i = keptBefore.size(); i < KeptChips.size(); ++i) {
                const std::string frame = "A" + Text(KeptChips[i].data(), 14) + "\r";
                Check(IsFrame(frame) && port->stream.find(frame) != std::string::npos);
            }
            if (accepted)
                Check(port->stream.find("A" + payload + "\r") != std::string::npos);
        } else if (!keptBefore.empty()) {
            // A kept chip first, without reading the line.
            Check(accepted && read.empty() && KeptChips.size() == keptBefore.size() - 1);
            Check(std::memcmp(ChipChars.data(), keptBefore.front().data(), 14) == 0);
        } else if (accepted) {
            Check(IsFrame("A" + payload + "\r") &&
                  port->stream.find("A" + payload + "\r") != std::string::npos);
        }
        if (accepted) {
            Check(ChipCode.view() == payload.substr(0, Settings.CrcDigits ? 14 : 12));
            if (!repeat)
                Check(ChipChars[14] == charsBefore[14] && ChipChars[15] == charsBefore[15]);
        } else {
            Check(ChipChars == charsBefore && ChipCode.view() == codeBefore);
        }
        Check(BuildChipText().size() == (Settings.CrcDigits ? 14u : 12u));
    }
    // Nothing the link carries goes on to the next input.
    ClosePort();
    return 0;
}
