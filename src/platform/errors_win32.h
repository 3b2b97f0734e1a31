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

// A code from a read or write on a port that is open: there, the codes that a
// USB serial adapter pulled out gives (access denied, a command the device no
// longer knows, a device no longer connected) mean that the line hung up.
Error FromWin32OnOpenPort(std::uint32_t code);
Error LastWin32PortError();

}  // namespace platform
