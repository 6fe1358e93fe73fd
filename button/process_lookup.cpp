#include "button/process_lookup.h"

#include "common/ansi_text.h"
#include "common/system_library.h"

#include <tlhelp32.h>

namespace {

constexpr DWORD kUnknownSession = 0xFFFFFFFF;

UniqueHandle TokenOf(HANDLE process) {
    UniqueHandle token;
    if (!OpenProcessToken(process, TOKEN_ALL_ACCESS, token.put()))
        token.reset();
    return token;
}

// The full path of the process's image.
bool ImagePath(HANDLE process, std::string &path) {
    char buffer[MAX_PATH];
    DWORD size = sizeof(buffer);
    if (!QueryFullProcessImageNameA(process, 0, buffer, &size))
        return false;
    path.assign(buffer, size);
    return true;
}

} // namespace

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
    return process ? TokenOf(process.get()) : UniqueHandle();
}

UniqueHandle OpenShellToken(const ProcessEntry &shell) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shell.processId));
    if (!process)
        return UniqueHandle();
    UniqueHandle token = TokenOf(process.get());
    DWORD session = kUnknownSession;
    DWORD size = 0;
    OpenedProcess opened;
    if (!token ||
        !GetTokenInformation(token.get(), TokenSessionId, &session, sizeof(session), &size) ||
        !ImagePath(process.get(), opened.imagePath))
        return UniqueHandle();
    opened.tokenSession = session;
    if (!IsStillTheShell(shell, opened, IsAnsiLeadByte))
        return UniqueHandle();
    return token;
}
