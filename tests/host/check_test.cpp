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
        std::string out = {};
    } cases[] = {
        {{}, true, false, false, 0},
        {{"--json", "--load"}, true, true, true, 0},
        {{"--watch", "30", "--json"}, true, true, false, 30},
        {{"--watch", "86400"}, true, false, false, 86400},
        {{"--out", "C:\\r.json", "--json"}, true, true, false, 0, "C:\\r.json"},
        {{"--out"}, false},
        {{"--out", ""}, false},
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
            EXPECT_EQ(c.out, options.outFile) << shown;
        }
    }
}

// A check that could not be made here (SKIP) is no problem of the machine's:
// a nightly inventory of healthy machines returns 0.
TEST(CheckReport, ExitCodeIsTheWorstVerdictAndSkipIsNone) {
    const struct {
        std::vector<Verdict> verdicts;
        int exitCode;
        const char *result;
    } cases[] = {
        {{}, 0, "OK"},
        {{Verdict::Ok, Verdict::Skip}, 0, "OK"},
        {{Verdict::Skip, Verdict::Warn, Verdict::Ok}, 1, "WARN"},
        {{Verdict::Fail, Verdict::Skip, Verdict::Warn}, 2, "FAIL"},
    };
    for (const auto &c : cases) {
        Report report;
        for (const Verdict verdict : c.verdicts)
            report.Add("user", verdict, "fact");
        EXPECT_EQ(c.exitCode, report.ExitCode()) << c.result;
        const std::string json = report.Json([](const std::string &text) { return text; });
        EXPECT_NE(std::string::npos, json.find(std::string("\"result\": \"") + c.result + "\""))
            << json;
    }
    Report report;
    report.Add("user", Verdict::Skip, "nobody logged on");
    EXPECT_EQ("SKIP  user       nobody logged on", FindingLine(report.Findings()[0]));
}

// The schema and what produced the report come first; facts are grouped by
// check in the order the checks came; texts pass the converter and are
// escaped after it, so that a double-byte character's second byte (which may
// be a backslash) is never escaped on its own.
TEST(CheckReport, JsonGroupsFactsAndEscapesConvertedText) {
    Report report;
    report.Header("checkVersion", "1.2.3");
    report.FactText("board", "product", "Q\"X\\1\t");
    report.FactNumber("machine", "port", 1292);
    report.FactTexts("board", "entries", {"6231;x", "b"});
    report.FactFlag("machine", "elevated", false);
    report.Add("board", Verdict::Warn, "\x81\\", "act");
    const std::string json = report.Json([](const std::string &ansi) {
        return ansi == "\x81\\" ? std::string("\xE2\x80\x94") : ansi;
    });
    EXPECT_EQ("{\"schema\": 1, \"checkVersion\": \"1.2.3\", \"result\": \"WARN\", \"exitCode\": 1, "
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
