// A serial port that hands every call on to another one, the system's as a
// rule; a test watches what it needs by overriding `call` (every call goes
// through it) or one call itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "SerialPort.h"

namespace fakes {

class ForwardingPort : public platform::SerialPort {
  public:
    explicit ForwardingPort(std::unique_ptr<platform::SerialPort> port) : port_(std::move(port)) {}

    platform::Error getLineSettings(platform::LineSettings& s) override {
        return call("getLineSettings", [&] { return port_->getLineSettings(s); });
    }
    platform::Error setLineSettings(const platform::LineSettings& s) override {
        return call("setLineSettings", [&] { return port_->setLineSettings(s); });
    }
    platform::Error getTimeouts(platform::Timeouts& t) override {
        return call("getTimeouts", [&] { return port_->getTimeouts(t); });
    }
    platform::Error setTimeouts(const platform::Timeouts& t) override {
        return call("setTimeouts", [&] { return port_->setTimeouts(t); });
    }
    platform::Error escape(platform::ControlLine line) override {
        return call("escape", [&] { return port_->escape(line); });
    }
    platform::Error setEventMask(std::uint32_t mask) override {
        return call("setEventMask", [&] { return port_->setEventMask(mask); });
    }
    platform::Error write(const std::uint8_t* data, std::size_t n, std::size_t& written) override {
        return call("write", [&] { return port_->write(data, n, written); });
    }
    platform::Error read(std::uint8_t* data, std::size_t n, std::size_t& received,
                         platform::ReadEnd& ended) override {
        return call("read", [&] { return port_->read(data, n, received, ended); });
    }
    platform::Error close() override {
        return call("close", [&] { return port_->close(); });
    }
    std::string identity() override { return port_->identity(); }

  protected:
    // Makes the call `name` of the port.
    virtual platform::Error call(const char* /*name*/,
                                 const std::function<platform::Error()>& make) {
        return make();
    }

    std::unique_ptr<platform::SerialPort> port_;
};

}  // namespace fakes
