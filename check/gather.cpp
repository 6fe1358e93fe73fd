#include "check/gather.h"

#include "board/identify_board.h"
#include "board/board_list.h"
#include "button/process_lookup.h"
#include "button/worker_rules.h"
#include "check/judge.h"
#include "check/load_undo.h"
#include "check/upgrade_codes.h"
#include "common/ansi_text.h"
#include "common/protection.h"
#include "common/service_config.h"
#include "common/shared_state.h"
#include "common/system_library.h"
#include "common/win_handles.h"
#include "hwaccess/io_driver.h"
#include "hwaccess/port_io.h"
#include "service/service_rules.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr DWORD kWatchSampleMs = 100;
constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr char kMemoryIntegrityKey[] = "SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\"
                                       "Scenarios\\HypervisorEnforcedCodeIntegrity";

bool Exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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

struct Registration {
    std::string imagePath; // ANSI
    DWORD start = 0, state = 0;
};
// A service's registration and state; none, with the Windows error in
// *error, when it cannot be read (ERROR_SERVICE_DOES_NOT_EXIST: not registered).
std::optional<Registration> QueryRegistration(const char *name, DWORD *error) {
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
    return Registration{config->lpBinaryPathName ? config->lpBinaryPathName : "",
                        config->dwStartType, status.dwCurrentState};
}

// An account's name in UTF-8, every character of it, where the service's
// rules read names in the ANSI code page.
bool AccountNameUtf8(PSID sid, std::string &name) {
    wchar_t account[256], domain[256];
    DWORD accountSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, account, &accountSize, domain, &domainSize, &use))
        return false;
    name = Utf8FromWide(domain[0] != L'\0' ? std::wstring(domain) + L"\\" + account
                                           : std::wstring(account));
    return true;
}

std::string UserOfProcess(DWORD processId) {
    const UniqueHandle token = OpenPrimaryToken(processId);
    DWORD size = 0;
    if (token)
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    std::string name;
    if (!token || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) ||
        !AccountNameUtf8(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, name))
        return "";
    return name;
}

// The fixed file version of an executable, "a.b.c.d"; empty when it has none.
std::string FileVersion(const std::wstring &path) {
    // version.dll is no known DLL: from the system folder alone.
    const HMODULE version = LoadSystemLibrary("version.dll");
    using SizeFn = DWORD(WINAPI *)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI *)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI *)(LPCVOID, LPCWSTR, LPVOID *, PUINT);
    const auto infoSize = GetProcedure<SizeFn>(version, "GetFileVersionInfoSizeW");
    const auto info = GetProcedure<InfoFn>(version, "GetFileVersionInfoW");
    const auto query = GetProcedure<QueryFn>(version, "VerQueryValueW");
    const DWORD size = infoSize ? infoSize(path.c_str(), nullptr) : 0;
    std::vector<BYTE> data(size);
    void *value = nullptr;
    UINT length = 0;
    if (size == 0 || !info || !query || !info(path.c_str(), 0, size, data.data()) ||
        !query(data.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return "";
    const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    return text;
}

// The computer's name, as %COMPUTERNAME% gives it, with the letters that the
// ANSI code page lacks.
std::string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? Utf8FromWide(std::wstring(name, size)) : "";
}

std::string UtcTimestamp() {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

// The version of Windows itself, which GetVersionEx hides from a program
// that declares none in a manifest.
WindowsFacts WindowsOf() {
    WindowsFacts windows;
    windows.x64 = IsX64System();
    using GetVersionFn = LONG(WINAPI *)(OSVERSIONINFOW *);
    const auto getVersion =
        GetProcedure<GetVersionFn>(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (getVersion && getVersion(&info) == 0) {
        windows.version =
            std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
        windows.build = info.dwBuildNumber;
    }
    // What the registry configures for the next boot, not what runs now.
    if (const std::optional<DWORD> enabled = MachineDword(kMemoryIntegrityKey, "Enabled"))
        windows.memoryIntegrityConfigured = *enabled != 0;
    return windows;
}

// The package installed under one of the upgrade codes, through the
// installer's own functions, with the ProductVersion its package states.
PackageFacts InstalledPackage() {
    // msi.dll is no known DLL: from the system folder alone.
    const HMODULE msi = LoadSystemLibrary("msi.dll");
    using EnumFn = UINT(WINAPI *)(LPCSTR, DWORD, DWORD, LPSTR);
    using MsiHandle = unsigned long; // msi.h's MSIHANDLE
    using OpenFn = UINT(WINAPI *)(LPCSTR, MsiHandle *);
    using PropertyFn = UINT(WINAPI *)(MsiHandle, LPCSTR, LPSTR, LPDWORD);
    using CloseFn = UINT(WINAPI *)(MsiHandle);
    const auto related = GetProcedure<EnumFn>(msi, "MsiEnumRelatedProductsA");
    const auto open = GetProcedure<OpenFn>(msi, "MsiOpenProductA");
    const auto property = GetProcedure<PropertyFn>(msi, "MsiGetProductPropertyA");
    const auto close = GetProcedure<CloseFn>(msi, "MsiCloseHandle");
    if (!related || !open || !property || !close)
        return {};
    for (const char *upgradeCode : kUpgradeCodes) {
        char product[39] = {}; // a GUID in braces
        if (related(upgradeCode, 0, 0, product) != ERROR_SUCCESS)
            continue;
        char version[64] = {};
        DWORD size = sizeof version;
        MsiHandle handle = 0;
        if (open(product, &handle) != ERROR_SUCCESS ||
            property(handle, "ProductVersion", version, &size) != ERROR_SUCCESS)
            version[0] = '\0';
        if (handle != 0)
            close(handle);
        return {product, version};
    }
    return {};
}

// 1. The files the service needs beside it; the driver file is the one this
// Windows needs, by the service's own choice.
FileFacts FilesIn(const std::string &directory) {
    FileFacts files;
    files.needed = {kModuleFileName, kIniFileName, DriverFileName(), kCompanionExeName};
    files.driver = DriverFileName();
    for (const std::string &name : files.needed) {
        if (!Exists(directory + name))
            files.missing.push_back(name);
    }
    return files;
}

// 2. Who could plant or alter what the service runs as LocalSystem.
ProtectionFacts ProtectionOf(const std::string &directory, const FileFacts &files) {
    std::string folder = directory;
    if (folder.size() > 3) // "C:\" keeps its backslash
        folder.pop_back();
    std::vector<std::pair<std::string, std::string>> objects = {{folder, "the folder"}};
    for (const std::string &name : files.needed) {
        if (Exists(directory + name))
            objects.emplace_back(directory + name, name);
    }
    ProtectionFacts protection;
    for (const auto &[path, shownName] : objects) {
        ProtectedObject object;
        object.path = Utf8FromAnsi(path);
        object.shownName = Utf8FromAnsi(shownName);
        std::vector<std::string> others;
        const DWORD error = OthersWhoMayChangePath(path, AccountNameUtf8, others);
        object.read = error == ERROR_SUCCESS;
        if (!object.read)
            object.error = WindowsError(error);
        object.others = others;
        protection.objects.push_back(object);
    }
    return protection;
}

// 3. The service's registration: this folder's executable, quoted, started at boot.
ServiceFacts ServiceOf(const std::string &directory) {
    ServiceFacts service;
    const std::string executable = directory + kModuleFileName;
    service.executable = Utf8FromAnsi(executable);
    service.registrable = ModulePathFits(executable.size());
    DWORD error = ERROR_SUCCESS;
    const std::optional<Registration> found = QueryRegistration(kServiceName, &error);
    if (!found) {
        service.found = error == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceFacts::Found::NotRegistered
                                                              : ServiceFacts::Found::NotQueried;
        service.error = WindowsError(error);
        return service;
    }
    service.imagePath = Utf8FromAnsi(found->imagePath);
    // The next boot reads "Start" from the registry, which the Service
    // Control Manager may not show before that boot.
    service.start = MachineDword(kServiceRegistryKey, kStartValueName).value_or(found->start);
    service.state = found->state;
    const char *image = found->imagePath.c_str();
    service.names = lstrcmpiA(image, QuotedImagePath(executable).c_str()) == 0
                        ? ServiceFacts::Names::Quoted
                    : lstrcmpiA(image, executable.c_str()) == 0 ? ServiceFacts::Names::Unquoted
                                                                : ServiceFacts::Names::Other;
    return service;
}

IniMark Utf8MarkOf(const std::string &path) {
    char head[64] = {};
    DWORD read = 0;
    const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !ReadFile(file.get(), head, sizeof head - 1, &read, nullptr) ||
        read < sizeof kUtf8Mark || std::memcmp(head, kUtf8Mark, sizeof kUtf8Mark) != 0)
        return IniMark::None;
    const char *line = head + sizeof kUtf8Mark;
    while (*line == ' ' || *line == '\t')
        ++line;
    constexpr char kSection[] = "[MainBoard]";
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, line, sizeof kSection - 1, kSection,
                          sizeof kSection - 1) == CSTR_EQUAL
               ? IniMark::HidesMainBoard
               : IniMark::BeforeOtherSection;
}

// 4. The board: the product text WMI gives and its match in WGB.ini, with
// the service's own functions on the ANSI texts it reads.
BoardFacts BoardOf(const std::string &directory) {
    BoardFacts board;
    const std::string iniPath = directory + kIniFileName;
    board.iniPath = Utf8FromAnsi(iniPath);
    std::string product;
    board.wmi = ReadBaseboardProduct(product);
    board.mark = Utf8MarkOf(iniPath);
    if (board.wmi != WmiAnswer::Product)
        return board;
    const std::vector<std::string> entries = ReadBoardList(
        [&iniPath](const std::string &key) { return ReadBoardListKeyIn(iniPath, key); });
    board.matchingKey = FindBoardListKey(product, entries);
    const ButtonInput input = ButtonInputFor(product);
    board.inputPort = input.port;
    board.inputBit = input.bit;
    board.product = Utf8FromAnsi(product);
    for (const std::string &entry : entries)
        board.entries.push_back(Utf8FromAnsi(entry));
    return board;
}

// --load loads a kernel driver as LocalSystem would: only a folder and a
// driver file that nobody else may change.
std::vector<std::string> LoadRefusedFor(const CheckFacts &facts) {
    std::vector<std::string> refused;
    for (const ProtectedObject &object : facts.protection->objects) {
        const bool loaded =
            object.shownName == "the folder" || object.shownName == facts.files->driver;
        if (loaded && !object.read)
            refused.push_back(object.path + ": " + object.error.text);
        else if (loaded && !object.others.empty()) {
            std::string accounts;
            for (const std::string &account : object.others)
                accounts += (accounts.empty() ? "" : ", ") + account;
            refused.push_back(object.path + ": " + accounts);
        }
    }
    return refused;
}

// 5. The driver: its device, or why it is not there; with --load, bring-up.
DriverFacts DriverOf(const std::string &directory, const CheckFacts &facts,
                     const CheckOptions &options) {
    DriverFacts driver;
    driver.deviceOpen = OpenDriverDevice();
    const DWORD openError = GetLastError();
    if (driver.deviceOpen)
        return driver;
    driver.deviceMissing = openError == ERROR_FILE_NOT_FOUND;
    driver.openError = WindowsError(openError);
    if (driver.deviceMissing && options.load)
        driver.loadRefusedFor = LoadRefusedFor(facts);
    if (driver.deviceMissing && options.load && driver.loadRefusedFor.empty()) {
        driver.load = LoadDriver(directory, driver.deviceOpen);
        return driver;
    }
    if (!driver.deviceMissing)
        return driver;
    DWORD error = ERROR_SUCCESS;
    driver.registrationRead = true;
    if (const std::optional<Registration> found = QueryRegistration(kDriverServiceName, &error))
        driver.registration =
            DriverRegistration{Utf8FromAnsi(found->imagePath), found->state, found->start};
    return driver;
}

// 6. The button's level now, read as the service reads it.
ButtonFacts ButtonOf(const CheckFacts &facts) {
    ButtonFacts button;
    if (!ButtonUnreadable(facts).empty())
        return button;
    button.read = true;
    if (!TryReadIoPortByte(static_cast<std::uint16_t>(facts.board->inputPort), button.value)) {
        button.readFailed = true;
        button.readError = WindowsError(GetLastError());
        return button;
    }
    const ButtonInput input{static_cast<std::uint16_t>(facts.board->inputPort),
                            static_cast<std::uint8_t>(facts.board->inputBit)};
    button.pressed = ButtonLevel(input, button.value) == kLevelPressed;
    return button;
}

// 7. The processes and sessions the service chooses the user from.
UserFacts UserOf() {
    UserFacts user;
    const DWORD console = WTSGetActiveConsoleSessionId();
    // 0xFFFFFFFF: nobody is at the console (a session being attached or gone).
    if (console != 0xFFFFFFFF)
        user.consoleSession = console;
    user.processes = SnapshotProcesses();
    for (const ProcessEntry &process : user.processes) {
        if (lstrcmpiA(process.exeName.c_str(), kShellExeName) == 0)
            user.shellUsers.emplace_back(process.processId, UserOfProcess(process.processId));
    }
    return user;
}

} // namespace

WinError WindowsError(unsigned long error) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::string message = Utf8FromAnsi(text);
    while (!message.empty() && std::strchr("\r\n .", message.back()))
        message.pop_back();
    return {error, "Windows error " + std::to_string(error) +
                       (message.empty() ? "" : " (" + message + ")")};
}

CheckFacts GatherFacts(const CheckOptions &options) {
    CheckFacts facts;
    // The installation checked is the one this copy lies in, as for the
    // service, which reads its path in the ANSI code page.
    std::wstring program(32768, L'\0');
    program.resize(GetModuleFileNameW(nullptr, &program[0], 32768) % 32768);
    std::string path = AnsiFromWide(program);
    facts.programPathFits = !path.empty() && path.size() < kTextBufferSize;
    facts.header.checkVersion = facts.programPathFits ? FileVersion(program) : "";
    facts.header.computerName = ComputerName();
    facts.header.checkedAt = UtcTimestamp();
    if (!facts.programPathFits)
        return facts;
    const std::wstring folder = program.substr(0, program.rfind(L'\\') + 1);
    CutToDirectory(&path[0], IsAnsiLeadByte);
    const std::string directory = path.c_str();
    const auto versionOf = [&](const char *name) {
        return FileVersion(folder + WideFromAnsi(name));
    };
    facts.header.serviceVersion = versionOf(kModuleFileName);
    facts.header.driverVersion = versionOf(DriverFileName());
    facts.header.companionVersion = versionOf(kCompanionExeName);
    facts.windows = WindowsOf();
    facts.package = InstalledPackage();
    // The texts the service builds from its folder must fit as they do there.
    facts.machine = MachineFacts{Utf8FromWide(folder), IsElevated(),
                                 DirectoryFitsTexts(directory.size()), FitsAnsiCodePage(folder)};
    if (!facts.machine->directoryFits || !facts.machine->directoryInCodePage)
        return facts;
    facts.files = FilesIn(directory);
    facts.protection = ProtectionOf(directory, *facts.files);
    facts.service = ServiceOf(directory);
    facts.board = BoardOf(directory);
    facts.driver = DriverOf(directory, facts, options);
    facts.button = ButtonOf(facts);
    facts.user = UserOf();
    return facts;
}

void WatchButton(CheckFacts &facts, unsigned seconds,
                 const std::function<void(const WatchChange &)> &onChange) {
    WatchFacts watch;
    watch.ran = facts.machine && facts.machine->directoryFits && ButtonUnreadable(facts).empty();
    if (!watch.ran) {
        facts.watch = watch;
        return;
    }
    const ButtonInput input{static_cast<std::uint16_t>(facts.board->inputPort),
                            static_cast<std::uint8_t>(facts.board->inputBit)};
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    std::optional<bool> wasPressed;
    const DWORD start = GetTickCount();
    for (bool first = true; !WatchInterrupted() && GetTickCount() - start < seconds * 1000UL;
         first = false) {
        std::uint8_t value = 0;
        if (!TryReadIoPortByte(input.port, value)) {
            ++watch.failedReads; // no sample
        } else {
            const bool pressed = ButtonLevel(input, value) == kLevelPressed;
            if (wasPressed && pressed != *wasPressed) {
                watch.changes.push_back({GetTickCount() - start, pressed});
                onChange(watch.changes.back());
            }
            wasPressed = pressed;
        }
        // Asked after the first sample, so that a press at once is a change.
        if (first)
            std::fprintf(stderr,
                         "watching the button for %u s (Ctrl+C ends it), %s now: press it\n",
                         seconds,
                         !wasPressed   ? "not read"
                         : *wasPressed ? "pressed"
                                       : "released");
        Sleep(kWatchSampleMs);
    }
    facts.watch = watch;
}
