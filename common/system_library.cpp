#include "common/system_library.h"

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32; older SDK headers lack the name.
constexpr DWORD kSearchSystem32 = 0x00000800;

SetDefaultDllDirectoriesFn LookUpInKernel32() {
    return GetProcedure<SetDefaultDllDirectoriesFn>(GetModuleHandleA("kernel32"),
                                                    "SetDefaultDllDirectories");
}

} // namespace

SetDefaultDllDirectoriesFn (*g_lookUpSetDefaultDllDirectories)() = LookUpInKernel32;

void RestrictDllSearchToSystemFolder() {
    if (const SetDefaultDllDirectoriesFn setDefault = g_lookUpSetDefaultDllDirectories())
        setDefault(kSearchSystem32);
}

HMODULE LoadSystemLibrary(const char *fileName) {
    // The flag came with SetDefaultDllDirectories: where one is, so is the other.
    if (g_lookUpSetDefaultDllDirectories())
        return LoadLibraryExA(fileName, nullptr, kSearchSystem32);
    // Without it, the file is named by its full path in the system folder;
    // the altered search looks for its own DLLs there first too.
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenA(fileName) >= MAX_PATH)
        return nullptr;
    path[length] = '\\';
    lstrcpyA(path + length + 1, fileName);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
