#include "Global.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "../platform/Files.h"

TReaderSettings Settings{};
std::uint32_t RunningOrder = 0;
FixedString<8> TimeText;
FixedString<16> ChipCode;

std::string PathInCurrentDirectory(const std::string& fileName) {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::current_path(ec);
    if (ec || dir.empty())
        return {};
    // The whole path, however long: a shortened one would name another file.
    return (dir / fileName).string();
}

bool LoadSettings() {
    const std::string path = PathInCurrentDirectory(SettingsFileName);
    if (path.empty())
        return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    unsigned char bytes[sizeof(TReaderSettings)];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    const bool readFailed = std::ferror(file) != 0;
    const bool closed = std::fclose(file) == 0;
    if (readFailed || !closed)
        return false;
    // Only what the file holds replaces the start of the record.
    std::memcpy(&Settings, bytes, got);
    return true;
}

bool SaveSettings() {
    const std::string path = PathInCurrentDirectory(SettingsFileName);
    const std::string temp = PathInCurrentDirectory(SettingsTempFileName);
    if (path.empty() || temp.empty())
        return false;
    platform::Files& files = platform::TheFiles();
    if (files.writeDurably(temp, &Settings, sizeof Settings) != platform::Error::None) {
        files.remove(temp);
        return false;
    }
    if (files.replace(temp, path) != platform::Error::None) {
        files.remove(temp);
        return false;
    }
    return true;
}
