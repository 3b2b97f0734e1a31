// The program's pictures, drawn in code as pixels: the button pictures with
// their disabled versions, the two LED lamps and the program icon. Standard
// C++ only: each skin wraps the pixels in its own image type, and the build
// also runs it on the build machine to write the Windows icon file.
#pragma once

#include <cstdint>
#include <vector>

#include "Layout.h"

namespace pictures {

// Top-down rows of 0xAARRGGBB pixels, alpha not premultiplied (as icons keep it).
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Each picture is drawn for its size at 96 dots per inch (ButtonPictureSize,
// LampSize, 32 for the icon) and scaled to `size` pixels, so it stays sharp
// at any scale.
Image ButtonPicture(Picture picture, int size);
// The same shape grey and flat, with a light edge below and to the right.
Image DisabledPicture(const Image& normal);
// The lamp: dark green when off, bright green when lit.
Image LampPicture(bool lit, int size);
Image ProgramIcon(int size);

}  // namespace pictures
