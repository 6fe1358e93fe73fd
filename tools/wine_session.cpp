#include "tools/wine_session.h"

#include "button/process_lookup.h"
#include "common/ascii_case.h"
#include "common/win_handles.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace tools {

void Say(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

void Fail(const char *what) {
    Say("FAILED: %s", what);
    std::exit(1);
}

std::string LayOut(const std::string &dir, const std::vector<std::string> &boards) {
    for (size_t pos = dir.find('\\', 3); pos != std::string::npos; pos = dir.find('\\', pos + 1))
        CreateDirectoryA(dir.substr(0, pos).c_str(), nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
    const char *artifacts = std::getenv("WGB_ARTIFACTS");
    if (artifacts == nullptr)
        Fail("WGB_ARTIFACTS is not set: run the tool through run-in-wine");
    const std::string root = dir + "\\";
    for (const char *file :
         {"WGBService.exe", "WGBCheck.exe", "Quendra.sys", "Quendra_X64.sys", "WGB.exe"})
        CopyFileA((std::string("Z:") + artifacts + "/" + file).c_str(), (root + file).c_str(),
                  FALSE);
    std::ofstream ini(root + "WGB.ini", std::ios::binary);
    ini << "[MainBoard]\r\n";
    for (size_t i = 0; i < boards.size(); ++i)
        ini << i + 1 << "=" << boards[i] << "\r\n";
    return root;
}

void SetBoardProduct(const std::string &product) {
    std::ofstream("Z:\\sys\\class\\dmi\\id\\board_name", std::ios::binary) << product << "\n";
}

void RunToEnd(const std::string &exe, const char *arguments) {
    std::string line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        Fail("cannot start a program of the build");
    WaitForSingleObject(process.hProcess, kWaitMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs) {
    for (const ULONGLONG deadline = GetTickCount64() + timeoutMs; !cond(); Sleep(50))
        if (GetTickCount64() >= deadline)
            return false;
    return true;
}

namespace {
SERVICE_STATUS_PROCESS Status(const char *name) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
    QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status),
                         sizeof status, &needed);
    return status;
}
} // namespace

DWORD ServiceState(const char *name) {
    return Status(name).dwCurrentState;
}

DWORD ServiceProcessId(const char *name) {
    return Status(name).dwProcessId;
}

bool WaitForServiceState(const char *name, DWORD state) {
    return WaitUntil([&] { return ServiceState(name) == state; });
}

std::vector<DWORD> ProcessesNamed(const char *exeName) {
    std::vector<DWORD> pids;
    for (const ProcessEntry &process : SnapshotProcesses())
        if (EqualIgnoringAsciiCase(process.exeName.c_str(), exeName))
            pids.push_back(process.processId);
    return pids;
}

} // namespace tools
