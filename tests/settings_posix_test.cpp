// The settings save keeps what a plain rewrite of the file would keep: its
// permissions, owner and group, and symbolic links, which only POSIX systems
// give an operator; and it saves where a plain rewrite would.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// Runs `work` in a child process as the user nobody, as an operator without
// root's rights; whether it returned true.
bool AsNobody(const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = ::setgroups(0, nullptr) == 0 && ::setgid(NoGroup) == 0 &&
                        ::setuid(Nobody) == 0 && work();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
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

TEST_F(SettingsFileOnPosix, TheOwnerAndGroupOfTheFileAreKept) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    // Saved by root (a run with sudo), the operator's file stays the operator's.
    WriteFile(SettingsFileName, Old);
    ASSERT_EQ(::chown(SettingsFileName, Nobody, NoGroup), 0);
    ::chmod(SettingsFileName, 0664);
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadFile(SettingsFileName), Saved());
    struct stat st = StatOf(SettingsFileName);
    EXPECT_EQ(st.st_uid, Nobody);
    EXPECT_EQ(st.st_gid, NoGroup);
    EXPECT_EQ(st.st_mode & 07777, 0664u);

    // Saved by an operator who may write another user's file (by its group)
    // but cannot give a new file that owner: it is rewritten in place.
    ::chmod(dir.path().c_str(), 0777);
    WriteFile(SettingsFileName, Old);
    ASSERT_EQ(::chown(SettingsFileName, 0, NoGroup), 0);
    const ino_t inode = StatOf(SettingsFileName).st_ino;
    EXPECT_TRUE(AsNobody([] { return SaveSettings(); }));
    EXPECT_EQ(ReadFile(SettingsFileName), Saved());
    st = StatOf(SettingsFileName);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, NoGroup);
    EXPECT_EQ(st.st_ino, inode);
    EXPECT_FALSE(fs::exists(SettingsTempFileName));
}

TEST_F(SettingsFileOnPosix, AWritableFileInAFolderTheOperatorMayNotWriteIntoIsSaved) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "a folder closed to the operator needs a second user";
    // The folder is root's, the file the operator's: no file can be made
    // beside it, so it is rewritten in place, as a plain rewrite would.
    WriteFile(SettingsFileName, Old + "more than a record");
    ASSERT_EQ(::chown(SettingsFileName, Nobody, NoGroup), 0);
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_TRUE(AsNobody([] { return SaveSettings(); }));
    EXPECT_EQ(ReadFile(SettingsFileName), Saved());
    EXPECT_EQ(StatOf(SettingsFileName).st_uid, Nobody);
    // A read-only file there is still not written.
    ::chmod(SettingsFileName, 0444);
    Settings.Port = 12;
    EXPECT_FALSE(AsNobody([] { return SaveSettings(); }));
    EXPECT_EQ(ReadFile(SettingsFileName), Saved());
    // Nor is a file that is not there made.
    fs::remove(SettingsFileName);
    EXPECT_FALSE(AsNobody([] { return SaveSettings(); }));
    EXPECT_FALSE(fs::exists(SettingsFileName));
}

TEST_F(SettingsFileOnPosix, ATemporaryNameThatIsTakenIsNeverWrittenThrough) {
    // A link planted where the save puts its new file, to a file of
    // someone else's: the link goes, the file it led to stays as it was.
    WriteFile("victim.txt", "not the settings");
    WriteFile(SettingsFileName, Old);
    fs::create_symlink("victim.txt", SettingsTempFileName);
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadFile("victim.txt"), "not the settings");
    EXPECT_FALSE(fs::is_symlink(SettingsFileName));
    EXPECT_EQ(ReadFile(SettingsFileName), Saved());
    EXPECT_FALSE(fs::exists(SettingsTempFileName));
    EXPECT_FALSE(fs::is_symlink(SettingsTempFileName));
}

}  // namespace
