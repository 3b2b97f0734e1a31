// Arbitrary contents of the settings file. Loading never reads past the
// record, and a loaded record saves back to exactly the bytes it came from.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

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

struct WorkDir {
    WorkDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fuzzini-XXXXXX").string();
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
