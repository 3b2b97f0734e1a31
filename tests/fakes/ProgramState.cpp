#include "fakes/ProgramState.h"

#include <gtest/gtest.h>

#include "Clock.h"
#include "Drv232.h"
#include "Error.h"
#include "Files.h"
#include "Global.h"
#include "Keyboard.h"
#include "MainWindow.h"
#include "Publishing.h"
#include "SerialPort.h"
#include "Sound.h"

namespace fakes {

void ResetProgramState() {
    platform::UseSerial(nullptr);
    platform::UseClock(nullptr);
    platform::UseFiles(nullptr);
    platform::UseKeyboard(nullptr);
    platform::UseWindowRights(nullptr);
    platform::UseSound(nullptr);
    platform::LimitToLinkedPorts(false);
    platform::UseIdentityFolder({});
    site::UsePublishing(nullptr);
    ClosePort();
    PortHandle.reset();
    ReaderVersion.clear();
    LinkLost = false;
    ChipChars.fill(0);
    KeptChips.clear();
    Settings = TReaderSettings{};
    RunningOrder = 0;
    ChipCode.clear();
    TimeText.clear();
    DisplayRow = 0;
    DemoStopped = false;
    SavedBarColor = 0;
    DemoRandom.seed(std::mt19937::default_seed);
}

namespace {

class LeftoverCheck final : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        if (PortHandle)
            ADD_FAILURE() << "the test ended with the serial port still open";
        if (const char* facility = platform::OverrideInUse())
            ADD_FAILURE() << "the test ended with its own " << facility << " still in use";
        if (const char* facility = site::PublishingInUse())
            ADD_FAILURE() << "the test ended with its own " << facility << " still in use";
        // Whatever it left, the next test starts afresh.
        ResetProgramState();
    }
};

}  // namespace

int RunAllTests(int& argc, char** argv, void (*beforeRun)(int&, char**)) {
    ::testing::InitGoogleTest(&argc, argv);
    // End events reach the listeners last to first: the check comes before
    // the printer reports the test.
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeftoverCheck);
    if (beforeRun && !::testing::GTEST_FLAG(list_tests))
        beforeRun(argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace fakes
