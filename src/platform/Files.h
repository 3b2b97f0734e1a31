// The file operations that must be safe against interruption and that the
// standard library cannot promise: a durable write and an atomic replace.
#pragma once

#include <cstddef>
#include <string>

#include "Error.h"

namespace platform {

class Files {
  public:
    virtual ~Files() = default;
    // Creates or truncates the file, writes all bytes, flushes them to the disk, closes.
    virtual Error writeDurably(const std::string& path, const void* data, std::size_t n) = 0;
    // The file that a replace of path must go to, in target: path itself or,
    // when path is a symbolic link, the file it leads to (which need not exist
    // yet), so that the link stays a link. AccessDenied when that file exists
    // and is read-only: as the operator marked it (no write permission for its
    // owner; on Windows the read-only attribute), or for this user.
    virtual Error replaceTarget(const std::string& path, std::string& target) = 0;
    // Renames from over to, replacing to atomically; the new file keeps the
    // permissions of the old. A read-only to is not replaced (AccessDenied).
    virtual Error replace(const std::string& from, const std::string& to) = 0;
    virtual Error remove(const std::string& path) = 0;
};

Files& TheFiles();
void UseFiles(Files* files);  // nullptr: back to the operating system's
Files& SystemFiles();

}  // namespace platform
