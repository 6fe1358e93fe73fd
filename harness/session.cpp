#include "harness/session.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace session {

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kDefaultDeadlineS = 900;

bool SameNameIgnoringCase(const char *a, const std::string &b) {
    return lstrcmpiA(a, b.c_str()) == 0;
}

} // namespace

UniqueServiceHandle OpenServiceByName(const std::string &name, DWORD access) {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager ? OpenServiceA(manager.get(), name.c_str(), access)
                                        : nullptr);
    const DWORD error = GetLastError();
    manager.reset();
    SetLastError(error);
    return service;
}

DWORD DeadlineMs() {
    const char *seconds = std::getenv("WGB_DEADLINE_S");
    const unsigned long value = seconds ? std::strtoul(seconds, nullptr, 10) : 0;
    return (value != 0 ? value : kDefaultDeadlineS) * 1000;
}

std::string ArtifactPath(const std::string &fileName) {
    const char *dir = std::getenv("WGB_ARTIFACTS");
    if (dir == nullptr)
        return "";
    std::string path = std::string("Z:") + dir + "/" + fileName;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteTextFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return out.good();
}

void MakeEmptyDir(const std::string &dir) {
    WIN32_FIND_DATAA found;
    const UniqueFindHandle find(FindFirstFileA((dir + "\\*").c_str(), &found));
    for (BOOL more = find ? TRUE : FALSE; more; more = FindNextFileA(find.get(), &found))
        DeleteFileA((dir + "\\" + found.cFileName).c_str());
    for (size_t pos = dir.find('\\', 3); pos != std::string::npos; pos = dir.find('\\', pos + 1))
        CreateDirectoryA(dir.substr(0, pos).c_str(), nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
}

std::string MainBoardIni(const std::vector<std::string> &values) {
    std::string ini = "[MainBoard]\r\n";
    for (size_t i = 0; i < values.size(); ++i)
        ini += std::to_string(i + 1) + "=" + values[i] + "\r\n";
    return ini;
}

std::string LayOut(const std::string &dir, const std::optional<std::string> &ini) {
    MakeEmptyDir(dir);
    const std::string root = dir + "\\";
    for (const char *file :
         {"WGBService.exe", "WGBCheck.exe", "Quendra.sys", "Quendra_X64.sys", "WGB.exe"}) {
        const std::string built = ArtifactPath(file);
        if (FileExists(built) && !CopyFileA(built.c_str(), (root + file).c_str(), FALSE))
            return "";
    }
    if (ini && !WriteTextFile(root + "WGB.ini", *ini))
        return "";
    return root;
}

bool SetBoardProduct(const std::string &product) {
    return WriteTextFile("Z:\\sys\\class\\dmi\\id\\board_name", product + "\n");
}

bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!cond()) {
        if (GetTickCount64() >= deadline)
            return cond();
        Sleep(kPollMs);
    }
    return true;
}

std::optional<SERVICE_STATUS_PROCESS> ServiceStatus(const std::string &name) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    const UniqueServiceHandle service = OpenServiceByName(name, SERVICE_QUERY_STATUS);
    if (!service ||
        !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE *>(&status), sizeof status, &needed))
        return std::nullopt;
    return status;
}

DWORD ServiceState(const std::string &name) {
    const std::optional<SERVICE_STATUS_PROCESS> status = ServiceStatus(name);
    return status ? status->dwCurrentState : 0;
}

bool WaitForServiceState(const std::string &name, DWORD state) {
    return WaitUntil([&] { return ServiceState(name) == state; });
}

DWORD ServiceProcessId(const std::string &name) {
    return ServiceStatus(name).value_or(SERVICE_STATUS_PROCESS{}).dwProcessId;
}

bool StartServiceByName(const std::string &name) {
    const UniqueServiceHandle service = OpenServiceByName(name, SERVICE_START);
    return service && StartServiceA(service.get(), 0, nullptr);
}

bool RequestStop(const std::string &name) {
    const UniqueServiceHandle service = OpenServiceByName(name, SERVICE_STOP);
    SERVICE_STATUS status = {};
    if (service && ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        return true;
    // Wine runs a service's control handler on a thread of its own: once the
    // handler has reported stopped, the dispatcher returns and the process
    // may end before that thread has answered. Windows answers from the
    // dispatcher's thread, before it returns.
    return service && GetLastError() == ERROR_BROKEN_PIPE;
}

std::optional<DWORD> StopService(const std::string &name) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                           ServiceProcessId(name)));
    DWORD code = STILL_ACTIVE;
    if (!process || !RequestStop(name) || !WaitForServiceState(name, SERVICE_STOPPED) ||
        WaitForSingleObject(process.get(), DeadlineMs()) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &code))
        return std::nullopt;
    return code;
}

std::vector<DWORD> ProcessesNamed(const std::string &exeName) {
    std::vector<DWORD> pids;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry))
        if (SameNameIgnoringCase(entry.szExeFile, exeName))
            pids.push_back(entry.th32ProcessID);
    return pids;
}

void KillProcessesNamed(const std::string &exeName) {
    for (DWORD pid : ProcessesNamed(exeName)) {
        const UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (process && TerminateProcess(process.get(), 1))
            WaitForSingleObject(process.get(), DeadlineMs());
    }
}

int HandleCount(DWORD pid) {
    struct Entry { // SYSTEM_HANDLE_TABLE_ENTRY_INFO
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using QueryFn = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<BYTE> buffer(1 << 16);
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), nullptr)) == kInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status < 0)
        return -1;
    // The count is followed by the entries, aligned for a pointer.
    const ULONG count = *reinterpret_cast<const ULONG *>(buffer.data());
    const auto *entries = reinterpret_cast<const Entry *>(buffer.data() + sizeof(ULONG_PTR));
    int handles = 0;
    for (ULONG i = 0; i < count; ++i)
        handles += entries[i].ownerPid == pid;
    return handles;
}

UniqueHandle StartProgram(const std::string &cmdLine, const std::string &outputFile,
                          const char *desktop) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const UniqueHandle output(
        outputFile.empty() ? nullptr
                           : CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                         &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!outputFile.empty() && !output)
        return UniqueHandle();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string desktopName = desktop ? desktop : "";
    if (desktop)
        startup.lpDesktop = desktopName.data();
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = output.get();
    }
    PROCESS_INFORMATION process = {};
    std::string line = cmdLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return UniqueHandle();
    const UniqueHandle thread(process.hThread);
    return UniqueHandle(process.hProcess);
}

namespace {

// The process's exit code once it ends; none when it did not end before the deadline.
std::optional<DWORD> ExitCodeOf(const UniqueHandle &process) {
    DWORD exitCode = 0;
    if (WaitForSingleObject(process.get(), DeadlineMs()) != WAIT_OBJECT_0)
        TerminateProcess(process.get(), 1);
    else if (GetExitCodeProcess(process.get(), &exitCode))
        return exitCode;
    return std::nullopt;
}

} // namespace

std::optional<DWORD> RunProgram(const std::wstring &cmdLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring line = cmdLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return std::nullopt;
    const UniqueHandle thread(process.hThread);
    return ExitCodeOf(UniqueHandle(process.hProcess));
}

std::optional<DWORD> RunProgram(const std::string &cmdLine, std::string *output) {
    // The child writes into a file: a pipe would need a reader thread.
    char file[MAX_PATH] = "";
    if (output) {
        char tempDir[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, tempDir);
        GetTempFileNameA(tempDir, "wgb", 0, file);
    }
    const UniqueHandle process = StartProgram(cmdLine, file);
    if (!process)
        return std::nullopt;
    const std::optional<DWORD> code = ExitCodeOf(process);
    if (output) {
        *output = ReadWholeFile(file);
        DeleteFileA(file);
    }
    return code;
}

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quoted(const std::string &text) {
    return "\"" + text + "\"";
}

} // namespace session
