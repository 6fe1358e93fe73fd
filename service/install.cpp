#include "service/install.h"

#include "common/shared_state.h"
#include "common/win_handles.h"
#include "hwaccess/driver_record.h"
#include "service/image_path.h"
#include "service/service_names.h"

#include <optional>
#include <string>

namespace {

constexpr DWORD kAutoStart = 2; // SERVICE_AUTO_START as a "Start" value
// How long the service is given to stop before the driver is released.
constexpr DWORD kStopWaitMs = 30000;
constexpr DWORD kStopPollMs = 100;

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

} // namespace

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
    SetRegistryDword(HKEY_LOCAL_MACHINE, kServiceRegistryKey, kStartValueName, kAutoStart);
}

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
    for (DWORD waited = 0; status.dwCurrentState != SERVICE_STOPPED && waited < kStopWaitMs;
         waited += kStopPollMs) {
        Sleep(kStopPollMs);
        if (!QueryServiceStatus(service.get(), &status))
            break;
    }
    ReleaseDriverService();
    // The deletion completes once the service has stopped.
    DeleteService(service.get());
}

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
