#include <windows.h>

#include "errors_win32.h"

namespace platform {

Error FromWin32(std::uint32_t code) {
    switch (code) {
        case ERROR_SUCCESS:
            return Error::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_UNIT:
        case ERROR_BAD_NETPATH:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_DEVICE:
        case ERROR_NOT_READY:
            return Error::NotFound;
        // Windows also says access denied where a directory stands in the way
        // of a file, so IsDirectory never comes from here.
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD:
            return Error::AccessDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY:
            return Error::Busy;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
        case ERROR_CALL_NOT_IMPLEMENTED:
            return Error::NotSupported;
        case ERROR_TIMEOUT:
        case ERROR_SEM_TIMEOUT:
        case WAIT_TIMEOUT:
            return Error::TimedOut;
        // A USB serial adapter pulled out mid-call reports a general failure
        // or a removed device; a port whose driver went away, an aborted call.
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_REMOVED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return Error::HungUp;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Error::NoSpace;
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_HANDLE:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return Error::Invalid;
        default:
            return Error::Other;
    }
}

Error FromWin32OnOpenPort(std::uint32_t code) {
    switch (code) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
            return Error::HungUp;
        default:
            return FromWin32(code);
    }
}

Error LastWin32PortError() {
    const Error error = FromWin32OnOpenPort(GetLastError());
    return error == Error::None ? Error::Other : error;
}

Error LastWin32Error() {
    // A call that failed without leaving a code has failed all the same.
    const Error error = FromWin32(GetLastError());
    return error == Error::None ? Error::Other : error;
}

}  // namespace platform
