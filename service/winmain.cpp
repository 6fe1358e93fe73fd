// The entry routine and the installation and removal it does on request.
// Only the service's executable is built from this file, so that other
// programs can link the service's library without taking its WinMain.

#include <windows.h>

#include "common/scm_numbers.h"
#include "common/service_config.h"
#include "common/shared_state.h"
#include "common/system_library.h"
#include "common/win_handles.h"
#include "hwaccess/driver_record.h"
#include "service/service_rules.h"
#include "service/service_main.h"

#include <optional>
#include <string>

namespace {

// How long the service is given to stop before the driver is released.
constexpr DWORD kStopWaitMs = 30000;

// --- installation and removal ---

// Writes a REG_DWORD value, creating the key when it cannot be opened.
void SetRegistryDword(HKEY root, const char *subKey, const char *valueName, DWORD data) {
    UniqueRegKey key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) {
        char noClass[] = "";
        if (RegCreateKeyExA(root, subKey, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                            nullptr, key.put(), nullptr) != ERROR_SUCCESS)
            return;
    }
    RegSetValueExA(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data),
                   sizeof data);
}

// The module path; none when it does not fit its buffer. The length the call
// reports is taken, not a terminator: a path cut at the buffer's end may have
// none.
std::optional<std::string> ModulePath() {
    char path[kModulePathSize];
    const DWORD length =
        GetModuleFileNameA(GetModuleHandleA(kModuleFileName), path, kModulePathSize);
    if (!ModulePathFits(length))
        return std::nullopt;
    return std::string(path, length);
}

// Registers this executable as the service, starts it and switches it to
// automatic start. Does nothing when the service exists already.
void InstallService() {
    const std::optional<std::string> modulePath = ModulePath();
    if (!modulePath)
        return;
    const std::string imagePath = QuotedImagePath(*modulePath);

    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return;

    // Fails among others when the service exists: then nothing else happens.
    UniqueServiceHandle created(
        CreateServiceA(manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!created)
        return;

    UniqueServiceHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service)
        return;

    StartServiceA(service.get(), 0, nullptr);
    // Created with demand start. The SCM's own view (QueryServiceConfig, sc
    // qc, WMI) says automatic at once; the "Start" value, which the SCM reads
    // at boot, is written as well.
    ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    SetRegistryDword(HKEY_LOCAL_MACHINE, kServiceRegistryKey, kStartValueName, kStartAuto);
}

// Asks a running service to stop, then marks the service for deletion.
void UninstallService() {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service)
        return;

    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status))
        return;
    if (status.dwCurrentState == SERVICE_RUNNING)
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    // The driver's registration as bring-up found it, once the service no
    // longer holds the driver's device open; the record of what bring-up
    // changed goes with the service's key.
    WaitUntilStopped(service.get(), status, kStopWaitMs);
    ReleaseDriverService();
    // The deletion completes once the service has stopped.
    DeleteService(service.get());
}

} // namespace

// --- entry ---

// Installs or removes the service on request, then offers the process to the
// Service Control Manager. Outside the manager the dispatcher call fails at
// once; under it the call returns when the service has reported stopped.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    // Before anything loads a DLL by name: never from the service's folder.
    RestrictDllSearchToSystemFolder();

    // Taken from the process's own command line so that the program name is
    // skipped by one known rule, whatever the runtime's startup code does.
    const SwitchCommand command = SelectCommand(SkipProgramName(GetCommandLineA()));
    if (command == SwitchCommand::Install)
        InstallService();
    if (command == SwitchCommand::Uninstall)
        UninstallService();

    g_hInstance = hInstance;

    char serviceName[sizeof kServiceName];
    lstrcpyA(serviceName, kServiceName);
    const SERVICE_TABLE_ENTRYA dispatchTable[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherA(dispatchTable);
    // The worker may still run: end every thread at once, before any static
    // object it uses is destroyed.
    ExitProcess(0);
}
