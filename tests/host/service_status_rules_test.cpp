// How the service's status record changes at start, on control codes and at
// the end.

#include <gtest/gtest.h>

#include "service/status_rules.h"

#include <cstdint>
#include <tuple>

namespace {

using status_rules::PlainStatus;

auto Fields(const PlainStatus &s) {
    return std::make_tuple(s.dwServiceType, s.dwCurrentState, s.dwControlsAccepted,
                           s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint,
                           s.dwWaitHint);
}

// A record with every field set to something the rules must either keep or
// overwrite.
PlainStatus Busy(std::uint32_t state) {
    return PlainStatus{0x130, state, 5, 87, 9, 3, 2000};
}

TEST(StatusRulesTest, StartClearsEverythingAndReportsRunning) {
    PlainStatus s = Busy(1);
    status_rules::SetRunningAtStart(s);
    EXPECT_EQ(Fields(PlainStatus{0x130, 4, 5, 0, 0, 0, 0}), Fields(s));
}

struct ControlCase {
    std::uint32_t control;
    std::uint32_t stateBefore;
    PlainStatus expected;
};

const ControlCase kControlCases[] = {
    // Stop and shutdown: stopped, exit code, checkpoint and wait hint cleared.
    {1, 4, {0x130, 1, 5, 0, 9, 0, 0}},
    {5, 4, {0x130, 1, 5, 0, 9, 0, 0}},
    {1, 7, {0x130, 1, 5, 0, 9, 0, 0}},
    // Pause and continue change the state only.
    {2, 4, {0x130, 7, 5, 87, 9, 3, 2000}},
    {3, 7, {0x130, 4, 5, 87, 9, 3, 2000}},
    // Interrogate and codes outside the table leave the record as it was.
    {4, 4, {0x130, 4, 5, 87, 9, 3, 2000}},
    {0, 7, {0x130, 7, 5, 87, 9, 3, 2000}},
    {6, 4, {0x130, 4, 5, 87, 9, 3, 2000}},
    {128, 4, {0x130, 4, 5, 87, 9, 3, 2000}},
    {0xFFFFFFFF, 4, {0x130, 4, 5, 87, 9, 3, 2000}},
};

class ApplyControlTest : public testing::TestWithParam<ControlCase> {};

TEST_P(ApplyControlTest, ChangesOnlyWhatTheCodeNames) {
    const ControlCase &c = GetParam();
    PlainStatus s = Busy(c.stateBefore);
    status_rules::ApplyControl(s, c.control);
    EXPECT_EQ(Fields(c.expected), Fields(s));
}

INSTANTIATE_TEST_SUITE_P(Cases, ApplyControlTest, testing::ValuesIn(kControlCases));

TEST(StatusRulesTest, EndOfServiceMainReportsStoppedKeepingTypeAndControls) {
    PlainStatus s = Busy(4);
    status_rules::SetStopped(s);
    EXPECT_EQ(Fields(PlainStatus{0x130, 1, 5, 0, 9, 0, 0}), Fields(s));
}

} // namespace
