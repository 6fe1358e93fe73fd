#include "hwaccess/driver_service.h"

#include "common/win_handles.h"
#include "hwaccess/io_driver.h"

namespace {

UniqueServiceHandle OpenDriverService(SC_HANDLE manager, const char *name) {
    return UniqueServiceHandle(OpenServiceA(manager, name, SERVICE_ALL_ACCESS));
}

} // namespace

bool CreateDriverService(SC_HANDLE manager, const char *name) {
    const UniqueServiceHandle service(CreateServiceA(
        manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, g_szDriverPath, nullptr, nullptr, nullptr, nullptr, nullptr));
    // An existing registration is used as it is, image path included.
    return service || GetLastError() == ERROR_SERVICE_EXISTS;
}

bool StartDriverService(SC_HANDLE manager, const char *name) {
    const UniqueServiceHandle service = OpenDriverService(manager, name);
    if (!service)
        return false;
    return StartServiceA(service.get(), 0, nullptr) ||
           GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
}

bool StopDriverService(SC_HANDLE manager, const char *name) {
    const UniqueServiceHandle service = OpenDriverService(manager, name);
    if (!service)
        return false;
    SERVICE_STATUS status;
    return ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
}

bool DeleteDriverService(SC_HANDLE manager, const char *name) {
    const UniqueServiceHandle service = OpenDriverService(manager, name);
    if (!service)
        return false;
    return DeleteService(service.get());
}

bool ManageDriverService(std::uint16_t mode) {
    if (!g_pszDriverServiceName)
        return false;
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;

    switch (mode) {
    case DRIVER_SERVICE_INSTALL:
        return CreateDriverService(manager.get(), g_pszDriverServiceName) &&
               StartDriverService(manager.get(), g_pszDriverServiceName);
    case DRIVER_SERVICE_REMOVE:
        StopDriverService(manager.get(), g_pszDriverServiceName);
        DeleteDriverService(manager.get(), g_pszDriverServiceName);
        return true;
    default:
        return false;
    }
}
