// The button's portable rules: its input and press latch, the room for the
// worker's texts, the executable's directory and the user the companion is
// started for.

#include "button/worker_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(ButtonInput, BoardsWith6231UseBit6OfPort50D) {
    const struct {
        const char *product;
        std::uint8_t value;
        std::uint16_t port;
        unsigned level;
    } cases[] = {
        {"Base Board", 0xFE, 0x50C, 0}, {"Base Board", 0x01, 0x50C, 1}, {"62 31", 0xFE, 0x50C, 0},
        {"QX-6231B", 0xBF, 0x50D, 0},   {"QX-6231B", 0x40, 0x50D, 1},   {"66231", 0xBF, 0x50D, 0},
    };
    for (const auto &c : cases) {
        const ButtonInput input = ButtonInputFor(c.product);
        EXPECT_EQ(c.port, input.port) << c.product;
        EXPECT_EQ(c.level, ButtonLevel(input, c.value)) << c.product << " " << int(c.value);
    }
}

TEST(PressLatch, OnePressPerHold) {
    const struct {
        bool latchedBefore;
        unsigned level;
        bool newPress, latchedAfter;
    } cases[] = {
        {false, kLevelReleased, false, false},
        {false, kLevelPressed, true, true},
        {true, kLevelPressed, false, true},
        {true, kLevelReleased, false, false},
    };
    for (const auto &c : cases) {
        bool latched = c.latchedBefore;
        EXPECT_EQ(c.newPress, LatchPress(latched, c.level)) << c.latchedBefore << c.level;
        EXPECT_EQ(c.latchedAfter, latched) << c.latchedBefore << c.level;
    }
}

// The quoted command line "<dir>WGB.exe" /S is the longer text; with its
// terminator it must fit 256 bytes.
TEST(WorkerTexts, DirectoryOfAtMost243Characters) {
    EXPECT_TRUE(DirectoryFitsTexts(243));
    EXPECT_FALSE(DirectoryFitsTexts(244));
}

bool NoLeadBytes(unsigned char) {
    return false;
}
bool ShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

TEST(CutToDirectory, KeepsThePathUpToItsLastBackslashWhateverTheFileIsCalled) {
    const struct {
        std::string path;
        LeadByteTest isLeadByte;
        const char *directory;
    } cases[] = {
        {"C:\\Program Files\\WGB\\WGBService.exe", NoLeadBytes, "C:\\Program Files\\WGB\\"},
        {"C:\\PROGRA~1\\WGB\\WGBSER~1.EXE", NoLeadBytes, "C:\\PROGRA~1\\WGB\\"},
        {"C:\\WGBService.exe\\renamed.exe", NoLeadBytes, "C:\\WGBService.exe\\"},
        {"WGBService.exe", NoLeadBytes, ""},
        // 0x83 0x5C is one character whose second byte is a backslash.
        {"C:\\\x83\\x.exe", ShiftJisLeadByte, "C:\\"},
        {"C:\\\x83\\x.exe", NoLeadBytes, "C:\\\x83\\"},
        // A lead byte at the very end stands alone.
        {"C:\\dir\\\x83", ShiftJisLeadByte, "C:\\dir\\"},
    };
    for (auto c : cases) {
        const std::size_t length = CutToDirectory(c.path.data(), c.isLeadByte);
        EXPECT_STREQ(c.directory, c.path.c_str());
        EXPECT_EQ(std::strlen(c.directory), length) << c.directory;
    }
}

// The person who pressed is at the machine: only the shell at the console
// stands for them; none there (the logon screen, a user switched away, only
// remote sessions) is nobody.
TEST(ChooseUserShell, TakesOnlyTheShellAtTheConsole) {
    const std::vector<ProcessEntry> processes = {{"System", 4, 0},
                                                 {"explorer.exe", 100, 2},
                                                 {"WGB.exe", 110, 2},
                                                 {"Explorer.EXE", 200, 1},
                                                 {"explorerx.exe", 300, 3}};
    const struct {
        std::uint32_t console;
        std::uint32_t chosen; // process id; 0 for none
    } cases[] = {{1, 200}, {2, 100}, {3, 0}, {0, 0}, {0xFFFFFFFF, 0}};
    for (auto c : cases) {
        const ProcessEntry *shell = ChooseUserShell(processes, c.console);
        EXPECT_EQ(c.chosen, shell != nullptr ? shell->processId : 0u) << c.console;
    }
    EXPECT_EQ(nullptr, ChooseUserShell({{"WGB.exe", 1, 1}, {"explorer", 2, 1}}, 1));
    const ProcessEntry *first = FirstShell(processes);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(100u, first->processId);
    EXPECT_EQ(nullptr, FirstShell({{"WGB.exe", 1, 1}, {"explorerx.exe", 2, 1}}));
}

// The process opened under the chosen shell's id serves only while it is
// still that shell: a shell that ended may have left its id to any process.
TEST(IsStillTheShell, ConfirmsTheChosenShellByImageNameAndTokenSession) {
    const std::vector<ProcessEntry> processes = {{"explorer.exe", 100, 2},
                                                 {"EXPLORER.EXE", 200, 1}};
    const struct {
        std::uint32_t console;
        OpenedProcess opened;
        std::uint32_t started; // the process whose token serves; 0 for none
    } cases[] = {
        {1, {"C:\\Windows\\explorer.exe", 1}, 200},
        {2, {"\\Device\\HarddiskVolume2\\WINDOWS\\Explorer.EXE", 2}, 100},
        {1, {"C:\\Windows\\System32\\svchost.exe", 1}, 0}, // the id went to a service
        {1, {"C:\\Windows\\explorer.exe", 0}, 0},          // a token of session 0
        {2, {"C:\\Windows\\explorer.exe", 1}, 0},          // another user's shell
        {1, {"C:\\Tools\\myexplorer.exe", 1}, 0},
        {1, {"C:\\Tools\\explorer.exe\\x.exe", 1}, 0},
        // 0x83 0x5C is one character: the file is not EXPLORER.EXE.
        {1, {"C:\\Tools\\\x83\\EXPLORER.EXE", 1}, 0},
        {1, {"", 1}, 0},
    };
    for (const auto &c : cases) {
        const ProcessEntry *shell = ChooseUserShell(processes, c.console);
        ASSERT_NE(nullptr, shell);
        const bool confirmed = IsStillTheShell(*shell, c.opened, ShiftJisLeadByte);
        EXPECT_EQ(c.started, confirmed ? shell->processId : 0u) << c.opened.imagePath;
    }
}

TEST(RunsInSession, LooksOnlyAtThatSession) {
    const std::vector<ProcessEntry> processes = {{"explorer.exe", 100, 2}, {"wgb.EXE", 110, 2}};
    EXPECT_TRUE(RunsInSession(processes, "WGB.exe", 2));
    EXPECT_FALSE(RunsInSession(processes, "WGB.exe", 1));
    EXPECT_FALSE(RunsInSession(processes, "WGB.ex", 2));
}

} // namespace
