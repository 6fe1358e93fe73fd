// The check tool's portable rules: its arguments, its exit code and the JSON
// that inventory scripts parse.

#include "check/arguments.h"
#include "check/finding_codes.h"
#include "check/report.h"
#include "check/upgrade_codes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
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

std::string ReadSourceFile(const std::string &name) {
    std::ifstream file(std::string(WGB_SOURCE_DIR) + "/" + name);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A check that could not be made here (SKIP) or a fact of the moment (INFO)
// is no problem of the machine's: a nightly inventory of healthy machines
// returns 0. A skipped check leaves the report incomplete.
TEST(CheckReport, ExitCodeIsTheWorstVerdictAndSkipLeavesItIncomplete) {
    const struct {
        std::vector<Verdict> verdicts;
        int exitCode;
        const char *resultAndComplete;
    } cases[] = {
        {{}, 0, "\"result\": \"OK\", \"exitCode\": 0, \"complete\": true"},
        {{Verdict::Ok, Verdict::Info},
         0,
         "\"result\": \"OK\", \"exitCode\": 0, \"complete\": true"},
        {{Verdict::Ok, Verdict::Skip},
         0,
         "\"result\": \"OK\", \"exitCode\": 0, \"complete\": false"},
        {{Verdict::Info, Verdict::Warn, Verdict::Ok},
         1,
         "\"result\": \"WARN\", \"exitCode\": 1, \"complete\": true"},
        {{Verdict::Fail, Verdict::Skip, Verdict::Warn},
         2,
         "\"result\": \"FAIL\", \"exitCode\": 2, \"complete\": false"},
    };
    for (const auto &c : cases) {
        Report report;
        for (const Verdict verdict : c.verdicts)
            report.Add(verdict, code::kUserAtConsole, "fact");
        EXPECT_EQ(c.exitCode, report.ExitCode()) << c.resultAndComplete;
        const std::string json = report.Json([](const std::string &text) { return text; });
        EXPECT_NE(std::string::npos, json.find(c.resultAndComplete)) << json;
    }
    Report report;
    report.Add(Verdict::Info, code::kUserNobodyLoggedOn, "nobody logged on");
    EXPECT_EQ("INFO  user       nobody logged on", FindingLine(report.Findings()[0]));
}

// Scripts match the codes: README's table lists each code the tool gives, and
// no other, each under its own check.
TEST(CheckReport, ReadmeListsEveryFindingCode) {
    // The table that starts with "| Code | Verdict | Meaning |" and ends at a blank line.
    std::string readme = ReadSourceFile("README.md");
    readme = readme.substr(readme.find("\n| Code | Verdict | Meaning |"));
    readme = readme.substr(0, readme.find("\n\n"));
    std::set<std::string> listed;
    const std::regex row("\\n\\| `([a-z]+\\.[A-Za-z]+)` \\|");
    for (std::sregex_iterator it(readme.begin(), readme.end(), row), end; it != end; ++it)
        listed.insert((*it)[1]);
    const std::set<std::string> given(std::begin(kFindingCodes), std::end(kFindingCodes));
    EXPECT_EQ(given, listed);
    for (const char *code : kFindingCodes) {
        Report report;
        report.Add(Verdict::Ok, code, "fact");
        EXPECT_EQ(std::string(code).substr(0, std::string(code).find('.')),
                  report.Findings()[0].check);
    }
}

// The installer finds the package by the upgrade codes the release script
// gives it.
TEST(CheckReport, UpgradeCodesAreThePackages) {
    const std::string script = ReadSourceFile("packaging/make-release");
    for (const char *upgradeCode : kUpgradeCodes) {
        const std::string bare = std::string(upgradeCode).substr(1, 36);
        EXPECT_NE(std::string::npos, script.find("upgrade_code=" + bare)) << upgradeCode;
    }
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
    report.Add(Verdict::Warn, code::kBoardNotListed, "\x81\\", "act");
    const std::string json = report.Json([](const std::string &ansi) {
        return ansi == "\x81\\" ? std::string("\xE2\x80\x94") : ansi;
    });
    EXPECT_EQ("{\"schema\": 1, \"checkVersion\": \"1.2.3\", \"result\": \"WARN\", \"exitCode\": 1, "
              "\"complete\": true, "
              "\"board\": {\"product\": \"Q\\\"X\\\\1\\u0009\", \"entries\": [\"6231;x\", \"b\"]}, "
              "\"machine\": {\"port\": 1292, \"elevated\": false}, "
              "\"findings\": [{\"check\": \"board\", \"code\": \"board.notListed\", "
              "\"verdict\": \"WARN\", "
              "\"fact\": \"\xE2\x80\x94\", \"action\": \"act\"}]}",
              json);
}

TEST(CheckReport, LinesShowVerdictFactAndActionAndTextsInQuotes) {
    EXPECT_EQ("FAIL  board      product \" QX\\x09\" is not listed -> add it",
              FindingLine({"board", code::kBoardNotListed, Verdict::Fail,
                           "product " + QuotedForDisplay(" QX\t") + " is not listed", "add it"}));
}

} // namespace
