// The information sound on Windows: the sound the user set for the asterisk.
#include <windows.h>

#include "Sound.h"

namespace platform {

namespace {

class Win32Sound final : public Sound {
  public:
    void information() override { MessageBeep(MB_ICONASTERISK); }
};

}  // namespace

Sound& SystemSound() {
    static Win32Sound sound;
    return sound;
}

}  // namespace platform
