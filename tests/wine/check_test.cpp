// The check tool in Wine, for what only Windows' answers show: a served board
// end to end, a bare folder, WMI failing or giving no product text, --load
// leaving the registration as it found it, also when the tool is ended,
// --out replacing a report whole.
// The findings' rules are tested natively. Each JSON report is parsed here and
// kept for the schema's validator, which runs on them after this program
// (tests/json/with-reports-validated).

#include "check/judge.h"
#include "check/load_undo.h"
#include "check/render.h"
#include "common/ansi_text.h"
#include "hwaccess/io_driver.h"
#include "sim/sim_client.h"
#include "support/service_env.h"
#include "support/service_object_lock.h"
#include "tests/json/report_codes.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace wgbtest;
using nlohmann::json;
// The test's own name, not the product's constant.
using session::kDriverServiceName;

constexpr char kServedDir[] = "C:\\Program Files\\WGB Check";
constexpr char kBareDir[] = "C:\\wgb-bare";

class Check : public testing::Test {
  protected:
    void SetUp() override { CleanUpAfterService(); }
    void TearDown() override { CleanUpAfterService(); }
};

// dir with the service's files, the check tool and a list that serves "WGB Test".
std::string Prepare(const std::string &dir) {
    return PrepareInstallDir(dir, MainBoardIni({"6231", "WGB Test"}));
}

// Runs the check tool with --json and these options: its exit code, and its report.
json RunJson(const std::string &dir, const std::string &options, DWORD exitCode) {
    std::string text;
    EXPECT_EQ(std::optional<DWORD>(exitCode),
              RunProgram(Quoted(dir + "WGBCheck.exe") + " --json" + options, &text))
        << text;
    return KeptReport(text);
}

// The member at the JSON pointer, null when the report has none: a group
// missing from a report fails the expectation, not the test program.
json At(const json &report, const char *pointer) {
    return report.is_object() ? report.value(json::json_pointer(pointer), json()) : json();
}

// Installed as documented, on a listed board, under a computer name outside
// the ANSI code page, which reaches the JSON as UTF-8: every check OK but the
// protection, which warns for what Wine grants the logged-on user. The watch
// sees a press at once and a release.
TEST_F(Check, ServedBoardIsAllOkAndTheWatchSeesThePress) {
    const wchar_t name[] = L"PR\u00DCF-\u03A9"; // "PRÜF-Ω": no Ω in code page 1252
    for (const wchar_t *key : {L"ComputerName", L"ActiveComputerName"}) {
        const std::wstring path = L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\";
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, (path + key).c_str(),
                                                 L"ComputerName", REG_SZ, name, sizeof name));
    }
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kServedDir);
    const RunningService service = InstallAndWaitRunning(dir + "WGBService.exe");
    ASSERT_TRUE(WaitForDriverLoaded());
    // The next boot reads "Start" from the registry, whatever the Service
    // Control Manager holds until then: let the two differ.
    ASSERT_TRUE(ChangeStartType(kServiceName, SERVICE_DEMAND_START));
    WriteStartValue(kServiceName, SERVICE_AUTO_START);
    const DWORD on = 1;
    const char *integrity = "SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                            "HypervisorEnforcedCodeIntegrity";
    WriteRegistryValue(HKEY_LOCAL_MACHINE, integrity, "Enabled", REG_DWORD, &on, sizeof on);

    const json report = RunJson(dir, "", 1);
    EXPECT_EQ(
        "files.present OK, service.sound OK, board.listed OK, board.input OK, driver.open OK, "
        "button.released OK, user.atConsole OK",
        Codes(report, {"protection"}, false));
    EXPECT_EQ("PR\303\234F-\316\251", At(report, "/computerName"));
    EXPECT_EQ(true, At(report, "/windows/memoryIntegrityConfigured"));
    EXPECT_EQ(TokenUserName(), At(report, "/user/name"));

    // Then each fact the other way, as Windows answers it: the registry says
    // nothing of memory integrity, a read fails, the service stops, its image
    // path is unquoted, then another folder's. The driver stays loaded.
    sim::Control sim;
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, integrity));
    EXPECT_EQ(json(), At(RunJson(dir, "", 1), "/windows/memoryIntegrityConfigured"));
    ASSERT_TRUE(sim.FailReads(true));
    EXPECT_EQ("button.readFails FAIL", Codes(RunJson(dir, "", 2), {"button"}, true));
    ASSERT_TRUE(sim.FailReads(false));
    ASSERT_EQ(std::optional<DWORD>(0), StopService(kServiceName));
    for (const auto &[imagePath, codes] :
         {std::pair{dir + "WGBService.exe", "service.notQuoted WARN, service.notRunning FAIL"},
          {"C:\\WGB\\WGBService.exe", "service.otherFolder FAIL, service.notRunning FAIL"}}) {
        // Wine's Service Control Manager writes its start type back with the path.
        ASSERT_TRUE(ChangeImagePath(kServiceName, imagePath));
        WriteStartValue(kServiceName, SERVICE_AUTO_START);
        EXPECT_EQ(codes, Codes(RunJson(dir, "", 2), {"service"}, true));
    }

    // The watch's lines go to a file, read while it runs.
    const std::string output = dir + "watch.txt";
    const UniqueHandle process =
        StartProgram(Quoted(dir + "WGBCheck.exe") + " --watch 3600", output);
    ASSERT_TRUE(process);
    const auto shows = [](const std::string &file, const char *text) {
        return WaitUntil([&] { return ReadWholeFile(file).find(text) != std::string::npos; });
    };
    EXPECT_TRUE(shows(output, "released now: press it")) << ReadWholeFile(output);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kPressed));
    EXPECT_TRUE(shows(output, " s  pressed")) << ReadWholeFile(output);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kReleased));
    EXPECT_TRUE(shows(output, " s  released")) << ReadWholeFile(output);
    TerminateProcess(process.get(), 0);

    // Held from the start: the first sample is no change, the release is.
    const std::string held = dir + "held.txt";
    ASSERT_TRUE(sim.SetPort(sim::kButtonPort, sim::kPressed));
    const UniqueHandle holding = StartProgram(Quoted(dir + "WGBCheck.exe") + " --watch 3600", held);
    EXPECT_TRUE(shows(held, "pressed now: press it")) << ReadWholeFile(held);
    EXPECT_TRUE(sim.SetPort(sim::kButtonPort, sim::kReleased));
    EXPECT_TRUE(shows(held, " s  released")) << ReadWholeFile(held);
    TerminateProcess(holding.get(), 0);
    EXPECT_EQ(std::string::npos, ReadWholeFile(held).find(" s  pressed")) << ReadWholeFile(held);
}

// No service, no driver file, a board not listed (its Latin-1 text in UTF-8
// in the JSON): each its finding, and the watch cannot run without the
// driver. From a folder whose path leaves the service's own too long to
// register, the advice is another folder. A device that is there but refuses
// to open is told apart from a driver not loaded, by elevation.
TEST_F(Check, BareFolderFailsWithWhatToDo) {
    SetBoardProduct("QX-1000 R\xE9v");
    for (const std::string &folder : {std::string(kBareDir), "C:\\" + std::string(238, 'b')}) {
        const std::string dir = Prepare(folder);
        DeleteFileA((dir + "Quendra.sys").c_str());
        DeleteFileA((dir + "Quendra_X64.sys").c_str());
        CopyFileOrFail(ArtifactPath("planted\\WGBService.exe"), dir + "WGB.exe"); // 99.0.0.0
        SCOPED_TRACE(dir.size());

        const json report = RunJson(dir, " --watch 1", 2);
        EXPECT_EQ("files.missing FAIL, service.notRegistered FAIL, board.notListed FAIL, "
                  "board.input INFO, driver.notLoaded FAIL, button.notReadable SKIP, "
                  "button.watchNotReadable SKIP",
                  Codes(report, {"protection", "user"}, false));
        EXPECT_EQ("QX-1000 R\xC3\xA9v", At(report, "/board/product"));
        EXPECT_EQ(json({DriverFile()}), At(report, "/files/missing"));
        EXPECT_EQ(json({WGB_FILE_VERSION, WGB_FILE_VERSION, "", "99.0.0.0"}), // each file's own
                  json({At(report, "/checkVersion"), At(report, "/serviceVersion"),
                        At(report, "/driverVersion"), At(report, "/companionVersion")}));
        // -qtrinstall advised only where it can register (the rest is the native test's).
        EXPECT_EQ(dir.size() + 14 < 256, report.dump().find("-qtrinstall") != std::string::npos);
    }
    const std::string refusal = DeviceRefusalFolder();
    ASSERT_TRUE(CreateDirectoryA(refusal.c_str(), nullptr));
    const json refused = RunJson(kBareDir + std::string("\\"), "", 2);
    // Unelevated (as Wine 10 runs programs), a refused open asks for elevation
    // first: the tool runs with this process's token.
    EXPECT_EQ(TokenElevated() ? "driver.deviceRefused FAIL" : "driver.notElevated SKIP",
              Codes(refused, {"driver"}, true));
    RemoveDirectoryA(refusal.c_str());
}

// In a folder without the service: a WGB.ini that begins with a UTF-8
// byte-order mark, which hides [MainBoard] from Windows; WMI that does not
// answer (its provider kept from loading into the check tool, through Wine's
// own per-program setting), then a baseboard without a product text (a fake
// provider for the check tool alone).
TEST_F(Check, WmiFailureAndNoProductTextAreToldApart) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kBareDir);
    ASSERT_TRUE(WriteTextFile(dir + "WGB.ini", "\xEF\xBB\xBF" + MainBoardIni({"WGB Test"})));
    EXPECT_EQ("board.markHidesMainBoard FAIL, board.input INFO",
              Codes(RunJson(dir, "", 2), {"board"}, true));
    const std::string overrides = "Software\\Wine\\AppDefaults\\WGBCheck.exe\\DllOverrides";
    const std::string provider =
        std::string(std::getenv("SystemRoot")) + "\\system32\\wbem\\wbemprox.dll";
    WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "", 1);
    EXPECT_EQ("board.wmiFailed FAIL", Codes(RunJson(dir, "", 2), {"board"}, true));
    CopyFileOrFail(provider, provider + ".wine");
    CopyFileOrFail(ArtifactPath("fake_wbemprox.dll"), provider);
    WriteRegistryValue(HKEY_CURRENT_USER, overrides, "wbemprox", REG_SZ, "native", 7);
    EXPECT_EQ("board.noProductText FAIL", Codes(RunJson(dir, "", 2), {"board"}, true));
    RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str());
    CopyFileOrFail(provider + ".wine", provider);
}

// --load loads a kernel driver, elevated, from where the tool lies: in a
// folder others may change (in Wine every file's owner is the logged-on
// user, whose unelevated programs may change it) it loads nothing and leaves
// the registration as it found it, none, disabled or found. What bring-up
// and its undo do is the service's, tested with it; their findings are
// judged natively.
TEST_F(Check, LoadRefusesAFolderOthersMayChangeAndLeavesTheRegistration) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kBareDir);
    const auto registration = [] {
        const std::optional<ServiceConfig> config = QueryConfig(kDriverServiceName);
        return config ? config->imagePath + ", start " + std::to_string(config->start) : "none";
    };
    // Found none, then registered, then disabled.
    for (const std::string found : {"driver.notLoaded", "driver.notLoaded", "driver.disabled"}) {
        const std::string before = registration();
        SCOPED_TRACE(before);
        const json report = RunJson(dir, " --load", 2);
        EXPECT_EQ("driver.loadRefused FAIL, " + found + " FAIL", Codes(report, {"driver"}, true));
        // The folder and the driver file.
        EXPECT_EQ(2u, At(report, "/driver/loadRefusedFor").size());
        EXPECT_EQ(before, registration());
        if (before == "none")
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
        else
            ASSERT_TRUE(ChangeStartType(session::kDriverServiceName, SERVICE_DISABLED));
    }
}

// The driver's registration as found: "none", or its image path ("@" for
// ours, "other" for the one found before), "marked" for deletion, its state.
std::string Registration(const std::string &ours, const std::string &other) {
    const std::optional<ServiceConfig> config = QueryConfig(kDriverServiceName);
    const std::string path = config ? config->imagePath : "none";
    const bool marked = config && !ChangeStartType(kDriverServiceName, SERVICE_DEMAND_START);
    const bool runs = ServiceState(kDriverServiceName) == SERVICE_RUNNING;
    return !config ? path
                   : (path == ours    ? "@"
                      : path == other ? "other"
                                      : path) +
                         (marked ? " marked " : " ") + (runs ? "running" : "stopped");
}

// --load's bring-up and undo on every path after its first change, driven in
// this process (in Wine the tool refuses --load: every file is the logged-on
// user's): the registration found (none, or another folder's file), what
// happens meanwhile, how the tool ends; then what the report says and the
// registration as found again. Closing the console, logging off or shutting
// down ends the tool once the handler Windows calls returns: the undo is done
// by then, through the console's handler or, as for a process with
// user32.dll loaded, a top-level window's WM_ENDSESSION, and never again at
// the end. Ctrl+C ends only the watch: the undo comes at the tool's end.
TEST_F(Check, LoadUndoesWhatItDidOnEveryPathAndSaysWhatIsLeft) {
    enum Meanwhile { Nothing, StartFails, NoDevice, WontStop, NoDelete, HeldOpen, Changed };
    constexpr DWORD kEnd = ~0u, kEndSession = ~1u;
    const struct {
        bool foundOther;
        Meanwhile meanwhile;
        DWORD end;         // a console event, WM_ENDSESSION or the tool's end
        const char *codes; // the report's driver findings
        const char *after; // the registration then ("@" ours, "other" the one found)
    } cases[] = {
        {false, Nothing, kEnd, "driver.open OK, driver.loadUndone OK", "none"},
        {true, Nothing, kEnd, "driver.open OK, driver.loadUndone OK", "other stopped"},
        {false, StartFails, kEnd, "driver.startFailed FAIL, driver.loadUndone OK", "none"},
        {false, NoDevice, kEnd, "driver.deviceRefused FAIL, driver.loadUndone OK", "none"},
        {false, WontStop, kEnd, "driver.open OK, driver.loadNotUndone WARN", "@ marked running"},
        {true, WontStop, kEnd, "driver.open OK, driver.loadNotUndone WARN", "other running"},
        {false, NoDelete, kEnd, "driver.open OK, driver.loadNotUndone WARN", "@ stopped"},
        {false, HeldOpen, kEnd, "driver.open OK, driver.loadNotUndone WARN", "@ marked stopped"},
        {false, Changed, kEnd, "driver.open OK, driver.loadNotUndone WARN",
         "C:\\other.sys running"},
        {false, Nothing, CTRL_CLOSE_EVENT, "driver.open OK", "none"},
        {false, Nothing, CTRL_LOGOFF_EVENT, "driver.open OK", "none"},
        {true, Nothing, CTRL_SHUTDOWN_EVENT, "driver.open OK", "other stopped"},
        {false, Nothing, kEndSession, "driver.open OK", "none"},
        {false, Nothing, CTRL_C_EVENT, "driver.open OK, driver.loadUndone OK", "none"},
    };
    const std::string dir = Prepare(kBareDir), broken = Prepare("C:\\wgb-not-a-driver");
    ASSERT_TRUE(WriteTextFile(broken + DriverFile(), "not a driver image"));
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), c.foundOther ? RegisterDriverService() : 0);
        const std::string other = c.foundOther ? QueryConfig(kDriverServiceName)->imagePath : "";
        // A device that refuses every open once the driver has started.
        ASSERT_TRUE(c.meanwhile != NoDevice || AroundServiceStarts(nullptr, [] {
                        CreateDirectoryA(DeviceRefusalFolder().c_str(), nullptr);
                    }));
        CheckFacts facts; // a device not there: --load's bring-up
        facts.driver = DriverFacts{false, true, {}, false, {}, {}, {}};
        const std::string folder = c.meanwhile == StartFails ? broken : dir;
        facts.driver->load = LoadDriver(folder, facts.driver->deviceOpen);
        RemoveDirectoryA(DeviceRefusalFolder().c_str());
        const std::string ours = folder + DriverFile();
        ASSERT_TRUE(c.meanwhile != WontStop || sim::Control().RefuseUnload(true));
        // A policy that lets nobody delete it (owned by SYSTEM, as services are).
        ASSERT_TRUE(c.meanwhile != NoDelete ||
                    LockServiceObjects("O:SYG:SYD:(A;;CCDCLCSWRPWPDTLOCRRC;;;WD)"));
        ASSERT_TRUE(c.meanwhile != Changed || ChangeImagePath(kDriverServiceName, "C:\\other.sys"));
        UniqueServiceHandle held; // as the Services console may
        if (c.meanwhile == HeldOpen)
            held = OpenServiceByName(kDriverServiceName, SERVICE_QUERY_STATUS);
        const HWND window = FindWindowA("WGBCheckSessionEnd", nullptr); // since the first arming
        if (c.end == kEndSession) {
            // Windows tells top-level windows of a session's end, not message-only ones.
            EXPECT_EQ(GetDesktopWindow(), GetAncestor(window, GA_PARENT));
            SendMessageA(window, WM_ENDSESSION, TRUE, 0);
        } else if (c.end != kEnd) {
            OnConsoleControl(c.end);
        }
        if (c.end != kEnd) {
            EXPECT_EQ(c.end == CTRL_C_EVENT ? "@ running" : c.after, Registration(ours, other));
        }
        UndoLoad(facts);
        RestoreServiceCalls();
        EXPECT_EQ(c.codes, Codes(json::parse(ReportJson(facts, Judge(facts))), {"driver"}, true));
        EXPECT_EQ(c.after, Registration(ours, other));
        held.reset();
        if (c.meanwhile == WontStop) { // marked for deletion, it goes at the restart
            DeleteService(OpenServiceByName(kDriverServiceName, DELETE).get());
            EndDriverAsARestartWould();
        }
        RemoveServiceIfPresent(kDriverServiceName);
    }
}

// --out writes the lines in UTF-8, a folder's Latin-1 letters included, and
// nothing to standard output; a path outside the ANSI code page is written
// as it is. When the folder cannot be written or the
// replacement fails (a reader holds the old report without letting it go),
// the old report stays whole, no temporary file is left and the exit code is
// its own, not a bad argument's.
TEST_F(Check, OutReplacesTheReportWholeOrNotAtAll) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare("C:\\Program Files\\WGB Pr\374fung"); // "Prüfung" in 1252
    const std::string check = Quoted(dir + "WGBCheck.exe");
    const std::string reports = "C:\\wgb-reports\\", report = reports + "machine.json";
    MakeEmptyDir(reports);
    ASSERT_TRUE(WriteTextFile(report, "the report before"));
    std::string shown;
    EXPECT_EQ(std::optional<DWORD>(2), RunProgram(check + " --out " + Quoted(report), &shown));
    EXPECT_EQ("", shown);
    EXPECT_NE(std::string::npos, ReadWholeFile(report).find("WGB Pr\303\274fung"))
        << ReadWholeFile(report);

    const std::string before = "{\"the report\": \"before\"}\n";
    ASSERT_TRUE(WriteTextFile(report, before));
    {
        // A reader that lets nobody delete or rename the file meanwhile.
        const UniqueHandle reader(CreateFileA(report.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_EQ(std::optional<DWORD>(kExitNotWritten),
                  RunProgram(check + " --json --out " + Quoted(report), &shown));
        EXPECT_NE(std::string::npos, shown.find("cannot write")) << shown;
    }
    EXPECT_EQ(before, ReadWholeFile(report));
    EXPECT_EQ(std::optional<DWORD>(kExitNotWritten),
              RunProgram(check + " --out " + Quoted(reports + "gone\\machine.txt")));
    EXPECT_EQ(std::optional<DWORD>(kExitBadArgument), RunProgram(check + " --out"));
    WIN32_FIND_DATAA found = {}; // no temporary file left
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA((reports + "wgb*.tmp").c_str(), &found));

    // A folder and a report path with a letter the ANSI code page lacks: the
    // report lands at that path, names the folder whole and tells that the
    // service, which reads its path in that code page, cannot work there.
    const std::wstring omega = L"C:\\wgb-\u03A9\\", tool = omega + L"WGBCheck.exe";
    ASSERT_TRUE(CreateDirectoryW(omega.c_str(), nullptr) &&
                CopyFileW(WideFrom(dir + "WGBCheck.exe", CP_ACP).c_str(), tool.c_str(), FALSE));
    EXPECT_EQ(std::optional<DWORD>(2),
              RunProgram(L"\"" + tool + L"\" --json --out " + omega + L"\u03A9.json"));
    ASSERT_TRUE(CopyFileW((omega + L"\u03A9.json").c_str(), L"C:\\wgb-reports\\omega.json", 0));
    const json named = KeptReport(ReadWholeFile(reports + "omega.json"));
    EXPECT_EQ("files.pathNotInCodePage FAIL", Codes(named, {}, false));
    EXPECT_EQ("C:\\wgb-\xCE\xA9\\", At(named, "/machine/directory"));
}

} // namespace
