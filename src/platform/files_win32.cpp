// The durable write, the atomic replace and the rewrite on Windows: a file is
// flushed to the disk before it is closed, and moved over the old one in a
// single call that returns only once the move is on the disk. Paths go to the
// wide ("W") calls, so a folder named in any language works on every Windows,
// whatever its code page.
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

HANDLE OpenForWriting(const Path& path, DWORD disposition) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Writes all of data to the file from where it stands.
Error WriteAll(HANDLE file, const void* data, std::size_t n) {
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < n) {
        const DWORD chunk =
            DWORD(std::min<std::size_t>(n - done, std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, chunk, &written, nullptr))
            return LastWin32Error();
        if (written == 0)
            return Error::Other;  // a disk file never takes nothing without saying why
        done += written;
    }
    return Error::None;
}

// Writes all of data to the file from where it stands, cuts it there, flushes
// it to the disk and closes it.
Error WriteAllAndClose(HANDLE file, const void* data, std::size_t n) {
    Error failure = WriteAll(file, data, n);
    if (failure == Error::None && !SetEndOfFile(file))
        failure = LastWin32Error();
    if (failure == Error::None && !FlushFileBuffers(file))
        failure = LastWin32Error();
    if (!CloseHandle(file) && failure == Error::None)
        failure = LastWin32Error();
    return failure;
}

// A file another program has open: tried again this often, this long apart.
constexpr int BusyTries = 10;
constexpr DWORD BusyPauseMs = 100;

class Win32Files final : public Files {
  public:
    Error read(const Path& path, void* data, std::size_t n, std::size_t& got) override {
        got = 0;
        HANDLE file = INVALID_HANDLE_VALUE;
        for (int tries = 1;; ++tries) {
            file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
                tries == BusyTries)
                break;
            Sleep(BusyPauseMs);
        }
        if (file == INVALID_HANDLE_VALUE)
            return LastWin32Error();
        Error failure = Error::None;
        while (got < n) {
            const DWORD chunk =
                DWORD(std::min<std::size_t>(n - got, std::numeric_limits<DWORD>::max()));
            DWORD count = 0;
            if (!ReadFile(file, static_cast<char*>(data) + got, chunk, &count, nullptr)) {
                failure = LastWin32Error();
                break;
            }
            if (count == 0)
                break;  // the end of the file
            got += count;
        }
        CloseHandle(file);
        return failure;
    }

    Error writeNew(const Path& path, const void* data, std::size_t n) override {
        // CREATE_NEW: never through a link, never into someone else's file.
        // What stands there is deleted (a link itself, not where it leads), once.
        HANDLE file = OpenForWriting(path, CREATE_NEW);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return Error::IsDirectory;
            if (DeleteFileW(path.c_str()))
                file = OpenForWriting(path, CREATE_NEW);
        }
        if (file == INVALID_HANDLE_VALUE)
            return LastWin32Error();
        return WriteAllAndClose(file, data, n);
    }

    Error replaceTarget(const Path& path, Path& target) override {
        // The file itself: a symbolic link to a file needs an administrator
        // to make on Windows, and MoveFileEx would replace the link.
        const DWORD attributes = GetFileAttributesW(path.c_str());
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

    Error replace(const Path& from, const Path& to) override {
        // MoveFileEx refuses a read-only file too, but under Wine the file to
        // be moved is lost on the way: ask first, and leave both as they are.
        const DWORD attributes = GetFileAttributesW(to.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && IsReadOnly(attributes))
            return Error::AccessDenied;
        if (!MoveFileExW(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return LastWin32Error();
        return Error::None;
    }

    Error rewrite(const Path& path, const void* data, std::size_t n) override {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && IsReadOnly(attributes))
            return Error::AccessDenied;
        HANDLE file = OpenForWriting(path, OPEN_EXISTING);
        if (file == INVALID_HANDLE_VALUE)
            return LastWin32Error();
        return WriteAllAndClose(file, data, n);
    }

    Error append(const Path& path, const void* data, std::size_t n) override {
        // Others may read the file meanwhile, none write: the bytes go to the
        // end it has when opened.
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return LastWin32Error();
        LARGE_INTEGER end{};
        if (!SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END)) {
            const Error error = LastWin32Error();
            CloseHandle(file);
            return error;
        }
        Error failure = WriteAll(file, data, n);
        // A part written and the rest refused (a full disk): cut back to
        // where it began, so that the next write does not go onto a cut line.
        if (failure != Error::None && SetFilePointerEx(file, end, nullptr, FILE_BEGIN))
            SetEndOfFile(file);
        if (failure == Error::None && !FlushFileBuffers(file))
            failure = LastWin32Error();
        if (!CloseHandle(file) && failure == Error::None)
            failure = LastWin32Error();
        return failure;
    }

    Error remove(const Path& path) override {
        return DeleteFileW(path.c_str()) ? Error::None : LastWin32Error();
    }
};

class Win32Hold final : public FileHold {
  public:
    explicit Win32Hold(HANDLE file) : file_(file) {}
    ~Win32Hold() override { CloseHandle(file_); }  // and the file is deleted

  private:
    HANDLE file_;
};

}  // namespace

Error HoldFile(const Path& path, std::unique_ptr<FileHold>& hold) {
    // No sharing: a second opening fails with a sharing violation (Busy)
    // until this handle is closed, by the program or by its end.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LastWin32Error();
    hold = std::make_unique<Win32Hold>(file);
    return Error::None;
}

bool OthersMayRead(const Path&) {
    return false;
}

Files& SystemFiles() {
    static Win32Files files;
    return files;
}

}  // namespace platform
