#include "support/service_object_lock.h"

#include <windows.h>

#include <sddl.h>

using OpenServiceFn = SC_HANDLE(WINAPI *)(SC_HANDLE, LPCSTR, DWORD);

// This executable's import address table entry for OpenServiceA, through
// which its code calls it: the symbol the import library names it by.
#ifdef _WIN64
extern "C" OpenServiceFn g_importOfOpenService asm("__imp_OpenServiceA");
#else
extern "C" OpenServiceFn g_importOfOpenService asm("__imp__OpenServiceA@12");
#endif

namespace wgbtest {
namespace {

OpenServiceFn g_openService = nullptr;
PSECURITY_DESCRIPTOR g_descriptor = nullptr;

// The generic rights of a service object, as the Service Control Manager
// maps them.
GENERIC_MAPPING g_serviceMapping = {STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG |
                                        SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                                        SERVICE_ENUMERATE_DEPENDENTS,
                                    STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG,
                                    STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP |
                                        SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL,
                                    SERVICE_ALL_ACCESS};

bool Granted(DWORD desired) {
    HANDLE process = nullptr, token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process))
        return false;
    const bool duplicated = DuplicateToken(process, SecurityImpersonation, &token);
    CloseHandle(process);
    if (!duplicated)
        return false;
    MapGenericMask(&desired, &g_serviceMapping);
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges, granted = 0;
    BOOL status = FALSE;
    const BOOL checked = AccessCheck(g_descriptor, token, desired, &g_serviceMapping, &privileges,
                                     &privilegesSize, &granted, &status);
    CloseHandle(token);
    return checked && status;
}

SC_HANDLE WINAPI OpenLockedService(SC_HANDLE manager, LPCSTR name, DWORD desired) {
    if (!Granted(desired)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return g_openService(manager, name, desired);
}

// Disables the service, as an administrator might, just before it is opened
// to be started.
SC_HANDLE WINAPI OpenDisablingBeforeStart(SC_HANDLE manager, LPCSTR name, DWORD desired) {
    if (desired & SERVICE_START) {
        const SC_HANDLE service = g_openService(manager, name, SERVICE_CHANGE_CONFIG);
        ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        CloseServiceHandle(service);
    }
    return g_openService(manager, name, desired);
}

bool RedirectOpenService(OpenServiceFn replacement) {
    OpenServiceFn *entry = &g_importOfOpenService;
    DWORD protection = 0;
    if (!VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection))
        return false;
    g_openService = *entry;
    *entry = replacement;
    VirtualProtect(entry, sizeof *entry, protection, &protection);
    return true;
}

} // namespace

bool LockServiceObjects(const char *sddl) {
    return ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                &g_descriptor, nullptr) &&
           RedirectOpenService(&OpenLockedService);
}

bool DisableServicesBeforeTheirStart() {
    return RedirectOpenService(&OpenDisablingBeforeStart);
}

} // namespace wgbtest
