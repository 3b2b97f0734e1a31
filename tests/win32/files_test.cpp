// The durable write, the replace, the rewrite and the remove through the Win32
// file calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "Files.h"
#include "Global.h"
#include "fakes/TempDir.h"

namespace fs = std::filesystem;
using fakes::ReadFile;
using fakes::WriteFile;
using platform::Error;

namespace {

class Win32Files : public ::testing::Test {
  protected:
    platform::Files& files = platform::SystemFiles();
    fakes::TempWorkDir dir;

    // `name` in UTF-8.
    fs::path Path(const std::string& name) const {
        return dir.path() / fs::path(std::u8string(name.begin(), name.end()));
    }
};

TEST_F(Win32Files, WritesTheBytesExactlyWithNoTextTranslation) {
    const std::string bytes("line\r\nnext\nend\x1A\x00\xFF", 17);
    ASSERT_EQ(files.writeNew(Path("a.bin"), bytes.data(), bytes.size()), Error::None);
    EXPECT_EQ(ReadFile(Path("a.bin")), bytes);
}

TEST_F(Win32Files, AWriteReplacesALongerFileWhole) {
    WriteFile(Path("a.bin"), std::string(100, 'x'));
    ASSERT_EQ(files.writeNew(Path("a.bin"), "abc", 3), Error::None);
    EXPECT_EQ(ReadFile(Path("a.bin")), "abc");
    ASSERT_EQ(files.writeNew(Path("a.bin"), "", 0), Error::None);
    EXPECT_TRUE(fs::exists(Path("a.bin")));
    EXPECT_EQ(fs::file_size(Path("a.bin")), 0u);
}

TEST_F(Win32Files, AWriteIntoAMissingFolderOrOntoAFolderFails) {
    EXPECT_EQ(files.writeNew(Path("missing\\a.bin"), "abc", 3), Error::NotFound);
    fs::create_directory(Path("folder"));
    EXPECT_EQ(files.writeNew(Path("folder"), "abc", 3), Error::IsDirectory);
    EXPECT_TRUE(fs::is_directory(Path("folder")));
}

TEST_F(Win32Files, AFileHeldWithoutSharingCannotBeWritten) {
    WriteFile(Path("held.bin"), "old");
    HANDLE held = CreateFileW(Path("held.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(files.writeNew(Path("held.bin"), "new", 3), Error::Busy);
    CloseHandle(held);
    EXPECT_EQ(ReadFile(Path("held.bin")), "old");
}

TEST_F(Win32Files, AReadHasTheFileToItselfAndWaitsAMomentForAnotherToLetGo) {
    WriteFile(SettingsFileName, std::string("\x07\x01\x00\x01\x01\x00\x00\x01", 8));
    char bytes[16];
    std::size_t got = 0;
    ASSERT_EQ(files.read(SettingsFileName, bytes, 4, got), Error::None);
    EXPECT_EQ(std::string(bytes, got), std::string("\x07\x01\x00\x01", 4));
    EXPECT_EQ(files.read(Path("missing.ini"), bytes, sizeof bytes, got), Error::NotFound);

    // Another program has the file open, willing to share it with anyone:
    // neither a read nor the settings may have it.
    auto hold = [] {
        return CreateFileW(fs::path(SettingsFileName).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE held = hold();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(files.read(SettingsFileName, bytes, sizeof bytes, got), Error::Busy);
    Settings.Port = 29;
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(Settings.Port, 29);
    CloseHandle(held);

    // Held for a moment only, as a virus scanner does: the read waits for it.
    held = hold();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread letGo([held] {
        Sleep(150);
        CloseHandle(held);
    });
    EXPECT_TRUE(LoadSettings());
    letGo.join();
    EXPECT_EQ(Settings.Port, 7);
    EXPECT_TRUE(Settings.OrderToKeyboard);
}

TEST_F(Win32Files, ReplaceMovesOverAnExistingFile) {
    WriteFile(Path("new.tmp"), "new contents");
    WriteFile(Path("target.ini"), "old contents, longer than the new");
    ASSERT_EQ(files.replace(Path("new.tmp"), Path("target.ini")), Error::None);
    EXPECT_EQ(ReadFile(Path("target.ini")), "new contents");
    EXPECT_FALSE(fs::exists(Path("new.tmp")));
    // And onto a name that is free.
    WriteFile(Path("second.tmp"), "second");
    ASSERT_EQ(files.replace(Path("second.tmp"), Path("fresh.ini")), Error::None);
    EXPECT_EQ(ReadFile(Path("fresh.ini")), "second");
}

TEST_F(Win32Files, ReplaceFailsOnAMissingSourceOrAFolderInTheWay) {
    WriteFile(Path("target.ini"), "old");
    EXPECT_EQ(files.replace(Path("nothing.tmp"), Path("target.ini")), Error::NotFound);
    EXPECT_EQ(ReadFile(Path("target.ini")), "old");

    WriteFile(Path("new.tmp"), "new");
    fs::create_directory(Path("folder.ini"));
    EXPECT_NE(files.replace(Path("new.tmp"), Path("folder.ini")), Error::None);
    EXPECT_TRUE(fs::is_directory(Path("folder.ini")));
    EXPECT_EQ(ReadFile(Path("new.tmp")), "new");
}

TEST_F(Win32Files, AReadOnlyFileIsNeitherATargetNorReplaced) {
    WriteFile(Path("target.ini"), "old");
    WriteFile(Path("new.tmp"), "new");
    fs::path target;
    ASSERT_EQ(files.replaceTarget(Path("target.ini"), target), Error::None);
    EXPECT_EQ(target, Path("target.ini"));
    ASSERT_EQ(files.replaceTarget(Path("fresh.ini"), target), Error::None) << "a new file";
    EXPECT_EQ(target, Path("fresh.ini"));

    ASSERT_TRUE(SetFileAttributesW(Path("target.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(files.replaceTarget(Path("target.ini"), target), Error::AccessDenied);
    EXPECT_EQ(files.replace(Path("new.tmp"), Path("target.ini")), Error::AccessDenied);
    EXPECT_EQ(ReadFile(Path("target.ini")), "old");
    EXPECT_EQ(ReadFile(Path("new.tmp")), "new");
    ASSERT_TRUE(SetFileAttributesW(Path("target.ini").c_str(), FILE_ATTRIBUTE_NORMAL));
}

TEST_F(Win32Files, ARewriteWritesOverTheFileInPlace) {
    WriteFile(Path("target.ini"), "old contents, longer than the new");
    ASSERT_EQ(files.rewrite(Path("target.ini"), "new", 3), Error::None);
    EXPECT_EQ(ReadFile(Path("target.ini")), "new");
    EXPECT_EQ(files.rewrite(Path("missing.ini"), "new", 3), Error::NotFound);
    EXPECT_FALSE(fs::exists(Path("missing.ini")));
    ASSERT_TRUE(SetFileAttributesW(Path("target.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(files.rewrite(Path("target.ini"), "xyz", 3), Error::AccessDenied);
    ASSERT_TRUE(SetFileAttributesW(Path("target.ini").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(ReadFile(Path("target.ini")), "new");
}

// The test programs run without the UTF-8 code page of the program's
// manifest, as on Windows before version 1903, which ignores it.
TEST_F(Win32Files, NamesInAnyLanguageReachTheSystemWhole) {
    fs::create_directory(Path("Jos\xC3\xA9 \xCE\xA9 \xE6\x97\xA5\xE6\x9C\xAC"));
    const fs::path file = Path("Jos\xC3\xA9 \xCE\xA9 \xE6\x97\xA5\xE6\x9C\xAC/ZV4815.INI");
    fs::path temp = file;
    temp += ".new";
    ASSERT_EQ(files.writeNew(temp, "new", 3), Error::None);
    ASSERT_EQ(files.replace(temp, file), Error::None);
    ASSERT_EQ(files.rewrite(file, "again", 5), Error::None);
    EXPECT_EQ(ReadFile(file), "again");
    fs::path target;
    ASSERT_EQ(files.replaceTarget(file, target), Error::None);
    EXPECT_EQ(target, file);
    EXPECT_EQ(files.remove(file), Error::None);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(Win32Files, RemoveDeletesAFileAndReportsAMissingOne) {
    WriteFile(Path("gone.tmp"), "x");
    EXPECT_EQ(files.remove(Path("gone.tmp")), Error::None);
    EXPECT_FALSE(fs::exists(Path("gone.tmp")));
    EXPECT_EQ(files.remove(Path("gone.tmp")), Error::NotFound);
}

}  // namespace
