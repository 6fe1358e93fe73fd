// Stub companion application WGB.exe. Each start appends one record of how
// it was started (companion_record.h) to WGB.starts.txt beside it; then it
// leaves at once, or stays running for as long as WGB.stay exists beside it.

#include <windows.h>

#include <lmcons.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/win_handles.h"
#include "sim/companion/companion_record.h"

namespace {

namespace rec = companion_record;

constexpr DWORD kStayPollMs = 100;
constexpr int kAppendAttempts = 400;
constexpr DWORD kAppendRetryMs = 25;
constexpr DWORD kLongPath = 32768;

std::string ModulePath() {
    std::vector<char> buffer(kLongPath);
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), kLongPath);
    return std::string(buffer.data(), n < kLongPath ? n : 0);
}

// The directory part of a path, ending in a backslash.
std::string DirectoryOf(const std::string &path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Narrow(const wchar_t *text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

// 100 ns since 1601, as precise as the system offers.
std::uint64_t StartTime() {
    using PreciseTimeFn = VOID(WINAPI *)(LPFILETIME);
    FILETIME ft{};
    auto precise = reinterpret_cast<PreciseTimeFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32"), "GetSystemTimePreciseAsFileTime")));
    if (precise)
        precise(&ft);
    else
        GetSystemTimeAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

DWORD ParentProcessId() {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self)
            return entry.th32ParentProcessID;
    }
    return 0;
}

std::string UserName() {
    char name[UNLEN + 1] = "";
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

std::string SessionId() {
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? std::to_string(session)
                                                                 : std::string();
}

std::string ObjectName(HANDLE object) {
    DWORD needed = 0;
    GetUserObjectInformationA(object, UOI_NAME, nullptr, 0, &needed);
    if (needed == 0)
        return std::string();
    std::vector<char> name(needed + 1, '\0');
    if (!GetUserObjectInformationA(object, UOI_NAME, name.data(), needed, &needed))
        return std::string();
    return std::string(name.data());
}

std::string CurrentDirectory() {
    std::vector<char> buffer(kLongPath);
    DWORD n = GetCurrentDirectoryA(kLongPath, buffer.data());
    return std::string(buffer.data(), n < kLongPath ? n : 0);
}

// False when the variable is not set (an empty one is set).
bool EnvironmentVariable(const char *name, std::string &value) {
    std::vector<char> buffer(kLongPath);
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableA(name, buffer.data(), kLongPath);
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return false;
    value.assign(buffer.data(), n < kLongPath ? n : 0);
    return true;
}

void AppendArguments(std::string &line) {
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        argc = 0;
    rec::AppendField(line, rec::kArgc, std::to_string(argc));
    for (int i = 0; i < argc; ++i)
        rec::AppendField(line, rec::kArgvPrefix + std::to_string(i), Narrow(argv[i]));
    LocalFree(argv);
}

std::string BuildRecord(std::uint64_t startTime, const std::string &exePath, bool staying) {
    std::string line;
    rec::AppendField(line, rec::kPid, std::to_string(GetCurrentProcessId()));
    rec::AppendField(line, rec::kParentPid, std::to_string(ParentProcessId()));
    rec::AppendField(line, rec::kTime, std::to_string(startTime));
    rec::AppendField(line, rec::kExe, exePath);
    rec::AppendField(line, rec::kCommandLine, GetCommandLineA());
    AppendArguments(line);
    rec::AppendField(line, rec::kUser, UserName());
    rec::AppendField(line, rec::kSession, SessionId());
    rec::AppendField(line, rec::kWindowStation, ObjectName(GetProcessWindowStation()));
    rec::AppendField(line, rec::kDesktop, ObjectName(GetThreadDesktop(GetCurrentThreadId())));
    rec::AppendField(line, rec::kCurrentDir, CurrentDirectory());
    rec::AppendField(line, rec::kStaying, staying ? "1" : "0");
    for (const char *name : rec::kEnvironmentNames) {
        std::string value;
        if (EnvironmentVariable(name, value))
            rec::AppendField(line, std::string(rec::kEnvPrefix) + name, value);
    }
    line += '\n';
    return line;
}

// One write with append-only access, so that records of companions started
// at the same time do not mix; another writer holding the file is waited for.
void AppendRecord(const std::string &path, const std::string &line) {
    for (int attempt = 0; attempt < kAppendAttempts; ++attempt) {
        UniqueHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
            error != ERROR_ACCESS_DENIED)
            return;
        Sleep(kAppendRetryMs);
    }
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::uint64_t startTime = StartTime();
    const std::string exePath = ModulePath();
    const std::string dir = DirectoryOf(exePath);
    const std::string stayFile = dir + rec::kStayFileName;

    AppendRecord(dir + rec::kRecordFileName, BuildRecord(startTime, exePath, FileExists(stayFile)));
    while (FileExists(stayFile))
        Sleep(kStayPollMs);
    return 0;
}
