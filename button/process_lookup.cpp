#include "button/process_lookup.h"

#include <tlhelp32.h>

namespace {
constexpr DWORD kUnknownSession = 0xFFFFFFFF;
}

std::vector<ProcessEntry> SnapshotProcesses() {
    std::vector<ProcessEntry> processes;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !Process32First(snapshot.get(), &entry))
        return processes;
    do {
        DWORD session = kUnknownSession;
        if (!ProcessIdToSessionId(entry.th32ProcessID, &session))
            session = kUnknownSession;
        processes.push_back({entry.szExeFile, entry.th32ProcessID, session});
    } while (Process32Next(snapshot.get(), &entry));
    return processes;
}

UniqueHandle OpenPrimaryToken(DWORD processId) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    HANDLE token = nullptr;
    if (!process || !OpenProcessToken(process.get(), TOKEN_ALL_ACCESS, &token))
        return UniqueHandle();
    return UniqueHandle(token);
}
