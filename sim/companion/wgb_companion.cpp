// Stub companion application WGB.exe. Each start appends one record of how
// it was started (companion_record.h) to WGB.starts.txt beside it; then it
// leaves at once, or stays running for as long as WGB.stay exists beside it.

#include <windows.h>

#include <lmcons.h>
#include <sddl.h>

#include <string>

#include "sim/companion/companion_record.h"
#include "sim/owned_handle.h"

namespace {

namespace rec = companion_record;

constexpr DWORD kStayPollMs = 100;
constexpr int kAppendAttempts = 400;
constexpr DWORD kAppendRetryMs = 25;

void AppendField(std::string &line, const std::string &key, std::string value) {
    for (char &c : value)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    line += (line.empty() ? "" : "\t") + key + "=" + value;
}

std::string ObjectName(HANDLE object) {
    char name[256] = "";
    DWORD needed = 0;
    GetUserObjectInformationA(object, UOI_NAME, name, sizeof name - 1, &needed);
    return name;
}

// What the token the companion was started with says: its user and its
// enabled privileges, which a copy of a token keeps.
void AppendTokenFields(std::string &line) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return;
    const sim::OwnedHandle token(raw);
    BYTE buffer[4096];
    DWORD size = 0;
    char *sid = nullptr;
    if (GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &sid)) {
        AppendField(line, rec::kUserSid, sid);
        LocalFree(sid);
    }
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer, sizeof buffer, &size))
        return;
    const auto *privileges = reinterpret_cast<TOKEN_PRIVILEGES *>(buffer);
    std::string enabled;
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        char name[64];
        DWORD length = sizeof name;
        LUID luid = privileges->Privileges[i].Luid;
        if ((privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) &&
            LookupPrivilegeNameA(nullptr, &luid, name, &length))
            enabled += std::string(name) + " ";
    }
    AppendField(line, rec::kPrivileges, enabled);
}

std::string Record(const FILETIME &start) {
    const unsigned long long time =
        static_cast<unsigned long long>(start.dwHighDateTime) << 32 | start.dwLowDateTime;
    char user[UNLEN + 1] = "";
    DWORD size = sizeof user;
    GetUserNameA(user, &size);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);

    std::string line;
    AppendField(line, rec::kPid, std::to_string(GetCurrentProcessId()));
    AppendField(line, rec::kTime, std::to_string(time));
    AppendField(line, rec::kCommandLine, GetCommandLineA());
    AppendField(line, rec::kUser, user);
    AppendTokenFields(line);
    AppendField(line, rec::kSession, std::to_string(session));
    AppendField(line, rec::kWindowStation, ObjectName(GetProcessWindowStation()));
    AppendField(line, rec::kDesktop, ObjectName(GetThreadDesktop(GetCurrentThreadId())));
    for (const char *name : rec::kEnvironmentNames) {
        char value[4096];
        const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
        if (n > 0 && n < sizeof value)
            AppendField(line, std::string("env.") + name, value);
    }
    return line + "\n";
}

// One write with append-only access, so that records never mix; another
// writer or a reader holding the file is waited for.
void AppendRecord(const std::string &path, const std::string &line) {
    for (int attempt = 0; attempt < kAppendAttempts; ++attempt) {
        sim::OwnedHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            return;
        }
        Sleep(kAppendRetryMs);
    }
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    FILETIME start;
    GetSystemTimeAsFileTime(&start);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    dir.erase(dir.find_last_of('\\') + 1);

    AppendRecord(dir + rec::kRecordFileName, Record(start));
    while (FileExists(dir + rec::kStayFileName))
        Sleep(kStayPollMs);
    return 0;
}
