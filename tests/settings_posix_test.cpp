// The settings save keeps what a plain rewrite of the file would keep: its
// permissions, and symbolic links, which only POSIX systems give an operator.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Global.h"
#include "fakes/TempDir.h"

namespace fs = std::filesystem;
using fakes::ReadFile;
using fakes::WriteFile;

namespace {

const std::string Old(16, '\x05');

std::string Saved() {
    std::string bytes(16, '\0');
    bytes[0] = '\x0B';
    return bytes;
}

class SettingsFileOnPosix : public ::testing::Test {
  protected:
    void SetUp() override {
        Settings = TReaderSettings{};
        Settings.Port = 11;
        fs::create_directory(dir.path() / "shared");
    }
    fakes::TempWorkDir dir;
};

TEST_F(SettingsFileOnPosix, ThePermissionsOfTheFileAreKept) {
    for (fs::perms mode : {fs::perms(0600), fs::perms(0664), fs::perms(0640)}) {
        SCOPED_TRACE(int(mode));
        WriteFile(SettingsFileName, Old);
        fs::permissions(SettingsFileName, mode);
        ASSERT_TRUE(SaveSettings());
        EXPECT_EQ(ReadFile(SettingsFileName), Saved());
        EXPECT_EQ(fs::status(SettingsFileName).permissions(), mode);
    }
}

TEST_F(SettingsFileOnPosix, ALinkIsFollowedAndStaysALink) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links;  // link, where it leads
        std::string file;                                        // the file they end at
        bool exists;
    };
    const std::vector<Case> cases = {
        {"absolute",
         {{SettingsFileName, (dir.path() / "shared/a.ini").string()}},
         "shared/a.ini",
         true},
        {"relative", {{SettingsFileName, "shared/b.ini"}}, "shared/b.ini", true},
        {"a chain",
         {{SettingsFileName, "shared/link"}, {"shared/link", "c.ini"}},
         "shared/c.ini",
         true},
        {"to a file not there yet", {{SettingsFileName, "shared/d.ini"}}, "shared/d.ini", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [link, to] : c.links) {
            fs::remove(link);
            fs::create_symlink(to, link);
        }
        if (c.exists) {
            WriteFile(c.file, Old);
            fs::permissions(c.file, fs::perms(0660));
        }
        ASSERT_TRUE(SaveSettings());
        for (const auto& [link, to] : c.links)
            EXPECT_EQ(fs::read_symlink(link), to);
        EXPECT_EQ(ReadFile(c.file), Saved());
        if (c.exists) {
            EXPECT_EQ(fs::status(c.file).permissions(), fs::perms(0660));
        }
        EXPECT_FALSE(fs::exists(SettingsTempFileName));
        EXPECT_FALSE(fs::exists(c.file + ".new"));
    }
}

TEST_F(SettingsFileOnPosix, AFileWithoutWritePermissionForItsOwnerIsNotReplaced) {
    // Tests run as root, who may write any file: the mode must decide.
    for (fs::perms mode : {fs::perms(0444), fs::perms(0400), fs::perms(0464)}) {
        for (bool throughLink : {false, true}) {
            SCOPED_TRACE(std::to_string(int(mode)) + (throughLink ? " through a link" : ""));
            fs::remove(SettingsFileName);
            const std::string file = throughLink ? "shared/ro.ini" : SettingsFileName;
            if (throughLink)
                fs::create_symlink(file, SettingsFileName);
            WriteFile(file, Old);
            fs::permissions(file, mode);
            EXPECT_FALSE(SaveSettings());
            EXPECT_EQ(ReadFile(file), Old);
            EXPECT_EQ(fs::status(file).permissions(), mode);
            EXPECT_EQ(fs::is_symlink(SettingsFileName), throughLink);
            EXPECT_FALSE(fs::exists(SettingsTempFileName));
            EXPECT_FALSE(fs::exists(file + ".new"));
            fs::permissions(file, fs::perms(0644));
            fs::remove(file);
        }
    }
}

TEST_F(SettingsFileOnPosix, ALinkLoopFailsTheSave) {
    fs::create_symlink("loop", SettingsFileName);
    fs::create_symlink(SettingsFileName, "loop");
    EXPECT_FALSE(SaveSettings());
    EXPECT_TRUE(fs::is_symlink(SettingsFileName));
}

}  // namespace
