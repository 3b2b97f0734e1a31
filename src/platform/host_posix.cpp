// The host name on POSIX.
#include <unistd.h>

#include "Host.h"

namespace platform {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

}  // namespace platform
