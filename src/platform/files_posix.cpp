#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Files.h"
#include "errno_posix.h"

namespace platform {

namespace {

std::string DirectoryOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Makes a rename durable. A failure here changes nothing the caller can act
// on: the rename itself has happened.
void SyncDirectoryOf(const std::string& path) {
    const std::string dir = path.find('/') == std::string::npos ? "." : DirectoryOf(path);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Read-only as an operator means it (chmod a-w, a copy from a read-only
// medium, Windows' read-only attribute as Samba and Wine show it): the owner
// has no write permission. Root may write such a file all the same, so the
// mode decides, not access(2) alone; a file this user may not write (someone
// else's, a read-only mount) is read-only too.
bool IsReadOnly(const std::string& path, const struct stat& st) {
    if ((st.st_mode & S_IWUSR) == 0)
        return true;
    return ::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
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

    Error replaceTarget(const std::string& path, std::string& target) override {
        // One link at a time, as open(2) would follow them: the last may lead
        // to a file that is not there yet, which realpath(3) refuses.
        std::string file = path;
        for (int links = 0;; ++links) {
            struct stat st {};
            if (::lstat(file.c_str(), &st) != 0) {
                if (errno != ENOENT)
                    return FromErrno(errno);
                break;  // a new file
            }
            if (!S_ISLNK(st.st_mode)) {
                if (!S_ISDIR(st.st_mode) && IsReadOnly(file, st))
                    return Error::AccessDenied;
                break;
            }
            if (links == 40)
                return FromErrno(ELOOP);
            char dest[4096];
            const ssize_t n = ::readlink(file.c_str(), dest, sizeof dest);
            if (n < 0)
                return FromErrno(errno);
            if (std::size_t(n) == sizeof dest)
                return FromErrno(ENAMETOOLONG);
            // Appended, not concatenated: GCC 12 takes `dir + next` for an
            // overlapping copy (a false -Wrestrict).
            if (dest[0] == '/')
                file.assign(dest, std::size_t(n));
            else
                file = DirectoryOf(file).append(dest, std::size_t(n));
        }
        target = file;
        return Error::None;
    }

    Error replace(const std::string& from, const std::string& to) override {
        struct stat st {};
        if (::stat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            if (IsReadOnly(to, st))
                return Error::AccessDenied;
            if (::chmod(from.c_str(), st.st_mode & 07777) != 0)
                return FromErrno(errno);
        }
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
