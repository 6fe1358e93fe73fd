// The check tool in Wine: on a served board with the service installed and
// the stand-in loaded, on one where things are wrong, in folders where
// nothing is right, and bringing up a driver that will not start. The rules
// that need no session run here too: protection on descriptors built from
// SDDL, the user's session, the advice for a driver that will not start.

#include "check/finding_codes.h"
#include "check/machine_checks.h"
#include "check/machine_facts.h"
#include "check/protection.h"
#include "common/system_library.h"
#include "sim/sim_client.h"
#include "support/nt_objects.h"
#include "support/service_env.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <regex>
#include <sstream>

namespace {

using namespace wgbtest;

constexpr char kServedDir[] = "C:\\Program Files\\WGB Check";
constexpr char kBareDir[] = "C:\\wgb-bare";
// Owned by administrators, which alone may change it; users read.
constexpr char kAdministratorsOnly[] =
    "O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

PSECURITY_DESCRIPTOR Descriptor(const char *sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << sddl;
    return descriptor;
}

class Check : public testing::Test {
  protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() { CleanUpAfterService(); }
    // dir with the service's files, the check tool and this board list.
    std::string Prepare(const std::string &dir, const std::string &entry) {
        return PrepareInstallDir(dir, MainBoardIni({"6231", entry}));
    }
};

// The JSON fragment of a finding with this code and verdict.
std::string Finding(const char *code, const char *verdict) {
    return std::string("\"code\": \"") + code + "\", \"verdict\": \"" + verdict + "\"";
}

// The fields README's table lists, in its order.
std::vector<std::string> ReadmeFields() {
    std::string path = std::string("Z:") + WGB_SOURCE_DIR + "/README.md";
    std::replace(path.begin(), path.end(), '/', '\\');
    const std::string readme = ReadWholeFile(path);
    const std::string head = "| Field | What it holds |\n|---|---|\n";
    const std::size_t table = readme.find(head) + head.size();
    std::istringstream rows(readme.substr(table, readme.find("\n\n", table) - table));
    std::vector<std::string> fields;
    const std::regex name("`([A-Za-z]+)`");
    for (std::string row; std::getline(rows, row);) {
        const std::string first = row.substr(0, row.find(" | ", 1));
        for (std::sregex_iterator it(first.begin(), first.end(), name), end; it != end; ++it)
            fields.push_back((*it)[1]);
    }
    return fields;
}

// A symbolic link in the object namespace, there while its handle is open.
UniqueHandle DeviceLink(const wchar_t *name, const wchar_t *target) {
    using CreateLinkFn =
        LONG(WINAPI *)(HANDLE *, ACCESS_MASK, NtObjectAttributes *, NtCountedString *);
    const auto createLink =
        GetProcedure<CreateLinkFn>(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject");
    NtCountedString linkName = NtString(name);
    NtCountedString linkTarget = NtString(target);
    NtObjectAttributes attributes = NtObjectName(&linkName);
    HANDLE link = nullptr;
    if (!createLink || createLink(&link, 0xF0001 /* all access */, &attributes, &linkTarget) != 0)
        return UniqueHandle();
    return UniqueHandle(link);
}

// Each text occurs in the report, in this order.
void ExpectInOrder(const std::string &report, const std::vector<std::string> &texts) {
    std::size_t at = 0;
    for (const std::string &text : texts) {
        const std::size_t found = report.find(text, at);
        EXPECT_NE(std::string::npos, found) << text << "\n" << report;
        at = found == std::string::npos ? at : found;
    }
}

// Installed as documented, on a listed board: every check's finding OK, the
// JSON's fields as README lists them, and the watch sees a press at once and
// a release. The protection warns for what the test grants the users, which
// Windows would show too.
TEST_F(Check, ServedBoardIsAllOkAndTheWatchSeesThePress) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kServedDir, "WGB Test");
    PSECURITY_DESCRIPTOR usersWrite = Descriptor("D:(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1301bf;;;BU)");
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(usersWrite, &present, &dacl, &defaulted));
    std::string ini = dir + "WGB.ini";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              SetNamedSecurityInfoA(&ini[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, dacl, nullptr));
    LocalFree(usersWrite);
    const RunningService service = InstallAndWaitRunning(dir + "WGBService.exe");
    ASSERT_TRUE(WaitForDriverLoaded());
    // The next boot reads "Start" from the registry, whatever the Service
    // Control Manager holds until then: let the two differ.
    ASSERT_TRUE(ChangeStartType(kServiceName, SERVICE_DEMAND_START));
    WriteStartValue(kServiceName, SERVICE_AUTO_START);
    const DWORD on = 1;
    WriteRegistryValue(HKEY_LOCAL_MACHINE,
                       "SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                       "HypervisorEnforcedCodeIntegrity",
                       "Enabled", REG_DWORD, &on, sizeof on);
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof computer;
    ASSERT_TRUE(GetComputerNameA(computer, &size));

    // Who, when and what first, then the groups in the order of the checks,
    // each keyed alike on every Windows; on standard output no byte-order mark.
    std::string json;
    EXPECT_EQ(std::optional<DWORD>(1), RunProgram(Quoted(dir + "WGBCheck.exe") + " --json", &json))
        << json;
    const std::string version = WGB_FILE_VERSION;
    EXPECT_EQ(0u, json.find("{\"schema\": 1, \"checkVersion\": \"" + version + "\"")) << json;
    EXPECT_TRUE(std::regex_search(
        json, std::regex("\"checkedAt\": \"20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:"
                         "[0-6][0-9]Z\"")))
        << json;
    ExpectInOrder(
        json, {"\"computerName\": \"" + std::string(computer) + "\"",
               "\"serviceVersion\": \"" + version + "\", \"driverVersion\": \"",
               "\"result\": \"WARN\", \"exitCode\": 1, \"complete\": true",
               "\"windows\": {\"version\": \"", ", \"build\": ",
               "\"memoryIntegrity\": true}, \"package\": {\"productCode\": \"\", "
               "\"productVersion\": \"\"}",
               "\"files\": {\"driver\": \"Quendra", "\"missing\": []",
               "\"service\": {\"registered\": true", "\"start\": \"auto\", \"state\": \"running\"",
               "\"product\": \"WGB Test Board\", \"entries\": [\"6231\", \"WGB Test\"], "
               "\"matchingKey\": 2, \"inputPort\": 1292, \"inputBit\": 0",
               "\"driver\": {\"deviceOpen\": true}, \"button\": {\"level\": \"released\"}",
               "\"companionRunning\": false", "\"findings\": ["});
    std::vector<std::string> fields, findings;
    ASSERT_FALSE(ReadmeFields().empty());
    for (const std::string &field : ReadmeFields())
        fields.push_back((fields.empty() ? "{\"" : ", \"") + field + "\": ");
    ExpectInOrder(json, fields);
    for (const char *ok :
         {code::kFilesPresent, code::kServiceSound, code::kBoardListed, code::kBoardInput,
          code::kDriverOpen, code::kButtonReleased, code::kUserAtConsole})
        findings.push_back(Finding(ok, "OK"));
    ExpectInOrder(json, findings);
    EXPECT_NE(std::string::npos, json.find(Finding(code::kProtectionOthersMayChange, "WARN")));

    // The watch's lines go to a file, read while it runs.
    const std::string output = dir + "watch.txt";
    const UniqueHandle process =
        StartProgram(Quoted(dir + "WGBCheck.exe") + " --watch 3600", output);
    ASSERT_TRUE(process);
    const auto shows = [&](const char *text) {
        return WaitUntil([&] { return ReadWholeFile(output).find(text) != std::string::npos; });
    };
    sim::Control sim;
    EXPECT_TRUE(shows("released now: press it")) << ReadWholeFile(output);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kPressed));
    EXPECT_TRUE(shows(" s  pressed")) << ReadWholeFile(output);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kReleased));
    EXPECT_TRUE(shows(" s  released")) << ReadWholeFile(output);
    TerminateProcess(process.get(), 0);
    // A line OK for each check but the protection, which warns alone.
    const std::string lines = ReadWholeFile(output);
    for (const char *check : {"files", "service", "board", "driver", "button", "user"})
        EXPECT_NE(std::string::npos, lines.find(std::string("OK    ") + check)) << check;
    EXPECT_NE(std::string::npos, lines.find("WGB.ini")) << lines;
    for (std::size_t at = lines.find("WARN"); at != std::string::npos;
         at = lines.find("WARN", at + 1))
        EXPECT_EQ(0u, lines.compare(at, 16, "WARN  protection")) << lines;
    EXPECT_EQ(std::string::npos, lines.find("FAIL")) << lines;
}

// What is wrong on an installed machine, a --json run for each: each names
// its finding by its code. A WGB.ini saved with a UTF-8 byte-order mark,
// which Windows' profile functions read as part of its first line (Wine's do
// not: the cause is named all the same); a registration unquoted, from
// another folder, not automatic; a button held now; a driver whose reads
// fail; a service stopped.
TEST_F(Check, InstalledMachineFindingsByCode) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kServedDir, "WGB Test");
    const std::string exe = dir + "WGBService.exe";
    const RunningService service = InstallAndWaitRunning(exe);
    ASSERT_TRUE(WaitForDriverLoaded());
    sim::Control sim;
    const struct {
        const char *name;
        std::function<void()> change;
        const char *options;
        DWORD exitCode;
        std::vector<std::string> texts;
    } cases[] = {
        {"unquoted, mark before [MainBoard], held",
         [&] {
             ASSERT_TRUE(ChangeImagePath(kServiceName, exe));
             ASSERT_TRUE(sim.SetPort(sim::kButtonPort, sim::kPressed));
             ASSERT_TRUE(
                 WriteTextFile(dir + "WGB.ini", "\xEF\xBB\xBF" + MainBoardIni({"WGB Test"})));
         },
         "",
         2,
         {"\"iniUtf8Mark\": true", "\"level\": \"pressed\"",
          Finding(code::kServiceNotQuoted, "WARN"),
          Finding(code::kBoardMarkHidesMainBoard, "FAIL") +
              ", \"fact\": \"product \\\"WGB Test Board\\\" is not served: WGB.ini begins with a "
              "UTF-8 byte-order mark",
          "\"action\": \"save WGB.ini without a byte-order mark (ANSI)\"",
          Finding(code::kBoardInput, "INFO"), Finding(code::kButtonPressedNow, "INFO")}},
        {"mark before another section",
         [&] {
             ASSERT_TRUE(WriteTextFile(dir + "WGB.ini", "\xEF\xBB\xBF[Other]\r\nx=1\r\n" +
                                                            MainBoardIni({"WGB Test"})));
         },
         "",
         1,
         {Finding(code::kBoardListed, "OK"), Finding(code::kBoardMarkBeforeSection, "WARN"),
          Finding(code::kBoardInput, "OK")}},
        {"another folder",
         [&] { ASSERT_TRUE(ChangeImagePath(kServiceName, Quoted("C:\\WGB Old\\WGBService.exe"))); },
         "",
         2,
         {Finding(code::kServiceOtherFolder, "FAIL") +
          ", \"fact\": \"registered from another folder: \\\"C:\\\\WGB Old\\\\WGBService.exe\\\""}},
        {"demand start",
         [&] {
             ASSERT_TRUE(ChangeStartType(kServiceName, SERVICE_DEMAND_START));
             WriteStartValue(kServiceName, SERVICE_DEMAND_START);
         },
         "",
         1,
         {"\"start\": \"demand\"", Finding(code::kServiceNotAutoStart, "WARN")}},
        {"reads fail",
         [&] { ASSERT_TRUE(sim.FailReads(true)); },
         " --watch 1",
         2,
         {"\"result\": \"FAIL\", \"exitCode\": 2, \"complete\": true", "\"watchFailedReads\": ",
          Finding(code::kButtonReadFails, "FAIL"), Finding(code::kButtonWatchReadsFailed, "WARN")}},
        {"stopped",
         [&] { ASSERT_EQ(std::optional<DWORD>(0), StopService(kServiceName)); },
         "",
         1,
         {"\"state\": \"stopped\"", Finding(code::kServiceNotRunning, "WARN")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // Each case on the installation as documented, but for its change.
        ASSERT_TRUE(WriteTextFile(dir + "WGB.ini", MainBoardIni({"6231", "WGB Test"})));
        ASSERT_TRUE(ChangeImagePath(kServiceName, Quoted(exe)));
        ASSERT_TRUE(ChangeStartType(kServiceName, SERVICE_AUTO_START));
        WriteStartValue(kServiceName, SERVICE_AUTO_START);
        ASSERT_TRUE(sim.FailReads(false));
        ASSERT_TRUE(sim.SetPort(sim::kButtonPort, sim::kReleased));
        c.change();
        std::string json;
        EXPECT_EQ(std::optional<DWORD>(c.exitCode),
                  RunProgram(Quoted(dir + "WGBCheck.exe") + " --json" + c.options, &json))
            << json;
        ExpectInOrder(json, c.texts);
    }
    sim.FailReads(false);
}

// No service, no driver file, a board not listed (its Latin-1 text shown as
// WMI gives it): each says what to do, and the exit code is 2. The input the
// service would read is an INFO. The watch cannot run without the driver,
// and says so. From a folder whose path leaves the service's own too long to
// register, the advice is another folder, not an installation that would
// register nothing.
TEST_F(Check, BareFolderFailsWithWhatToDo) {
    SetBoardProduct("QX-1000 R\xE9v");
    for (const std::string &folder : {std::string(kBareDir), "C:\\" + std::string(238, 'b')}) {
        const std::string dir = Prepare(folder, "WGB Test");
        DeleteFileA((dir + "Quendra.sys").c_str());
        DeleteFileA((dir + "Quendra_X64.sys").c_str());
        const bool installable = dir.size() + 14 < 256;
        SCOPED_TRACE(dir.size());

        std::string lines;
        EXPECT_EQ(std::optional<DWORD>(2),
                  RunProgram(Quoted(dir + "WGBCheck.exe") + " --watch 1", &lines))
            << lines;
        ExpectInOrder(
            lines,
            {"FAIL  files      Quendra_X64.sys missing in " + dir,
             "FAIL  service    QTR_WGBService is not registered -> " +
                 (installable ? "run \"" + dir + "WGBService.exe\" -qtrinstall"
                              : std::string("install into a folder with a shorter path")),
             "FAIL  board      product \"QX-1000 R\xE9v\" is not listed in [MainBoard] of " + dir +
                 "WGB.ini (2 entries) -> add the line 3=QX-1000 R\xE9v under [MainBoard]",
             "INFO  board      the button is read at port 0x50C, bit 0",
             "FAIL  driver     the driver is not loaded; Quendra_1_0_T is not registered",
             "SKIP  button     the driver's device is not open",
             "SKIP  button     the watch: the driver's device is not open"});
    }
}

// In a folder without the service: WMI that does not answer (its provider
// kept from loading into the check tool, through Wine's own per-program
// setting) and a baseboard without a product text (a fake provider for the
// check tool alone) each have a fact and an advice of their own, and no input
// line, as the board's input is not known; a device name that leads to something that
// will not open (on Windows a file the test holds locked; Wine does not
// follow the link to a drive's file and answers "path not found") is no
// missing driver.
TEST_F(Check, WmiFailureNoProductTextAndARefusedDeviceAreToldApart) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kBareDir, "WGB Test");
    const std::string overrides = "Software\\Wine\\AppDefaults\\WGBCheck.exe\\DllOverrides";
    const std::string locked = dir + "locked.txt";
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string provider = std::string(system) + "\\wbem\\wbemprox.dll";
    UniqueHandle holder, link;
    const struct {
        const char *name;
        std::function<void()> change, undo;
        std::vector<std::string> lines;
        const char *absent;
    } cases[] = {
        {"WMI fails",
         [&] { WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "", 1); },
         [&] { RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str()); },
         {"FAIL  board      WMI does not answer the baseboard query -> make sure the service "
          "Windows Management Instrumentation (winmgmt) runs",
          "SKIP  button     the board's input is not known"},
         "the button is read at"},
        {"no product text",
         [&] {
             CopyFileOrFail(provider, provider + ".wine");
             CopyFileOrFail(ArtifactPath("fake_wbemprox.dll"), provider);
             WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "native", 7);
         },
         [&] {
             RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str());
             CopyFileOrFail(provider + ".wine", provider);
         },
         {"FAIL  board      the baseboard reports no product text to WMI",
          "SKIP  button     the board's input is not known"},
         "the button is read at"},
        {"device refused",
         [&] {
             ASSERT_TRUE(WriteTextFile(locked, "not a device"));
             holder.reset(CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
             ASSERT_TRUE(holder);
             link = DeviceLink(L"\\??\\Quendra_1_0_1", L"\\??\\C:\\wgb-bare\\locked.txt");
             ASSERT_TRUE(link);
         },
         [&] {
             link.reset();
             holder.reset();
         },
         {"FAIL  driver     the driver is loaded but refuses its device: Windows error ",
          "SKIP  button     the driver's device is not open"},
         "the driver is not loaded"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        std::string lines;
        EXPECT_EQ(std::optional<DWORD>(2), RunProgram(Quoted(dir + "WGBCheck.exe"), &lines))
            << lines;
        c.undo();
        ExpectInOrder(lines, c.lines);
        EXPECT_EQ(std::string::npos, lines.find(c.absent)) << lines;
    }
}

// --load brings the driver up as the service would and leaves the
// registration as it found it, saying what it did: a disabled one is not
// started (no start error; the advice is its start type) and stays; one
// --load made goes again after the report, also when Windows will not start
// the driver (whose start error is reported); one it found (registered for
// the build's stand-in) is pointed back at its own file.
TEST_F(Check, LoadLeavesTheRegistrationAsItFoundIt) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kBareDir, "WGB Test");
    const std::string driver = dir + DriverFile();
    const struct {
        const char *what;
        bool registered, disabled, broken;
        const char *said;
    } cases[] = {
        {"disabled", true, true, false, "sc config Quendra_1_0_T start= demand"},
        {"made", false, false, false,
         "--load stopped and deleted Quendra_1_0_T, which it registered"},
        {"found", true, false, false, "--load pointed Quendra_1_0_T back at "},
        {"will not start", false, false, true, "\"startError\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.registered) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
        }
        if (c.disabled) {
            ASSERT_TRUE(ChangeStartType(kDriverServiceName, SERVICE_DISABLED));
        }
        if (c.broken) {
            ASSERT_TRUE(WriteTextFile(driver, "not a driver image"));
        }
        const std::optional<ServiceConfig> before = QueryConfig(kDriverServiceName);
        std::string json;
        EXPECT_EQ(std::optional<DWORD>(2),
                  RunProgram(Quoted(dir + "WGBCheck.exe") + " --load --json", &json))
            << json;
        EXPECT_NE(std::string::npos, json.find(c.said)) << json;
        EXPECT_EQ(c.disabled, json.find("\"disabled\": true") != std::string::npos) << json;
        EXPECT_EQ(c.broken, json.find("\"startError\"") != std::string::npos) << json;
        if (before) {
            const std::optional<ServiceConfig> after = QueryConfig(kDriverServiceName);
            ASSERT_TRUE(after);
            EXPECT_EQ(before->imagePath, after->imagePath);
            EXPECT_EQ(before->start, after->start);
        } else {
            EXPECT_TRUE(WaitUntil([] { return ServiceGone(kDriverServiceName); }));
        }
        RemoveServiceIfPresent(kDriverServiceName);
    }
}

// --out writes the report in UTF-8, a folder's Latin-1 letters included,
// and nothing to standard output; it replaces the report there before. When
// the folder cannot be written or the replacement fails (a reader holds the
// old report without letting it go), the old report stays whole, no
// temporary file is left and the exit code is 3. --help and a bad argument
// tell how to call it.
TEST_F(Check, OutReplacesTheReportWholeOrNotAtAll) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare("C:\\Program Files\\WGB Pr\xFC"
                                    "fung",
                                    "WGB Test");
    const std::string check = Quoted(dir + "WGBCheck.exe");
    const std::string reports = "C:\\wgb-reports\\";
    MakeEmptyDir(reports);
    const std::string report = reports + "machine.json";
    for (const char *format : {"", " --json"}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(WriteTextFile(report, "the report before"));
        std::string shown;
        EXPECT_EQ(std::optional<DWORD>(2),
                  RunProgram(check + format + " --out " + Quoted(report), &shown));
        EXPECT_EQ("", shown);
        const std::string written = ReadWholeFile(report);
        EXPECT_NE(std::string::npos, written.find("WGB Pr\xC3\xBC"
                                                  "fung"))
            << written;
        EXPECT_EQ(std::string::npos, written.find("Pr\xFC"
                                                  "fung"))
            << written;
    }

    const std::string before = "{\"schema\": 1, \"the report\": \"before\"}\n";
    ASSERT_TRUE(WriteTextFile(report, before));
    {
        // A reader that lets nobody delete or rename the file meanwhile.
        const UniqueHandle reader(CreateFileA(report.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(reader);
        std::string shown;
        EXPECT_EQ(std::optional<DWORD>(3),
                  RunProgram(check + " --json --out " + Quoted(report), &shown));
        EXPECT_NE(std::string::npos, shown.find("cannot write")) << shown;
    }
    EXPECT_EQ(before, ReadWholeFile(report));
    EXPECT_EQ(std::optional<DWORD>(3),
              RunProgram(check + " --out " + Quoted(reports + "gone\\machine.txt")));
    WIN32_FIND_DATAA found = {}; // no temporary file left
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA((reports + "wgb*.tmp").c_str(), &found));

    std::string usage;
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(check + " --help", &usage));
    EXPECT_EQ(0u, usage.find("Usage: WGBCheck [--json]")) << usage;
    EXPECT_EQ(std::optional<DWORD>(3), RunProgram(check + " --watch 5s", &usage));
    EXPECT_NE(std::string::npos, usage.find("Usage: WGBCheck")) << usage;
}

// Who the companion would start for: nobody logged on, or shells only away
// from the console (a press then starts nothing), are facts of the moment, no
// faults; only a shell at the console is taken, and the user group names it
// alone.
TEST(CheckUser, SessionsOfTheShell) {
    const struct {
        std::vector<ProcessEntry> processes;
        DWORD console;
        const char *code;
        Verdict verdict;
    } cases[] = {
        {{{"WGB.exe", 9, 1}}, 1, code::kUserNobodyLoggedOn, Verdict::Info},
        {{{"explorer.exe", 8, 2}}, 1, code::kUserNotAtConsole, Verdict::Info},
        {{{"explorer.exe", 8, 2}, {"EXPLORER.EXE", 7, 1}}, 1, code::kUserAtConsole, Verdict::Ok},
        {{{"EXPLORER.EXE", 7, 1}, {"explorer.exe", 8, 2}}, 2, code::kUserAtConsole, Verdict::Ok},
    };
    for (const auto &c : cases) {
        Report report;
        CheckUser(c.processes, c.console, report);
        ASSERT_EQ(1u, report.Findings().size()) << c.code;
        EXPECT_EQ(c.code, report.Findings()[0].code);
        EXPECT_EQ(c.verdict, report.Findings()[0].verdict) << c.code;
        const std::string &fact = report.Findings()[0].fact;
        EXPECT_EQ(c.verdict == Verdict::Ok, fact.find("starts nothing") == std::string::npos)
            << fact;
    }
}

// A start Windows blocks (a signature refused, a driver on the blocklist) is
// told from any other start error, and each step's failure has its code.
TEST(CheckDriver, FailureOfBringUp) {
    const struct {
        DriverStep step;
        DWORD error;
        bool disabled;
        const char *code;
        const char *advice;
    } cases[] = {
        {DriverStep::Start, 577, false, code::kDriverStartBlocked, "signed for this Windows"},
        {DriverStep::Start, ERROR_DRIVER_BLOCKED, false, code::kDriverStartBlocked,
         "signed for this Windows"},
        {DriverStep::Start, ERROR_BAD_EXE_FORMAT, false, code::kDriverStartFailed,
         "use the maker's driver file for this Windows"},
        {DriverStep::Repoint, ERROR_SERVICE_MARKED_FOR_DELETE, false,
         code::kDriverRegistrationFailed, "or restart Windows"},
        {DriverStep::Create, ERROR_ACCESS_DENIED, false, code::kDriverRegistrationFailed,
         "a policy keeps"},
        {DriverStep::None, ERROR_SUCCESS, false, code::kDriverFileMissing, "driver file"},
        {DriverStep::Start, ERROR_SUCCESS, true, code::kDriverDisabled, "start= demand"},
        {DriverStep::Manager, ERROR_ACCESS_DENIED, false, code::kDriverNotElevated, "elevated"},
        {DriverStep::Device, ERROR_ACCESS_DENIED, false, code::kDriverDeviceRefused, "restart"},
    };
    for (const auto &c : cases) {
        DriverServiceReport install;
        install.failedStep = c.step;
        install.error = c.error;
        install.disabled = c.disabled;
        const DriverFailure failure = DriverFailureOf(install);
        EXPECT_STREQ(c.code, failure.code) << c.error;
        EXPECT_NE(std::string::npos, failure.advice.find(c.advice)) << failure.advice;
    }
}

// Every state a service reports has its own name.
TEST(CheckService, StateNames) {
    const std::pair<DWORD, const char *> cases[] = {
        {SERVICE_STOPPED, "stopped"},
        {SERVICE_START_PENDING, "starting"},
        {SERVICE_STOP_PENDING, "stopping"},
        {SERVICE_RUNNING, "running"},
        {SERVICE_CONTINUE_PENDING, "resuming"},
        {SERVICE_PAUSE_PENDING, "pausing"},
        {SERVICE_PAUSED, "paused"},
        {8, "8"},
    };
    for (const auto &[state, name] : cases)
        EXPECT_EQ(name, StateName(state));
}

// Write, append, delete, permission or owner rights of anyone but
// administrators, SYSTEM and TrustedInstaller warn; reading does not, nor
// entries only for what is created inside.
TEST(CheckProtection, OthersWhoMayChangeTheObject) {
    const struct {
        const char *sddl;
        std::vector<std::string> others;
    } cases[] = {
        {kAdministratorsOnly, {}},
        {"O:SYD:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)", {}},
        {"O:BAD:(A;OICIIO;FA;;;CO)(A;OICIIO;GA;;;BU)", {}},
        {"O:BAD:(A;;0x1301bf;;;BU)", {"BUILTIN\\Users"}},
        {"O:BAD:(A;;0x2;;;BU)", {"BUILTIN\\Users"}}, // write alone
        {"O:BAD:(A;;SD;;;BU)", {"BUILTIN\\Users"}},  // delete alone
        {"O:BAD:(A;;GW;;;BU)(A;;GA;;;AU)", {"BUILTIN\\Users", "NT AUTHORITY\\Authenticated Users"}},
        {"O:BAD:(A;;0x4;;;WD)(A;;0x40;;;IU)", {"Everyone", "NT AUTHORITY\\INTERACTIVE"}},
        {"O:BAD:(A;;WD;;;AU)(A;;WO;;;BU)", {"NT AUTHORITY\\Authenticated Users", "BUILTIN\\Users"}},
        {"O:BUD:(A;;FA;;;BA)", {"BUILTIN\\Users"}},
        {"O:BA", {"Everyone (no access list)"}},
    };
    for (const auto &c : cases) {
        PSECURITY_DESCRIPTOR descriptor = Descriptor(c.sddl);
        EXPECT_EQ(c.others, OthersWhoMayChange(descriptor)) << c.sddl;
        LocalFree(descriptor);
    }
}

} // namespace
