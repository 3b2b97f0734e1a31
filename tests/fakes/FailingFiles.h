// Files that fail at a chosen step ("target", "write", "replace", "append"),
// passing everything else to the real ones.
#pragma once

#include <cstddef>
#include <string>

#include "Files.h"

namespace fakes {

class FailingFiles final : public platform::Files {
  public:
    std::string failStep;
    platform::Error read(const platform::Path& path, void* data, std::size_t n,
                         std::size_t& got) override {
        return platform::SystemFiles().read(path, data, n, got);
    }
    platform::Error writeNew(const platform::Path& path, const void* data, std::size_t n) override {
        if (failStep == "write") {
            // A write that got halfway: the temporary file holds a torn record.
            platform::SystemFiles().writeNew(path, data, n / 2);
            return platform::Error::NoSpace;
        }
        return platform::SystemFiles().writeNew(path, data, n);
    }
    platform::Error replaceTarget(const platform::Path& path, platform::Path& target) override {
        if (failStep == "target")
            return platform::Error::AccessDenied;
        return platform::SystemFiles().replaceTarget(path, target);
    }
    platform::Error replace(const platform::Path& from, const platform::Path& to) override {
        if (failStep == "replace")
            return platform::Error::Other;
        return platform::SystemFiles().replace(from, to);
    }
    platform::Error rewrite(const platform::Path& path, const void* data, std::size_t n) override {
        return platform::SystemFiles().rewrite(path, data, n);
    }
    platform::Error append(const platform::Path& path, const void* data, std::size_t n) override {
        if (failStep == "append")
            return platform::Error::NoSpace;
        return platform::SystemFiles().append(path, data, n);
    }
    platform::Error remove(const platform::Path& path) override {
        return platform::SystemFiles().remove(path);
    }
};

}  // namespace fakes
