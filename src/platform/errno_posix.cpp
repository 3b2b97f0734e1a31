#include <cerrno>

#include "errno_posix.h"

namespace platform {

Error FromErrno(int code) {
    switch (code) {
        case 0:
            return Error::None;
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return Error::NotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return Error::AccessDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return Error::Busy;
        case ENOTTY:
        case ENOTSUP:
            return Error::NotSupported;
        case ETIMEDOUT:
            return Error::TimedOut;
        case EIO:
        case EPIPE:
        case ECONNRESET:
            return Error::HungUp;
        case EISDIR:
            return Error::IsDirectory;
        case ENOSPC:
        case EDQUOT:
            return Error::NoSpace;
        case EINVAL:
        case ENAMETOOLONG:
            return Error::Invalid;
        default:
            return Error::Other;
    }
}

}  // namespace platform
