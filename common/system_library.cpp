#include "common/system_library.h"

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32; older SDK headers lack the name.
constexpr DWORD kSearchSystem32 = 0x00000800;

} // namespace

void RestrictDllSearchToSystemFolder() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI *)(DWORD);
    const auto setDefaultDllDirectories = GetProcedure<SetDefaultDllDirectoriesFn>(
        GetModuleHandleA("kernel32"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories)
        setDefaultDllDirectories(kSearchSystem32);
}

HMODULE LoadSystemLibrary(const char *fileName) {
    if (HMODULE module = LoadLibraryExA(fileName, nullptr, kSearchSystem32))
        return module;
    // Windows that does not know the flag refuses it: name the file by its
    // full path in the system folder instead.
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenA(fileName) >= MAX_PATH)
        return nullptr;
    path[length] = '\\';
    lstrcpyA(path + length + 1, fileName);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
