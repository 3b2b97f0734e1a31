// The name this computer goes by on the network.
#pragma once
#include <string>

namespace platform {

// The host name in UTF-8 ("front-desk"); empty when the system gives none.
std::string HostName();

}  // namespace platform
