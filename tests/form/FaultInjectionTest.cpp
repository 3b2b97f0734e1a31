// Faults on the line against the main window's behaviour: each case runs on a
// fresh window and simulated reader and must leave the program answering,
// idle, with only good frames counted, and able to end; what each case must
// end with is listed with the case (FaultScenarios.cpp).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "FaultScenarios.h"

namespace faults {

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.name;
}

namespace {

class FaultInjection : public ::testing::TestWithParam<Scenario> {};

TEST_P(FaultInjection, LeavesTheProgramSound) {
    const Scenario& scenario = GetParam();
    const Outcome outcome = faults::Run(scenario);
    for (const std::string& problem : outcome.problems)
        ADD_FAILURE() << scenario.fault << ": " << problem;
}

INSTANTIATE_TEST_SUITE_P(Line, FaultInjection, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace faults
