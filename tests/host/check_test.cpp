// The check tool's portable rules: its arguments, its exit code and the JSON
// that inventory scripts parse.

#include "check/arguments.h"
#include "check/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CheckArguments, AcceptsTheOptionsAndRefusesAnythingElse) {
    const struct {
        std::vector<const char *> args;
        bool valid;
        bool json = false, load = false;
        unsigned watch = 0;
    } cases[] = {
        {{}, true, false, false, 0},
        {{"--json", "--load"}, true, true, true, 0},
        {{"--watch", "30", "--json"}, true, true, false, 30},
        {{"--watch", "86400"}, true, false, false, 86400},
        {{"--watch"}, false},
        {{"--watch", "0"}, false},
        {{"--watch", "86401"}, false},
        {{"--watch", "-5"}, false},
        {{"--watch", "5s"}, false},
        {{"--watch", "4294967306"}, false}, // would wrap to 10
        {{"--JSON"}, false},
        {{"json"}, false},
    };
    for (const auto &c : cases) {
        CheckOptions options;
        const bool valid =
            ParseCheckArguments(static_cast<int>(c.args.size()), c.args.data(), options);
        const std::string shown = c.args.empty() ? "(none)" : c.args[0];
        ASSERT_EQ(c.valid, valid) << shown;
        if (valid) {
            EXPECT_EQ(c.json, options.json) << shown;
            EXPECT_EQ(c.load, options.load) << shown;
            EXPECT_EQ(c.watch, options.watchSeconds) << shown;
        }
    }
}

TEST(CheckReport, ExitCodeIsTheWorstVerdict) {
    Report report;
    EXPECT_EQ(0, report.ExitCode());
    report.Add("files", Verdict::Ok, "all there");
    EXPECT_EQ(0, report.ExitCode());
    report.Add("board", Verdict::Fail, "not listed", "add it");
    report.Add("user", Verdict::Warn, "nobody logged on", "log on");
    EXPECT_EQ(2, report.ExitCode());
}

// Facts are grouped by check in the order the checks came; texts pass the
// converter and are escaped after it, so that a double-byte character's
// second byte (which may be a backslash) is never escaped on its own.
TEST(CheckReport, JsonGroupsFactsAndEscapesConvertedText) {
    Report report;
    report.FactText("board", "product", "Q\"X\\1\t");
    report.FactNumber("machine", "port", 1292);
    report.FactTexts("board", "entries", {"6231;x", "b"});
    report.FactFlag("machine", "elevated", false);
    report.Add("board", Verdict::Warn, "\x81\\", "act");
    const std::string json = report.Json([](const std::string &ansi) {
        return ansi == "\x81\\" ? std::string("\xE2\x80\x94") : ansi;
    });
    EXPECT_EQ("{\"result\": \"WARN\", \"exitCode\": 1, "
              "\"board\": {\"product\": \"Q\\\"X\\\\1\\u0009\", \"entries\": [\"6231;x\", \"b\"]}, "
              "\"machine\": {\"port\": 1292, \"elevated\": false}, "
              "\"findings\": [{\"check\": \"board\", \"verdict\": \"WARN\", "
              "\"fact\": \"\xE2\x80\x94\", \"action\": \"act\"}]}",
              json);
}

TEST(CheckReport, LinesShowVerdictFactAndActionAndTextsInQuotes) {
    EXPECT_EQ("FAIL  board      product \" QX\\x09\" is not listed -> add it",
              FindingLine({"board", Verdict::Fail,
                           "product " + QuotedForDisplay(" QX\t") + " is not listed", "add it"}));
}

} // namespace
