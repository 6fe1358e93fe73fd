// Custom action of the package (deferred, run as LocalSystem): wait until no
// process runs the installed WGBService.exe any more. StopServices returns
// once the service reports stopped; its process ends a moment later, and
// until it has ended its executable is in use: InstallFiles would leave it to
// be replaced at the next restart (3010) and start the old file again,
// RemoveFiles would leave it and its folder behind, a rollback would restore
// nothing over it.
//
//   WaitForServiceExit  after StopServices, and as a rollback action after
//                       the rollback's own stop. CustomActionData: the
//                       executable's path.
//
// Bounded: a process that outlives the bound is left to Windows Installer's
// own rule for a file in use. Each wait goes to the installation's log.

#include "common/win_handles.h"
#include "packaging/custom_action.h"

#include <tlhelp32.h>

#include <string>

namespace {

constexpr DWORD kWaitBoundMs = 120000;
constexpr wchar_t kExeName[] = L"WGBService.exe";

void Log(MSIHANDLE install, const std::wstring &text) {
    LogLine(install, L"service_exit: ", text);
}

// True when the process runs the executable at path.
bool RunsFile(HANDLE process, const std::wstring &path) {
    wchar_t image[MAX_PATH];
    DWORD size = MAX_PATH;
    return QueryFullProcessImageNameW(process, 0, image, &size) &&
           lstrcmpiW(image, path.c_str()) == 0;
}

// Waits for the first process found running path, until the deadline; false
// when none runs it.
bool WaitForOne(MSIHANDLE install, const std::wstring &path, ULONGLONG deadline) {
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, kExeName) != 0)
            continue;
        const UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                                               FALSE, entry.th32ProcessID));
        if (process.get() == nullptr || !RunsFile(process.get(), path))
            continue;
        Log(install, L"waiting for process " + std::to_wstring(entry.th32ProcessID) + L" (" + path +
                         L") to end");
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(process.get(), left) != WAIT_OBJECT_0)
            Log(install, L"process " + std::to_wstring(entry.th32ProcessID) +
                             L" still runs: its file is replaced or removed at the restart");
        return true;
    }
    return false;
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall WaitForServiceExit(MSIHANDLE install) {
    const std::wstring path = ActionData(install);
    const ULONGLONG deadline = GetTickCount64() + kWaitBoundMs;
    while (WaitForOne(install, path, deadline) && GetTickCount64() < deadline) {
    }
    return ERROR_SUCCESS;
}
