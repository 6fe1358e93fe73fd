// The entry routine's reading of its command line: the program name skipped,
// then the whole rest compared with the two switches.

#include <gtest/gtest.h>

#include "service/command_line.h"

#include <string>

namespace {

struct SkipCase {
    const char *commandLine;
    const char *expectedRest;
};

const SkipCase kSkipCases[] = {
    {"WGBService.exe -qtrinstall", "-qtrinstall"},
    {"\"C:\\Program Files\\WGB Service\\WGBService.exe\" -qtrinstall", "-qtrinstall"},
    {"\"C:\\Program Files\\WGB\"-qtrinstall", "-qtrinstall"},
    {"prog \t  \t-qtrinstall", "-qtrinstall"},
    {"\"C:\\a b\\prog.exe\"\t\t   -qtrinstall", "-qtrinstall"},
    {"prog -qtrinstall   ", "-qtrinstall   "},
    {"prog \x01\x1f -x", "-x"},
    {"prog -qtrinstall word", "-qtrinstall word"},
    {"prog", ""},
    {"", ""},
    {"\"C:\\unterminated name -qtrinstall", ""},
    {"\"\" -qtrinstall", "-qtrinstall"},
    // Bytes of 0x80 and above belong to the name, not to the blanks.
    {"pr\xe9g\xa0.exe -qtrinstall", "-qtrinstall"},
    {"prog \xa0-x", "\xa0-x"},
    // A quote inside an unquoted name does not start a quoted part.
    {"C:\\a\"b c\" -x", "c\" -x"},
};

class SkipProgramNameTest : public testing::TestWithParam<SkipCase> {};

TEST_P(SkipProgramNameTest, LeavesTheTextAfterNameAndBlanks) {
    const SkipCase &c = GetParam();
    EXPECT_EQ(std::string(c.expectedRest), SkipProgramName(c.commandLine));
}

INSTANTIATE_TEST_SUITE_P(Cases, SkipProgramNameTest, testing::ValuesIn(kSkipCases));

struct SelectCase {
    const char *args;
    SwitchCommand expected;
};

const SelectCase kSelectCases[] = {
    {"-qtrinstall", SwitchCommand::Install},
    {"-QTRINSTALL", SwitchCommand::Install},
    {"-QtrInStall", SwitchCommand::Install},
    {"-qtruninstall", SwitchCommand::Uninstall},
    {"-QTRUNINSTALL", SwitchCommand::Uninstall},
    {"-qTrUnInStAlL", SwitchCommand::Uninstall},
    {"-qtrinstall ", SwitchCommand::None},
    {"-qtrinstall word", SwitchCommand::None},
    {"/qtrinstall", SwitchCommand::None},
    {"--qtrinstall", SwitchCommand::None},
    {"-qtrinstal", SwitchCommand::None},
    {"-qtrinstalll", SwitchCommand::None},
    {"qtrinstall", SwitchCommand::None},
    {"-qtruninstall\t", SwitchCommand::None},
    {"", SwitchCommand::None},
    {nullptr, SwitchCommand::None},
    // Only letters fold: "-" and 0x0D differ by the same bit as "q" and "Q".
    {"\x0dqtrinstall", SwitchCommand::None},
};

class SelectCommandTest : public testing::TestWithParam<SelectCase> {};

TEST_P(SelectCommandTest, SelectsOnlyOnAWholeCaseInsensitiveMatch) {
    const SelectCase &c = GetParam();
    EXPECT_EQ(c.expected, SelectCommand(c.args));
}

INSTANTIATE_TEST_SUITE_P(Cases, SelectCommandTest, testing::ValuesIn(kSelectCases));

TEST(SelectCommandTest, QuotedNameWithBlanksThenSwitchInstalls) {
    EXPECT_EQ(SwitchCommand::Install,
              SelectCommand(SkipProgramName("\"C:\\Program Files\\x y\\WGBService.exe\" \t "
                                            "-QTRINSTALL")));
}

} // namespace
