#include "support/service_object_lock.h"

#include <windows.h>

#include <sddl.h>

#include <cstring>

namespace wgbtest {
namespace {

using OpenServiceFn = SC_HANDLE(WINAPI *)(SC_HANDLE, LPCSTR, DWORD);

OpenServiceFn g_openService = nullptr;
PSECURITY_DESCRIPTOR g_descriptor = nullptr;

// The generic rights of a service object, as the Service Control Manager
// maps them.
GENERIC_MAPPING ServiceMapping() {
    return {STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                SERVICE_INTERROGATE | SERVICE_ENUMERATE_DEPENDENTS,
            STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG,
            STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                SERVICE_USER_DEFINED_CONTROL,
            SERVICE_ALL_ACCESS};
}

bool Granted(DWORD desired) {
    HANDLE process = nullptr, token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process))
        return false;
    const bool duplicated = DuplicateToken(process, SecurityImpersonation, &token);
    CloseHandle(process);
    if (!duplicated)
        return false;
    GENERIC_MAPPING mapping = ServiceMapping();
    MapGenericMask(&desired, &mapping);
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges, granted = 0;
    BOOL status = FALSE;
    const BOOL checked = AccessCheck(g_descriptor, token, desired, &mapping, &privileges,
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

// The import address table entry of this executable for OpenServiceA.
void **ImportOfOpenService() {
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    const auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto *module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress);
    for (; module->Name != 0; ++module) {
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->OriginalFirstThunk);
        auto *entries = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++entries) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto *byName =
                reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), "OpenServiceA") == 0)
                return reinterpret_cast<void **>(&entries->u1.Function);
        }
    }
    return nullptr;
}

} // namespace

bool LockServiceObjects(const char *sddl) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &g_descriptor,
                                                              nullptr))
        return false;
    void **entry = ImportOfOpenService();
    DWORD protection = 0;
    if (!entry || !VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection))
        return false;
    g_openService = reinterpret_cast<OpenServiceFn>(*entry);
    *entry = reinterpret_cast<void *>(&OpenLockedService);
    VirtualProtect(entry, sizeof *entry, protection, &protection);
    return true;
}

} // namespace wgbtest
