// What every test program runs: GoogleTest, with a check after each test
// that it left the program-wide state as a process starts with it.
#include <gtest/gtest.h>

#include "Drv232.h"
#include "Error.h"
#include "Publishing.h"
#include "fakes/ProgramState.h"

namespace fakes {

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
