#pragma once
// Loading Windows' own DLLs without letting the executable's folder, or any
// other folder on the search path, supply a planted copy.

#include <windows.h>

// Restricts the process's default DLL search to the system folder, so that
// what COM and WMI load by bare name comes from there too. Looked up at run
// time: Windows without the call keeps its default search.
void RestrictDllSearchToSystemFolder();

// Loads a DLL from the system folder alone; null when it cannot be had there.
HMODULE LoadSystemLibrary(const char *fileName);

// SetDefaultDllDirectories where this Windows has it, else null: Windows 7
// and Vista without update KB2533623 lack it and, with it, the flags that
// restrict a search to the system folder. The look-up is a seam: a test
// replaces it with one that finds nothing to take the way of such Windows,
// which Wine never needs.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI *)(DWORD);
extern SetDefaultDllDirectoriesFn (*g_lookUpSetDefaultDllDirectories)();

// The procedure of that name in the module, as a pointer of type Fn; null
// when the module lacks it.
template <typename Fn> Fn GetProcedure(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
