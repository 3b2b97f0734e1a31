// The one place that turns Win32 error codes into the layer's error values
// (Windows files only).
#pragma once

#include <cstdint>

#include "Error.h"

namespace platform {

// A code as GetLastError() returns it.
Error FromWin32(std::uint32_t code);

// The error of the call that just failed, from GetLastError(); never None.
Error LastWin32Error();

}  // namespace platform
