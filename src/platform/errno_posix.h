// The one place that turns errno into the layer's error values (POSIX files only).
#pragma once

#include "Error.h"

namespace platform {
Error FromErrno(int code);
}
