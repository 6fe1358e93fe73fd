// The service host with the real executable, the SCM and the registry:
// installation and removal through the switches, from the longest path the
// module path buffer holds, and the stop. And how the service loads Windows'
// DLLs, each defense on its own.

#include "common/shared_state.h"
#include "common/system_library.h"
#include "service/service_main.h"
#include "support/service_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

using namespace wgbtest;

// A DLL the service loads at run time by name (for the user's environment).
constexpr char kPlantedName[] = "userenv.dll";

// Usage: one of "bare" (a bare-name load), "restricted" (the same once the
// search is restricted), "system" (LoadSystemLibrary) or "fallback" (the same
// as on Windows without SetDefaultDllDirectories). Loads kPlantedName so and
// prints the path of the module loaded ("none"), or that it was loaded before.
int Probe(int, char **argv) {
    if (GetModuleHandleA(kPlantedName) != nullptr) {
        std::printf("loaded before\n");
        return 0;
    }
    const std::string way = argv[0];
    if (way == "fallback")
        g_lookUpSetDefaultDllDirectories = [] { return SetDefaultDllDirectoriesFn(nullptr); };
    if (way == "restricted")
        RestrictDllSearchToSystemFolder();
    const HMODULE module = way == "bare" || way == "restricted" ? LoadLibraryA(kPlantedName)
                                                                : LoadSystemLibrary(kPlantedName);
    char path[MAX_PATH] = "none";
    if (module != nullptr)
        GetModuleFileNameA(module, path, MAX_PATH);
    std::printf("%s\n", path);
    return 0;
}

// The service executable in a directory with blanks, its path exactly
// length characters long; no WGB.ini, so the service idles.
std::string ExeOfPathLength(std::size_t length) {
    const std::string root = "C:\\Program Files\\WGB Service ";
    const std::string file = "WGBService.exe";
    const std::string dir = root + std::string(length - root.size() - file.size() - 1, 'd');
    return PrepareInstallDir(dir, std::nullopt) + file;
}

TEST(ServiceHost, InstallsQuotedStopsAndIsRemovedThroughItsSwitches) {
    RemoveServiceIfPresent(kServiceName);
    // 255 characters: the longest path that fits the 256-byte module path buffer.
    const std::string exe = ExeOfPathLength(255);
    ASSERT_EQ(255u, exe.size());

    // The switches are matched in any case, after the quoted program name.
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(Quoted(exe) + " -QtrInstall"));
    const std::optional<ServiceConfig> config = QueryConfig(kServiceName);
    ASSERT_TRUE(config);
    EXPECT_EQ(Quoted(exe), config->imagePath);
    // Automatic in the SCM's own view at once, and in the registry value,
    // which the SCM reads at its next start.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->start);
    EXPECT_EQ(std::optional<DWORD>(2), StartValue(kServiceName));
    ASSERT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING));
    const RunningService service = ServiceProcess();
    ExpectAliveAndStoppable(service);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), ServiceStatus(kServiceName)->dwWin32ExitCode);

    // A second install finds the service: it neither starts it nor writes
    // "Start". Both would have happened before the install run ended.
    WriteStartValue(kServiceName, SERVICE_DEMAND_START);
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(Quoted(exe) + " -qtrinstall"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kServiceName));
    EXPECT_EQ(std::optional<DWORD>(SERVICE_DEMAND_START), StartValue(kServiceName));

    // Removal of a running service stops it, then deletes it: without the
    // stop it would run on, marked for deletion.
    ASSERT_TRUE(StartServiceByName(kServiceName));
    ASSERT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING));
    const RunningService second = ServiceProcess();
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(Quoted(exe) + " \t-qtrUNinstall"));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
              WaitForSingleObject(second.process.get(), DeadlineMs()));
    EXPECT_TRUE(WaitUntil([] { return ServiceGone(kServiceName); }));
}

// One character more and the path would be registered cut short: nothing is.
TEST(ServiceHost, PathLongerThanItsBufferInstallsNothing) {
    RemoveServiceIfPresent(kServiceName);
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(Quoted(ExeOfPathLength(256)) + " -qtrinstall"));
    EXPECT_TRUE(ServiceGone(kServiceName));
}

// The window's destruction is what ends the worker's loop: its run flag
// falls, and the window's own loop is told to end.
TEST(HiddenWindow, DestructionClearsTheRunFlag) {
    ASSERT_TRUE(g_bRunning.load());
    EXPECT_EQ(0, HiddenWndProc(nullptr, WM_DESTROY, 0, 0));
    EXPECT_FALSE(g_bRunning.load());
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// A DLL planted beside a program under the name of one the service loads:
// a bare-name load takes it (the plant works), and each defense keeps it out
// on its own, the fallback by the DLL's full path in the system folder.
TEST(SystemLibrary, EachDefenseAloneKeepsAPlantedDllOut) {
    MakeEmptyDir("C:\\wgb-planted");
    const std::string dir = "C:\\wgb-planted\\";
    char self[MAX_PATH] = "", system[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    CopyFileOrFail(self, dir + "probe.exe");
    CopyFileOrFail(ArtifactPath("planted.dll"), dir + kPlantedName);
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string fromSystem = std::string(system) + "\\" + kPlantedName + "\n";

    const struct {
        const char *way;
        std::string loaded;
    } cases[] = {
        {"bare", dir + kPlantedName + "\n"},
        {"restricted", fromSystem},
        {"system", fromSystem},
        {"fallback", fromSystem},
    };
    for (const auto &c : cases) {
        std::string output;
        EXPECT_EQ(std::optional<DWORD>(0),
                  RunProgram(Quoted(dir + "probe.exe") + " --probe " + c.way, &output));
        EXPECT_STRCASEEQ(c.loaded.c_str(), output.c_str()) << c.way;
    }
}

} // namespace

int main(int argc, char **argv) {
    return wgbtest::TestMain(argc, argv, Probe);
}
