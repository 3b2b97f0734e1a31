// A serial port that records every call and fails the step it is told to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "SerialPort.h"

namespace fakes {

struct SerialScript {
    std::string failStep;  // the call that fails: "open", "getLineSettings", ...
    platform::Error failure = platform::Error::Other;
    std::deque<std::string> replies;  // what successive reads deliver (cut to the length asked)
    std::vector<std::string> calls;   // every call, in order
    std::string written;              // every byte written
    platform::LineSettings applied{};
    platform::Timeouts timeouts{};
    int openPort = -1;
    int closes = 0;
    // A write succeeds saying it wrote at most this many bytes (all are recorded).
    std::size_t writeReports = SIZE_MAX;
    // Which time-out ended successive short reads; Interval when not said.
    std::deque<platform::ReadEnd> ends;
};

class FakeSerialPort final : public platform::SerialPort {
  public:
    explicit FakeSerialPort(SerialScript& script) : s_(script) {}

    platform::Error getLineSettings(platform::LineSettings& l) override {
        l = {1200, 7, platform::Parity::Even, platform::StopBits::Two};
        return step("getLineSettings");
    }
    platform::Error setLineSettings(const platform::LineSettings& l) override {
        s_.applied = l;
        return step("setLineSettings");
    }
    platform::Error getTimeouts(platform::Timeouts& t) override {
        t = {1, 2, 3, 4, 5};
        return step("getTimeouts");
    }
    platform::Error setTimeouts(const platform::Timeouts& t) override {
        s_.timeouts = t;
        return step("setTimeouts");
    }
    platform::Error escape(platform::ControlLine line) override {
        static const char* names[] = {"SetRts", "SetDtr", "ClearDtr", "ClearRts"};
        return step(names[int(line)]);
    }
    platform::Error setEventMask(std::uint32_t mask) override {
        return step(mask == platform::EventCharReceived ? "setEventMask" : "setEventMask?");
    }
    platform::Error write(const std::uint8_t* data, std::size_t n, std::size_t& written) override {
        s_.written.append(reinterpret_cast<const char*>(data), n);
        written = std::min(n, s_.writeReports);
        return step("write");
    }
    platform::Error read(std::uint8_t* data, std::size_t n, std::size_t& received,
                         platform::ReadEnd& ended) override {
        received = 0;
        if (!s_.replies.empty()) {
            std::string reply = s_.replies.front();
            s_.replies.pop_front();
            received = std::min(n, reply.size());
            std::memcpy(data, reply.data(), received);
        }
        ended = received == n   ? platform::ReadEnd::Count
                : received == 0 ? platform::ReadEnd::Total
                                : platform::ReadEnd::Interval;
        if (received < n && !s_.ends.empty()) {
            ended = s_.ends.front();
            s_.ends.pop_front();
        }
        return step("read");
    }
    platform::Error close() override {
        ++s_.closes;
        return step("close");
    }

  private:
    platform::Error step(const char* name) {
        s_.calls.emplace_back(name);
        return s_.failStep == name ? s_.failure : platform::Error::None;
    }
    SerialScript& s_;
};

class FakeSerialPorts final : public platform::SerialPorts {
  public:
    explicit FakeSerialPorts(SerialScript& script) : s_(script) {}
    std::string deviceName(int n) override { return "fake" + std::to_string(n); }
    std::unique_ptr<platform::SerialPort> open(int n, platform::Error& error) override {
        s_.calls.emplace_back("open");
        s_.openPort = n;
        if (s_.failStep == "open") {
            error = s_.failure;
            return nullptr;
        }
        error = platform::Error::None;
        return std::make_unique<FakeSerialPort>(s_);
    }

  private:
    SerialScript& s_;
};

}  // namespace fakes
