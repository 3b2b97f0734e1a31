// The host name on POSIX; OpenSSL reads the system's CAs (/etc/ssl/certs).
#include <unistd.h>

#include "Host.h"

namespace platform {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

bool TlsFindsSystemCAs() {
    return true;
}

}  // namespace platform
