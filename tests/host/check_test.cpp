// The check tool's rules, from facts: its arguments, the findings each fact
// gives, its exit code and the JSON that inventory scripts parse, read back
// with a JSON parser and validated against the shipped schema.

#include "check/arguments.h"
#include "check/judge.h"
#include "check/render.h"
#include "check/upgrade_codes.h"
#include "tests/json/report_codes.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

TEST(CheckArguments, AcceptsTheOptionsAndRefusesAnythingElse) {
    const struct {
        std::vector<const char *> args;
        const char *parsed; // "json load WATCH OUT", "-" for a switch not given
    } cases[] = {
        {{}, "- - 0 "},
        {{"--json", "--load"}, "json load 0 "},
        {{"--watch", "30", "--json"}, "json - 30 "},
        {{"--watch", "86400"}, "- - 86400 "},
        {{"--out", "C:\\r.json", "--json"}, "json - 0 C:\\r.json"},
    };
    for (const auto &c : cases) {
        CheckOptions o;
        ASSERT_TRUE(ParseCheckArguments(static_cast<int>(c.args.size()), c.args.data(), o));
        EXPECT_EQ(c.parsed, std::string(o.json ? "json " : "- ") + (o.load ? "load " : "- ") +
                                std::to_string(o.watchSeconds) + " " + o.outFile);
    }
    const std::vector<std::vector<const char *>> refused = {
        {"--out"},         {"--out", ""},     {"--watch"},          {"--watch", "0"},
        {"--watch", "-5"}, {"--watch", "5s"}, {"--watch", "86401"}, {"--watch", "4294967306"},
        {"--JSON"},        {"json"}};
    // 4294967306 would wrap to 10.
    for (const auto &args : refused) {
        CheckOptions o;
        EXPECT_FALSE(ParseCheckArguments(static_cast<int>(args.size()), args.data(), o))
            << args[0] << " " << (args.size() > 1 ? args[1] : "");
    }
}

std::string ReadSourceFile(const std::string &name) {
    std::ifstream file(std::string(WGB_SOURCE_DIR) + "/" + name);
    return {std::istreambuf_iterator<char>(file), {}};
}

constexpr char kDir[] = "C:\\Program Files\\WGB Pr\xC3\xBC"
                        "fung\\";

// A machine where everything is as documented, elevated, the button released.
CheckFacts Served() {
    const std::string dir = kDir, driver = "Quendra_X64.sys";
    CheckFacts f;
    f.header = {"1.0.0.5", "PC-7", "2026-12-10T01:02:03Z", "1.0.0.5", "1.0.0.1", ""};
    f.windows = WindowsFacts{"10.0", 19045, true, true};
    f.package = PackageFacts{"{0B1E2C3D-4A5B-4C6D-8E7F-8091A2B3C4D5}", "1.0.0.5"};
    f.machine = MachineFacts{dir, true, true};
    f.files = FileFacts{{"WGBService.exe", "WGB.ini", driver, "WGB.exe"}, {}, driver};
    f.protection = ProtectionFacts{{{dir.substr(0, dir.size() - 1), "the folder", true, {}, {}}}};
    for (const std::string name : {"WGB.ini", "WGBService.exe", "Quendra_X64.sys"})
        f.protection->objects.push_back({dir + name, name, true, {}, {}});
    f.service = ServiceFacts{}; // registered
    f.service->executable = dir + "WGBService.exe";
    f.service->imagePath = "\"" + f.service->executable + "\"";
    f.service->start = kStartAuto;
    f.service->state = kStateRunning;
    f.board = BoardFacts{};
    f.board->wmi = WmiAnswer::Product;
    f.board->iniPath = dir + "WGB.ini";
    f.board->product = "B760M-WGB \"Rev\"\t1";
    f.board->entries = {"6231", "B760M-WGB"};
    f.board->matchingKey = 2;
    f.board->inputPort = 0x50C;
    f.driver = DriverFacts{};
    f.driver->deviceOpen = true;
    f.button = ButtonFacts{true, false, {}, 0xFF, false};
    // A shell elsewhere first; the companion runs only there.
    f.user = UserFacts{1UL,
                       {{"WGB.exe", 9, 2}, {"explorer.exe", 8, 2}, {"EXPLORER.EXE", 76, 1}},
                       {{8, "VM\\other"}, {76, "VM\\r\xC3\xB6t"}}};
    return f;
}

void Unread(ProtectedObject &object, unsigned long error) {
    object.read = false;
    object.error = {error, "Windows error"};
}
void Unanswered(CheckFacts &f, WmiAnswer answer, IniMark mark = IniMark::None) {
    f.board = BoardFacts{};
    f.board->wmi = answer;
    f.board->mark = mark;
    f.button = ButtonFacts{};
}
// The driver's device not open: refused (error 5) or not there (2).
void Unopened(CheckFacts &f, unsigned long error) {
    f.driver = DriverFacts{};
    f.driver->deviceMissing = error == 2;
    f.driver->openError = {error, "Windows error"};
    f.button = ButtonFacts{};
}
// Not there, and the driver registered with this start type, if at all.
void Missing(CheckFacts &f, std::optional<unsigned> start = {}) {
    Unopened(f, 2);
    f.driver->registrationRead = true;
    if (start)
        f.driver->registration = DriverRegistration{"C:\\x.sys", 1, *start};
}
// --load's bring-up: failed at step, or its device opened; a registration
// it created, then undone or not.
LoadFacts &Loaded(CheckFacts &f, DriverStep step, unsigned long error, bool opened = false,
                  LoadFacts::Undo undo = LoadFacts::Undo::Nothing) {
    if (!opened)
        Unopened(f, 2);
    LoadFacts &load = f.driver->load.emplace();
    load.failedStep = step;
    load.error = {error, "Windows error"};
    load.created = undo != LoadFacts::Undo::Nothing;
    load.undo = undo;
    return load;
}

struct Case {
    // "code VERDICT, ..." of the checks named here, in order; the other checks as served.
    const char *findings;
    void (*change)(CheckFacts &);
    const char *advice = ""; // a text in the advice of one of its findings
};

using Found = ServiceFacts::Found;
using Undo = LoadFacts::Undo;
const std::vector<Case> kCases = {
    {"files.present OK, protection.sound OK, service.sound OK, board.listed OK, "
     "board.input OK, driver.open OK, button.released OK, user.atConsole OK",
     [](CheckFacts &) {}},
    // Then nothing else is gathered.
    {"files.pathTooLong FAIL",
     [](CheckFacts &f) {
         const ReportHeader header = f.header;
         f = CheckFacts{};
         f.header = header;
         f.programPathFits = false;
     }},
    {"files.pathTooLong FAIL",
     [](CheckFacts &f) {
         CheckFacts kept;
         kept.header = f.header;
         kept.windows = f.windows;
         kept.package = f.package;
         kept.machine = MachineFacts{kDir, true, false};
         f = kept;
     }},
    {"files.missing FAIL", [](CheckFacts &f) { f.files->missing = {"Quendra_X64.sys"}; }},
    {"protection.unreadable WARN, protection.othersMayChange WARN, "
     "protection.othersMayChange WARN, protection.notElevated SKIP",
     [](CheckFacts &f) {
         f.machine->elevated = false;
         auto &objects = f.protection->objects;
         objects[0].others = objects[1].others = {"BUILTIN\\Users"};
         objects[3].others = {"Everyone"};
         Unread(objects[2], 5);
         Unread(objects[3], 1337);
     }},
    {"protection.unreadable WARN", [](CheckFacts &f) { Unread(f.protection->objects[1], 5); }},
    {"service.notRegistered FAIL", [](CheckFacts &f) { f.service->found = Found::NotRegistered; },
     "-qtrinstall"},
    // The installation registers nothing from a longer path.
    {"service.notRegistered FAIL",
     [](CheckFacts &f) {
         f.service->found = Found::NotRegistered;
         f.service->registrable = false;
     },
     "shorter path"},
    {"service.notQueried FAIL", [](CheckFacts &f) { f.service->found = Found::NotQueried; }},
    {"service.notQuoted WARN, service.notAutoStart WARN",
     [](CheckFacts &f) {
         f.service->names = ServiceFacts::Names::Unquoted;
         f.service->start = 3;
     }},
    {"service.otherFolder FAIL, service.disabled FAIL, service.notRunning FAIL",
     [](CheckFacts &f) {
         f.service->names = ServiceFacts::Names::Other;
         f.service->start = kStartDisabled;
         f.service->state = 1;
     }},
    {"service.notRunning FAIL", [](CheckFacts &f) { f.service->state = 6; }},
    {"board.wmiFailed FAIL, button.notReadable SKIP",
     [](CheckFacts &f) { Unanswered(f, WmiAnswer::Failed); }},
    {"board.noProductText FAIL, button.notReadable SKIP",
     [](CheckFacts &f) { Unanswered(f, WmiAnswer::NoProductText); }},
    {"board.noBaseboard FAIL, button.notReadable SKIP",
     [](CheckFacts &f) { Unanswered(f, WmiAnswer::NoBaseboard, IniMark::HidesMainBoard); }},
    {"board.markHidesMainBoard FAIL, board.input INFO",
     [](CheckFacts &f) { f.board->mark = IniMark::HidesMainBoard; }},
    {"board.listed OK, board.markBeforeSection WARN, board.input OK",
     [](CheckFacts &f) { f.board->mark = IniMark::BeforeOtherSection; }},
    {"board.notListed FAIL, board.input INFO", [](CheckFacts &f) { f.board->matchingKey = 0; }},
    {"driver.notElevated SKIP, button.notReadable SKIP",
     [](CheckFacts &f) {
         Unopened(f, 5);
         f.machine->elevated = false;
     }},
    {"driver.deviceRefused FAIL, button.notReadable SKIP", [](CheckFacts &f) { Unopened(f, 5); }},
    {"driver.notLoaded FAIL", [](CheckFacts &f) { Missing(f, 3); }},
    {"driver.disabled FAIL", [](CheckFacts &f) { Missing(f, kStartDisabled); }},
    {"driver.loadRefused FAIL, driver.notLoaded FAIL",
     [](CheckFacts &f) {
         Missing(f);
         f.driver->loadRefusedFor = {"C:\\x: BUILTIN\\Users"};
     }},
    {"driver.notElevated FAIL", [](CheckFacts &f) { Loaded(f, DriverStep::Manager, 5); }},
    {"driver.fileMissing FAIL", [](CheckFacts &f) { Loaded(f, DriverStep::File, 0); }},
    {"driver.registrationFailed FAIL", [](CheckFacts &f) { Loaded(f, DriverStep::Create, 1072); },
     "close what holds"},
    {"driver.registrationFailed FAIL", [](CheckFacts &f) { Loaded(f, DriverStep::Repoint, 5); },
     "a policy"},
    {"driver.startBlocked FAIL", [](CheckFacts &f) { Loaded(f, DriverStep::Start, 577); }},
    {"driver.startBlocked FAIL", [](CheckFacts &f) { Loaded(f, DriverStep::Start, 1275); }},
    {"driver.startFailed FAIL, driver.loadNotUndone WARN",
     [](CheckFacts &f) { Loaded(f, DriverStep::Start, 193, false, Undo::NotUndone); },
     "driver file for this Windows"},
    {"driver.disabled FAIL", [](CheckFacts &f) { Loaded(f, DriverStep::None, 0).disabled = true; }},
    {"driver.deviceRefused FAIL", [](CheckFacts &f) { Loaded(f, DriverStep::Device, 5); }},
    {"driver.open OK, driver.loadUndone OK",
     [](CheckFacts &f) { Loaded(f, DriverStep::None, 0, true, Undo::Undone); }},
    {"driver.open OK, driver.loadNotUndone WARN",
     [](CheckFacts &f) {
         LoadFacts &load = Loaded(f, DriverStep::None, 0, true, Undo::NotUndone);
         load.created = false;
         load.repointed = true;
         load.previousImagePath = "C:\\Old\\Quendra.sys";
     },
     "binPath= \"C:\\Old\\Quendra.sys\""},
    {"button.readFails FAIL", [](CheckFacts &f) { f.button->readFailed = true; }},
    {"button.pressedNow INFO", [](CheckFacts &f) { f.button->pressed = true; }},
    {"driver.notLoaded FAIL, button.notReadable SKIP, button.watchNotReadable SKIP",
     [](CheckFacts &f) {
         Missing(f);
         f.watch = WatchFacts{};
     }},
    {"button.released OK, button.watchReadsFailed WARN",
     [](CheckFacts &f) {
         f.watch = WatchFacts{true, {{1200, true}, {1900, false}}, 3};
     }},
    // Only a shell at the console is taken, by its session's number.
    {"user.nobodyLoggedOn INFO", [](CheckFacts &f) { f.user->processes.resize(1); }},
    {"user.notAtConsole INFO", [](CheckFacts &f) { f.user->consoleSession.reset(); }},
    {"user.notAtConsole INFO", [](CheckFacts &f) { f.user->processes.pop_back(); }},
};

json ReportOf(const CheckFacts &facts) {
    return json::parse(ReportJson(facts, Judge(facts)));
}

// Each case's JSON report gives the findings the case names, by code, the
// other checks' as served; its exit code is its worst verdict's, and it is
// complete unless a check was skipped. Every code of the table is reached.
// The schema's validator takes every report.
TEST(CheckJudge, EachCaseReportsItsFindings) {
    char folder[] = "/tmp/wgb-check-reportsXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    const json served = ReportOf(Served());
    std::set<std::string> reached;
    for (const Case &c : kCases) {
        const std::string number = std::to_string(&c - &kCases[0]);
        SCOPED_TRACE(number + ": " + c.findings);
        CheckFacts facts = Served();
        c.change(facts);
        const std::string text = ReportJson(facts, Judge(facts));
        std::ofstream(std::string(folder) + "/" + number + ".json") << text;
        const json report = json::parse(text);
        std::set<std::string> checks;
        std::istringstream words(c.findings);
        for (std::string code, verdict; words >> code >> verdict;) {
            checks.insert(code.substr(0, code.find('.')));
            reached.insert(code);
        }
        // Without the folder's files, nothing else is checked.
        EXPECT_EQ(c.findings, facts.files ? Codes(report, checks, true) : Codes(report, {}, false));
        checks.insert("button"); // read only with the board's input and the driver's device
        if (facts.files) {
            EXPECT_EQ(Codes(served, checks, false), Codes(report, checks, false));
        }
        int worst = 0;
        bool skipped = false, advised = *c.advice == '\0';
        for (const json &finding : report["findings"]) {
            const std::string verdict = finding["verdict"], action = finding["action"];
            worst = std::max(worst, verdict == "FAIL" ? 2 : verdict == "WARN" ? 1 : 0);
            skipped = skipped || verdict == "SKIP";
            advised = advised || action.find(c.advice) != std::string::npos;
            // What to do for a fault; nothing for OK.
            if (verdict == "OK" || verdict == "WARN" || verdict == "FAIL") {
                EXPECT_EQ(verdict == "OK", action.empty()) << finding["code"] << ": " << action;
            }
        }
        EXPECT_EQ(worst, report["exitCode"]);
        EXPECT_EQ(!skipped, report["complete"]);
        EXPECT_TRUE(advised) << c.advice;
    }
    std::vector<std::string> codes = FindingCodes();
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, std::vector<std::string>(reached.begin(), reached.end()));
    const std::string validate = std::string(WGB_SOURCE_DIR) + "/tests/json/validate-report " +
                                 WGB_SOURCE_DIR + "/check/report.schema.json " + folder;
    EXPECT_EQ(0, std::system(validate.c_str())) << validate;
    std::system(("rm -rf " + std::string(folder)).c_str());
}

// The facts stand in their groups, named as the schema names them, texts as
// the UTF-8 they are, quotes and control characters escaped; with nobody at
// the console the session is null.
TEST(CheckReport, LinesAndJsonHoldTheFacts) {
    CheckFacts facts = Served();
    facts.watch = WatchFacts{true, {{1200, true}, {1900, false}}, 0};
    json report = ReportOf(facts);
    report.erase("findings");
    EXPECT_EQ(json::parse(R"({"schema": 2, "checkVersion": "1.0.0.5", "computerName": "PC-7",
      "checkedAt": "2026-12-10T01:02:03Z", "serviceVersion": "1.0.0.5",
      "driverVersion": "1.0.0.1", "companionVersion": "", "result": "OK", "exitCode": 0,
      "complete": true,
      "windows": {"version": "10.0", "build": 19045, "x64": true,
                  "memoryIntegrityConfigured": true},
      "package": {"productCode": "{0B1E2C3D-4A5B-4C6D-8E7F-8091A2B3C4D5}",
                  "productVersion": "1.0.0.5"},
      "machine": {"directory": "C:\\Program Files\\WGB Pr\u00fcfung\\", "elevated": true},
      "files": {"driver": "Quendra_X64.sys", "missing": []},
      "protection": {"othersMayChange": []},
      "service": {"registered": true, "start": "auto", "state": "running",
                  "imagePath": "\"C:\\Program Files\\WGB Pr\u00fcfung\\WGBService.exe\""},
      "board": {"wmi": "answered", "iniUtf8Mark": false, "product": "B760M-WGB \"Rev\"\t1",
                "entries": ["6231", "B760M-WGB"], "matchingKey": 2, "inputPort": 1292,
                "inputBit": 0},
      "driver": {"deviceOpen": true},
      "button": {"level": "released", "watchFailedReads": 0,
                 "watch": [{"ms": 1200, "level": "pressed"}, {"ms": 1900, "level": "released"}]},
      "user": {"consoleSession": 1, "name": "VM\\r\u00f6t", "shellProcessId": 76, "session": 1,
               "companionRunning": false}})"),
              report);
    facts.user->consoleSession.reset();
    EXPECT_EQ(json::parse(R"({"consoleSession": null})"), ReportOf(facts)["user"]);
    // The driver's registration as found; a step's error only where that step failed.
    Missing(facts, 3);
    EXPECT_EQ(json::parse(R"({"deviceOpen": false, "registered": true, "imagePath": "C:\\x.sys",
                              "state": "stopped", "start": "demand"})"),
              ReportOf(facts)["driver"]);
    Loaded(facts, DriverStep::Start, 193);
    EXPECT_EQ(json::parse(R"({"deviceOpen": false, "disabled": false, "startError": 193})"),
              ReportOf(facts)["driver"]);
    Loaded(facts, DriverStep::Repoint, 5);
    EXPECT_EQ(json::parse(R"({"deviceOpen": false, "disabled": false, "registerError": 5})"),
              ReportOf(facts)["driver"]);
    EXPECT_EQ("INFO  user       nobody -> log on",
              FindingLine({"user.notAtConsole", Verdict::Info, "nobody", "log on"}));
    EXPECT_EQ("     1.2 s  pressed", WatchLine({1200, true}));
}

// Scripts match the codes: the check tool's documentation lists each code the
// table gives, and no other.
TEST(CheckReport, DocumentationListsEveryFindingCode) {
    std::string doc = ReadSourceFile("docs/check-tool.md");
    doc = doc.substr(doc.find("\n| Code | Verdict | Meaning |"));
    doc = doc.substr(0, doc.find("\n\n"));
    std::set<std::string> listed;
    const std::regex row("\\n\\| `([a-z]+\\.[A-Za-z]+)` \\|");
    for (std::sregex_iterator it(doc.begin(), doc.end(), row), end; it != end; ++it)
        listed.insert((*it)[1]);
    const std::vector<std::string> codes = FindingCodes();
    EXPECT_EQ(std::set<std::string>(codes.begin(), codes.end()), listed);
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

} // namespace
