/* Planted where the service or the package would take it for its own: with
 * PLANTED_DLL, a DLL under the name of one the service loads at run time;
 * otherwise a program under the service's name, of a higher version
 * (99.0.0.0) than any release. Whoever loads or runs it, it appends its own
 * path (the DLL) or its command line (the program) to "planted.txt" in its
 * folder. */
#include <windows.h>

#include <stdio.h>

static void record(HMODULE self, const char *text) {
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    char *name;
    FILE *file;

    if (length == 0 || length >= MAX_PATH)
        return;
    for (name = path + length; name > path && name[-1] != '\\'; --name)
        ;
    lstrcpyA(name, "planted.txt");
    if ((file = fopen(path, "ab")) != NULL) {
        fprintf(file, "%s\n", text);
        fclose(file);
    }
}

#ifdef PLANTED_DLL
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);

    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH && length > 0 && length < MAX_PATH)
        record(self, path);
    return TRUE;
}
#else
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
    (void)instance, (void)previous, (void)show;
    record(NULL, arguments);
    return 0;
}
#endif
