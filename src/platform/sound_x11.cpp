// The information sound on Linux desktops: the freedesktop event sound
// "dialog-information" through libcanberra, or the display's bell where no
// sound can be played.

#include "Sound.h"

// X11 last: its macro None would clash with Error::None above.
#include <X11/Xlib.h>
#include <canberra.h>
#undef None

namespace platform {

namespace {

class DesktopSound final : public Sound {
  public:
    ~DesktopSound() override {
        if (context_)
            ca_context_destroy(context_);
    }

    void information() override {
        if (!context_ && ca_context_create(&context_) != CA_SUCCESS)
            context_ = nullptr;
        if (context_ &&
            ca_context_play(context_, 0, CA_PROP_EVENT_ID, "dialog-information",
                            CA_PROP_EVENT_DESCRIPTION, "Chip read", nullptr) == CA_SUCCESS)
            return;
        if (Display* display = XOpenDisplay(nullptr)) {
            XBell(display, 0);
            XCloseDisplay(display);
        }
    }

  private:
    ca_context* context_ = nullptr;
};

}  // namespace

Sound& SystemSound() {
    static DesktopSound sound;
    return sound;
}

}  // namespace platform
