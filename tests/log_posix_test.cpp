// The daily log on a full disk: POSIX lets a test make the disk "full" for
// one process (a file-size limit, or /dev/full).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "Global.h"
#include "fakes/FakeClock.h"
#include "fakes/TempDir.h"

namespace fs = std::filesystem;

namespace {

class DailyLogOnAFullDisk : public ::testing::Test {
  protected:
    DailyLogOnAFullDisk() : use(clock) {}
    fakes::TempWorkDir dir;
    fakes::FakeClock clock;
    fakes::ClockInUse use;
};

TEST_F(DailyLogOnAFullDisk, AFullDiskFailsTheAppendAndLeavesNoPartialLine) {
    ASSERT_TRUE(AppendLog(MakeReading(1, clock.now, "00000A1B2C3D", false)));
    const std::string first = fakes::ReadFile("ZV07D03M.txt");

    // The file may grow by 10 bytes only: the next line gets cut off there.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = first.size() + 10;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool appended = AppendLog(MakeReading(2, clock.now, "00000A1B2C3D", false));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(appended);
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"), first) << "the cut-off line is taken back";
    ASSERT_TRUE(AppendLog(MakeReading(3, clock.now, "00000A1B2C3D", false)));
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"), first + "3 09:41:07 00000A1B2C3D\r\n");
}

TEST_F(DailyLogOnAFullDisk, ALogOnAFullDeviceFails) {
    fs::create_symlink("/dev/full", "ZV07D03M.txt");
    EXPECT_FALSE(AppendLog(MakeReading(1, clock.now, "00000A1B2C3D", false)));
}

}  // namespace
