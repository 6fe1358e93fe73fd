#include "button/button_input.h"
#include "button/press_latch.h"
#include "button/worker_texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct LatchCase {
    bool latchedBefore;
    unsigned level;
    bool latchedAfter;
    bool newPress;
};

TEST(PressLatch, FollowsTheLatchTable) {
    const LatchCase cases[] = {
        {false, kLevelReleased, false, false},
        {false, kLevelPressed, true, true},
        {true, kLevelPressed, true, false},
        {true, kLevelReleased, false, false},
    };
    for (const LatchCase &c : cases) {
        bool latched = c.latchedBefore;
        EXPECT_EQ(c.newPress, LatchPress(latched, c.level))
            << "latched " << c.latchedBefore << ", level " << c.level;
        EXPECT_EQ(c.latchedAfter, latched)
            << "latched " << c.latchedBefore << ", level " << c.level;
    }
}

TEST(PressLatch, OnePressPerHoldAndAnotherAfterRelease) {
    const unsigned samples[] = {1, 0, 0, 0, 1, 1, 0, 0, 1, 0};
    const bool expected[] = {false, true, false, false, false, false, true, false, false, true};
    bool latched = false;
    for (std::size_t i = 0; i < std::size(samples); ++i)
        EXPECT_EQ(expected[i], LatchPress(latched, samples[i])) << "sample " << i;
}

TEST(ButtonInput, ModelNumberSelectsTheAlternativeInput) {
    struct Case {
        const char *product;
        std::uint16_t port;
        unsigned bit;
    } cases[] = {
        {"", 0x50C, 0},           {"Base Board", 0x50C, 0}, {"623", 0x50C, 0},
        {"62 31", 0x50C, 0},      {"6231", 0x50D, 6},       {"QX-6231B rev 2", 0x50D, 6},
        {"board 6231", 0x50D, 6}, {"66231", 0x50D, 6},
    };
    for (const Case &c : cases) {
        const ButtonInput input = ButtonInputFor(c.product);
        EXPECT_EQ(c.port, input.port) << c.product;
        EXPECT_EQ(c.bit, input.bit) << c.product;
    }
}

TEST(ButtonInput, LevelIsTheSelectedBitAlone) {
    const ButtonInput defaultInput = ButtonInputFor("Base Board");
    const ButtonInput alternativeInput = ButtonInputFor("6231");
    struct Case {
        std::uint8_t value;
        unsigned defaultLevel;
        unsigned alternativeLevel;
    } cases[] = {
        {0xFF, 1, 1}, {0x00, 0, 0}, {0xFE, 0, 1}, {0x01, 1, 0},
        {0xBF, 1, 0}, {0x40, 0, 1}, {0xBE, 0, 0}, {0x41, 1, 1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.defaultLevel, ButtonLevel(defaultInput, c.value)) << int(c.value);
        EXPECT_EQ(c.alternativeLevel, ButtonLevel(alternativeInput, c.value)) << int(c.value);
    }
}

std::string Compose(const char *format, const std::string &directory, const char *name) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, format, directory.c_str(), name);
    return buffer;
}

TEST(WorkerTexts, CommandLineQuotesTheCompanionPath) {
    EXPECT_EQ("\"C:\\Program Files\\WGB\\WGB.exe\" /S",
              Compose(kCommandLineFormat, "C:\\Program Files\\WGB\\", kCompanionExeName));
    EXPECT_EQ("C:\\Program Files\\WGB\\WGB.ini",
              Compose(kIniPathFormat, "C:\\Program Files\\WGB\\", kIniFileName));
}

TEST(WorkerTexts, LengthsMatchTheComposedTexts) {
    for (std::size_t length : {0u, 1u, 100u, 243u, 255u}) {
        const std::string directory(length, 'd');
        EXPECT_EQ(Compose(kIniPathFormat, directory, kIniFileName).size(), IniPathLength(length));
        EXPECT_EQ(Compose(kCommandLineFormat, directory, kCompanionExeName).size(),
                  CommandLineLength(length));
    }
}

TEST(WorkerTexts, LongestDirectoryLeavesRoomForTheQuotedCommandLine) {
    EXPECT_TRUE(DirectoryFitsTexts(0));
    EXPECT_TRUE(DirectoryFitsTexts(243));
    EXPECT_EQ(255u, CommandLineLength(243));
    EXPECT_FALSE(DirectoryFitsTexts(244));
    EXPECT_FALSE(DirectoryFitsTexts(248));
    EXPECT_FALSE(DirectoryFitsTexts(255));
}

} // namespace
