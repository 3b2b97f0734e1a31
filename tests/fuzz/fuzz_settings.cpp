// Arbitrary contents of the settings file. Loading never reads past the
// record, and a loaded record saves back to exactly the bytes it came from.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "Files.h"
#include "Global.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

std::string ReadAll(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The disk without the flush to the platter: durability is tested elsewhere,
// and a flush per input would leave the fuzzer a few runs a second.
class QuickFiles final : public platform::Files {
  public:
    platform::Error read(const platform::Path& path, void* data, std::size_t n,
                         std::size_t& got) override {
        return platform::SystemFiles().read(path, data, n, got);
    }
    platform::Error writeNew(const platform::Path& path, const void* data, std::size_t n) override {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(static_cast<const char*>(data), std::streamsize(n));
        return out.good() ? platform::Error::None : platform::Error::Other;
    }
    platform::Error replaceTarget(const platform::Path& path, platform::Path& target) override {
        target = path;
        return platform::Error::None;
    }
    platform::Error replace(const platform::Path& from, const platform::Path& to) override {
        std::error_code ec;
        std::filesystem::rename(from, to, ec);
        return ec ? platform::Error::Other : platform::Error::None;
    }
    platform::Error rewrite(const platform::Path& path, const void* data, std::size_t n) override {
        return writeNew(path, data, n);
    }
    platform::Error append(const platform::Path&, const void*, std::size_t) override {
        return platform::Error::NotSupported;  // the settings are never appended to
    }
    platform::Error remove(const platform::Path& path) override {
        std::error_code ec;
        return std::filesystem::remove(path, ec) ? platform::Error::None
                                                 : platform::Error::NotFound;
    }
};

struct WorkDir {
    WorkDir() {
        // In memory where the machine has it: many thousands of files a second.
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "fuzzini-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
        std::filesystem::current_path(path);
    }
    ~WorkDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static WorkDir dir;
    static QuickFiles files;
    platform::UseFiles(&files);
    std::ofstream(SettingsFileName, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    Settings = TReaderSettings{};
    Check(LoadSettings());
    Check(SaveSettings());
    std::string expected(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 16));
    expected.resize(16, '\0');
    Check(ReadAll(SettingsFileName) == expected);
    Check(!std::filesystem::exists(SettingsTempFileName));
    return 0;
}
