// The service's portable rules: its command line and its status record.

#include "service/service_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

TEST(CommandLine, SkipsTheProgramNameThenMatchesAWholeSwitch) {
    using S = SwitchCommand;
    const struct {
        const char *commandLine, *rest;
        SwitchCommand command;
    } cases[] = {
        {"\"C:\\Program Files\\WGB Service\\WGBService.exe\" -qtrinstall", "-qtrinstall",
         S::Install},
        {"\"C:\\Program Files\\WGB\"-QtrInStall", "-QtrInStall", S::Install},
        {"prog \t\x01\x1f -QTRUNINSTALL", "-QTRUNINSTALL", S::Uninstall},
        {"pr\xe9g.exe \xa0-qtrinstall", "\xa0-qtrinstall", S::None},
        {"prog -qtrinstall   ", "-qtrinstall   ", S::None},
        {"prog -qtruninstall word", "-qtruninstall word", S::None},
        {"prog -qtrinstal", "-qtrinstal", S::None},
        {"\"C:\\unterminated -qtrinstall", "", S::None},
        {"C:\\a\"b c\" -x", "c\" -x", S::None},
    };
    for (const auto &c : cases) {
        const char *rest = SkipProgramName(c.commandLine);
        EXPECT_EQ(std::string(c.rest), rest) << c.commandLine;
        EXPECT_EQ(c.command, SelectCommand(rest)) << c.commandLine;
    }
}

// A path GetModuleFileName could not give (0) or gave cut at its buffer's
// end is never registered.
TEST(CommandLine, ModulePathFitsOnlyWhenWholeAndGiven) {
    for (const auto &[length, fits] : {std::pair<std::size_t, bool>{0, false},
                                       {1, true},
                                       {kModulePathSize - 1, true},
                                       {kModulePathSize, false}})
        EXPECT_EQ(fits, ModulePathFits(length)) << length;
}

using status_rules::PlainStatus;

auto Fields(const PlainStatus &s) {
    return std::make_tuple(s.dwServiceType, s.dwCurrentState, s.dwControlsAccepted,
                           s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint,
                           s.dwWaitHint);
}

// A record with every field set to something the rules must keep or overwrite.
PlainStatus Busy(std::uint32_t state) {
    return {0x130, state, 5, 87, 9, 3, 2000};
}

TEST(StatusRules, StartAndControls) {
    PlainStatus s = Busy(1);
    status_rules::SetRunningAtStart(s);
    EXPECT_EQ(Fields({0x130, 4, 5, 0, 0, 0, 0}), Fields(s));

    // Stop and shutdown keep only the type, the controls and the specific exit
    // code; pause and continue change the state only; others change nothing.
    const PlainStatus stopped = {0x130, 1, 5, 0, 9, 0, 0};
    const struct {
        std::uint32_t control;
        PlainStatus before, after;
    } cases[] = {{1, Busy(4), stopped}, {5, Busy(7), stopped}, {2, Busy(4), Busy(7)},
                 {3, Busy(7), Busy(4)}, {4, Busy(4), Busy(4)}, {128, Busy(7), Busy(7)}};
    for (auto c : cases) {
        status_rules::ApplyControl(c.before, c.control);
        EXPECT_EQ(Fields(c.after), Fields(c.before)) << "control " << c.control;
    }
}

} // namespace
