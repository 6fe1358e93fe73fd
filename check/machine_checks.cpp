#include "check/machine_checks.h"

#include "board/board_list.h"
#include "board/identify_board.h"
#include "button/button_input.h"
#include "button/press_latch.h"
#include "button/process_choice.h"
#include "button/process_lookup.h"
#include "button/worker_texts.h"
#include "check/protection.h"
#include "common/service_config.h"
#include "common/shared_state.h"
#include "common/win_handles.h"
#include "hwaccess/hw_access.h"
#include "hwaccess/io_driver.h"
#include "hwaccess/port_io.h"
#include "service/image_path.h"
#include "service/service_names.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr char kMachine[] = "machine";
constexpr char kFiles[] = "files";
constexpr char kProtection[] = "protection";
constexpr char kService[] = "service";
constexpr char kBoard[] = "board";
constexpr char kDriver[] = "driver";
constexpr char kButton[] = "button";
constexpr char kUser[] = "user";

constexpr char kElevate[] = "run WGBCheck from an elevated prompt (Run as administrator)";
constexpr DWORD kWatchSampleMs = 100;
// Windows refused the driver's signature (ERROR_INVALID_IMAGE_HASH).
constexpr DWORD kErrorInvalidImageHash = 577;
constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

// What one check finds out for the checks after it.
struct Machine {
    std::string directory;
    bool elevated = false;
    std::string driverFile; // the file name this Windows needs
    bool driverOpen = false;
    ButtonInput input{};
};

template <typename... Args> std::string Format(const char *format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string WindowsError(DWORD error) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && std::strchr("\r\n .", message.back()))
        message.pop_back();
    return Format("Windows error %lu", error) + (message.empty() ? "" : " (" + message + ")");
}

std::string Joined(const std::vector<std::string> &texts, const char *separator = ", ") {
    std::string joined;
    for (const std::string &text : texts)
        joined += (joined.empty() ? "" : separator) + text;
    return joined;
}

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

// The service's "Start" value as the registry holds it: what the next boot
// uses, which the Service Control Manager may not show before that boot.
std::optional<DWORD> RegisteredStart() {
    UniqueRegKey key;
    DWORD start = 0, size = sizeof start, type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceRegistryKey, 0, KEY_QUERY_VALUE, key.put()) !=
            ERROR_SUCCESS ||
        RegQueryValueExA(key.get(), kStartValueName, nullptr, &type,
                         reinterpret_cast<BYTE *>(&start), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return start;
}

struct ServiceFacts {
    std::string imagePath;
    DWORD startType = 0;
    DWORD state = 0;
};

// The registration and state of a service; none, with the Windows error in
// *error, when it cannot be read (ERROR_SERVICE_DOES_NOT_EXIST: not registered).
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

// 1. The files the service needs beside it. The driver file is the one this
// Windows needs, by the service's own choice.
void CheckFiles(Machine &machine, Report &report) {
    LocateDriverFile();
    machine.driverFile = g_szDriverPath + machine.directory.size();
    const std::string &driverFile = machine.driverFile;
    report.FactText(kDriver, "file", driverFile);
    std::vector<std::string> missing;
    for (const std::string name :
         {kModuleFileName, kIniFileName, driverFile.c_str(), kCompanionExeName}) {
        const bool present = Exists(machine.directory + name);
        report.FactFlag(kFiles, name, present);
        if (!present)
            missing.push_back(name);
    }
    if (missing.empty())
        report.Add(kFiles, Verdict::Ok,
                   Format("%s, %s, %s and %s are in %s", kModuleFileName, kIniFileName,
                          driverFile.c_str(), kCompanionExeName, machine.directory.c_str()));
    else
        report.Add(kFiles, Verdict::Fail, Joined(missing) + " missing in " + machine.directory,
                   "copy " + Joined(missing, " and ") + " into the folder beside WGBService.exe");
}

// 2. Who could plant or alter what the service runs as LocalSystem.
void CheckProtection(const Machine &machine, Report &report) {
    // The folder, then the files that are there, each with the name shown.
    std::string folder = machine.directory;
    if (folder.size() > 3) // "C:\" keeps its backslash
        folder.pop_back();
    std::vector<std::pair<std::string, std::string>> objects = {{folder, "the folder"}};
    for (const std::string name :
         {kModuleFileName, kIniFileName, machine.driverFile.c_str(), kCompanionExeName}) {
        if (Exists(machine.directory + name))
            objects.emplace_back(machine.directory + name, name);
    }
    // One line for each set of accounts, naming what they may change.
    std::vector<std::string> exposed;
    std::vector<std::pair<std::string, std::vector<std::string>>> lines;
    for (const auto &[path, shownName] : objects) {
        std::vector<std::string> others;
        const DWORD error = OthersWhoMayChangePath(path, others);
        if (error != ERROR_SUCCESS) {
            report.Add(kProtection, Verdict::Warn,
                       "the permissions of " + path + " cannot be read: " + WindowsError(error),
                       kElevate);
            continue;
        }
        if (others.empty())
            continue;
        const std::string accounts = Joined(others);
        exposed.push_back(path + ": " + accounts);
        auto line = lines.begin();
        while (line != lines.end() && line->first != accounts)
            ++line;
        if (line == lines.end())
            line = lines.insert(line, {accounts, {}});
        line->second.push_back(shownName);
    }
    report.FactTexts(kProtection, "othersMayChange", exposed);
    for (const auto &[accounts, names] : lines)
        report.Add(kProtection, Verdict::Warn, accounts + " may change " + Joined(names),
                   "let only administrators and SYSTEM change the folder and its files, as under "
                   "Program Files");
    if (exposed.empty())
        report.Add(kProtection, Verdict::Ok,
                   "only administrators, SYSTEM and TrustedInstaller may change the folder and "
                   "its files");
}

// 3. The service's registration: this folder's executable, quoted, started at boot.
void CheckService(const Machine &machine, Report &report) {
    const std::string executable = machine.directory + kModuleFileName;
    const std::string install = "run \"" + executable + "\" -qtrinstall from an elevated prompt";
    DWORD error = ERROR_SUCCESS;
    const std::optional<ServiceFacts> facts = QueryServiceFacts(kServiceName, &error);
    report.FactFlag(kService, "registered", facts.has_value());
    if (!facts) {
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            report.Add(kService, Verdict::Fail, Format("%s is not registered", kServiceName),
                       install);
        else
            report.Add(kService, Verdict::Fail,
                       Format("%s cannot be queried: ", kServiceName) + WindowsError(error),
                       kElevate);
        return;
    }
    const DWORD start = RegisteredStart().value_or(facts->startType);
    report.FactText(kService, "imagePath", facts->imagePath);
    report.FactNumber(kService, "start", start);
    report.FactText(kService, "state", StateName(facts->state));

    const std::string quoted = QuotedImagePath(executable);
    const bool here = lstrcmpiA(facts->imagePath.c_str(), quoted.c_str()) == 0;
    bool sound = here;
    if (!here && lstrcmpiA(facts->imagePath.c_str(), executable.c_str()) == 0) {
        report.Add(kService, Verdict::Warn, "the image path is not quoted: " + facts->imagePath,
                   "run \"" + executable + "\" -qtruninstall, then -qtrinstall");
    } else if (!here) {
        report.Add(kService, Verdict::Fail, "registered from another folder: " + facts->imagePath,
                   "run the registered copy with -qtruninstall, then " + install.substr(4));
    }
    if (start != SERVICE_AUTO_START) {
        sound = false;
        report.Add(kService, Verdict::Warn, Format("does not start at boot (Start = %lu)", start),
                   Format("sc config %s start= auto", kServiceName));
    }
    if (facts->state != SERVICE_RUNNING) {
        sound = false;
        report.Add(kService, Verdict::Warn,
                   Format("%s is %s", kServiceName, StateName(facts->state)),
                   Format("sc start %s", kServiceName));
    }
    if (sound)
        report.Add(kService, Verdict::Ok,
                   Format("%s runs from %s and starts at boot", kServiceName, quoted.c_str()));
}

// 4. The board: the product text WMI gives and its match in WGB.ini.
void CheckBoard(Machine &machine, Report &report) {
    std::string product;
    const bool known = ReadBaseboardProduct(product) == WmiAnswer::Product;
    machine.input = ButtonInputFor(product);
    if (!known) {
        report.Add(kBoard, Verdict::Fail, "WMI gives no baseboard product text",
                   "make sure the WMI service (winmgmt) runs");
    } else {
        report.FactText(kBoard, "product", product);
        const std::vector<std::string> entries = ReadBoardList(ReadBoardListKey);
        const int key = FindBoardListKey(product, entries);
        report.FactTexts(kBoard, "entries", entries);
        report.FactNumber(kBoard, "matchingKey", key);
        const std::string shown = "product " + QuotedForDisplay(product);
        if (key != 0)
            report.Add(kBoard, Verdict::Ok,
                       shown + Format(" matches [MainBoard] %d=", key) + entries[key - 1]);
        else
            report.Add(kBoard, Verdict::Fail,
                       shown + Format(" is not listed in [MainBoard] of %s (%u entries)",
                                      g_szIniPath, static_cast<unsigned>(entries.size())),
                       Format("add the line %u=", static_cast<unsigned>(entries.size() + 1)) +
                           product + " under [MainBoard]");
    }

    unsigned char head[sizeof kUtf8Mark] = {};
    DWORD read = 0;
    const UniqueHandle ini(CreateFileA(g_szIniPath, GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool marked = ini && ReadFile(ini.get(), head, sizeof head, &read, nullptr) &&
                        read == sizeof head && std::memcmp(head, kUtf8Mark, sizeof head) == 0;
    report.FactFlag(kBoard, "iniUtf8Mark", marked);
    if (marked)
        report.Add(kBoard, Verdict::Warn,
                   Format("%s begins with a UTF-8 byte-order mark, which Windows reads as part of "
                          "its first line",
                          kIniFileName),
                   "save it without the mark (as ANSI)");

    report.FactNumber(kBoard, "inputPort", machine.input.port);
    report.FactNumber(kBoard, "inputBit", machine.input.bit);
    report.Add(
        kBoard, Verdict::Ok,
        Format("the button is read at port 0x%03X, bit %u", machine.input.port, machine.input.bit));
}

// 5. The driver: its device, or why it is not there.
void CheckDriver(Machine &machine, const CheckOptions &options, Report &report) {
    machine.driverOpen = OpenDriverDevice();
    const DWORD openError = GetLastError();
    if (!machine.driverOpen && openError == ERROR_FILE_NOT_FOUND && options.load) {
        IoDriverState state = {};
        DWORD startError = ERROR_SUCCESS;
        machine.driverOpen = OpenIoDriver(&state, &startError);
        report.FactNumber(kDriver, "startError", startError);
        if (!machine.driverOpen) {
            const char *action =
                startError == kErrorInvalidImageHash
                    ? "Windows refused the driver's signature: use the maker's signed driver file "
                      "for this Windows"
                : startError == ERROR_SERVICE_DISABLED
                    ? "an administrator disabled the driver service: sc config Quendra_1_0_T "
                      "start= demand"
                    : "copy the maker's driver file into the folder and run --load elevated";
            report.Add(kDriver, Verdict::Fail,
                       "bring-up failed" +
                           (startError ? ", the driver's start: " + WindowsError(startError)
                                       : std::string()),
                       action);
        }
    }
    report.FactFlag(kDriver, "deviceOpen", machine.driverOpen);
    if (machine.driverOpen) {
        report.Add(kDriver, Verdict::Ok, "the driver's device opens");
        return;
    }
    if (options.load && openError == ERROR_FILE_NOT_FOUND)
        return;
    if (!machine.elevated && openError == ERROR_ACCESS_DENIED) {
        report.Add(kDriver, Verdict::Warn,
                   "not checked: opening the driver needs administrator rights", kElevate);
        return;
    }
    if (openError != ERROR_FILE_NOT_FOUND) {
        report.Add(kDriver, Verdict::Fail,
                   "the driver is loaded but refuses its device: " + WindowsError(openError),
                   "restart the machine; the service leaves a loaded driver alone");
        return;
    }
    DWORD error = ERROR_SUCCESS;
    const std::optional<ServiceFacts> facts = QueryServiceFacts(g_pszDriverServiceName, &error);
    report.FactFlag(kDriver, "registered", facts.has_value());
    std::string fact = "the driver is not loaded; " + std::string(g_pszDriverServiceName);
    if (facts) {
        report.FactText(kDriver, "imagePath", facts->imagePath);
        report.FactText(kDriver, "state", StateName(facts->state));
        fact += " is registered for " + facts->imagePath + ", " + StateName(facts->state) +
                (facts->startType == SERVICE_DISABLED ? " and disabled" : "");
    } else {
        fact += " is not registered";
    }
    report.Add(kDriver, Verdict::Fail, fact,
               "start the service, or run WGBCheck --load elevated to see why the driver does "
               "not start");
}

// 6. The button's level now, read as the service reads it.
void CheckButton(const Machine &machine, Report &report) {
    if (!machine.driverOpen) {
        report.Add(kButton, Verdict::Warn, "not read: the driver's device is not open",
                   machine.elevated ? "mend the driver first" : kElevate);
        return;
    }
    std::uint8_t value = 0;
    if (!TryReadIoPortByte(machine.input.port, value)) {
        report.Add(kButton, Verdict::Fail,
                   Format("reading port 0x%03X fails: ", machine.input.port) +
                       WindowsError(GetLastError()),
                   "use the maker's driver for this board");
        return;
    }
    const bool pressed = ButtonLevel(machine.input, value) == kLevelPressed;
    report.FactText(kButton, "level", pressed ? "pressed" : "released");
    const std::string fact = Format("%s now (port 0x%03X reads 0x%02X)",
                                    pressed ? "pressed" : "released", machine.input.port, value);
    if (pressed)
        report.Add(kButton, Verdict::Warn, fact,
                   "if nobody presses the button, its input is held low: check the wiring");
    else
        report.Add(kButton, Verdict::Ok, fact);
}

// After the checks: every change of the button's level with its time since
// the watch began, sampled every 100 ms.
void WatchButton(const Machine &machine, unsigned seconds, Report &report) {
    if (!machine.driverOpen)
        return;
    if (report.onLine)
        report.onLine(Format("watching the button for %u s: press it now", seconds));
    std::string changes;
    const DWORD start = GetTickCount();
    bool wasPressed =
        ButtonLevel(machine.input, ReadIoPortByte(machine.input.port)) == kLevelPressed;
    while (GetTickCount() - start < seconds * 1000UL) {
        Sleep(kWatchSampleMs);
        const bool nowPressed =
            ButtonLevel(machine.input, ReadIoPortByte(machine.input.port)) == kLevelPressed;
        if (nowPressed == wasPressed)
            continue;
        wasPressed = nowPressed;
        const DWORD ms = GetTickCount() - start;
        const char *level = nowPressed ? "pressed" : "released";
        changes +=
            Format("%s{\"ms\": %lu, \"level\": \"%s\"}", changes.empty() ? "" : ", ", ms, level);
        if (report.onLine)
            report.onLine(Format("%8.1f s  %s", ms / 1000.0, level));
    }
    report.FactJson(kButton, "watch", "[" + changes + "]");
}

// 7. The user whose session the companion would start in.
void CheckUser(Report &report) {
    const std::vector<ProcessEntry> processes = SnapshotProcesses();
    const DWORD console = WTSGetActiveConsoleSessionId();
    const ProcessEntry *shell = ChooseUserShell(processes, console);
    report.FactNumber(kUser, "consoleSession", console);
    if (shell == nullptr) {
        report.Add(
            kUser, Verdict::Warn,
            Format("no %s runs: nobody is logged on, and a press starts nothing", kShellExeName),
            "log on at the machine");
        return;
    }
    const std::string user = UserOfProcess(shell->processId);
    const bool running = RunsInSession(processes, kCompanionExeName, shell->sessionId);
    report.FactText(kUser, "name", user);
    report.FactNumber(kUser, "shellProcessId", shell->processId);
    report.FactNumber(kUser, "session", shell->sessionId);
    report.FactFlag(kUser, "companionRunning", running);
    const std::string fact =
        Format("%s (process %lu) of %s in session %lu; %s ", kShellExeName,
               static_cast<unsigned long>(shell->processId),
               user.empty() ? "a user not known" : user.c_str(),
               static_cast<unsigned long>(shell->sessionId), kCompanionExeName) +
        (running ? "runs there, so a press starts no second one"
                 : "does not run there, so a press starts it");
    if (shell->sessionId == console)
        report.Add(kUser, Verdict::Ok, fact);
    else
        report.Add(kUser, Verdict::Warn,
                   fact + Format("; nobody works at the console (session %lu)",
                                 static_cast<unsigned long>(console)),
                   "log on at the machine itself");
}

} // namespace

void RunMachineChecks(const std::string &directory, const CheckOptions &options, Report &report) {
    Machine machine;
    machine.directory = directory;
    machine.elevated = IsElevated();
    report.FactText(kMachine, "directory", directory);
    report.FactFlag(kMachine, "elevated", machine.elevated);
    report.FactFlag(kMachine, "x64", IsX64System());

    // The texts the service builds from its folder, built the same way.
    if (!DirectoryFitsTexts(directory.size())) {
        report.Add(kFiles, Verdict::Fail,
                   Format("the folder's path is too long for the service (%u characters)",
                          static_cast<unsigned>(directory.size())),
                   "install into a folder with a shorter path");
        return;
    }
    wsprintfA(g_szModuleDir, "%s", directory.c_str());
    wsprintfA(g_szIniPath, kIniPathFormat, directory.c_str(), kIniFileName);

    CheckFiles(machine, report);
    CheckProtection(machine, report);
    CheckService(machine, report);
    CheckBoard(machine, report);
    CheckDriver(machine, options, report);
    CheckButton(machine, report);
    CheckUser(report);
    if (options.watchSeconds != 0)
        WatchButton(machine, options.watchSeconds, report);
}
