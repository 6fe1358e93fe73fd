/* A DLL planted beside the service under the name of one that the service
 * loads at run time: whatever loads it, it appends its own path to
 * "planted.txt" in its folder. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    char path[MAX_PATH], record[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    char *name;
    HANDLE file;

    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH || length == 0 || length >= MAX_PATH)
        return TRUE;
    lstrcpyA(record, path);
    for (name = record + length; name > record && name[-1] != '\\'; --name)
        ;
    lstrcpyA(name, "planted.txt");
    file = CreateFileA(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        path[length] = '\n';
        WriteFile(file, path, length + 1, &length, NULL);
        CloseHandle(file);
    }
    return TRUE;
}
