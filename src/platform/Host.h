// The name this computer goes by on the network, and whom it trusts on it.
#pragma once
#include <string>

namespace platform {

// The host name in UTF-8 ("front-desk"); empty when the system gives none.
std::string HostName();

// Whether the TLS library finds the certificate authorities this computer
// trusts by itself. OpenSSL reads the system's on Linux, but not the Windows
// certificate store: there a TLS connection needs its CA named.
bool TlsFindsSystemCAs();

}  // namespace platform
