// The outbox on a POSIX file system: a write cut short, a file of any size;
// and no site file, no publishing library in the process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "Config.h"
#include "Outbox.h"
#include "fakes/TempDir.h"

namespace {

const std::string R1 = site::RecordLine(1, "{\"order\":1}");
const std::string R2 = site::RecordLine(2, "{\"order\":2}");

TEST(OutboxFile, AWriteCutShortByAFullDiskIsTakenBackAndTheNextLineStandsWhole) {
    fakes::TempWorkDir dir;
    site::Outbox outbox(dir.path() / site::OutboxFileName);
    ASSERT_EQ(outbox.add(1, "{\"order\":1}"), platform::Error::None);
    // The file may grow by ten bytes more: the next line is cut there.
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    const auto handler = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{rlim_t(R1.size() + 10), was.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const platform::Error cut = outbox.add(3, "{\"order\":3}");
    ::setrlimit(RLIMIT_FSIZE, &was);
    ::signal(SIGXFSZ, handler);
    EXPECT_NE(cut, platform::Error::None);
    ASSERT_EQ(outbox.add(2, "{\"order\":2}"), platform::Error::None);
    EXPECT_EQ(fakes::ReadFile(outbox.path()), R1 + R2);
}

TEST(OutboxFile, AnOutboxOfAnySizeIsReadToItsEndBeforeItIsWrittenAnew) {
    fakes::TempWorkDir dir;
    const auto path = dir.path() / site::OutboxFileName;
    // A reading, a damaged line of 300 MiB (a hole: no disk space), a reading.
    fakes::WriteFile(path, R1);
    std::filesystem::resize_file(path, 300u * 1024 * 1024);
    std::ofstream(path, std::ios::binary | std::ios::app) << "\n" << R2;
    site::Outbox outbox(path);
    site::OutboxContents found;
    ASSERT_EQ(outbox.open(found), platform::Error::None);
    EXPECT_EQ(found.damaged, 1);
    EXPECT_EQ(fakes::ReadFile(path), R1 + R2);
}

TEST(OutboxFile, WithoutASiteFileNothingOfThePublishingLibraryIsMapped) {
    fakes::TempWorkDir dir;
    EXPECT_EQ(site::StartSite(dir.path(), {}).publishing, nullptr);
    const std::string maps = fakes::ReadFile("/proc/self/maps");
    for (const char* library : {"libmosquitto", "libssl"})
        EXPECT_EQ(maps.find(library), std::string::npos) << library;
}

}  // namespace
