// The sound facility: the system's information sound.
#pragma once

namespace platform {

class Sound {
  public:
    virtual ~Sound() = default;
    virtual void information() = 0;
};

Sound& TheSound();
void UseSound(Sound* sound);  // nullptr: back to the operating system's
Sound& SystemSound();

}  // namespace platform
