// The service host with the real executable, the SCM and the registry:
// self-installation and removal, the command-line switches, the stop paths and
// the hidden window with its single worker thread.

#include "support/service_desktop.h"
#include "support/service_run.h"
#include "support/service_thread_watch.h"
#include "support/wine_env.h"

#include "common/win_handles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace wgbtest;

constexpr char kBlankInstallDir[] = "C:\\Program Files\\WGB Service";
// Where Windows and Wine look first for the unquoted "C:\Program Files\WGB
// Service\WGBService.exe": a program planted there would run instead.
constexpr char kHijackPath[] = "C:\\Program.exe";
constexpr char kHijackRecord[] = "C:\\Program.exe.ran";
constexpr DWORD kOwnProcess = SERVICE_WIN32_OWN_PROCESS;
constexpr DWORD kAcceptStopAndShutdown = 5;
constexpr DWORD kAutoStart = 2;
constexpr DWORD kDemandStart = 3;

// Only the service executable: no INI, so the worker finds no served board and
// the service idles.
InstallLayout ServiceOnly() {
    InstallLayout layout;
    layout.driver32 = false;
    layout.driver64 = false;
    layout.companion = false;
    return layout;
}

std::optional<DWORD> StartValue() {
    return ReadRegistryDword(HKEY_LOCAL_MACHINE, ServiceKey(kServiceName), "Start");
}

// The running service's process, opened so that its end and exit code can be
// seen and a thread can be started in it.
UniqueHandle OpenServiceProcess(DWORD pid) {
    return UniqueHandle(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
}

std::optional<DWORD> WaitForExitCode(const UniqueHandle &process) {
    if (WaitForSingleObject(process.get(), kDeadlineMs) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

// Sleep(0) as a thread's start routine: a thread that ends at once. Wine maps
// kernel32 at the same address in every process, so the address serves for a
// thread started in another process.
LPTHREAD_START_ROUTINE SleepAsThreadStart() {
    void *sleep =
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep"));
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(sleep);
}

class ServiceHostTest : public testing::Test {
  protected:
    void SetUp() override {
        RemoveServiceIfPresent(kServiceName);
        KillProcessesNamed("WGBService.exe");
    }
    void TearDown() override {
        RemoveServiceIfPresent(kServiceName);
        KillProcessesNamed("WGBService.exe");
        DeleteFileA(kHijackPath);
        DeleteFileA(kHijackRecord);
    }

    // Lays out dir with the service executable and returns its path.
    std::string PrepareServiceExe(const std::string &dir = kBlankInstallDir) {
        return PrepareInstallDir(ServiceOnly(), dir) + "WGBService.exe";
    }

    // Runs the executable as a user would; the run must end with exit code 0.
    void RunAndExpectZero(const std::string &cmdLine) {
        EXPECT_EQ(std::optional<DWORD>(0), RunProgram(cmdLine)) << cmdLine;
    }
};

// One start serves: registration, the running report, the planted program,
// a stop, a second install over the stopped service, removal of a stopped
// service.
TEST_F(ServiceHostTest, InstallRegistersQuotedPathStartsAndStops) {
    DeleteFileA(kHijackRecord);
    CopyFileOrFail(ArtifactPath("service_hijack_probe.exe"), kHijackPath);
    const std::string exe = PrepareServiceExe();

    RunAndExpectZero(Quoted(exe) + " -qtrinstall");

    std::optional<ServiceConfig> config = QueryServiceConfiguration(kServiceName);
    ASSERT_TRUE(config);
    EXPECT_EQ(kOwnProcess, config->serviceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->errorControl);
    EXPECT_EQ("LocalSystem", config->account);
    EXPECT_EQ(Quoted(exe), config->imagePath);
    // Created with demand start; automatic start only through the registry
    // value, which the SCM reads at its next start.
    EXPECT_EQ(kDemandStart, config->startType);
    EXPECT_EQ(std::optional<DWORD>(kAutoStart), StartValue());

    ASSERT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING));
    std::optional<SERVICE_STATUS_PROCESS> status = ServiceStatus(kServiceName);
    ASSERT_TRUE(status);
    // The SCM shows the registered type, not the 0x130 the service reports.
    EXPECT_EQ(kAcceptStopAndShutdown, status->dwControlsAccepted);
    const std::vector<DWORD> servicePids = ProcessesNamed("WGBService.exe");
    EXPECT_EQ(std::vector<DWORD>{status->dwProcessId}, servicePids);
    EXPECT_FALSE(FileExists(kHijackRecord)) << ReadTextFile(kHijackRecord);
    EXPECT_TRUE(ProcessesNamed("Program.exe").empty());

    // An interrogation answers with the unchanged status.
    EXPECT_TRUE(ControlServiceByName(kServiceName, SERVICE_CONTROL_INTERROGATE));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kServiceName));

    // Stop: reported stopped with exit code 0, and the process ends with 0.
    UniqueHandle process = OpenServiceProcess(status->dwProcessId);
    ASSERT_TRUE(process);
    EXPECT_TRUE(ControlServiceByName(kServiceName, SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_STOPPED));
    status = ServiceStatus(kServiceName);
    ASSERT_TRUE(status);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), status->dwWin32ExitCode);
    EXPECT_EQ(std::optional<DWORD>(0), WaitForExitCode(process));

    // A second install finds the service: it neither starts it nor writes
    // "Start". Both would have happened before the install run ended.
    WriteRegistryDword(HKEY_LOCAL_MACHINE, ServiceKey(kServiceName), "Start", kDemandStart);
    RunAndExpectZero(Quoted(exe) + " -qtrinstall");
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kServiceName));
    EXPECT_TRUE(ProcessesNamed("WGBService.exe").empty());
    EXPECT_EQ(std::optional<DWORD>(kDemandStart), StartValue());

    // Removal of a stopped service deletes it.
    RunAndExpectZero(Quoted(exe) + " -qtruninstall");
    EXPECT_TRUE(WaitUntil([] { return !ServiceExists(kServiceName); }));
    EXPECT_FALSE(FileExists(kHijackRecord));
}

// The planted program is a real threat: registered without quotes, the same
// path runs it instead of the service. This is what the quotes prevent.
TEST_F(ServiceHostTest, PlantedProgramRunsForAnUnquotedPath) {
    constexpr char kUnquotedService[] = "WGB_UnquotedPathCheck";
    DeleteFileA(kHijackRecord);
    CopyFileOrFail(ArtifactPath("service_hijack_probe.exe"), kHijackPath);
    const std::string exe = PrepareServiceExe();
    {
        UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager);
        UniqueServiceHandle service(
            CreateServiceA(manager.get(), kUnquotedService, kUnquotedService, SERVICE_ALL_ACCESS,
                           kOwnProcess, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, exe.c_str(),
                           nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service);
        StartServiceA(service.get(), 0, nullptr);
    }
    EXPECT_TRUE(WaitUntil([] { return FileExists(kHijackRecord); }));
    RemoveServiceIfPresent(kUnquotedService);
}

TEST_F(ServiceHostTest, UninstallOfARunningServiceStopsItThenDeletesIt) {
    const std::string exe = PrepareServiceExe();
    const DWORD pid = InstallAndWaitRunning(exe).pid;
    UniqueHandle process = OpenServiceProcess(pid);
    ASSERT_TRUE(process);

    // Without the stop request the service would run on, marked for deletion,
    // and never go away.
    RunAndExpectZero(Quoted(exe) + " -qtruninstall");
    EXPECT_EQ(std::optional<DWORD>(0), WaitForExitCode(process));
    EXPECT_TRUE(WaitUntil([] { return !ServiceExists(kServiceName); }));
}

// Each step runs the executable with the quoted program name (the path has
// blanks) followed by the text, and says whether the service exists after it.
struct SwitchStep {
    const char *arguments;
    bool serviceAfter;
};

const SwitchStep kSwitchSteps[] = {
    {"", false},
    {" -qtrinstall word", false},
    {" /qtrinstall", false},
    {" --qtrinstall", false},
    {" -qtrinstall ", false},
    {" -QTRINSTALL", true},
    {" -qtruninstall now", true},
    {" /qtruninstall", true},
    {" -QtrUnInstall", false},
    {" \t  \t -qTRinSTall", true},
    {"\t\t-qtruninstall", false},
};

TEST_F(ServiceHostTest, SwitchesMatchWholeAndInAnyCase) {
    const std::string exe = PrepareServiceExe();
    bool installed = false;
    for (const SwitchStep &step : kSwitchSteps) {
        const std::string cmdLine = Quoted(exe) + step.arguments;
        RunAndExpectZero(cmdLine);
        if (step.serviceAfter && !installed) {
            EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING)) << cmdLine;
        }
        if (!step.serviceAfter && installed) {
            EXPECT_TRUE(WaitUntil([] { return !ServiceExists(kServiceName); })) << cmdLine;
        }
        // A switch that selects nothing leaves things as they were at once.
        EXPECT_EQ(step.serviceAfter, ServiceExists(kServiceName)) << cmdLine;
        installed = step.serviceAfter;
    }
}

// A path of 255 characters fits the 256-byte module path buffer and installs;
// one character more would be registered truncated, so nothing is installed.
TEST_F(ServiceHostTest, ModulePathAtTheBufferLimit) {
    const std::string root = "C:\\WGB Long\\";
    const std::string file = "\\WGBService.exe";
    for (size_t length : {size_t{255}, size_t{256}}) {
        SCOPED_TRACE(length);
        const std::string dir = root + std::string(length - root.size() - file.size(), 'd');
        const std::string exe = PrepareServiceExe(dir);
        ASSERT_EQ(length, exe.size());

        RunAndExpectZero(Quoted(exe) + " -qtrinstall");
        std::optional<ServiceConfig> config = QueryServiceConfiguration(kServiceName);
        if (length < 256) {
            ASSERT_TRUE(config);
            EXPECT_EQ(Quoted(exe), config->imagePath);
            EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING));
            RemoveServiceIfPresent(kServiceName);
        } else {
            EXPECT_FALSE(config);
        }
        RemoveDirectoryTree(dir);
    }
}

// The hidden window on the services' desktop: a second WM_CREATE starts no
// second worker, and WM_CLOSE makes the service report stopped by itself.
TEST_F(ServiceHostTest, HiddenWindowKeepsOneWorkerAndEndsTheServiceOnClose) {
    const std::string exe = PrepareServiceExe();
    const DWORD pid = InstallAndWaitRunning(exe).pid;
    UniqueHandle process = OpenServiceProcess(pid);
    ASSERT_TRUE(process);

    ServiceDesktopScope desktop;
    ASSERT_TRUE(desktop.entered()) << "error " << GetLastError();
    HWND window = WaitForWindow("WINWGBWND", "WinWgbWnd");
    ASSERT_NE(nullptr, window);
    DWORD windowPid = 0;
    GetWindowThreadProcessId(window, &windowPid);
    EXPECT_EQ(pid, windowPid);

    // The worker's thread may well have ended already (the board is not
    // served), so a second worker could not be counted alive: the watch sees
    // every thread start instead, and tells the worker's (its routine lies in
    // the executable) from those of system libraries.
    ThreadStartWatch watch(pid);
    ASSERT_TRUE(watch.watching());
    ASSERT_TRUE(watch.knowsImage());

    CREATESTRUCTA create = {};
    DWORD_PTR result = 0;
    ASSERT_NE(0, SendMessageTimeoutA(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create),
                                     SMTO_NORMAL, kDeadlineMs, &result));
    EXPECT_EQ(0u, result);

    // The watch does see a thread started in the service now (its routine is
    // in a system library).
    UniqueHandle sentinel(
        CreateRemoteThread(process.get(), nullptr, 0, SleepAsThreadStart(), nullptr, 0, nullptr));
    ASSERT_TRUE(sentinel) << "error " << GetLastError();
    EXPECT_TRUE(WaitUntil([&] { return watch.threadsStarted() >= 1; }));

    ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_STOPPED));
    std::optional<SERVICE_STATUS_PROCESS> status = ServiceStatus(kServiceName);
    ASSERT_TRUE(status);
    // Reported by the service itself: the SCM keeps a service whose process
    // merely ended recorded as running.
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), status->dwWin32ExitCode);
    EXPECT_EQ(std::optional<DWORD>(0), WaitForExitCode(process));
    EXPECT_TRUE(watch.waitForExit());
    // Every thread the process started up to its end has been seen: none ran
    // a routine of the executable.
    EXPECT_EQ(0, watch.threadsStartedInImage());
    EXPECT_EQ(nullptr, FindWindowA("WINWGBWND", "WinWgbWnd"));
}

} // namespace
