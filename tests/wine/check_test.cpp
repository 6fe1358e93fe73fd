// The check tool in Wine, for what only Windows' answers show: a served board
// end to end, a bare folder, WMI failing or giving no product text, --load
// leaving the registration as it found it, also when the tool is ended,
// --out replacing a report whole.
// The findings' rules are tested natively. Each JSON report is parsed here and
// kept for the schema's validator, which runs on them after this program
// (tests/json/with-reports-validated).

#include "check/judge.h"
#include "check/load_undo.h"
#include "hwaccess/io_driver.h"
#include "sim/sim_client.h"
#include "support/service_env.h"
#include "tests/json/report_codes.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace wgbtest;
using nlohmann::json;

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
    for (const char *key : {"ComputerName", "ActiveComputerName"}) {
        const std::string path =
            "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\" + std::string(key);
        UniqueRegKey names;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, names.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(names.get(), L"ComputerName", 0, REG_SZ,
                                                reinterpret_cast<const BYTE *>(name), sizeof name));
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
    WriteRegistryValue(HKEY_LOCAL_MACHINE,
                       "SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                       "HypervisorEnforcedCodeIntegrity",
                       "Enabled", REG_DWORD, &on, sizeof on);

    const json report = RunJson(dir, "", 1);
    EXPECT_EQ(
        "files.present OK, service.sound OK, board.listed OK, board.input OK, driver.open OK, "
        "button.released OK, user.atConsole OK",
        Codes(report, {"protection"}, false));
    EXPECT_EQ("PR\303\234F-\316\251", At(report, "/computerName"));
    EXPECT_EQ(WGB_FILE_VERSION, At(report, "/checkVersion"));
    EXPECT_EQ(WGB_FILE_VERSION, At(report, "/serviceVersion"));
    EXPECT_EQ(true, At(report, "/windows/memoryIntegrityConfigured"));

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
        SCOPED_TRACE(dir.size());

        const json report = RunJson(dir, " --watch 1", 2);
        EXPECT_EQ("files.missing FAIL, service.notRegistered FAIL, board.notListed FAIL, "
                  "board.input INFO, driver.notLoaded FAIL, button.notReadable SKIP, "
                  "button.watchNotReadable SKIP",
                  Codes(report, {"protection", "user"}, false));
        EXPECT_EQ("QX-1000 R\xC3\xA9v", At(report, "/board/product"));
        EXPECT_EQ(json({DriverFile()}), At(report, "/files/missing"));
        std::string advice;
        for (const json &finding : At(report, "/findings")) {
            if (finding.value("code", "") == "service.notRegistered")
                advice = finding.value("action", "");
        }
        EXPECT_EQ(dir.size() + 14 < 256, advice.find("-qtrinstall") != std::string::npos) << advice;
    }
    const std::string refusal = DeviceRefusalFolder();
    ASSERT_TRUE(CreateDirectoryA(refusal.c_str(), nullptr));
    const json refused = RunJson(kBareDir + std::string("\\"), "", 2);
    // Unelevated (as Wine 10 runs programs), a refused open asks for elevation first.
    EXPECT_EQ(At(refused, "/machine/elevated") == true ? "driver.deviceRefused FAIL"
                                                       : "driver.notElevated SKIP",
              Codes(refused, {"driver"}, true));
    RemoveDirectoryA(refusal.c_str());
}

// In a folder without the service: WMI that does not answer (its provider
// kept from loading into the check tool, through Wine's own per-program
// setting), then a baseboard without a product text (a fake provider for the
// check tool alone).
TEST_F(Check, WmiFailureAndNoProductTextAreToldApart) {
    SetBoardProduct("WGB Test Board");
    const std::string dir = Prepare(kBareDir);
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
        const std::optional<ServiceConfig> config = QueryConfig(session::kDriverServiceName);
        return config ? config->imagePath + ", start " + std::to_string(config->start) : "none";
    };
    // Found none, then registered, then disabled.
    for (const std::string found : {"driver.notLoaded", "driver.notLoaded", "driver.disabled"}) {
        const std::string before = registration();
        SCOPED_TRACE(before);
        const json report = RunJson(dir, " --load", 2);
        EXPECT_EQ("driver.loadRefused FAIL, " + found + " FAIL", Codes(report, {"driver"}, true));
        EXPECT_EQ(2u,
                  At(report, "/driver/loadRefusedFor").size()); // the folder and the driver file
        EXPECT_EQ(before, registration());
        if (before == "none")
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RegisterDriverService());
        else
            ASSERT_TRUE(ChangeStartType(session::kDriverServiceName, SERVICE_DISABLED));
    }
}

// Closing the console, logging off or shutting down ends the tool once the
// handler Windows calls returns: the registration --load made is gone by
// then, whether the console's handler is called or, as for a process with
// user32.dll loaded, a top-level window gets WM_ENDSESSION. Ctrl+C ends only
// the watch: the undo comes at the tool's end.
TEST_F(Check, LoadIsUndoneInsideTheHandlerOfTheToolsEnd) {
    const std::string dir = Prepare(kBareDir);
    constexpr DWORD kEndSession = ~0u; // WM_ENDSESSION to the hidden window
    for (const DWORD event : {DWORD{CTRL_CLOSE_EVENT}, DWORD{CTRL_LOGOFF_EVENT},
                              DWORD{CTRL_SHUTDOWN_EVENT}, kEndSession, DWORD{CTRL_C_EVENT}}) {
        SCOPED_TRACE(event);
        IoDriverState state = {};
        DriverServiceReport install;
        ASSERT_TRUE(OpenIoDriverIn(dir.c_str(), &state, &install) && install.created);
        std::free(state.pBuffer);
        ArmLoadUndo(install);
        HWND window = nullptr;
        if (event != kEndSession)
            OnConsoleControl(event);
        else if (WaitUntil([&] { return (window = FindWindowA("WGBCheckSessionEnd", 0)) != 0; })) {
            // Windows tells top-level windows of a session's end, not message-only ones.
            EXPECT_EQ(GetDesktopWindow(), GetAncestor(window, GA_PARENT));
            SendMessageA(window, WM_ENDSESSION, TRUE, 0);
        }
        const bool undone = event != CTRL_C_EVENT;
        EXPECT_EQ(undone, ServiceGone(session::kDriverServiceName));
        WinError error; // once only
        EXPECT_EQ(undone, TakeAndUndo(error) == LoadFacts::Undo::Nothing);
        EXPECT_TRUE(WaitUntil([] { return ServiceGone(session::kDriverServiceName); }));
    }
}

// --out writes the lines in UTF-8, a folder's Latin-1 letters included, and
// nothing to standard output. When the folder cannot be written or the
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
}

} // namespace
