// The one mapping from Win32 error codes to the layer's error values.
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "errors_win32.h"

namespace {

using platform::Error;
using platform::FromWin32;

TEST(Win32Errors, EachCodeTheLayerMeetsHasItsValue) {
    const std::pair<DWORD, Error> table[] = {
        {ERROR_SUCCESS, Error::None},
        {ERROR_FILE_NOT_FOUND, Error::NotFound},
        {ERROR_PATH_NOT_FOUND, Error::NotFound},
        {ERROR_INVALID_DRIVE, Error::NotFound},
        {ERROR_ACCESS_DENIED, Error::AccessDenied},
        {ERROR_WRITE_PROTECT, Error::AccessDenied},
        {ERROR_SHARING_VIOLATION, Error::Busy},
        {ERROR_LOCK_VIOLATION, Error::Busy},
        {ERROR_NOT_SUPPORTED, Error::NotSupported},
        {ERROR_INVALID_FUNCTION, Error::NotSupported},
        {ERROR_SEM_TIMEOUT, Error::TimedOut},
        {WAIT_TIMEOUT, Error::TimedOut},
        {ERROR_GEN_FAILURE, Error::HungUp},
        {ERROR_OPERATION_ABORTED, Error::HungUp},
        {ERROR_BROKEN_PIPE, Error::HungUp},
        {ERROR_DEVICE_REMOVED, Error::HungUp},
        {ERROR_DISK_FULL, Error::NoSpace},
        {ERROR_HANDLE_DISK_FULL, Error::NoSpace},
        {ERROR_INVALID_PARAMETER, Error::Invalid},
        {ERROR_INVALID_HANDLE, Error::Invalid},
        {ERROR_INVALID_NAME, Error::Invalid},
        {ERROR_FILENAME_EXCED_RANGE, Error::Invalid},
        {ERROR_NOT_ENOUGH_MEMORY, Error::Other},
        {0xFFFFu, Error::Other},
    };
    for (const auto& [code, error] : table)
        EXPECT_EQ(FromWin32(code), error) << "code " << code;
}

// On a port already open, the codes of a removed adapter are a hang-up; the
// rest reads as anywhere else.
TEST(Win32Errors, ARemovedAdapterHangsUpAnOpenPort) {
    const std::pair<DWORD, Error> table[] = {
        // what a USB serial adapter pulled out gives
        {ERROR_ACCESS_DENIED, Error::HungUp},
        {ERROR_BAD_COMMAND, Error::HungUp},
        {ERROR_DEVICE_NOT_CONNECTED, Error::HungUp},
        {ERROR_DEV_NOT_EXIST, Error::HungUp},
        {ERROR_GEN_FAILURE, Error::HungUp},
        {ERROR_DEVICE_REMOVED, Error::HungUp},
        {ERROR_OPERATION_ABORTED, Error::HungUp},
        // the rest as anywhere else
        {ERROR_SUCCESS, Error::None},
        {ERROR_SEM_TIMEOUT, Error::TimedOut},
        {ERROR_INVALID_HANDLE, Error::Invalid},
        {ERROR_NOT_ENOUGH_MEMORY, Error::Other},
    };
    for (const auto& [code, error] : table)
        EXPECT_EQ(platform::FromWin32OnOpenPort(code), error) << "code " << code;
    EXPECT_EQ(FromWin32(ERROR_BAD_COMMAND), Error::Other) << "an open that fails is no hang-up";
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(platform::LastWin32PortError(), Error::Other);
}

TEST(Win32Errors, TheLastErrorOfAFailedCallIsNeverNone) {
    SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(platform::LastWin32Error(), Error::Busy);
    SetLastError(ERROR_SUCCESS);  // a call that failed without saying why
    EXPECT_EQ(platform::LastWin32Error(), Error::Other);
}

TEST(Win32Errors, ARealFailedCallComesThroughMapped) {
    HANDLE file = CreateFileA("C:\\no-such-folder-here\\file.bin", GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::LastWin32Error(), Error::NotFound);
}

}  // namespace
