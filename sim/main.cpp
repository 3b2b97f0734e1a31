// The reader simulator as a program: publishes COM<n> in a folder, answers the
// program on the line, and presents chips typed on standard input or made up
// on a timer.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "ReaderSimulator.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

const char* Usage =
    "usage: chipsim [--dir FOLDER] [--port N] [--id XXXX] [--every SECONDS] [--pace MICROS] "
    "[--quiet]\n"
    "Commands on standard input, one a line:\n"
    "  CODE              present a chip (up to 16 characters; padded with 0)\n"
    "  chip              present a made-up chip\n"
    "  during CODE       present a chip as the next request arrives (its frame before the reply)\n"
    "  garbage N         send N random bytes\n"
    "  raw TEXT          send TEXT as it is (\\r for CR)\n"
    "  silent on|off     answer nothing, send no chips\n"
    "  late MS           answer MS milliseconds late\n"
    "  short N           leave out the last N bytes of every reply and frame\n"
    "  badfirst on|off   first byte of every reply and frame not \"A\"\n"
    "  badlast on|off    last byte of every reply and frame not CR\n"
    "  pause AFTER MS    pause MS milliseconds after AFTER bytes of every reply and frame\n"
    "  repliesonly on|off  the faults above spare chip frames\n"
    "  normal            behave again\n"
    "  hangup            close the line\n"
    "  unplug            close the line and take COM<n> away, as a USB adapter pulled out\n"
    "  replug MS [XXXX]  after MS milliseconds, publish COM<n> again on a new line\n"
    "                    (with the identification XXXX when given)\n"
    "  status            show the reader's state\n"
    "  quit              end (so does the end of input)\n";

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char c = text[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Returns false when the simulator should end.
bool Execute(sim::ReaderSimulator& reader, const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    if (!(words >> verb))
        return true;
    sim::Faults f = reader.faults();
    if (verb == "quit" || verb == "exit")
        return false;
    if (verb == "help") {
        std::cout << Usage;
    } else if (verb == "chip") {
        reader.presentChip(sim::MakeUpChipCode());
    } else if (verb == "during") {
        std::string code;
        words >> code;
        reader.presentChipDuringNextRequest(code.empty() ? sim::MakeUpChipCode() : code);
    } else if (verb == "garbage") {
        std::size_t n = 16;
        words >> n;
        reader.sendGarbage(n);
    } else if (verb == "raw") {
        std::string rest;
        std::getline(words >> std::ws, rest);
        reader.sendRaw(Unescape(rest));
    } else if (sim::ApplyFaultCommand(f, line)) {
    } else if (verb == "hangup") {
        reader.hangUp();
        std::cout << "line closed\n";
    } else if (verb == "unplug") {
        reader.unplug();
        std::cout << "unplugged\n";
    } else if (verb == "replug") {
        unsigned ms = 0;
        std::string id, error;
        words >> ms >> id;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        if (reader.replug(error, id))
            std::cout << "plugged in again on " << reader.devicePath() << "\n";
        else
            std::cout << "cannot plug in again: " << error << "\n";
    } else if (verb == "status") {
        std::cout << "blocked " << (reader.blocked() ? "yes" : "no") << ", LED "
                  << (reader.ledOn() ? "on" : "off") << ", last chip " << reader.lastChip() << ", "
                  << reader.requests().size() << " requests\n";
    } else if (verb.size() <= 16) {
        reader.presentChip(verb);
    } else {
        std::cout << "unknown command; try help\n";
    }
    reader.setFaults(f);
    std::cout.flush();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    options.log = true;
    double every = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << Usage;
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--dir")
            options.folder = value();
        else if (a == "--port")
            options.port = std::atoi(value().c_str());
        else if (a == "--id")
            options.id = value();
        else if (a == "--every")
            every = std::atof(value().c_str());
        else if (a == "--pace")
            options.byteMicros = unsigned(std::atoi(value().c_str()));
        else if (a == "--quiet")
            options.log = false;
        else {
            std::cerr << Usage;
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }

    std::signal(SIGINT, [](int) { interrupted = 1; });
    std::signal(SIGTERM, [](int) { interrupted = 1; });

    sim::ReaderSimulator reader(options);
    std::string error;
    if (!reader.start(error)) {
        std::cerr << "chipsim: " << error << "\n";
        return 1;
    }
    std::cout << "ready " << reader.linkPath() << " -> " << reader.devicePath() << std::endl;

    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(long(every * 1000));
    auto nextChip = Clock::now() + period;
    std::string buffer;
    bool inputOpen = true;
    while (!interrupted) {
        int timeout = -1;
        if (every > 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextChip - Clock::now());
            timeout = int(std::max<long>(0, left.count()));
        }
        if (!inputOpen && every <= 0)
            break;
        pollfd p{inputOpen ? 0 : -1, POLLIN, 0};
        int r = ::poll(&p, 1, timeout);
        if (r > 0 && (p.revents & (POLLIN | POLLHUP))) {
            char chunk[512];
            ssize_t got = ::read(0, chunk, sizeof chunk);
            if (got <= 0) {
                inputOpen = false;
                if (every <= 0)
                    break;
                continue;
            }
            buffer.append(chunk, std::size_t(got));
            std::size_t nl;
            while ((nl = buffer.find('\n')) != std::string::npos) {
                std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                if (!Execute(reader, line))
                    return 0;
            }
        }
        if (every > 0 && Clock::now() >= nextChip) {
            reader.presentChip(sim::MakeUpChipCode());
            nextChip += period;
        }
    }
    return 0;
}
