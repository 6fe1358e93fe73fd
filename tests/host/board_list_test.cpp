// The board list of WGB.ini: token rule and list search over a key reader.

#include "board/board_list.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// An INI section in memory that records every key asked for.
struct FakeSection {
    std::map<std::string, std::string> values;
    std::vector<std::string> keysRead;

    BoardKeyReader reader() {
        return [this](const std::string &key) {
            keysRead.push_back(key);
            const auto it = values.find(key);
            return it == values.end() ? std::string() : it->second;
        };
    }
};

TEST(BoardToken, TakesTheTextBeforeTheFirstSemicolonUnaltered) {
    struct Case {
        const char *value;
        const char *token;
    } const cases[] = {
        {"B660M;some comment", "B660M"},
        {"B660M", "B660M"},
        {";anything", ""},
        {"B660M ;x", "B660M "},
        {" b660m\t;x;y", " b660m\t"},
        {"A;B;C", "A"},
        {";", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BoardToken(c.value), c.token) << c.value;
}

struct MatchCase {
    const char *name;
    const char *product;
    std::map<std::string, std::string> values;
    int expected;
};

class MatchBoardListTest : public testing::TestWithParam<MatchCase> {};

TEST_P(MatchBoardListTest, Matches) {
    FakeSection section{GetParam().values, {}};
    EXPECT_EQ(MatchBoardList(GetParam().product, section.reader()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MatchBoardListTest,
    testing::Values(
        MatchCase{"TokenBeforeSemicolon", "QX-6231 Pro", {{"1", "6231;board with two inputs"}}, 1},
        MatchCase{"ValueWithoutSemicolonUsedWhole", "QX-6231 Pro", {{"1", "6231 Pro"}}, 1},
        MatchCase{"WholeValueMustOccur", "QX-6231", {{"1", "6231 Pro"}}, 0},
        MatchCase{"CommentIsNotSearched", "QX-1000", {{"1", "6231;QX-1000"}}, 0},
        MatchCase{"LeadingSemicolonMatchesEveryBoard", "anything", {{"1", ";all boards"}}, 1},
        MatchCase{"LeadingSemicolonMatchesEmptyProduct", "", {{"1", ";all boards"}}, 1},
        MatchCase{"BlankBeforeSemicolonKept", "QX-6231Pro", {{"1", "6231 ;x"}}, 0},
        MatchCase{"BlankBeforeSemicolonMatchesBlank", "QX-6231 Pro", {{"1", "6231 ;x"}}, 1},
        MatchCase{"CaseMatters", "QX-ABC", {{"1", "abc"}}, 0},
        MatchCase{"LaterKeyMatches", "QX-7000", {{"1", "6231"}, {"2", "5000"}, {"3", "7000"}}, 1},
        MatchCase{"NoSection", "QX-6231", {}, 0},
        MatchCase{"EmptyFirstKey", "QX-6231", {{"1", ""}, {"2", "6231"}}, 0}),
    [](const testing::TestParamInfo<MatchCase> &info) { return info.param.name; });

TEST(MatchBoardList, GapEndsTheList) {
    FakeSection section{{{"1", "a"}, {"2", "b"}, {"4", "QX"}}, {}};
    EXPECT_EQ(MatchBoardList("QX-6231", section.reader()), 0);
    EXPECT_EQ(section.keysRead, (std::vector<std::string>{"1", "2", "3"}));
}

TEST(MatchBoardList, StopsAtTheFirstMatch) {
    FakeSection section{{{"1", "x"}, {"2", "6231"}, {"3", "QX"}}, {}};
    EXPECT_EQ(MatchBoardList("QX-6231", section.reader()), 1);
    EXPECT_EQ(section.keysRead, (std::vector<std::string>{"1", "2"}));
}

TEST(MatchBoardList, ReadsDecimalKeysUpTo4096AndNoFurther) {
    FakeSection section;
    for (int key = 1; key <= 4097; ++key)
        section.values[std::to_string(key)] = "no-match";
    section.values["4097"] = "QX"; // would match, but lies beyond the list

    EXPECT_EQ(MatchBoardList("QX-6231", section.reader()), 0);
    ASSERT_EQ(section.keysRead.size(), 4096u);
    EXPECT_EQ(section.keysRead.front(), "1");
    EXPECT_EQ(section.keysRead[9], "10");
    EXPECT_EQ(section.keysRead.back(), "4096");
}

TEST(MatchBoardList, Key4096IsStillRead) {
    FakeSection section;
    for (int key = 1; key < 4096; ++key)
        section.values[std::to_string(key)] = "no-match";
    section.values["4096"] = "6231";
    EXPECT_EQ(MatchBoardList("QX-6231", section.reader()), 1);
}

TEST(MatchBoardList, OnlyTheFirst255CharactersOfAValueCount) {
    const std::string fragment(255, 'A');
    FakeSection section{{{"1", fragment + "B"}}, {}};
    EXPECT_EQ(MatchBoardList(fragment, section.reader()), 1);
}

} // namespace
