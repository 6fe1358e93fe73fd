// The check tool's rules, from facts: its arguments, the findings each fact
// gives, its exit code and the JSON that inventory scripts parse, read back
// with a JSON parser and validated against the shipped schema.

#include "check/arguments.h"
#include "check/judge.h"
#include "check/render.h"
#include "check/upgrade_codes.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using nlohmann::json;

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

constexpr char kDir[] = "C:\\Program Files\\WGB Pr\xC3\xBC"
                        "fung\\";

// A machine where everything is as documented, elevated, the button released.
CheckFacts Served() {
    CheckFacts f;
    f.header = {"1.0.0.5",
                "PR\xC3\x9C"
                "F-7",
                "2026-12-10T01:02:03Z",
                "1.0.0.5",
                "1.0.0.1",
                ""};
    f.windows = WindowsFacts{"10.0", 19045, true, true};
    f.package = PackageFacts{kUpgradeCodes[0], "1.0.0.5"};
    f.machine = MachineFacts{kDir, true, true};
    f.files = FileFacts{
        {"WGBService.exe", "WGB.ini", "Quendra_X64.sys", "WGB.exe"}, {}, "Quendra_X64.sys"};
    f.protection = ProtectionFacts{};
    for (const std::string name : {"", "WGB.ini", "WGBService.exe", "Quendra_X64.sys"}) {
        ProtectedObject object;
        object.path = name.empty() ? std::string(kDir, sizeof kDir - 2) : kDir + name;
        object.shownName = name.empty() ? "the folder" : name;
        f.protection->objects.push_back(object);
    }
    ServiceFacts service;
    service.imagePath = "\"" + std::string(kDir) + "WGBService.exe\"";
    service.start = kStartAuto;
    service.state = kStateRunning;
    service.executable = std::string(kDir) + "WGBService.exe";
    f.service = service;
    f.board = BoardFacts{WmiAnswer::Product,
                         IniMark::None,
                         std::string(kDir) + "WGB.ini",
                         "B760M-WGB \"Rev\"\t1",
                         {"6231", "B760M-WGB"},
                         2,
                         0x50C,
                         0};
    f.driver = DriverFacts{};
    f.driver->deviceOpen = true;
    f.button = ButtonFacts{true, false, {}, 0xFF, false};
    f.user = UserFacts{1UL, {{"WGB.exe", 9, 2}, {"EXPLORER.EXE", 76, 1}}, {{76, "VM\\r\xC3\xB6t"}}};
    return f;
}

void Unread(ProtectedObject &object, unsigned long error) {
    object.read = false;
    object.error = {error, "Windows error"};
}
void DeviceMissing(CheckFacts &f, std::optional<DriverRegistration> registration = {}) {
    f.driver = DriverFacts{};
    f.driver->deviceMissing = true;
    f.driver->openError = {2, "Windows error 2"};
    f.driver->registrationRead = true;
    f.driver->registration = registration;
    f.button = ButtonFacts{};
}
void Loaded(CheckFacts &f, DriverStep step, unsigned long error, bool opened = false) {
    f.driver = DriverFacts{};
    f.driver->deviceOpen = opened;
    f.driver->deviceMissing = true;
    f.driver->load = LoadFacts{};
    f.driver->load->failedStep = step;
    f.driver->load->error = {error, "Windows error"};
    if (!opened)
        f.button = ButtonFacts{};
}

BoardFacts Unanswered(WmiAnswer answer, IniMark mark = IniMark::None) {
    BoardFacts board;
    board.wmi = answer;
    board.mark = mark;
    return board;
}

using F = Verdict;
struct Case {
    const char *name;
    std::function<void(CheckFacts &)> change;
    // The findings of the checks named here, in order; other checks as served.
    std::vector<std::pair<const char *, Verdict>> findings;
};

const std::vector<Case> &Cases() {
    static const std::vector<Case> cases = {
        {"served",
         [](CheckFacts &) {},
         {{"files.present", F::Ok},
          {"protection.sound", F::Ok},
          {"service.sound", F::Ok},
          {"board.listed", F::Ok},
          {"board.input", F::Ok},
          {"driver.open", F::Ok},
          {"button.released", F::Ok},
          {"user.atConsole", F::Ok}}},
        {"program path too long",
         [](CheckFacts &f) {
             const ReportHeader header = f.header;
             f = CheckFacts{};
             f.header = header;
             f.programPathFits = false;
         },
         {{"files.pathTooLong", F::Fail}}},
        {"folder path too long",
         [](CheckFacts &f) {
             CheckFacts tooLong;
             tooLong.header = f.header;
             tooLong.windows = f.windows;
             tooLong.package = f.package;
             tooLong.machine = MachineFacts{kDir, true, false};
             f = tooLong;
         },
         {{"files.pathTooLong", F::Fail}}},
        {"driver file missing",
         [](CheckFacts &f) { f.files->missing = {"Quendra_X64.sys"}; },
         {{"files.missing", F::Fail}}},
        {"others may change, unreadable, not elevated",
         [](CheckFacts &f) {
             f.machine->elevated = false;
             f.protection->objects[0].others = {"BUILTIN\\Users"};
             f.protection->objects[1].others = {"BUILTIN\\Users"};
             f.protection->objects[3].others = {"Everyone"};
             Unread(f.protection->objects[2], 5);
             Unread(f.protection->objects[3], 1337);
         },
         {{"protection.unreadable", F::Warn},
          {"protection.othersMayChange", F::Warn},
          {"protection.othersMayChange", F::Warn},
          {"protection.notElevated", F::Skip}}},
        {"unreadable though elevated",
         [](CheckFacts &f) { Unread(f.protection->objects[1], 5); },
         {{"protection.unreadable", F::Warn}}},
        {"service not registered",
         [](CheckFacts &f) { f.service->found = ServiceFacts::Found::NotRegistered; },
         {{"service.notRegistered", F::Fail}}},
        {"service not queried",
         [](CheckFacts &f) { f.service->found = ServiceFacts::Found::NotQueried; },
         {{"service.notQueried", F::Fail}}},
        {"unquoted, demand start",
         [](CheckFacts &f) {
             f.service->names = ServiceFacts::Names::Unquoted;
             f.service->start = 3;
         },
         {{"service.notQuoted", F::Warn}, {"service.notAutoStart", F::Warn}}},
        {"other folder, disabled, stopped",
         [](CheckFacts &f) {
             f.service->names = ServiceFacts::Names::Other;
             f.service->start = kStartDisabled;
             f.service->state = 1;
         },
         {{"service.otherFolder", F::Fail},
          {"service.disabled", F::Fail},
          {"service.notRunning", F::Fail}}},
        {"pausing", [](CheckFacts &f) { f.service->state = 6; }, {{"service.notRunning", F::Fail}}},
        {"WMI fails",
         [](CheckFacts &f) {
             f.board = Unanswered(WmiAnswer::Failed);
             f.button = ButtonFacts{};
         },
         {{"board.wmiFailed", F::Fail}, {"button.notReadable", F::Skip}}},
        {"no product text",
         [](CheckFacts &f) {
             f.board = Unanswered(WmiAnswer::NoProductText);
             f.button = ButtonFacts{};
         },
         {{"board.noProductText", F::Fail}, {"button.notReadable", F::Skip}}},
        {"no baseboard",
         [](CheckFacts &f) {
             f.board = Unanswered(WmiAnswer::NoBaseboard, IniMark::HidesMainBoard);
             f.button = ButtonFacts{};
         },
         {{"board.noBaseboard", F::Fail}, {"button.notReadable", F::Skip}}},
        {"mark hides [MainBoard]",
         [](CheckFacts &f) { f.board->mark = IniMark::HidesMainBoard; },
         {{"board.markHidesMainBoard", F::Fail}, {"board.input", F::Info}}},
        {"mark before another section",
         [](CheckFacts &f) { f.board->mark = IniMark::BeforeOtherSection; },
         {{"board.listed", F::Ok}, {"board.markBeforeSection", F::Warn}, {"board.input", F::Ok}}},
        {"not listed",
         [](CheckFacts &f) { f.board->matchingKey = 0; },
         {{"board.notListed", F::Fail}, {"board.input", F::Info}}},
        {"driver needs elevation",
         [](CheckFacts &f) {
             f.machine->elevated = false;
             f.driver = DriverFacts{};
             f.driver->openError = {5, "Windows error 5"};
             f.button = ButtonFacts{};
         },
         {{"driver.notElevated", F::Skip}, {"button.notReadable", F::Skip}}},
        {"device refused, elevated",
         [](CheckFacts &f) {
             f.driver = DriverFacts{};
             f.driver->openError = {5, "Windows error 5"};
             f.button = ButtonFacts{};
         },
         {{"driver.deviceRefused", F::Fail}, {"button.notReadable", F::Skip}}},
        {"not loaded, not registered",
         [](CheckFacts &f) { DeviceMissing(f); },
         {{"driver.notLoaded", F::Fail}}},
        {"not loaded, registered",
         [](CheckFacts &f) {
             DeviceMissing(f, DriverRegistration{"C:\\x.sys", 1, 3});
         },
         {{"driver.notLoaded", F::Fail}}},
        {"not loaded, disabled",
         [](CheckFacts &f) {
             DeviceMissing(f, DriverRegistration{"C:\\x.sys", 1, kStartDisabled});
         },
         {{"driver.disabled", F::Fail}}},
        {"--load refused",
         [](CheckFacts &f) {
             DeviceMissing(f);
             f.driver->loadRefusedFor = {"C:\\x: BUILTIN\\Users"};
         },
         {{"driver.loadRefused", F::Fail}, {"driver.notLoaded", F::Fail}}},
        {"--load without the manager",
         [](CheckFacts &f) { Loaded(f, DriverStep::Manager, 5); },
         {{"driver.notElevated", F::Fail}}},
        {"--load without a driver file",
         [](CheckFacts &f) { Loaded(f, DriverStep::File, 0); },
         {{"driver.fileMissing", F::Fail}}},
        {"--load registration marked for deletion",
         [](CheckFacts &f) { Loaded(f, DriverStep::Create, 1072); },
         {{"driver.registrationFailed", F::Fail}}},
        {"--load registration locked",
         [](CheckFacts &f) { Loaded(f, DriverStep::Repoint, 5); },
         {{"driver.registrationFailed", F::Fail}}},
        {"--load start refused a signature",
         [](CheckFacts &f) { Loaded(f, DriverStep::Start, 577); },
         {{"driver.startBlocked", F::Fail}}},
        {"--load start blocked",
         [](CheckFacts &f) { Loaded(f, DriverStep::Start, 1275); },
         {{"driver.startBlocked", F::Fail}}},
        {"--load start failed, its undo too",
         [](CheckFacts &f) {
             Loaded(f, DriverStep::Start, 193);
             f.driver->load->created = true;
             f.driver->load->undo = LoadFacts::Undo::NotUndone;
         },
         {{"driver.startFailed", F::Fail}, {"driver.loadNotUndone", F::Warn}}},
        {"--load on a disabled registration",
         [](CheckFacts &f) {
             Loaded(f, DriverStep::None, 0);
             f.driver->load->disabled = true;
         },
         {{"driver.disabled", F::Fail}}},
        {"--load device refused after a good start",
         [](CheckFacts &f) { Loaded(f, DriverStep::Device, 5); },
         {{"driver.deviceRefused", F::Fail}}},
        {"--load made and undone",
         [](CheckFacts &f) {
             Loaded(f, DriverStep::None, 0, true);
             f.driver->load->created = true;
             f.driver->load->undo = LoadFacts::Undo::Undone;
         },
         {{"driver.open", F::Ok}, {"driver.loadUndone", F::Ok}}},
        {"--load repointed, not pointed back",
         [](CheckFacts &f) {
             Loaded(f, DriverStep::None, 0, true);
             f.driver->load->repointed = true;
             f.driver->load->previousImagePath = "C:\\Old\\Quendra.sys";
             f.driver->load->undo = LoadFacts::Undo::NotUndone;
         },
         {{"driver.open", F::Ok}, {"driver.loadNotUndone", F::Warn}}},
        {"read fails",
         [](CheckFacts &f) { f.button->readFailed = true; },
         {{"button.readFails", F::Fail}}},
        {"pressed now",
         [](CheckFacts &f) {
             f.button->pressed = true;
             f.button->value = 0xFE;
         },
         {{"button.pressedNow", F::Info}}},
        {"watch without the device",
         [](CheckFacts &f) {
             DeviceMissing(f);
             f.watch = WatchFacts{};
         },
         {{"driver.notLoaded", F::Fail},
          {"button.notReadable", F::Skip},
          {"button.watchNotReadable", F::Skip}}},
        {"watch with failed reads",
         [](CheckFacts &f) {
             f.watch = WatchFacts{true, {{1200, true}, {1900, false}}, 3};
         },
         {{"button.released", F::Ok}, {"button.watchReadsFailed", F::Warn}}},
        // Only a shell at the console is taken, by its session's number.
        {"nobody logged on",
         [](CheckFacts &f) {
             f.user->processes = {{"WGB.exe", 9, 1}};
         },
         {{"user.nobodyLoggedOn", F::Info}}},
        {"nobody at the console",
         [](CheckFacts &f) {
             f.user->consoleSession.reset();
             f.user->processes = {{"explorer.exe", 8, 2}};
         },
         {{"user.notAtConsole", F::Info}}},
        {"shells elsewhere first",
         [](CheckFacts &f) {
             f.user->processes = {
                 {"explorer.exe", 8, 2}, {"WGB.exe", 9, 1}, {"EXPLORER.EXE", 76, 1}};
         },
         {{"user.atConsole", F::Ok}}},
        {"shell only elsewhere",
         [](CheckFacts &f) {
             f.user->processes = {{"explorer.exe", 8, 2}, {"WGB.exe", 9, 1}};
         },
         {{"user.notAtConsole", F::Info}}},
    };
    return cases;
}

CheckFacts FactsOf(const Case &c) {
    CheckFacts facts = Served();
    c.change(facts);
    return facts;
}

// Every code of the table is reached by its facts with its verdict, and the
// checks a case changes give just the findings it names.
TEST(CheckJudge, EveryCodeFromItsFacts) {
    std::set<std::string> reached;
    std::vector<Finding> served;
    for (const Case &c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::vector<Finding> findings = Judge(FactsOf(c));
        std::set<std::string> checks;
        for (const auto &[code, verdict] : c.findings)
            checks.insert(CheckOf(code));
        std::vector<std::pair<std::string, Verdict>> got, expected;
        for (const Finding &finding : findings) {
            if (checks.count(CheckOf(finding.code)))
                got.emplace_back(finding.code, finding.verdict);
            EXPECT_FALSE(finding.fact.empty()) << finding.code;
            // What to do for a fault; nothing for OK.
            if (finding.verdict == Verdict::Ok || finding.verdict >= Verdict::Warn) {
                EXPECT_EQ(finding.verdict == Verdict::Ok, finding.advice.empty())
                    << finding.code << ": " << finding.advice;
            }
        }
        for (const auto &[code, verdict] : c.findings) {
            expected.emplace_back(code, verdict);
            reached.insert(code);
        }
        EXPECT_EQ(expected, got);
        // The other checks stay as served.
        const std::vector<Finding> base = Judge(Served());
        for (const Finding &finding : base) {
            // The button is read only with the board's input and the driver's device.
            if (checks.count(CheckOf(finding.code)) || CheckOf(finding.code) == "button" ||
                !FactsOf(c).machine || !FactsOf(c).machine->directoryFits)
                continue;
            bool kept = false;
            for (const Finding &now : findings)
                kept = kept || now.code == finding.code;
            EXPECT_TRUE(kept) << finding.code;
        }
    }
    const std::vector<std::string> codes = FindingCodes();
    EXPECT_EQ(std::set<std::string>(codes.begin(), codes.end()), reached);
    EXPECT_EQ(codes.size(), std::set<std::string>(codes.begin(), codes.end()).size());
}

// The installation's advice comes only from a folder whose executable's path
// it can register.
TEST(CheckJudge, InstallAdviceOnlyWhereItWorks) {
    for (const bool registrable : {true, false}) {
        CheckFacts f = Served();
        f.service->found = ServiceFacts::Found::NotRegistered;
        f.service->registrable = registrable;
        const std::vector<Finding> findings = Judge(f);
        EXPECT_EQ(registrable, findings[2].advice.find("-qtrinstall") != std::string::npos)
            << findings[2].advice;
    }
}

// A check that could not be made here (SKIP) or a fact of the moment (INFO)
// is no problem of the machine's: a nightly inventory of healthy machines
// returns 0. A skipped check leaves the report incomplete.
TEST(CheckJudge, ExitCodeIsTheWorstVerdictAndSkipLeavesItIncomplete) {
    const struct {
        std::vector<Verdict> verdicts;
        int exitCode;
        bool complete;
    } cases[] = {
        {{}, kExitOk, true},
        {{Verdict::Ok, Verdict::Info}, kExitOk, true},
        {{Verdict::Ok, Verdict::Skip}, kExitOk, false},
        {{Verdict::Info, Verdict::Warn, Verdict::Ok}, kExitWarn, true},
        {{Verdict::Fail, Verdict::Skip, Verdict::Warn}, kExitFail, false},
        {{Verdict::Warn, Verdict::Fail}, kExitFail, true},
    };
    for (const auto &c : cases) {
        std::vector<Finding> findings;
        for (const Verdict verdict : c.verdicts)
            findings.push_back({"user.atConsole", verdict, "fact", "advice"});
        EXPECT_EQ(c.exitCode, ExitCode(findings)) << c.verdicts.size();
        EXPECT_EQ(c.complete, Complete(findings)) << c.verdicts.size();
    }
    EXPECT_NE(kExitBadArgument, kExitNotWritten);
    EXPECT_EQ("INFO  user       nobody -> log on",
              FindingLine({"user.notAtConsole", Verdict::Info, "nobody", "log on"}));
}

// Where a shell writes its own temporary files.
std::string TemporaryFolder() {
    char folder[] = "/tmp/wgb-check-reportsXXXXXX";
    return mkdtemp(folder) ? folder : "";
}

// The members of a rendered object that the schema does not name.
std::vector<std::string> Unnamed(const json &object, const json &schema, const std::string &at) {
    std::vector<std::string> unnamed;
    for (const auto &[name, value] : object.items()) {
        if (!schema["properties"].contains(name))
            unnamed.push_back(at + name);
        else if (value.is_object() && at.empty())
            for (const std::string &inner : Unnamed(value, schema["properties"][name], name + "."))
                unnamed.push_back(inner);
    }
    return unnamed;
}

// Every case's report parses as JSON, says what its findings say, names no
// field the schema does not, and the schema's validator takes it.
TEST(CheckReport, JsonOfEveryCaseIsValidAgainstTheSchema) {
    const json schema = json::parse(ReadSourceFile("check/report.schema.json"));
    const std::string folder = TemporaryFolder();
    ASSERT_NE("", folder);
    int number = 0;
    for (const Case &c : Cases()) {
        SCOPED_TRACE(c.name);
        CheckFacts facts = FactsOf(c);
        const std::vector<Finding> findings = Judge(facts);
        const std::string text = ReportJson(facts, findings);
        std::ofstream(folder + "/" + std::to_string(++number) + ".json") << text;
        const json report = json::parse(text);
        EXPECT_EQ(kReportSchema, report["schema"]);
        EXPECT_EQ(ExitCode(findings), report["exitCode"]);
        EXPECT_EQ(Complete(findings), report["complete"]);
        ASSERT_EQ(findings.size(), report["findings"].size());
        for (std::size_t i = 0; i < findings.size(); ++i) {
            EXPECT_EQ(findings[i].code, report["findings"][i]["code"]);
            EXPECT_EQ(VerdictName(findings[i].verdict), report["findings"][i]["verdict"]);
            EXPECT_EQ(CheckOf(findings[i].code), report["findings"][i]["check"]);
            EXPECT_EQ(findings[i].fact, report["findings"][i]["fact"]);
        }
        EXPECT_EQ(std::vector<std::string>(), Unnamed(report, schema, ""));
        // A step's error only where that step was tried.
        const DriverStep step =
            facts.driver && facts.driver->load ? facts.driver->load->failedStep : DriverStep::None;
        const json driver = report.value("driver", json::object());
        EXPECT_EQ(step == DriverStep::Start, driver.contains("startError"));
        EXPECT_EQ(step == DriverStep::Create || step == DriverStep::Repoint,
                  driver.contains("registerError"));
    }
    const std::string validate = std::string(WGB_SOURCE_DIR) + "/tests/json/validate-report " +
                                 WGB_SOURCE_DIR + "/check/report.schema.json " + folder;
    EXPECT_EQ(0, std::system(validate.c_str())) << validate;
    std::system(("rm -rf " + folder).c_str());
}

// Texts reach the JSON as the UTF-8 they are, quotes, backslashes and
// control characters escaped; the facts stand in their groups.
TEST(CheckReport, JsonHoldsTheFacts) {
    CheckFacts facts = Served();
    facts.user->consoleSession.reset();
    facts.watch = WatchFacts{true, {{1200, true}, {1900, false}}, 0};
    const json report = json::parse(ReportJson(facts, Judge(facts)));
    EXPECT_EQ("PR\xC3\x9C"
              "F-7",
              report["computerName"]);
    EXPECT_EQ("B760M-WGB \"Rev\"\t1", report["board"]["product"]);
    EXPECT_EQ(json({"6231", "B760M-WGB"}), report["board"]["entries"]);
    EXPECT_EQ(2, report["board"]["matchingKey"]);
    EXPECT_EQ(1292, report["board"]["inputPort"]);
    EXPECT_EQ(kDir, report["machine"]["directory"]);
    EXPECT_EQ("auto", report["service"]["start"]);
    EXPECT_EQ("running", report["service"]["state"]);
    EXPECT_EQ(true, report["windows"]["memoryIntegrityConfigured"]);
    EXPECT_EQ("1.0.0.5", report["package"]["productVersion"]);
    EXPECT_TRUE(report["user"]["consoleSession"].is_null());
    EXPECT_FALSE(report["user"].contains("shellProcessId"));
    const CheckFacts served = Served();
    const json user = json::parse(ReportJson(served, Judge(served)))["user"];
    EXPECT_EQ(json::parse(R"({"consoleSession": 1, "name": "VM\\r\u00f6t", "shellProcessId": 76,
                              "session": 1, "companionRunning": false})"),
              user);
    EXPECT_EQ(
        json::parse(R"([{"ms": 1200, "level": "pressed"}, {"ms": 1900, "level": "released"}])"),
        report["button"]["watch"]);
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
