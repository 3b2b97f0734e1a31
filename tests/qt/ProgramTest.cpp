// The program itself, started as a process in a working folder where the
// simulated reader waits on the port the default settings name first; and
// the publishing's library, which only a site file brings in.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <fstream>
#include <iostream>
#include <string>

#include "ReaderSimulator.h"
#include "fakes/SimulatedReader.h"
#include "fakes/TempDir.h"

namespace {

std::string ProcStatusLine(qint64 pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key + ":", 0) == 0)
            return line;
    return {};
}

// Whether the process has a file whose name holds `part` mapped.
bool Maps(qint64 pid, const std::string& part) {
    return fakes::ReadFile("/proc/" + std::to_string(pid) + "/maps").find(part) !=
           std::string::npos;
}

TEST(Program, OpensTheWindowWhichSearchesFromThePortOfTheDefaults) {
    fakes::TempWorkDir folder;
    // The defaults begin the search at port 29.
    const auto reader = fakes::StartReader(folder.path(), 29, fakes::Pace::Paced);
    ASSERT_FALSE(::testing::Test::HasFailure());

    QProcess program;
    program.setWorkingDirectory(QString::fromStdString(folder.path().string()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer clock;
    clock.start();
    program.start(QStringLiteral(CHIPREADER_EXE), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    ASSERT_TRUE(reader->waitForRequests(1, 20000)) << "the program never asked the reader";
    const qint64 askedAfter = clock.elapsed();
    EXPECT_EQ(reader->requests().front(), "QI\r");
    // The defaults: port 29, automatic LED off and the sound signal.
    EXPECT_EQ(fakes::ReadFile(folder.path() / "ZV4815.INI"),
              std::string("\x1d\0\0\0\x01\0\0\x01\0\0\0\0\0\0\0\0", 16));

    // Connected, it polls on: the process lives on until its window closes.
    QTest::qWait(500);
    EXPECT_EQ(program.state(), QProcess::Running);
    // No site file: the publishing's library is not even mapped.
    EXPECT_FALSE(Maps(program.processId(), "libmosquitto"));
    const std::string peak = ProcStatusLine(program.processId(), "VmHWM");
    EXPECT_FALSE(peak.empty());
    std::cout << "identification asked " << askedAfter << " ms after the start; " << peak
              << std::endl;
    RecordProperty("identification_asked_ms", int(askedAfter));

    program.terminate();
    EXPECT_TRUE(program.waitForFinished(10000));
}

// A site file makes the program open libmosquitto; one that cannot be loaded,
// or is another library, is said and the program runs on without publishing.
TEST(Program, ASiteFileLoadsThePublishingLibraryAndSaysWhyWhenItCannot) {
    Dl_info libc{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&::getpid), &libc), 0);
    const struct {
        const char* library;  // what the program finds first under the library's name
        std::string said;     // on standard error; empty: loaded, nothing said
    } cases[] = {
        {nullptr, ""},
        {"", "cannot be loaded ("},
        {libc.dli_fname, "has no mosquitto_lib_init\n"},
    };
    for (const auto& c : cases) {
        fakes::TempWorkDir folder;
        fakes::WriteFile(folder.path() / "site.ini", "[broker]\nurl = mqtt://127.0.0.1:1\n");
        std::filesystem::create_directory(folder.path() / "lib");
        const auto fake = folder.path() / "lib" / "libmosquitto.so.1";
        if (c.library && *c.library)
            std::filesystem::create_symlink(c.library, fake);
        else if (c.library)
            fakes::WriteFile(fake, "");  // not a library at all
        QProcess program;
        program.setWorkingDirectory(QString::fromStdString(folder.path().string()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LD_LIBRARY_PATH"),
                   QString::fromStdString((folder.path() / "lib").string()));
        program.setProcessEnvironment(env);
        program.setReadChannel(QProcess::StandardError);
        program.start(QStringLiteral(CHIPREADER_EXE), {});
        ASSERT_TRUE(program.waitForStarted(10000));
        const bool loaded = QTest::qWaitFor(
            [&] {
                return !c.said.empty() ? program.peek(1 << 16).contains("Publishing off")
                                       : Maps(program.processId(), "libmosquitto");
            },
            20000);
        EXPECT_TRUE(loaded) << c.said;
        QTest::qWait(300);
        EXPECT_EQ(program.state(), QProcess::Running);
        program.terminate();
        EXPECT_TRUE(program.waitForFinished(10000));
        const std::string err = program.readAllStandardError().toStdString();
        const std::string off = "chipreader: Publishing off: the MQTT library libmosquitto.so.1 ";
        if (c.said.empty())
            EXPECT_EQ(err.find("Publishing off"), std::string::npos) << err;
        else
            EXPECT_NE(err.find(off + c.said), std::string::npos) << err;
    }
}

}  // namespace
