// A sound that makes none and counts the beeps it was asked for.
#pragma once

#include "Sound.h"

namespace fakes {

class CountingSound final : public platform::Sound {
  public:
    int beeps = 0;
    void information() override { ++beeps; }
};

}  // namespace fakes
