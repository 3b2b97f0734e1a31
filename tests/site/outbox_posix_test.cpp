// The outbox's file on a real POSIX file system: a write cut short, a file
// larger than memory would like.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "Outbox.h"
#include "fakes/TempDir.h"

namespace {

std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(OutboxFile, AWriteCutShortByAFullDiskIsTakenBackAndTheNextLineStandsWhole) {
    fakes::TempWorkDir dir;
    site::Outbox outbox(dir.path() / site::OutboxFileName);
    site::OutboxContents found;
    ASSERT_EQ(outbox.open(found), platform::Error::None);
    ASSERT_EQ(outbox.add(1, "{\"order\":1}"), platform::Error::None);

    // The file may grow by ten bytes more: the second line is cut there.
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = was;
    small.rlim_cur = rlim_t(std::filesystem::file_size(outbox.path()) + 10);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const platform::Error cut = outbox.add(2, "{\"order\":2}");
    ::setrlimit(RLIMIT_FSIZE, &was);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_NE(cut, platform::Error::None);

    ASSERT_EQ(outbox.add(3, "{\"order\":3}"), platform::Error::None);
    const site::OutboxContents c = site::ReadOutbox(Contents(outbox.path()));
    EXPECT_EQ(c.damaged, 0);
    ASSERT_EQ(c.waiting.size(), 2u);
    EXPECT_EQ(c.waiting[0].number, 1u);
    EXPECT_EQ(c.waiting[1].number, 3u);
}

TEST(OutboxFile, AnOutboxOfAnySizeIsReadToItsEndBeforeItIsWrittenAnew) {
    fakes::TempWorkDir dir;
    const auto path = dir.path() / site::OutboxFileName;
    // A reading, 300 MiB of a damaged line (a hole: no disk space), and the
    // reading after it.
    {
        std::ofstream out(path, std::ios::binary);
        out << site::RecordLine(1, "{\"order\":1}");
    }
    std::filesystem::resize_file(path, 300u * 1024 * 1024);
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << "\n" << site::RecordLine(2, "{\"order\":2}");
    }
    site::Outbox outbox(path);
    site::OutboxContents found;
    ASSERT_EQ(outbox.open(found), platform::Error::None);
    EXPECT_EQ(found.damaged, 1);
    ASSERT_EQ(found.waiting.size(), 2u);
    EXPECT_EQ(found.waiting[1].message, "{\"order\":2}");
    EXPECT_EQ(Contents(path),
              site::RecordLine(1, "{\"order\":1}") + site::RecordLine(2, "{\"order\":2}"));
}
}  // namespace
