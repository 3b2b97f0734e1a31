// The durable write and the atomic replace on Windows: the file is flushed to
// the disk before it is closed, and moved over the old one in a single call
// that returns only once the move is on the disk.
#include <windows.h>

#include <algorithm>
#include <limits>

#include "Files.h"
#include "errors_win32.h"

namespace platform {

namespace {

bool IsReadOnly(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class Win32Files final : public Files {
  public:
    Error writeDurably(const std::string& path, const void* data, std::size_t n) override {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return LastWin32Error();
        const char* bytes = static_cast<const char*>(data);
        std::size_t done = 0;
        Error failure = Error::None;
        while (done < n && failure == Error::None) {
            const DWORD chunk =
                DWORD(std::min<std::size_t>(n - done, std::numeric_limits<DWORD>::max()));
            DWORD written = 0;
            if (!WriteFile(file, bytes + done, chunk, &written, nullptr))
                failure = LastWin32Error();
            else if (written == 0)
                failure = Error::Other;  // a disk file never takes nothing without saying why
            done += written;
        }
        if (failure == Error::None && !FlushFileBuffers(file))
            failure = LastWin32Error();
        if (!CloseHandle(file) && failure == Error::None)
            failure = LastWin32Error();
        return failure;
    }

    Error replaceTarget(const std::string& path, std::string& target) override {
        // The file itself: a symbolic link to a file needs an administrator
        // to make on Windows, and MoveFileEx would replace the link.
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const Error error = LastWin32Error();
            if (error != Error::NotFound)
                return error;
        } else if (IsReadOnly(attributes)) {
            return Error::AccessDenied;
        }
        target = path;
        return Error::None;
    }

    Error replace(const std::string& from, const std::string& to) override {
        // MoveFileEx refuses a read-only file too, but under Wine the file to
        // be moved is lost on the way: ask first, and leave both as they are.
        const DWORD attributes = GetFileAttributesA(to.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && IsReadOnly(attributes))
            return Error::AccessDenied;
        if (!MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return LastWin32Error();
        return Error::None;
    }

    Error remove(const std::string& path) override {
        return DeleteFileA(path.c_str()) ? Error::None : LastWin32Error();
    }
};

}  // namespace

Files& SystemFiles() {
    static Win32Files files;
    return files;
}

}  // namespace platform
