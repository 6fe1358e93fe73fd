#include "support/service_object_lock.h"

#include "common/win_handles.h"

#include <windows.h>

#include <sddl.h>

using OpenServiceFn = SC_HANDLE(WINAPI *)(SC_HANDLE, LPCSTR, DWORD);
using StartServiceFn = BOOL(WINAPI *)(SC_HANDLE, DWORD, LPCSTR *);

// This executable's import address table entries, through which its code
// calls them: the symbols the import library names them by.
#ifdef _WIN64
extern "C" OpenServiceFn g_importOfOpenService asm("__imp_OpenServiceA");
extern "C" StartServiceFn g_importOfStartService asm("__imp_StartServiceA");
#else
extern "C" OpenServiceFn g_importOfOpenService asm("__imp__OpenServiceA@12");
extern "C" StartServiceFn g_importOfStartService asm("__imp__StartServiceA@12");
#endif

namespace wgbtest {
namespace {

// The calls themselves.
const OpenServiceFn g_openService = g_importOfOpenService;
const StartServiceFn g_startService = g_importOfStartService;
PSECURITY_DESCRIPTOR g_descriptor = nullptr;
void (*g_beforeStart)() = nullptr;
void (*g_afterStart)() = nullptr;

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
    UniqueHandle process, token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.put()) ||
        !DuplicateToken(process.get(), SecurityImpersonation, token.put()))
        return false;
    MapGenericMask(&desired, &g_serviceMapping);
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges, granted = 0;
    BOOL status = FALSE;
    const BOOL checked = AccessCheck(g_descriptor, token.get(), desired, &g_serviceMapping,
                                     &privileges, &privilegesSize, &granted, &status);
    return checked && status;
}

SC_HANDLE WINAPI OpenLockedService(SC_HANDLE manager, LPCSTR name, DWORD desired) {
    if (!Granted(desired)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return g_openService(manager, name, desired);
}

BOOL WINAPI StartBetweenActions(SC_HANDLE service, DWORD count, LPCSTR *arguments) {
    if (g_beforeStart)
        g_beforeStart();
    const BOOL started = g_startService(service, count, arguments);
    const DWORD error = GetLastError();
    if (started && g_afterStart)
        g_afterStart();
    SetLastError(error);
    return started;
}

template <typename Fn> bool Redirect(Fn &entry, Fn replacement) {
    DWORD protection = 0;
    if (!VirtualProtect(&entry, sizeof entry, PAGE_READWRITE, &protection))
        return false;
    entry = replacement;
    VirtualProtect(&entry, sizeof entry, protection, &protection);
    return true;
}

} // namespace

bool LockServiceObjects(const char *sddl) {
    return ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                &g_descriptor, nullptr) &&
           Redirect(g_importOfOpenService, &OpenLockedService);
}

bool AroundServiceStarts(void (*before)(), void (*after)()) {
    g_beforeStart = before;
    g_afterStart = after;
    return Redirect(g_importOfStartService, &StartBetweenActions);
}

void RestoreServiceCalls() {
    Redirect(g_importOfOpenService, g_openService);
    Redirect(g_importOfStartService, g_startService);
}

} // namespace wgbtest
