// A private Xvfb: the X server of the tests that need no keyboard layout
// other than its US one (Debian 12's Xvfb undoes keymap changes).
#pragma once

#include "XServer.h"

namespace fakes {

class PrivateXServer : public XServerProcess {
  public:
    PrivateXServer()
        : XServerProcess({"Xvfb", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}) {}
};

}  // namespace fakes
