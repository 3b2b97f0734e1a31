// The host name on Windows: the computer's DNS host name, in UTF-8. The
// program's OpenSSL (static, built by scripts/openssl-mingw) does not read the
// Windows certificate store.
#include <windows.h>

#include <iterator>

#include "Host.h"

namespace platform {

std::string HostName() {
    wchar_t name[256] = {};
    DWORD size = DWORD(std::size(name));
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size))
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, name, int(size), nullptr, 0, nullptr, nullptr);
    std::string text(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, name, int(size), text.data(), n, nullptr, nullptr);
    return text;
}

bool TlsFindsSystemCAs() {
    return false;
}

}  // namespace platform
