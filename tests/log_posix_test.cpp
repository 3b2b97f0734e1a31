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
    RunningOrder = 1;
    TimeText = "09:41:07";
    ChipCode = "00000A1B2C3D";
    ASSERT_TRUE(AppendLog(clock.now));
    const std::string first = fakes::ReadFile("ZV07D03M.txt");

    // The file may grow by 10 bytes only: the next line gets cut off there.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = first.size() + 10;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    RunningOrder = 2;
    const bool appended = AppendLog(clock.now);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(appended);
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"), first) << "the cut-off line is taken back";
    RunningOrder = 3;
    ASSERT_TRUE(AppendLog(clock.now));
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"), first + "3 09:41:07 00000A1B2C3D\r\n");
}

TEST_F(DailyLogOnAFullDisk, ALogOnAFullDeviceFails) {
    fs::create_symlink("/dev/full", "ZV07D03M.txt");
    RunningOrder = 1;
    EXPECT_FALSE(AppendLog(clock.now));
}

}  // namespace
