// The error values of the platform layer. Each operating-system file turns its
// own error codes into these in one place.
#pragma once

namespace platform {

enum class Error {
    None,
    NotFound,      // no such device or file
    AccessDenied,  // permission
    Busy,          // held by someone else (exclusive open)
    NotSupported,  // the device cannot do this
    TimedOut,      // a bounded operation ran out of time
    HungUp,        // the other end of the line went away
    IsDirectory,   // a directory where a file was expected
    NoSpace,       // the disk is full
    Invalid,       // a bad argument or setting
    Other,
};

const char* ErrorText(Error error);

// The facility that a test replaced with its own (UseSerial, UseClock, ...)
// and did not put back, or null.
const char* OverrideInUse();

}  // namespace platform
