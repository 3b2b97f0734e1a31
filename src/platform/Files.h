// The file operations that must be safe against interruption and that the
// standard library cannot promise: a durable write of a new file, an atomic
// replace, and the rewrite in place where no new file can be made; and the
// read of a file no other program may open meanwhile. Paths are
// std::filesystem::path, so that on Windows any name reaches the system whole
// (wide characters), whatever the code page.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>

#include "Error.h"

namespace platform {

using Path = std::filesystem::path;

class Files {
  public:
    virtual ~Files() = default;
    // Reads the existing file from its start: at most n bytes into data, got
    // how many came. The file is ours alone while it is read: on Windows it
    // is opened without sharing, so that no other program may open it
    // meanwhile, and a file another program has open is Busy (after a
    // second of trying again: a virus scanner holds a file for a moment).
    // POSIX has no such opening: a plain read.
    virtual Error read(const Path& path, void* data, std::size_t n, std::size_t& got) = 0;
    // Makes the file anew, writes all bytes, flushes them to the disk,
    // closes. Whatever has the name already (a file an interrupted save
    // left, a link someone planted) is removed first, never written
    // through. AccessDenied when the folder takes no new file.
    virtual Error writeNew(const Path& path, const void* data, std::size_t n) = 0;
    // The file that a replace of path must go to, in target: path itself or,
    // when path is a symbolic link, the file it leads to (which need not exist
    // yet), so that the link stays a link. AccessDenied when that file exists
    // and is read-only: as the operator marked it (no write permission for its
    // owner; on Windows the read-only attribute), or for this user.
    virtual Error replaceTarget(const Path& path, Path& target) = 0;
    // Renames from over to, replacing to atomically; the new file keeps the
    // permissions, the owner and the group of the old. AccessDenied when to
    // is read-only, or when from cannot be given to's owner and group (to
    // is another user's).
    virtual Error replace(const Path& from, const Path& to) = 0;
    // Writes the bytes over the existing file, from its start, cuts it after
    // them and flushes it to the disk: what a plain rewrite does. Not atomic:
    // for a file that cannot be replaced. AccessDenied when it is read-only.
    virtual Error rewrite(const Path& path, const void* data, std::size_t n) = 0;
    // Adds the bytes at the end of the file, made when it is not there, and
    // flushes them to the disk before it returns: what a journal needs. A
    // write cut short (a full disk) is taken back: the file ends as before.
    virtual Error append(const Path& path, const void* data, std::size_t n) = 0;
    virtual Error remove(const Path& path) = 0;
};

// A file held for one holder: made when it is not there, and let go when the
// hold is destroyed or the program ends, however it ends. POSIX: flock(2);
// Windows: opened without sharing, and deleted when let go.
class FileHold {
  public:
    virtual ~FileHold() = default;
};
// Busy when another program, or another hold of this one, has the file.
Error HoldFile(const Path& path, std::unique_ptr<FileHold>& hold);

// Whether users other than the file's owner may read it by its mode bits.
// Always false on Windows: there the folder's access list decides.
bool OthersMayRead(const Path& path);

Files& TheFiles();
void UseFiles(Files* files);  // nullptr: back to the operating system's
Files& SystemFiles();

}  // namespace platform
