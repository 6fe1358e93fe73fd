#include "check/machine_facts.h"

#include "button/process_lookup.h"
#include "check/protection.h"
#include "common/service_config.h"
#include "common/system_library.h"
#include "common/win_handles.h"

#include <cstdio>
#include <cstring>
#include <vector>

std::string WindowsError(DWORD error) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && std::strchr("\r\n .", message.back()))
        message.pop_back();
    return "Windows error " + std::to_string(error) + (message.empty() ? "" : " (" + message + ")");
}

bool IsElevated() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return false;
    const UniqueHandle token(raw);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return elevation.TokenIsElevated != 0;
    // Windows without elevation: an administrator has full rights.
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) &&
           CheckTokenMembership(nullptr, sid, &member) && member;
}

std::optional<ServiceFacts> QueryServiceFacts(const char *name, DWORD *error) {
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(
        manager ? OpenServiceA(manager.get(), name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                : nullptr);
    const std::vector<char> buffer =
        service ? ReadServiceConfig(service.get()) : std::vector<char>();
    const QUERY_SERVICE_CONFIGA *config = ServiceConfigIn(buffer);
    SERVICE_STATUS status = {};
    if (buffer.empty() || !QueryServiceStatus(service.get(), &status)) {
        *error = GetLastError();
        return std::nullopt;
    }
    return ServiceFacts{config->lpBinaryPathName ? config->lpBinaryPathName : "",
                        config->dwStartType, status.dwCurrentState};
}

std::optional<DWORD> RegisteredStart(const char *registryKey, const char *valueName) {
    UniqueRegKey key;
    DWORD start = 0, size = sizeof start, type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, registryKey, 0, KEY_QUERY_VALUE, key.put()) !=
            ERROR_SUCCESS ||
        RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE *>(&start),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return start;
}

const char *StateName(DWORD state) {
    switch (state) {
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    default:
        return "paused";
    }
}

std::string StartName(DWORD start) {
    static const char *const kNames[] = {"boot", "system", "auto", "demand", "disabled"};
    return start < sizeof kNames / sizeof kNames[0] ? kNames[start] : std::to_string(start);
}

std::string UserOfProcess(DWORD processId) {
    const UniqueHandle token = OpenPrimaryToken(processId);
    DWORD size = 0;
    if (token)
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    std::string name;
    if (!token || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) ||
        !KnownAccountName(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, name))
        return "";
    return name;
}

std::string FileVersion(const std::string &path) {
    // version.dll is no known DLL: from the system folder alone, as userenv.
    const HMODULE version = LoadSystemLibrary("version.dll");
    using SizeFn = DWORD(WINAPI *)(LPCSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI *)(LPCSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI *)(LPCVOID, LPCSTR, LPVOID *, PUINT);
    const auto infoSize = GetProcedure<SizeFn>(version, "GetFileVersionInfoSizeA");
    const auto info = GetProcedure<InfoFn>(version, "GetFileVersionInfoA");
    const auto query = GetProcedure<QueryFn>(version, "VerQueryValueA");
    const DWORD size = infoSize ? infoSize(path.c_str(), nullptr) : 0;
    std::vector<BYTE> data(size);
    void *value = nullptr;
    UINT length = 0;
    if (size == 0 || !info || !query || !info(path.c_str(), 0, size, data.data()) ||
        !query(data.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return "";
    const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    return text;
}
