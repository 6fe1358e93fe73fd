// The board list of WGB.ini, read through a key reader over listed values,
// and when the WMI query is tried again.

#include "board/board_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Keys 1, 2, ... hold the values in turn, and nothing after them.
int Match(const std::string &product, const std::vector<std::string> &values) {
    std::size_t keysRead = 0;
    return MatchBoardList(product, [&](const std::string &key) {
        EXPECT_EQ(std::to_string(++keysRead), key);
        return keysRead <= values.size() ? values[keysRead - 1] : std::string();
    });
}

// A list value's text before the first ';', unaltered, must occur in the
// product text; the first empty value ends the list.
TEST(BoardList, MatchesTheTextBeforeTheFirstSemicolon) {
    const std::string a255(255, 'A');
    const struct {
        const char *product;
        std::vector<std::string> values;
        int result;
    } cases[] = {
        {"QX-6231 Pro", {"6231;board with two inputs"}, 1},
        {"QX-6231", {"6231 Pro"}, 0},
        {"QX-1000", {"6231;QX-1000"}, 0},
        {"", {";every board"}, 1},
        {"QX-6231Pro", {"6231 ;x"}, 0},
        {"QX-ABC", {"abc"}, 0},
        {"QX-7000", {"6231", "5000", "7000;x"}, 1},
        {"QX-6231", {"a", "", "6231"}, 0},
        {a255.c_str(), {a255 + "B"}, 1}, // only 255 characters of a value count
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.result, Match(c.product, c.values)) << c.values.back();
}

TEST(BoardList, ReadsKeysUpTo4096) {
    std::vector<std::string> values(4097, "no match");
    values[4096] = "QX";
    EXPECT_EQ(0, Match("QX-6231", values));
    values[4095] = "6231";
    EXPECT_EQ(1, Match("QX-6231", values));
}

// 10 s between tries for the first 2 minutes since the first try began, then
// 60 s, however long WMI keeps failing.
TEST(WmiRetry, PausesTenSecondsForTwoMinutesThenAMinute) {
    const struct {
        std::uint64_t elapsedMs;
        unsigned long pauseMs;
    } cases[] = {
        {0, 10000}, {119999, 10000}, {120000, 60000}, {30 * 60000, 60000}, {0x100000000ull, 60000}};
    for (const auto &c : cases)
        EXPECT_EQ(c.pauseMs, WmiRetryPauseMs(c.elapsedMs)) << c.elapsedMs;
}

} // namespace
