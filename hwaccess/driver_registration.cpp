#include "hwaccess/driver_registration.h"

#include "common/service_config.h"
#include "common/win_handles.h"
#include "hwaccess/io_driver.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// How long a stopping driver is given to unload.
constexpr DWORD kStopWaitMs = 15000;

UniqueServiceHandle OpenDriverService(SC_HANDLE manager, const char *name, DWORD rights) {
    return UniqueServiceHandle(OpenServiceA(manager, name, rights));
}

// Windows reports a driver's image path in the kernel's form, "\??\C:\...".
const char *WithoutNtPrefix(const char *path) {
    return std::strncmp(path, "\\??\\", 4) == 0 ? path + 4 : path;
}

// Stops the driver and waits until it has unloaded: false when it will not
// (no unload routine, a handle held open).
bool StopAndWait(SC_HANDLE manager) {
    const UniqueServiceHandle service(
        OpenServiceA(manager, kDriverServiceName, driver_rights::kStop));
    if (!service)
        return false;
    SERVICE_STATUS status = {};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        return GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
    return WaitUntilStopped(service.get(), status, kStopWaitMs);
}

} // namespace

bool CreateDriverService(SC_HANDLE manager, const char *name, DriverServiceReport &report) {
    const UniqueServiceHandle service(CreateServiceA(
        manager, name, name, driver_rights::kCreated, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, g_szDriverPath, nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service) {
        report.created = true;
        return true;
    }
    report.error = GetLastError();
    report.failedStep = DriverStep::Create;
    if (report.error != ERROR_SERVICE_EXISTS)
        return false;
    // An existing registration keeps its settings, but Windows must load the
    // file that was checked, not one an older registration names elsewhere.
    // One that cannot be changed (a policy, or marked for deletion) fails
    // bring-up with the error of the change.
    report.failedStep = DriverStep::Repoint;
    const UniqueServiceHandle existing = OpenDriverService(manager, name, driver_rights::kRead);
    const std::vector<char> buffer =
        existing ? ReadServiceConfig(existing.get()) : std::vector<char>();
    if (buffer.empty()) {
        report.error = GetLastError();
        return false;
    }
    const QUERY_SERVICE_CONFIGA &config = *ServiceConfigIn(buffer);
    report.disabled = config.dwStartType == SERVICE_DISABLED;
    // A disabled registration is an administrator's decision: left untouched.
    if (!report.disabled && !NamesFile(config, g_szDriverPath)) {
        // The right to change is asked only now: a registration that names
        // the checked file needs none.
        const UniqueServiceHandle changed =
            OpenDriverService(manager, name, driver_rights::kRepoint);
        if (!changed || !ChangeDriverImagePath(changed.get(), g_szDriverPath)) {
            report.error = GetLastError();
            return false;
        }
        report.repointed = true;
        report.previousImagePath = config.lpBinaryPathName ? config.lpBinaryPathName : "";
    }
    report.failedStep = DriverStep::None;
    report.error = ERROR_SUCCESS;
    return true;
}

bool SameDriverFile(const char *registered, const char *imagePath) {
    return lstrcmpiA(WithoutNtPrefix(registered), imagePath) == 0;
}

bool NamesFile(const QUERY_SERVICE_CONFIGA &config, const char *imagePath) {
    return config.lpBinaryPathName != nullptr && SameDriverFile(config.lpBinaryPathName, imagePath);
}

bool ChangeDriverImagePath(SC_HANDLE service, const char *imagePath) {
    return ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                imagePath, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

DWORD StartDriverService(SC_HANDLE manager, const char *name) {
    const UniqueServiceHandle service = OpenDriverService(manager, name, driver_rights::kStart);
    if (!service)
        return GetLastError();
    if (StartServiceA(service.get(), 0, nullptr))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_SERVICE_ALREADY_RUNNING ? ERROR_SUCCESS : error;
}

bool StopDriverService(SC_HANDLE manager, const char *name) {
    const UniqueServiceHandle service = OpenDriverService(manager, name, driver_rights::kStop);
    if (!service)
        return false;
    SERVICE_STATUS status;
    return ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
}

bool DeleteDriverService(SC_HANDLE manager, const char *name) {
    const UniqueServiceHandle service = OpenDriverService(manager, name, driver_rights::kDelete);
    if (!service)
        return false;
    return DeleteService(service.get());
}

bool ManageDriverService(std::uint16_t mode, DriverServiceReport *report) {
    if (!g_pszDriverServiceName)
        return false;
    const UniqueServiceHandle manager(
        OpenSCManagerA(nullptr, nullptr, driver_rights::kInstallManager));
    if (!manager) {
        if (report) {
            report->error = GetLastError();
            report->failedStep = DriverStep::Manager;
        }
        return false;
    }

    switch (mode) {
    case DRIVER_SERVICE_INSTALL: {
        DriverServiceReport own;
        DriverServiceReport &install = report ? *report : own;
        if (!CreateDriverService(manager.get(), g_pszDriverServiceName, install))
            return false;
        // Windows would refuse the start of a disabled driver service.
        if (install.disabled)
            return false;
        install.error = StartDriverService(manager.get(), g_pszDriverServiceName);
        if (install.error != ERROR_SUCCESS)
            install.failedStep = DriverStep::Start;
        return install.error == ERROR_SUCCESS;
    }
    case DRIVER_SERVICE_REMOVE:
        StopDriverService(manager.get(), g_pszDriverServiceName);
        DeleteDriverService(manager.get(), g_pszDriverServiceName);
        return true;
    default:
        return false;
    }
}

bool ChangedRegistration(const DriverServiceReport &install) {
    // Disabled after the configuration was read: an administrator's decision.
    if (install.created && install.error == ERROR_SERVICE_DISABLED)
        return false;
    return install.created || install.repointed;
}

bool RestoreDriverService(const DriverServiceReport &install) {
    if (!g_pszDriverServiceName || !ChangedRegistration(install))
        return true;
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, driver_rights::kManager));
    if (!manager)
        return false;
    if (install.created) {
        StopDriverService(manager.get(), g_pszDriverServiceName);
        return DeleteDriverService(manager.get(), g_pszDriverServiceName);
    }
    const UniqueServiceHandle service =
        OpenDriverService(manager.get(), g_pszDriverServiceName, driver_rights::kRepoint);
    return service && ChangeDriverImagePath(service.get(), install.previousImagePath.c_str());
}

DriverRelease UndoDriverChange(const DriverRecord &record) {
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, driver_rights::kManager));
    if (!manager)
        return DriverRelease::Failed;
    {
        const UniqueServiceHandle service(
            OpenServiceA(manager.get(), kDriverServiceName, driver_rights::kRead));
        if (!service)
            return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? DriverRelease::Nothing
                                                                  : DriverRelease::Failed;
        const std::vector<char> buffer = ReadServiceConfig(service.get());
        if (buffer.empty())
            return DriverRelease::Failed;
        // Pointed elsewhere since: another product's now, left as it is.
        if (!NamesFile(*ServiceConfigIn(buffer), record.imagePath.c_str()))
            return DriverRelease::Nothing;
    }
    if (!record.created) {
        const UniqueServiceHandle service(
            OpenServiceA(manager.get(), kDriverServiceName, driver_rights::kRepoint));
        if (!service || !ChangeDriverImagePath(service.get(), record.previousImagePath.c_str()))
            return DriverRelease::Failed;
    }
    // The driver running is bring-up's file, which the undo takes away.
    const bool stopped = StopAndWait(manager.get());
    if (record.created && !DeleteDriverService(manager.get(), kDriverServiceName))
        return DriverRelease::Failed;
    return stopped ? DriverRelease::Done : DriverRelease::RestartNeeded;
}
