// Custom action of the package (deferred, run as LocalSystem): the service's
// registration as the installation means it. RegisterService runs the
// installed "WGBService.exe -qtrinstall", which ends with exit code 0 whatever
// happened and leaves an existing registration as it is; this action, after
// it and before StartServices, makes sure of the outcome.
//
//   CheckServiceRegistration  QTR_WGBService's image path is the installed
//                             file's, quoted, and it starts automatically,
//                             or stays disabled when an administrator or a
//                             policy disabled it. A registration that differs
//                             (changed since, or one -qtrinstall kept) is
//                             mended; one that is missing or cannot be
//                             mended (marked for deletion, no rights) fails
//                             the installation. CustomActionData: the
//                             installed executable's path.
//
// Each outcome goes to the installation's log.

#include "common/win_handles.h"
#include "packaging/custom_action.h"

#include <string>
#include <vector>

namespace {

constexpr wchar_t kServiceName[] = L"QTR_WGBService";

UINT Fail(MSIHANDLE install, const std::wstring &what) {
    LogLine(install, L"service_registration: ",
            what + L" failed, error " + std::to_wstring(GetLastError()));
    return ERROR_INSTALL_FAILURE;
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall CheckServiceRegistration(MSIHANDLE install) {
    const std::wstring exe = ActionData(install);
    if (exe.empty())
        return Fail(install, L"naming the installed executable");
    const std::wstring imagePath = L"\"" + exe + L"\"";

    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.get() == nullptr)
        return Fail(install, L"opening the Service Control Manager");
    const UniqueServiceHandle service(
        OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG));
    if (service.get() == nullptr)
        return Fail(install, L"opening the registration of QTR_WGBService");

    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer.data());
    if (needed == 0 || !QueryServiceConfigW(service.get(), config, needed, &needed))
        return Fail(install, L"reading the registration of QTR_WGBService");

    // Disabled by an administrator or a policy: kept so, and not started.
    const DWORD start =
        config->dwStartType == SERVICE_DISABLED ? SERVICE_DISABLED : SERVICE_AUTO_START;
    if (config->dwStartType == start &&
        lstrcmpiW(config->lpBinaryPathName, imagePath.c_str()) == 0) {
        LogLine(install, L"service_registration: ", L"QTR_WGBService runs " + imagePath);
        return ERROR_SUCCESS;
    }
    if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE,
                              imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr))
        return Fail(install, L"pointing QTR_WGBService at " + imagePath);
    LogLine(install, L"service_registration: ",
            L"QTR_WGBService pointed at " + imagePath + L" (it named " + config->lpBinaryPathName +
                L", start type " + std::to_wstring(config->dwStartType) + L")");
    return ERROR_SUCCESS;
}
