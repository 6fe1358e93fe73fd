/* A program planted in a folder before the package is installed there, under
 * the service's name and with a higher version (99.0.0.0) than any release:
 * whoever runs it, it appends its command line to "planted.txt" in its
 * folder. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
    char record[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, record, MAX_PATH);
    char *name;
    HANDLE file;

    (void)instance, (void)previous, (void)show;
    if (length == 0 || length >= MAX_PATH)
        return 1;
    for (name = record + length; name > record && name[-1] != '\\'; --name)
        ;
    lstrcpyA(name, "planted.txt");
    file = CreateFileA(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, arguments, lstrlenA(arguments), &length, NULL);
        WriteFile(file, "\n", 1, &length, NULL);
        CloseHandle(file);
    }
    return 0;
}
