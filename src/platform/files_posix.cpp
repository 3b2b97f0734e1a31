#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Files.h"
#include "errno_posix.h"

namespace platform {

namespace {

// Makes a rename durable. A failure here changes nothing the caller can act
// on: the rename itself has happened.
void SyncDirectoryOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

class PosixFiles final : public Files {
  public:
    Error writeDurably(const std::string& path, const void* data, std::size_t n) override {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return FromErrno(errno);
        const char* bytes = static_cast<const char*>(data);
        std::size_t done = 0;
        int failure = 0;
        while (done < n) {
            ssize_t w = ::write(fd, bytes + done, n - done);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                failure = errno;
                break;
            }
            done += std::size_t(w);
        }
        if (failure == 0 && ::fsync(fd) != 0)
            failure = errno;
        if (::close(fd) != 0 && failure == 0)
            failure = errno;
        return FromErrno(failure);
    }

    Error replace(const std::string& from, const std::string& to) override {
        if (std::rename(from.c_str(), to.c_str()) != 0)
            return FromErrno(errno);
        SyncDirectoryOf(to);
        return Error::None;
    }

    Error remove(const std::string& path) override {
        return ::unlink(path.c_str()) == 0 ? Error::None : FromErrno(errno);
    }
};

}  // namespace

Files& SystemFiles() {
    static PosixFiles files;
    return files;
}

}  // namespace platform
