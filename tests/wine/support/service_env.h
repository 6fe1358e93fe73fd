#pragma once
// The real service and the driver stand-in in a Wine session: the Service
// Control Manager, the service installed through its own "-qtrinstall" as an
// administrator would, what a test sees of its process from outside, and the
// stub companion's starts.

#include <windows.h>

#include <optional>
#include <string>

#include "common/win_handles.h"
#include "sim/companion/companion_record.h"
#include "support/wine_env.h"

namespace wgbtest {

struct ServiceConfig {
    DWORD type, start, errorControl;
    std::string imagePath;
};
// None when there is no such service, or when the query failed.
std::optional<ServiceConfig> QueryConfig(const std::string &name);
// True only when the SCM answers that no such service exists: a failing
// query does not prove a removal.
bool ServiceGone(const std::string &name);
// The start type the SCM holds until its next start.
bool ChangeStartType(const std::string &name, DWORD start);
bool ChangeImagePath(const std::string &name, const std::string &imagePath);
// The registry's "Start" value of the service, which the SCM reads at its
// next start; none when there is no such value.
std::optional<DWORD> StartValue(const std::string &name);
void WriteStartValue(const std::string &name, DWORD start);
// Stops (when running) and deletes the service, and waits until it is gone.
void RemoveServiceIfPresent(const std::string &name);
// What a test of the service may leave behind: the service and the driver
// service removed, the companion and the check tool ended.
void CleanUpAfterService();

// The service process as the SCM started it, opened for waiting on it.
struct RunningService {
    DWORD pid = 0;
    UniqueHandle process;
};
// The process of the running service.
RunningService ServiceProcess();
// Runs exe with "-qtrinstall" and waits until the service runs (a test
// failure when either goes wrong).
RunningService InstallAndWaitRunning(const std::string &exe);
// The same process still runs, is reported running, its control handler
// answers; then a stop reaches the stopped state and the process ends with 0.
void ExpectAliveAndStoppable(const RunningService &service);

// Threads of the process that started in code of its executable, the file
// exe: in the service, the main thread and, while it runs, the worker.
// Relies on Wine's internals: Wine maps an executable at its preferred base.
int ThreadsStartedInExecutable(DWORD pid, const std::string &exe);
// Moves this process into the services' window station and this thread onto
// its desktop, where the service's hidden window is, for good: the thread no
// longer counts as a user of the logged-on user's desktop. Relies on Wine's
// internals: the name of the window station Wine gives services.
void EnterServiceDesktop();
// Waits for the hidden window on the current desktop: by then the service has
// started its worker.
HWND WaitForHiddenWindow();

// The driver file this Windows needs (by the architecture Windows, not this
// process, runs on), which the service seeks beside itself.
const char *DriverFile();
// Registers the build's stand-in for this Windows as "Quendra_1_0_T":
// ERROR_SUCCESS or the error.
DWORD RegisterDriverService();
// Registers (if needed) and starts the stand-in; true once its devices exist.
bool LoadDriver();
// Waits until the stand-in's devices exist (loaded here or by the service).
bool WaitForDriverLoaded();
// A folder where Wine looks \\.\Quendra_1_0_1 up first: while it is there,
// the driver's device refuses every open, as a loaded driver that refuses us.
std::string DeviceRefusalFolder();
// What a restart does to a driver that will not stop, as far as this session
// needs: its host process ends and the device names it made go, so that the
// stand-in can load again.
void EndDriverAsARestartWould();

// Until the companion in dir has recorded count starts.
bool WaitForCompanionStarts(const std::string &dir, std::size_t count);

} // namespace wgbtest
