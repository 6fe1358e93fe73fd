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

// The procedure of that name in the module, as a pointer of type Fn; null
// when the module lacks it.
template <typename Fn> Fn GetProcedure(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
