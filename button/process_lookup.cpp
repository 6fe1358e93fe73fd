#include "button/process_lookup.h"

#include "common/win_handles.h"

#include <tlhelp32.h>

int FindProcessByName(const char *exeName, HANDLE *token) {
    *token = nullptr;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!Process32First(snapshot.get(), &entry))
        return 0;
    while (lstrcmpiA(entry.szExeFile, exeName) != 0) {
        if (!Process32Next(snapshot.get(), &entry))
            return 0;
    }
    // Only the first process of that name is tried.
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    if (!OpenProcessToken(process.get(), TOKEN_ALL_ACCESS, token)) {
        *token = nullptr;
        return 0;
    }
    return 1;
}
