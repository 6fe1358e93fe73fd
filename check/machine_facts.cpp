#include "check/machine_facts.h"

#include "button/process_lookup.h"
#include "check/protection.h"
#include "check/upgrade_codes.h"
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

std::optional<DWORD> MachineDword(const char *registryKey, const char *valueName) {
    UniqueRegKey key;
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, registryKey, 0, KEY_QUERY_VALUE, key.put()) !=
            ERROR_SUCCESS ||
        RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE *>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

std::optional<DWORD> RegisteredStart(const char *registryKey, const char *valueName) {
    return MachineDword(registryKey, valueName);
}

std::string StateName(DWORD state) {
    switch (state) {
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    case SERVICE_PAUSE_PENDING:
        return "pausing";
    case SERVICE_CONTINUE_PENDING:
        return "resuming";
    case SERVICE_PAUSED:
        return "paused";
    default:
        return std::to_string(state);
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

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? name : "";
}

std::string UtcTimestamp() {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

WindowsFacts WindowsVersion() {
    using GetVersionFn = LONG(WINAPI *)(OSVERSIONINFOW *);
    const auto getVersion =
        GetProcedure<GetVersionFn>(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!getVersion || getVersion(&info) != 0)
        return {};
    return {std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion),
            info.dwBuildNumber};
}

std::optional<bool> MemoryIntegrity() {
    const std::optional<DWORD> enabled =
        MachineDword("SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                     "HypervisorEnforcedCodeIntegrity",
                     "Enabled");
    if (!enabled)
        return std::nullopt;
    return *enabled != 0;
}

std::optional<PackageFacts> InstalledPackage() {
    // msi.dll is no known DLL: from the system folder alone.
    const HMODULE msi = LoadSystemLibrary("msi.dll");
    using EnumFn = UINT(WINAPI *)(LPCSTR, DWORD, DWORD, LPSTR);
    using InfoFn = UINT(WINAPI *)(LPCSTR, LPCSTR, LPSTR, LPDWORD);
    const auto related = GetProcedure<EnumFn>(msi, "MsiEnumRelatedProductsA");
    const auto info = GetProcedure<InfoFn>(msi, "MsiGetProductInfoA");
    if (!related || !info)
        return std::nullopt;
    for (const char *upgradeCode : kUpgradeCodes) {
        char product[39] = {}; // a GUID in braces
        if (related(upgradeCode, 0, 0, product) != ERROR_SUCCESS)
            continue;
        char version[64] = {};
        DWORD size = sizeof version;
        if (info(product, "VersionString", version, &size) != ERROR_SUCCESS)
            version[0] = '\0';
        return PackageFacts{product, version};
    }
    return std::nullopt;
}
