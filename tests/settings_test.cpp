// The settings record and its file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "Files.h"
#include "Global.h"
#include "fakes/FailingFiles.h"
#include "fakes/ProgramState.h"
#include "fakes/TempDir.h"

namespace fs = std::filesystem;
using fakes::ReadFile;
using fakes::WriteFile;

namespace {

std::string RecordBytes() {
    return std::string(reinterpret_cast<const char*>(&Settings), sizeof Settings);
}

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override { fakes::ResetProgramState(); }
    void TearDown() override { platform::UseFiles(nullptr); }
    fakes::TempWorkDir dir;
};

TEST_F(SettingsFile, MissingFileFailsToLoadAndChangesNothing) {
    Settings.Port = 17;
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(Settings.Port, 17);
}

TEST_F(SettingsFile, ShortFileReplacesOnlyTheBytesItHolds) {
    WriteFile(SettingsFileName, std::string("\x05\x01\x00\x01\x01", 5));
    Settings.MinimizeAtStart = true;
    Settings.OrderNumber = 99;
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.Port, 5);
    EXPECT_TRUE(Settings.OrderToKeyboard);
    EXPECT_FALSE(Settings.TimeToKeyboard);
    EXPECT_TRUE(Settings.ChipToKeyboard);
    EXPECT_TRUE(Settings.AutoLedOff);
    EXPECT_TRUE(Settings.MinimizeAtStart);  // offset 5 is beyond the file
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 99u);
}

TEST_F(SettingsFile, EmptyFileLoadsWithNothingChanged) {
    WriteFile(SettingsFileName, "");
    Settings.Port = 3;
    Settings.SoundSignal = true;
    const std::string before = RecordBytes();
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(RecordBytes(), before);
}

TEST_F(SettingsFile, LongerFileLoadsItsFirst16Bytes) {
    std::string bytes(40, '\x07');
    WriteFile(SettingsFileName, bytes);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(RecordBytes(), bytes.substr(0, 16));
}

TEST_F(SettingsFile, SavesTheRecordByteForByteWithTheOrderLeastSignificantFirst) {
    Settings.Port = 29;
    Settings.AutoLedOff = true;
    Settings.SoundSignal = true;
    Settings.OrderNumber = 0x12345678u;
    Settings.CrcDigits = true;
    ASSERT_TRUE(SaveSettings());
    const std::string file = ReadFile(SettingsFileName);
    ASSERT_EQ(file.size(), 16u);
    EXPECT_EQ(file,
              std::string("\x1D\x00\x00\x00\x01\x00\x00\x01\x78\x56\x34\x12\x01\x00\x00\x00", 16));
    EXPECT_FALSE(fs::exists(SettingsTempFileName));
}

TEST_F(SettingsFile, LoadedRecordSavesBackToTheSameBytes) {
    const std::string odd("\xFF\x02\x00\x80\x01\x00\x00\x09\xFF\xFF\xFF\xFF\x05\xAA\xBB\xCC", 16);
    WriteFile(SettingsFileName, odd);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 0xFFFFFFFFu);
    EXPECT_TRUE(Settings.ChipToKeyboard);  // any byte but 0 is true
    fs::remove(SettingsFileName);
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadFile(SettingsFileName), odd);
}

TEST_F(SettingsFile, ADirectoryWhereAFileMustGoFailsTheSaveAndKeepsTheOldFile) {
    const std::string old(16, '\x01');
    WriteFile(SettingsFileName, old);
    Settings.Port = 9;

    fs::create_directory(SettingsTempFileName);  // the temporary file cannot be written
    EXPECT_FALSE(SaveSettings());
    EXPECT_EQ(ReadFile(SettingsFileName), old);
    fs::remove(SettingsTempFileName);

    fs::remove(SettingsFileName);
    fs::create_directory(SettingsFileName);  // the settings file itself is a directory
    fs::create_directory(fs::path(SettingsFileName) / "inside");
    EXPECT_FALSE(SaveSettings());
    EXPECT_TRUE(fs::is_directory(SettingsFileName));
    EXPECT_FALSE(fs::exists(SettingsTempFileName)) << "the temporary file is cleaned up";
    EXPECT_FALSE(LoadSettings());
}

TEST_F(SettingsFile, AFailureAtAnyStepLeavesTheOldFileExactlyAsItWas) {
    const std::string old("\x03\x00\x00\x01\x01\x00\x00\x01\x2A\x00\x00\x00\x00\x00\x00\x00", 16);
    for (const char* step : {"target", "write", "replace"}) {
        SCOPED_TRACE(step);
        WriteFile(SettingsFileName, old);
        fakes::FailingFiles files;
        files.failStep = step;
        platform::UseFiles(&files);
        Settings.Port = 28;
        Settings.OrderNumber = 1000;
        EXPECT_FALSE(SaveSettings());
        EXPECT_EQ(ReadFile(SettingsFileName), old);
        EXPECT_FALSE(fs::exists(SettingsTempFileName));
        platform::UseFiles(nullptr);
    }
}

TEST_F(SettingsFile, AReadOnlyFileIsNotReplaced) {
    const std::string old(16, '\x02');
    WriteFile(SettingsFileName, old);
    // As the operator makes it read-only: chmod a-w, or the read-only attribute.
    fs::permissions(SettingsFileName,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    Settings.Port = 9;
    const bool saved = SaveSettings();
    const std::string after = ReadFile(SettingsFileName);
    const bool stillReadOnly =
        (fs::status(SettingsFileName).permissions() & fs::perms::owner_write) == fs::perms::none;
    fs::permissions(SettingsFileName, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_FALSE(saved);
    EXPECT_EQ(after, old);
    EXPECT_TRUE(stillReadOnly);
    EXPECT_FALSE(fs::exists(SettingsTempFileName));
    ASSERT_TRUE(SaveSettings()) << "writable again";
    EXPECT_EQ(ReadFile(SettingsFileName)[0], '\x09');
}

TEST_F(SettingsFile, AStaleTemporaryFileFromAnInterruptedSaveIsHarmless) {
    // A save that died after writing part of its temporary file.
    const std::string old("\x03\x00\x00\x01\x01\x00\x00\x01\x2A\x00\x00\x00\x00\x00\x00\x00", 16);
    WriteFile(SettingsFileName, old);
    WriteFile(SettingsTempFileName, "\x09\x09\x09");
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(RecordBytes(), old);
    Settings.Port = 4;
    ASSERT_TRUE(SaveSettings());
    std::string expected = old;
    expected[0] = '\x04';
    EXPECT_EQ(ReadFile(SettingsFileName), expected);
    EXPECT_FALSE(fs::exists(SettingsTempFileName));
}

TEST(SettingsPath, ALongCurrentDirectoryIsUsedWhole) {
    // Far beyond 101 characters: a cut path would name some other file.
    const std::string deep = std::string(120, 'a') + "/" + std::string(120, 'b');
    fakes::TempWorkDir dir(deep);
    ASSERT_GT(fs::current_path().string().size(), 250u);
    Settings = TReaderSettings{};
    Settings.Port = 12;
    Settings.OrderNumber = 77;
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadFile(dir.path() / SettingsFileName).size(), 16u);
    Settings = TReaderSettings{};
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.Port, 12);
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 77u);
    EXPECT_EQ(PathInCurrentDirectory(SettingsFileName), dir.path() / SettingsFileName);
}

TEST(SettingsPath, AFolderNamedInAnyLanguageWorks) {
    fakes::TempWorkDir dir("J\xC3\xBCrgen \xE6\x97\xA5\xE6\x9C\xAC");  // "Jürgen 日本", UTF-8
    Settings = TReaderSettings{};
    Settings.Port = 21;
    ASSERT_TRUE(SaveSettings());
    Settings = TReaderSettings{};
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.Port, 21);
}

TEST(FixedText, KeepsTheFirstNCharacters) {
    FixedString<8> time;
    time = "12:34:56789";
    EXPECT_EQ(time.view(), "12:34:56");
    time = "1:2";
    EXPECT_EQ(time.view(), "1:2");
    FixedString<16> code(std::string("0123456789ABCDEFGHIJ"));
    EXPECT_EQ(code.size(), 16u);
    EXPECT_EQ(code.str(), "0123456789ABCDEF");
    code.clear();
    EXPECT_TRUE(code.empty());
}

}  // namespace
