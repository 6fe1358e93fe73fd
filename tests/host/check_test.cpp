// The check tool's rules, from facts: its arguments, and for each case of
// facts its whole report, the lines a person reads and the JSON that
// inventory scripts parse, compared with the reviewed files in
// tests/host/reports/ (which check_reports_schema validates).

#include "check/arguments.h"
#include "check/judge.h"
#include "check/render.h"
#include "check/upgrade_codes.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::ordered_json;

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

std::string ReadFile(const std::string &path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

constexpr char kOtherDriver[] = "C:\\Program Files\\Other\\Quendra_X64.sys";
constexpr char kDir[] = "C:\\Program Files\\WGB Pr\xC3\xBC"
                        "fung\\";

// A machine where everything is as documented, elevated, the button released.
CheckFacts Served() {
    const std::string dir = kDir, driver = "Quendra_X64.sys";
    CheckFacts f;
    f.header = {"1.0.0.5", "PC-7", "2026-12-10T01:02:03Z", "1.0.0.5", "1.0.0.1", "2.1.0.0"};
    f.windows = WindowsFacts{"10.0", 19045, true, true};
    f.package = PackageFacts{"{0B1E2C3D-4A5B-4C6D-8E7F-8091A2B3C4D5}", "1.0.0.5"};
    f.machine = MachineFacts{dir, true, true};
    f.files = FileFacts{{"WGBService.exe", "WGB.ini", driver, "WGB.exe"}, {}, driver};
    f.protection = ProtectionFacts{{{dir.substr(0, dir.size() - 1), "the folder", true, {}, {}}}};
    for (const std::string name : {"WGB.ini", "WGBService.exe", "Quendra_X64.sys", "WGB.exe"})
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
    f.board->entries = {"Z790-WGB-6231;the button on the second input", "B760M-WGB;first series"};
    f.board->matchingKey = 2;
    f.board->inputPort = 0x50C;
    f.driver = DriverFacts{true, false, {}, false, {}, {}, {}};
    f.button = ButtonFacts{true, false, {}, 0xFF, false};
    // A shell elsewhere first; the companion runs only there.
    f.user = UserFacts{1UL,
                       {{"WGB.exe", 9, 2}, {"explorer.exe", 8, 2}, {"EXPLORER.EXE", 76, 1}},
                       {{8, "VM\\other"}, {76, "VM\\r\xC3\xB6t"}}};
    return f;
}

// A Windows error as gather.cpp words it, with its message.
WinError Err(unsigned long number) {
    return {number, "Windows error " + std::to_string(number) + " (the message for " +
                        std::to_string(number) + ")"};
}
void Unread(ProtectedObject &object, unsigned long error) {
    object.read = false;
    object.error = Err(error);
}
void Unanswered(CheckFacts &f, WmiAnswer answer, IniMark mark = IniMark::None) {
    f.board = BoardFacts{answer, mark, "", "", {}, 0, 0, 0};
    f.button = ButtonFacts{};
}
// The driver's device not open: refused (error 5) or not there (2).
void Unopened(CheckFacts &f, unsigned long error) {
    f.driver = DriverFacts{false, error == 2, Err(error), false, {}, {}, {}};
    f.button = ButtonFacts{};
}
// Not there, and the driver registered with this start type, if at all.
void Missing(CheckFacts &f, std::optional<unsigned> start = {}) {
    Unopened(f, 2);
    f.driver->registrationRead = true;
    if (start)
        f.driver->registration =
            DriverRegistration{std::string("\\??\\") + kOtherDriver, 1, *start};
}
void Unchanged(CheckFacts &) {}
void Watched(CheckFacts &f) {
    f.watch = WatchFacts{true, {{1200, true}, {1900, false}}, 3};
}

// The facts as gathered (Served, changed), and what --watch saw and what
// --load's undo left at the end, when asked.
struct Case {
    std::string name; // its reviewed report: tests/host/reports/NAME.txt and NAME.json
    std::function<void(CheckFacts &)> gathered, watched = Unchanged, undone = Unchanged;
};

// --load's bring-up: the step that failed with its error (None: it went
// through, its device open, unless the registration found is disabled), a
// registration it made or one it re-pointed, what the undo left (bring-up's
// own at once after a failed start, else the tool's at its end), --watch.
using Undo = LoadFacts::Undo;
using Step = DriverStep;
Case Load(const char *name, Step step, unsigned long error, bool created, Undo undo,
          bool watched = false) {
    const bool opened = step == Step::None && undo != Undo::Nothing, atOnce = step == Step::Start;
    const auto gathered = [=](CheckFacts &f) {
        if (!opened)
            Unopened(f, 2);
        f.driver->load = LoadFacts{step,
                                   error ? Err(error) : WinError{},
                                   step == Step::None && !opened,
                                   created,
                                   !created,
                                   created ? "" : kOtherDriver,
                                   atOnce ? undo : Undo::Nothing,
                                   undo == Undo::NotUndone && !atOnce ? Err(5) : WinError{}};
    };
    return {name, gathered, watched ? Watched : Unchanged,
            [=](CheckFacts &f) { f.driver->load->undo = undo; }};
}

using Found = ServiceFacts::Found;
const Case kCases[] = {
    {"served", Unchanged},
    // Then nothing else is gathered.
    {"program-path-too-long",
     [](CheckFacts &f) {
         f = CheckFacts{f.header, false, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
     }},
    {"folder-path-too-long",
     [](CheckFacts &f) {
         f = CheckFacts{f.header, true, f.windows, f.package, f.machine, {}, {},
                        {},       {},   {},        {},        {},        {}};
         f.machine->directory = "C:\\" + std::string(245, 'w') + "\\";
         f.machine->directoryFits = false;
     }},
    {"folder-not-in-the-code-page",
     [](CheckFacts &f) {
         f = CheckFacts{f.header, true, f.windows, f.package, f.machine, {}, {},
                        {},       {},   {},        {},        {},        {}};
         f.machine->directory = "C:\\WGB \xCE\xA9\\"; // "C:\WGB Ω\"
         f.machine->directoryInCodePage = false;
     }},
    // On 32-bit Windows, which needs the other driver file.
    {"driver-file-missing",
     [](CheckFacts &f) {
         f.windows->x64 = false;
         f.header.driverVersion = "";
         const char *driver = "Quendra.sys";
         f.files = FileFacts{{"WGBService.exe", "WGB.ini", driver, "WGB.exe"}, {driver}, driver};
         f.protection->objects.erase(f.protection->objects.begin() + 3);
     }},
    {"unelevated",
     [](CheckFacts &f) {
         f.machine->elevated = false;
         auto &objects = f.protection->objects;
         objects[0].others = objects[1].others = {"BUILTIN\\Users", "Everyone on C:\\"};
         objects[3].others = {"Everyone"};
         Unread(objects[2], 5);
         Unread(objects[3], 2);
         Unopened(f, 5);
     }},
    {"permissions-unreadable-elevated", [](CheckFacts &f) { Unread(f.protection->objects[1], 5); }},
    // Installed by hand, where the registry does not say whether memory integrity runs.
    {"service-not-registered",
     [](CheckFacts &f) {
         f.service->found = Found::NotRegistered;
         f.package = PackageFacts{};
         f.windows->memoryIntegrityConfigured.reset();
     }},
    // The installation registers nothing from a longer path.
    {"service-not-registered-path-too-long-to-install",
     [](CheckFacts &f) {
         f.service->found = Found::NotRegistered;
         f.service->registrable = false;
     }},
    {"service-control-manager-and-wmi-do-not-answer",
     [](CheckFacts &f) {
         f.service->found = Found::NotQueried;
         f.service->error = Err(5);
         Unanswered(f, WmiAnswer::Failed);
     }},
    // Only a shell at the console is taken, by its session's number.
    {"unquoted-demand-start-mark-before-another-section-shell-elsewhere",
     [](CheckFacts &f) {
         f.service->names = ServiceFacts::Names::Unquoted;
         f.service->imagePath = f.service->executable;
         f.service->start = 3;
         f.board->mark = IniMark::BeforeOtherSection;
         f.user->processes.pop_back();
     }},
    // The line to add takes the next key, not one that serves a board.
    {"service-elsewhere-disabled-stopped-board-not-listed",
     [](CheckFacts &f) {
         f.service->names = ServiceFacts::Names::Other;
         f.service->imagePath = "\"C:\\WGB\\WGBService.exe\"";
         f.service->start = kStartDisabled;
         f.service->state = 1;
         f.board->product = "WGB Test Board";
         f.board->matchingKey = 0;
     }},
    {"service-pausing-button-held-companion-running",
     [](CheckFacts &f) {
         f.service->state = 6;
         f.button = ButtonFacts{true, false, {}, 0xFE, true};
         f.user->processes.push_back({"wgb.exe", 12, 1});
     }},
    {"no-product-text", [](CheckFacts &f) { Unanswered(f, WmiAnswer::NoProductText); }},
    {"no-baseboard-nobody-logged-on",
     [](CheckFacts &f) {
         Unanswered(f, WmiAnswer::NoBaseboard, IniMark::HidesMainBoard);
         f.user->processes.resize(1);
     }},
    {"byte-order-mark-hides-mainboard",
     [](CheckFacts &f) { f.board->mark = IniMark::HidesMainBoard; }},
    {"device-refused-nobody-at-the-console",
     [](CheckFacts &f) {
         Unopened(f, 5);
         f.user->consoleSession.reset();
     }},
    {"driver-not-registered-watch-cannot-run", [](CheckFacts &f) { Missing(f); },
     [](CheckFacts &f) { f.watch = WatchFacts{}; }},
    {"driver-registered-not-loaded", [](CheckFacts &f) { Missing(f, 3); }},
    {"driver-disabled", [](CheckFacts &f) { Missing(f, kStartDisabled); }},
    {"load-refused",
     [](CheckFacts &f) {
         Missing(f);
         f.driver->loadRefusedFor = {std::string(kDir, sizeof kDir - 2) + ": BUILTIN\\Users",
                                     std::string(kDir) + "Quendra_X64.sys: BUILTIN\\Users"};
     }},
    {"button-read-fails",
     [](CheckFacts &f) {
         f.button = ButtonFacts{true, true, Err(31), 0, false};
     }},
    {"watch-sees-a-press-and-failed-reads", Unchanged, Watched},
    Load("load-manager-refused", Step::Manager, 5, false, Undo::Nothing),
    Load("load-driver-file-missing", Step::File, 0, false, Undo::Nothing),
    Load("load-registration-marked-for-deletion", Step::Create, 1072, false, Undo::Nothing),
    Load("load-registration-locked", Step::Repoint, 5, false, Undo::Nothing),
    Load("load-registration-fails", Step::Create, 1078, false, Undo::Nothing),
    Load("load-disabled", Step::None, 0, false, Undo::Nothing),
    Load("load-start-blocked-signature", Step::Start, 577, true, Undo::Undone),
    Load("load-start-blocked-blocklist", Step::Start, 1275, true, Undo::Undone),
    Load("load-start-refused", Step::Start, 5, false, Undo::Undone),
    Load("load-start-failed-not-undone", Step::Start, 193, true, Undo::NotUndone),
    Load("load-device-refused-undone", Step::Device, 5, true, Undo::Undone),
    Load("load-undone-after-the-watch", Step::None, 0, true, Undo::Undone, true),
    Load("load-only-marked-for-deletion", Step::None, 0, true, Undo::RestartNeeded),
    Load("load-not-undone", Step::None, 0, true, Undo::NotUndone),
    Load("load-repointed-undone", Step::None, 0, false, Undo::Undone),
    Load("load-repointed-driver-does-not-stop", Step::None, 0, false, Undo::RestartNeeded),
    Load("load-repointed-not-undone", Step::None, 0, false, Undo::NotUndone),
    Load("load-changed-since", Step::None, 0, true, Undo::ChangedSince),
};

// Each case's whole report, the lines a person reads (as the tool shows them:
// the findings as found, what the watch saw, what the watch and the undo
// added) and the JSON, is its reviewed file's; WGB_REWRITE_REPORTS=1 writes
// the files afresh, to be reviewed as one diff. The cases reach every verdict
// of every finding, and each file has its case. (The ctest entry
// check_reports_schema validates the files against the schema.)
TEST(CheckReport, EachCaseGivesItsReviewedReport) {
    const std::string folder = WGB_SOURCE_DIR "/tests/host/reports/";
    const bool rewrite = std::getenv("WGB_REWRITE_REPORTS") != nullptr;
    std::set<std::string> reached, files;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        CheckFacts facts = Served();
        c.gathered(facts);
        const ReportSteps steps = {
            [&](CheckFacts &f, const std::function<void(const WatchChange &)> &onChange) {
                c.watched(f);
                for (const WatchChange &change : f.watch ? f.watch->changes : WatchFacts{}.changes)
                    onChange(change);
            },
            c.undone};
        std::string text;
        const std::vector<Finding> findings =
            ShowReport(facts, steps, [&](const std::string &line) { text += line + "\n"; });
        const std::string json = ordered_json::parse(ReportJson(facts, findings)).dump(2);
        const std::string path = folder + c.name;
        if (rewrite) {
            std::ofstream(path + ".txt") << text;
            std::ofstream(path + ".json") << json << "\n";
        }
        EXPECT_EQ(ReadFile(path + ".txt"), text);
        EXPECT_EQ(ordered_json::parse(ReadFile(path + ".json"), nullptr, false).dump(2), json);
        for (const Finding &finding : findings)
            reached.insert(finding.code + " " + VerdictName(finding.verdict));
        files.insert({path + ".txt", path + ".json"});
    }
    const std::vector<std::string> verdicts = FindingVerdicts();
    EXPECT_EQ(std::set<std::string>(verdicts.begin(), verdicts.end()), reached);
    for (const auto &file : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(1u, files.count(file.path().string())) << file.path();
}

// Scripts match the codes: the check tool's documentation lists each code the
// table gives, and no other.
TEST(CheckReport, DocumentationListsEveryFindingCode) {
    std::string doc = ReadFile(WGB_SOURCE_DIR "/docs/check-tool.md");
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
    const std::string script = ReadFile(WGB_SOURCE_DIR "/packaging/make-release");
    for (const char *upgradeCode : kUpgradeCodes) {
        const std::string bare = std::string(upgradeCode).substr(1, 36);
        EXPECT_NE(std::string::npos, script.find("upgrade_code=" + bare)) << upgradeCode;
    }
}

} // namespace
