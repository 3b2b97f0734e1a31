// Arbitrary byte streams from the reader, cut into the reads a poll and a
// repeat read make. A frame is accepted only when it begins with "A" and ends
// with CR, and then the chip code is exactly its characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Drv232.h"
#include "Global.h"

namespace {

// A port that hands out the fuzz input as the bytes on the line; the first
// byte of each read says how many of the bytes asked for have arrived.
class StreamPort final : public platform::SerialPort {
  public:
    StreamPort(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::string lastRead;

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
    platform::Error read(std::uint8_t* out, std::size_t n, std::size_t& received) override {
        received = 0;
        lastRead.clear();
        if (pos_ >= size_)
            return platform::Error::None;
        const std::size_t arrived = std::min<std::size_t>(data_[pos_++] % (n + 2), n);
        received = std::min(arrived, size_ - pos_);
        std::memcpy(out, data_ + pos_, received);
        lastRead.assign(reinterpret_cast<const char*>(out), received);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto owned = std::make_unique<StreamPort>(data, size);
    StreamPort* port = owned.get();
    PortHandle = std::move(owned);
    Settings = TReaderSettings{};
    ChipChars.fill(0);
    ChipCode.clear();
    for (int turn = 0; !port->done(); ++turn) {
        Settings.CrcDigits = turn % 3 == 0;
        const bool repeat = turn % 4 == 3;
        const auto charsBefore = ChipChars;
        const std::string codeBefore = ChipCode.str();
        const bool accepted = repeat ? RepeatRead() : PollChip();
        const std::size_t length = repeat ? 18 : 16;
        const std::string& frame = port->lastRead;
        if (accepted) {
            Check(frame.size() == length && frame.front() == 'A' && frame.back() == '\r');
            const std::string payload = frame.substr(1, length - 2);
            Check(std::memcmp(ChipChars.data(), payload.data(), payload.size()) == 0);
            Check(ChipCode.view() == payload.substr(0, Settings.CrcDigits ? 14 : 12));
            if (!repeat)
                Check(ChipChars[14] == charsBefore[14] && ChipChars[15] == charsBefore[15]);
        } else {
            Check(frame.size() != length || frame.front() != 'A' || frame.back() != '\r');
            Check(ChipChars == charsBefore && ChipCode.view() == codeBefore);
        }
        Check(BuildChipText().size() == (Settings.CrcDigits ? 14u : 12u));
    }
    PortHandle.reset();
    return 0;
}
