// The button's input choice, its press latch and the room for the worker's
// texts.

#include "button/button_input.h"
#include "button/press_latch.h"
#include "button/worker_texts.h"

#include <gtest/gtest.h>

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

} // namespace
