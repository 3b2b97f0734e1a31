// The program itself, started as a process in a working folder where the
// simulated reader waits on the port the default settings name first.
#include <gtest/gtest.h>

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
    const std::string peak = ProcStatusLine(program.processId(), "VmHWM");
    EXPECT_FALSE(peak.empty());
    std::cout << "identification asked " << askedAfter << " ms after the start; " << peak
              << std::endl;
    RecordProperty("identification_asked_ms", int(askedAfter));

    program.terminate();
    EXPECT_TRUE(program.waitForFinished(10000));
}

}  // namespace
