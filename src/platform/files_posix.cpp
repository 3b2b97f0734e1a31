#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

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

// Writes all of data to fd where it stands; the errno of a failure, or 0.
int WriteAll(int fd, const void* data, std::size_t n) {
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, bytes + done, n - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return errno;
        done += std::size_t(w);
    }
    return 0;
}

// Writes all of data to fd, flushes it to the disk and closes fd.
Error WriteAllAndClose(int fd, const void* data, std::size_t n) {
    int failure = WriteAll(fd, data, n);
    if (failure == 0 && ::ftruncate(fd, off_t(n)) != 0)
        failure = errno;
    if (failure == 0 && ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    return FromErrno(failure);
}

class PosixFiles final : public Files {
  public:
    Error read(const Path& path, void* data, std::size_t n, std::size_t& got) override {
        got = 0;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return FromErrno(errno);
        int failure = 0;
        while (got < n) {
            const ssize_t r = ::read(fd, static_cast<char*>(data) + got, n - got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                failure = errno;
            if (r <= 0)
                break;
            got += std::size_t(r);
        }
        ::close(fd);
        return FromErrno(failure);
    }

    Error writeNew(const Path& path, const void* data, std::size_t n) override {
        // O_EXCL: never through a link, never into a file someone else holds
        // open. What stands there is removed (a link itself, not where it
        // leads), once.
        constexpr int Flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::open(path.c_str(), Flags, 0644);
        if (fd < 0 && errno == EEXIST && ::unlink(path.c_str()) == 0)
            fd = ::open(path.c_str(), Flags, 0644);
        if (fd < 0)
            return FromErrno(errno);
        return WriteAllAndClose(fd, data, n);
    }

    Error replaceTarget(const Path& path, Path& target) override {
        // One link at a time, as open(2) would follow them: the last may lead
        // to a file that is not there yet, which realpath(3) refuses.
        std::string file = path.string();
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

    Error replace(const Path& from, const Path& to) override {
        struct stat st {};
        if (::stat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            if (IsReadOnly(to.string(), st))
                return Error::AccessDenied;
            // The owner first: a change of owner may clear mode bits.
            struct stat made {};
            if (::stat(from.c_str(), &made) != 0)
                return FromErrno(errno);
            if ((made.st_uid != st.st_uid || made.st_gid != st.st_gid) &&
                ::chown(from.c_str(), st.st_uid, st.st_gid) != 0)
                return errno == EPERM ? Error::AccessDenied : FromErrno(errno);
            if (::chmod(from.c_str(), st.st_mode & 07777) != 0)
                return FromErrno(errno);
        }
        if (std::rename(from.c_str(), to.c_str()) != 0)
            return FromErrno(errno);
        SyncDirectoryOf(to.string());
        return Error::None;
    }

    Error rewrite(const Path& path, const void* data, std::size_t n) override {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return FromErrno(errno);
        struct stat st {};
        Error refused = Error::None;
        if (::fstat(fd, &st) != 0)
            refused = FromErrno(errno);
        else if (!S_ISREG(st.st_mode))
            refused = Error::Invalid;
        else if (IsReadOnly(path.string(), st))
            refused = Error::AccessDenied;
        if (refused != Error::None) {
            ::close(fd);
            return refused;
        }
        return WriteAllAndClose(fd, data, n);
    }

    Error append(const Path& path, const void* data, std::size_t n) override {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return FromErrno(errno);
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            const int e = errno;
            ::close(fd);
            return FromErrno(e);
        }
        int failure = WriteAll(fd, data, n);
        // A part written and the rest refused: cut back to where it began,
        // so that the next write does not go onto a cut line.
        if (failure != 0 && ::ftruncate(fd, st.st_size) == 0)
            ::fdatasync(fd);
        if (failure == 0 && ::fdatasync(fd) != 0)
            failure = errno;
        if (::close(fd) != 0 && failure == 0)
            failure = errno;
        return FromErrno(failure);
    }

    Error remove(const Path& path) override {
        return ::unlink(path.c_str()) == 0 ? Error::None : FromErrno(errno);
    }
};

class PosixHold final : public FileHold {
  public:
    explicit PosixHold(int fd) : fd_(fd) {}
    ~PosixHold() override { ::close(fd_); }  // the lock goes with it

  private:
    int fd_;
};

}  // namespace

Error HoldFile(const Path& path, std::unique_ptr<FileHold>& hold) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return FromErrno(errno);
    int r = 0;
    while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
        const int e = errno;
        ::close(fd);
        return e == EWOULDBLOCK ? Error::Busy : FromErrno(e);
    }
    hold = std::make_unique<PosixHold>(fd);
    return Error::None;
}

bool OthersMayRead(const Path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

Files& SystemFiles() {
    static PosixFiles files;
    return files;
}

}  // namespace platform
