// Temporary folders for tests, removed afterwards; and whole-file reads and
// writes.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace fakes {

// A fresh temporary folder, removed with everything in it afterwards.
class TempFolder {
  public:
    TempFolder() : path_(MakeUniqueDirectory()) {}
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    // create_directory fails on a name that exists, so a folder it made is ours alone.
    static std::filesystem::path MakeUniqueDirectory() {
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::filesystem::path candidate =
                base / ("chipreader-" + std::to_string(random() % 1000000000u));
            if (std::filesystem::create_directory(candidate))
                return candidate;
        }
        throw std::runtime_error("no temporary folder could be made in " + base.string());
    }

    std::filesystem::path path_;
};

// A fresh temporary folder (or `subPath` made inside one) that is the current
// directory for the life of the object.
class TempWorkDir {
  public:
    explicit TempWorkDir(const std::string& subPath = {})
        : path_(subPath.empty() ? root_.path() : root_.path() / subPath) {
        std::filesystem::create_directories(path_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempWorkDir() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
    }

    const std::filesystem::path& path() const { return path_; }

  private:
    TempFolder root_;
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace fakes
