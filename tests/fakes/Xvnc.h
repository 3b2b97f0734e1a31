// A private X server that takes keyboard layout changes, for the tests of
// typing under a layout: TigerVNC's Xvnc, with no VNC port and no TCP.
#pragma once

#include <cstdlib>
#include <string>

#include "XServer.h"

namespace fakes {

class LayoutXServer : public XServerProcess {
  public:
    LayoutXServer()
        : XServerProcess({"Xvnc", "-geometry", "1024x768", "-depth", "24", "-SecurityTypes", "None",
                          "-rfbport", "-1", "-nolisten", "tcp", "-noreset"}) {}

    // Asks for the XKB layout ("fr", "de", "us"), with the one option given
    // ("caps:shiftlock") or none; whether it took, the test checks on the
    // keys themselves.
    bool setLayout(const std::string& layout, const std::string& option = "") const {
        std::string command = "setxkbmap -display " + display() + " -option ''";
        if (!option.empty())
            command += " -option " + option;
        return std::system((command + " " + layout).c_str()) == 0;
    }
};

}  // namespace fakes
