#include "check/machine_checks.h"

#include "board/board_list.h"
#include "board/identify_board.h"
#include "button/button_input.h"
#include "button/press_latch.h"
#include "button/process_choice.h"
#include "button/process_lookup.h"
#include "button/worker_texts.h"
#include "check/finding_codes.h"
#include "check/machine_facts.h"
#include "check/protection.h"
#include "common/shared_state.h"
#include "common/win_handles.h"
#include "hwaccess/hw_access.h"
#include "hwaccess/io_driver.h"
#include "hwaccess/port_io.h"
#include "service/image_path.h"
#include "service/service_names.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

// Windows refused a file's signature. Not every SDK's headers name it.
#ifndef ERROR_INVALID_IMAGE_HASH
#define ERROR_INVALID_IMAGE_HASH 577L
#endif

namespace {

constexpr char kWindows[] = "windows";
constexpr char kPackage[] = "package";
constexpr char kMachine[] = "machine";
constexpr char kFiles[] = "files";
constexpr char kProtection[] = "protection";
constexpr char kService[] = "service";
constexpr char kBoard[] = "board";
constexpr char kDriver[] = "driver";
constexpr char kButton[] = "button";
constexpr char kUser[] = "user";

constexpr char kNotElevated[] = "not elevated";
constexpr char kElevate[] = "run WGBCheck from an elevated prompt (Run as administrator)";
constexpr DWORD kWatchSampleMs = 100;
constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr char kSaveWithoutMark[] = "save WGB.ini without a byte-order mark (ANSI)";

// Set by Ctrl+C or Ctrl+Break: the watch ends and the report is still whole.
std::atomic<bool> g_watchInterrupted{false};

// What one check finds out for the checks after it.
struct Machine {
    std::string directory;
    bool elevated = false;
    bool driverOpen = false;
    std::string driverSkipped;                 // why the driver could not be checked, if so
    std::optional<ButtonInput> input;          // none when the board's product is not known
    std::optional<DriverServiceReport> loaded; // what --load's bring-up did, when it ran
};

template <typename... Args> std::string Format(const char *format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
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

// The files the service needs beside it; the driver file is the one this
// Windows needs, by the service's own choice.
std::vector<std::string> ServiceFiles() {
    return {kModuleFileName, kIniFileName, DriverFileName(), kCompanionExeName};
}

// How a UTF-8 byte-order mark at the start of WGB.ini stands: Windows'
// profile functions read it as part of the first line, so that a first
// section there is not seen.
enum class IniMark { None, BeforeOtherSection, HidesMainBoard };

IniMark Utf8MarkOf(const char *path) {
    char head[64] = {};
    DWORD read = 0;
    const UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

// 1. The files the service needs beside it.
void CheckFiles(const Machine &machine, Report &report) {
    report.FactText(kFiles, "driver", DriverFileName());
    std::vector<std::string> missing;
    for (const std::string &name : ServiceFiles()) {
        if (!Exists(machine.directory + name))
            missing.push_back(name);
    }
    report.FactTexts(kFiles, "missing", missing);
    if (missing.empty())
        report.Add(Verdict::Ok, code::kFilesPresent,
                   Joined(ServiceFiles()) + " are in " + machine.directory);
    else
        report.Add(Verdict::Fail, code::kFilesMissing,
                   Joined(missing) + " missing in " + machine.directory,
                   "copy " + Joined(missing, " and ") + " into the folder beside " +
                       kModuleFileName);
}

// 2. Who could plant or alter what the service runs as LocalSystem.
void CheckProtection(const Machine &machine, Report &report) {
    // The folder, then the files that are there, each with the name shown.
    std::string folder = machine.directory;
    if (folder.size() > 3) // "C:\" keeps its backslash
        folder.pop_back();
    std::vector<std::pair<std::string, std::string>> objects = {{folder, "the folder"}};
    for (const std::string &name : ServiceFiles()) {
        if (Exists(machine.directory + name))
            objects.emplace_back(machine.directory + name, name);
    }
    // One line for each set of accounts, naming what they may change.
    std::vector<std::string> exposed, unread;
    std::vector<std::pair<std::string, std::vector<std::string>>> lines;
    for (const auto &[path, shownName] : objects) {
        std::vector<std::string> others;
        const DWORD error = OthersWhoMayChangePath(path, others);
        if (error == ERROR_ACCESS_DENIED && !machine.elevated) {
            unread.push_back(shownName);
            continue;
        }
        if (error != ERROR_SUCCESS) {
            report.Add(Verdict::Warn, code::kProtectionUnreadable,
                       "the permissions of " + path + " cannot be read: " + WindowsError(error),
                       "check them by hand (icacls)");
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
        report.Add(Verdict::Warn, code::kProtectionOthersMayChange,
                   accounts + " may change " + Joined(names),
                   "let only administrators and SYSTEM change the folder and its files, as under "
                   "Program Files");
    if (!unread.empty())
        report.Add(Verdict::Skip, code::kProtectionNotElevated,
                   std::string(kNotElevated) + ": the permissions of " + Joined(unread) +
                       " cannot be read",
                   kElevate);
    else if (exposed.empty())
        report.Add(Verdict::Ok, code::kProtectionSound,
                   "only administrators, SYSTEM and TrustedInstaller may change the folder and "
                   "its files");
}

// 3. The service's registration: this folder's executable, quoted, started at boot.
void CheckService(const Machine &machine, Report &report) {
    const std::string executable = machine.directory + kModuleFileName;
    // The installation's own rule: it registers nothing from a longer path.
    const std::string install =
        ModulePathFits(executable.size())
            ? "run \"" + executable + "\" -qtrinstall from an elevated prompt"
            : Format("install into a folder with a shorter path: %s registers itself from a path "
                     "of at most %u characters",
                     kModuleFileName, static_cast<unsigned>(kModulePathSize - 1));
    DWORD error = ERROR_SUCCESS;
    const std::optional<ServiceFacts> facts = QueryServiceFacts(kServiceName, &error);
    report.FactFlag(kService, "registered", facts.has_value());
    if (!facts) {
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            report.Add(Verdict::Fail, code::kServiceNotRegistered,
                       Format("%s is not registered", kServiceName), install);
        else
            report.Add(Verdict::Fail, code::kServiceNotQueried,
                       Format("%s cannot be queried: ", kServiceName) + WindowsError(error),
                       kElevate);
        return;
    }
    const DWORD start =
        RegisteredStart(kServiceRegistryKey, kStartValueName).value_or(facts->startType);
    report.FactText(kService, "imagePath", facts->imagePath);
    report.FactText(kService, "start", StartName(start));
    report.FactText(kService, "state", StateName(facts->state));

    const std::string quoted = QuotedImagePath(executable);
    const bool here = lstrcmpiA(facts->imagePath.c_str(), quoted.c_str()) == 0;
    bool sound = here;
    if (!here && lstrcmpiA(facts->imagePath.c_str(), executable.c_str()) == 0) {
        report.Add(Verdict::Warn, code::kServiceNotQuoted,
                   "the image path is not quoted: " + facts->imagePath,
                   "run \"" + executable + "\" -qtruninstall, then -qtrinstall");
    } else if (!here) {
        report.Add(Verdict::Fail, code::kServiceOtherFolder,
                   "registered from another folder: " + facts->imagePath,
                   "run the registered copy with -qtruninstall, then " + install);
    }
    if (start != SERVICE_AUTO_START) {
        sound = false;
        report.Add(Verdict::Warn, code::kServiceNotAutoStart,
                   "does not start at boot (start " + StartName(start) + ")",
                   Format("sc config %s start= auto", kServiceName));
    }
    if (facts->state != SERVICE_RUNNING) {
        sound = false;
        report.Add(Verdict::Warn, code::kServiceNotRunning,
                   Format("%s is %s", kServiceName, StateName(facts->state).c_str()),
                   Format("sc start %s", kServiceName));
    }
    if (sound)
        report.Add(Verdict::Ok, code::kServiceSound,
                   Format("%s runs from %s and starts at boot", kServiceName, quoted.c_str()));
}

// 4. The board: the product text WMI gives and its match in WGB.ini.
void CheckBoard(Machine &machine, Report &report) {
    std::string product;
    const WmiAnswer answer = ReadBaseboardProduct(product);
    const IniMark mark = Utf8MarkOf(g_szIniPath);
    report.FactText(kBoard, "wmi",
                    answer == WmiAnswer::Product         ? "answered"
                    : answer == WmiAnswer::NoProductText ? "noProductText"
                    : answer == WmiAnswer::NoBaseboard   ? "noBaseboard"
                                                         : "failed");
    report.FactFlag(kBoard, "iniUtf8Mark", mark != IniMark::None);
    if (answer == WmiAnswer::Failed) {
        report.Add(Verdict::Fail, code::kBoardWmiFailed, "WMI does not answer the baseboard query",
                   "make sure the service Windows Management Instrumentation (winmgmt) runs, "
                   "then check again");
        return;
    }
    if (answer == WmiAnswer::NoProductText) {
        report.Add(Verdict::Fail, code::kBoardNoProductText,
                   "the baseboard reports no product text to WMI",
                   "the service serves no board without one: ask the board's maker");
        return;
    }
    if (answer == WmiAnswer::NoBaseboard) {
        report.Add(Verdict::Fail, code::kBoardNoBaseboard, "this board reports no baseboard record",
                   "the service serves no board without one: ask the board's maker");
        return;
    }

    machine.input = ButtonInputFor(product);
    const std::vector<std::string> entries = ReadBoardList(ReadBoardListKey);
    const int key = FindBoardListKey(product, entries);
    report.FactText(kBoard, "product", product);
    report.FactTexts(kBoard, "entries", entries);
    report.FactNumber(kBoard, "matchingKey", key);
    report.FactNumber(kBoard, "inputPort", machine.input->port);
    report.FactNumber(kBoard, "inputBit", machine.input->bit);
    const std::string shown = "product " + QuotedForDisplay(product);
    const bool served = mark != IniMark::HidesMainBoard && key != 0;
    if (mark == IniMark::HidesMainBoard) {
        report.Add(Verdict::Fail, code::kBoardMarkHidesMainBoard,
                   shown + Format(" is not served: %s begins with a UTF-8 byte-order mark, which "
                                  "hides [MainBoard] from Windows",
                                  kIniFileName),
                   kSaveWithoutMark);
    } else if (key != 0) {
        report.Add(Verdict::Ok, code::kBoardListed,
                   shown + Format(" matches [MainBoard] %d=", key) + entries[key - 1]);
        // Harmless while [MainBoard] is not the first section.
        if (mark == IniMark::BeforeOtherSection)
            report.Add(Verdict::Warn, code::kBoardMarkBeforeSection,
                       Format("%s begins with a UTF-8 byte-order mark, which hides its first "
                              "section from Windows",
                              kIniFileName),
                       kSaveWithoutMark);
    } else {
        report.Add(Verdict::Fail, code::kBoardNotListed,
                   shown + Format(" is not listed in [MainBoard] of %s (%u entries)", g_szIniPath,
                                  static_cast<unsigned>(entries.size())),
                   Format("add the line %u=", static_cast<unsigned>(entries.size() + 1)) + product +
                       " under [MainBoard]");
    }
    // Under a board that is not served, the port is what the service would read.
    report.Add(served ? Verdict::Ok : Verdict::Info, code::kBoardInput,
               Format("the button is read at port 0x%03X, bit %u", machine.input->port,
                      machine.input->bit));
}

// What to do about a driver service an administrator disabled.
std::string DisabledDriverAdvice() {
    return Format("an administrator disabled it: sc config %s start= demand", kDriverServiceName);
}

} // namespace

DriverFailure DriverFailureOf(const DriverServiceReport &install) {
    if (install.disabled)
        return {code::kDriverDisabled, DisabledDriverAdvice()};
    if (install.failedStep == DriverStep::Manager)
        return {code::kDriverNotElevated, kElevate};
    if (install.failedStep == DriverStep::Device)
        return {code::kDriverDeviceRefused,
                "restart the machine; the service leaves a loaded driver alone"};
    const char *code = install.failedStep == DriverStep::Start  ? code::kDriverStartFailed
                       : install.failedStep == DriverStep::None ? code::kDriverFileMissing
                                                                : code::kDriverRegistrationFailed;
    switch (install.error) {
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        return {code, "close what holds the driver service open (the Services console, a "
                      "management agent), or restart Windows"};
    case ERROR_ACCESS_DENIED:
        return {code, Format("a policy keeps %s from being changed: let administrators change it",
                             kDriverServiceName)};
    case ERROR_INVALID_IMAGE_HASH:
    case ERROR_DRIVER_BLOCKED:
        return {code::kDriverStartBlocked,
                "Windows refuses the driver (its signature, the driver blocklist or memory "
                "integrity): use the maker's driver signed for this Windows"};
    default:
        return {code, "use the maker's driver file for this Windows"};
    }
}

namespace {

// The step of bring-up that failed, as the report names it; null when none
// did (the driver file is missing, or its path too long).
const char *FailedStepText(DriverStep step) {
    switch (step) {
    case DriverStep::Manager:
        return "opening the Service Control Manager";
    case DriverStep::Create:
    case DriverStep::Repoint:
        return "its registration";
    case DriverStep::Start:
        return "its start";
    case DriverStep::Device:
        return "opening its device after a good start";
    default:
        return nullptr;
    }
}

// 5. The driver: its device, or why it is not there.
void CheckDriver(Machine &machine, const CheckOptions &options, Report &report) {
    machine.driverOpen = OpenDriverDevice();
    const DWORD openError = GetLastError();
    if (!machine.driverOpen && openError == ERROR_FILE_NOT_FOUND && options.load) {
        // Bring-up reads the folder from g_szModuleDir, as in the service.
        IoDriverState state = {};
        DriverServiceReport install;
        machine.driverOpen = OpenIoDriver(&state, &install);
        machine.loaded = install;
        const DriverStep step = install.failedStep;
        if (install.disabled)
            report.FactFlag(kDriver, "disabled", true);
        if (step == DriverStep::Start)
            report.FactNumber(kDriver, "startError", install.error);
        else if (step == DriverStep::Create || step == DriverStep::Repoint)
            report.FactNumber(kDriver, "registerError", install.error);
        if (!machine.driverOpen) {
            const char *what = FailedStepText(step);
            std::string fact = "bring-up failed";
            if (install.disabled)
                fact += Format(": %s is disabled", kDriverServiceName);
            else if (what)
                fact += Format(", %s: ", what) + WindowsError(install.error);
            else
                fact += ": the driver file is missing or its path too long";
            const DriverFailure failure = DriverFailureOf(install);
            report.Add(Verdict::Fail, failure.code, fact, failure.advice);
        }
    }
    report.FactFlag(kDriver, "deviceOpen", machine.driverOpen);
    if (machine.driverOpen) {
        report.Add(Verdict::Ok, code::kDriverOpen, "the driver's device opens");
        return;
    }
    if (options.load && openError == ERROR_FILE_NOT_FOUND)
        return;
    if (!machine.elevated && openError == ERROR_ACCESS_DENIED) {
        machine.driverSkipped = kNotElevated;
        report.Add(Verdict::Skip, code::kDriverNotElevated,
                   std::string(kNotElevated) + ": opening the driver needs administrator rights",
                   kElevate);
        return;
    }
    if (openError != ERROR_FILE_NOT_FOUND) {
        report.Add(Verdict::Fail, code::kDriverDeviceRefused,
                   "the driver is loaded but refuses its device: " + WindowsError(openError),
                   "restart the machine; the service leaves a loaded driver alone");
        return;
    }
    DWORD error = ERROR_SUCCESS;
    const std::optional<ServiceFacts> facts = QueryServiceFacts(kDriverServiceName, &error);
    const bool disabled = facts && facts->startType == SERVICE_DISABLED;
    report.FactFlag(kDriver, "registered", facts.has_value());
    std::string fact = "the driver is not loaded; " + std::string(kDriverServiceName);
    if (facts) {
        report.FactText(kDriver, "imagePath", facts->imagePath);
        report.FactText(kDriver, "state", StateName(facts->state));
        report.FactText(kDriver, "start", StartName(facts->startType));
        fact += " is registered for " + facts->imagePath + ", " + StateName(facts->state) +
                (disabled ? " and disabled" : "");
    } else {
        fact += " is not registered";
    }
    report.Add(Verdict::Fail, disabled ? code::kDriverDisabled : code::kDriverNotLoaded, fact,
               disabled ? DisabledDriverAdvice()
                        : "start the service, or run WGBCheck --load elevated to see why the "
                          "driver does not start");
}

// --load leaves the driver's registration as it found it, once nothing
// reads the device any more, and says what it undid: one it created is
// stopped and deleted, one it pointed at this folder's file is pointed back.
// After a failed start bring-up has done so already.
void RestoreLoadedDriver(const Machine &machine, Report &report) {
    if (!machine.loaded || (!machine.loaded->created && !machine.loaded->repointed))
        return;
    const DriverServiceReport &install = *machine.loaded;
    bool restored = true;
    if (install.failedStep == DriverStep::None || install.failedStep == DriverStep::Device) {
        if (g_hIoDriver != nullptr && g_hIoDriver != INVALID_HANDLE_VALUE)
            CloseHandle(g_hIoDriver);
        g_hIoDriver = INVALID_HANDLE_VALUE;
        restored = RestoreDriverService(install);
    } else if (install.created && install.error == ERROR_SERVICE_DISABLED) {
        return; // disabled meanwhile by an administrator: kept
    }
    const std::string error = restored ? "" : ": " + WindowsError(GetLastError());
    const char *code = restored ? code::kDriverLoadUndone : code::kDriverLoadNotUndone;
    if (install.created)
        report.Add(restored ? Verdict::Ok : Verdict::Warn, code,
                   Format(restored ? "--load stopped and deleted %s, which it registered"
                                   : "--load registered %s and could not delete it",
                          kDriverServiceName) +
                       error,
                   restored ? ""
                            : Format("sc stop %s, then sc delete %s", kDriverServiceName,
                                     kDriverServiceName));
    else
        report.Add(
            restored ? Verdict::Ok : Verdict::Warn, code,
            Format(restored ? "--load pointed %s back at " : "--load could not point %s back at ",
                   kDriverServiceName) +
                install.previousImagePath + error,
            restored ? ""
                     : Format("sc config %s binPath= \"%s\"", kDriverServiceName,
                              install.previousImagePath.c_str()));
}

// Why the button cannot be read here; empty when it can.
std::string ButtonUnreadable(const Machine &machine) {
    if (!machine.input)
        return "the board's input is not known";
    if (!machine.driverSkipped.empty())
        return machine.driverSkipped;
    return machine.driverOpen ? "" : "the driver's device is not open";
}

// 6. The button's level now, read as the service reads it.
void CheckButton(const Machine &machine, Report &report) {
    const std::string unreadable = ButtonUnreadable(machine);
    if (!unreadable.empty()) {
        report.Add(Verdict::Skip, code::kButtonNotReadable, unreadable,
                   machine.driverSkipped.empty() ? "" : kElevate);
        return;
    }
    const ButtonInput input = *machine.input;
    std::uint8_t value = 0;
    if (!TryReadIoPortByte(input.port, value)) {
        report.Add(Verdict::Fail, code::kButtonReadFails,
                   Format("reading port 0x%03X fails: ", input.port) + WindowsError(GetLastError()),
                   "use the maker's driver for this board");
        return;
    }
    const bool pressed = ButtonLevel(input, value) == kLevelPressed;
    report.FactText(kButton, "level", pressed ? "pressed" : "released");
    const std::string fact = Format("%s now (port 0x%03X reads 0x%02X)",
                                    pressed ? "pressed" : "released", input.port, value);
    // Held during the check: a fact of the moment, unless nobody holds it.
    if (pressed)
        report.Add(Verdict::Info, code::kButtonPressedNow, fact,
                   "if nobody presses the button, its input is held low: check the wiring");
    else
        report.Add(Verdict::Ok, code::kButtonReleased, fact);
}

BOOL WINAPI StopWatching(DWORD) {
    g_watchInterrupted = true;
    return TRUE;
}

// After the checks: every change of the button's level with its time since
// the watch began, sampled every 100 ms, until the time is up or Ctrl+C. A
// read that fails is no sample.
void WatchButton(const Machine &machine, unsigned seconds, Report &report) {
    const std::string unreadable = ButtonUnreadable(machine);
    if (!unreadable.empty()) {
        report.Add(Verdict::Skip, code::kButtonWatchNotReadable, "the watch: " + unreadable);
        return;
    }
    const ButtonInput input = *machine.input;
    SetConsoleCtrlHandler(StopWatching, TRUE);
    std::string changes;
    unsigned failedReads = 0;
    std::optional<bool> wasPressed;
    const DWORD start = GetTickCount();
    for (bool first = true; !g_watchInterrupted && GetTickCount() - start < seconds * 1000UL;
         first = false) {
        std::uint8_t value = 0;
        if (!TryReadIoPortByte(input.port, value)) {
            ++failedReads;
        } else {
            const bool pressed = ButtonLevel(input, value) == kLevelPressed;
            if (wasPressed && pressed != *wasPressed) {
                const DWORD ms = GetTickCount() - start;
                const char *level = pressed ? "pressed" : "released";
                changes += Format("%s{\"ms\": %lu, \"level\": \"%s\"}", changes.empty() ? "" : ", ",
                                  ms, level);
                if (report.onLine)
                    report.onLine(Format("%8.1f s  %s", ms / 1000.0, level));
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
    SetConsoleCtrlHandler(StopWatching, FALSE);
    report.FactJson(kButton, "watch", "[" + changes + "]");
    report.FactNumber(kButton, "watchFailedReads", failedReads);
    if (failedReads != 0)
        report.Add(
            Verdict::Warn, code::kButtonWatchReadsFailed,
            Format("%u reads of port 0x%03X failed during the watch", failedReads, input.port),
            "use the maker's driver for this board");
}

} // namespace

void CheckUser(const std::vector<ProcessEntry> &processes, DWORD console, Report &report) {
    const ProcessEntry *shell = ChooseUserShell(processes, console);
    report.FactNumber(kUser, "consoleSession", console);
    if (shell == nullptr) {
        const ProcessEntry *elsewhere = FirstShell(processes);
        if (elsewhere == nullptr)
            report.Add(Verdict::Info, code::kUserNobodyLoggedOn,
                       Format("nobody logged on: no %s runs, so a press starts nothing now",
                              kShellExeName));
        else
            report.Add(Verdict::Info, code::kUserNotAtConsole,
                       Format("nobody works at the console (session %lu): %s runs only in other "
                              "sessions (session %lu), remote or disconnected, so a press starts "
                              "nothing",
                              static_cast<unsigned long>(console), kShellExeName,
                              static_cast<unsigned long>(elsewhere->sessionId)),
                       "log on at the machine itself");
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
    report.Add(Verdict::Ok, code::kUserAtConsole, fact);
}

void RunMachineChecks(const std::string &directory, const CheckOptions &options, Report &report) {
    Machine machine;
    machine.directory = directory;
    machine.elevated = IsElevated();
    report.Header("serviceVersion", FileVersion(directory + kModuleFileName));
    report.Header("driverVersion", FileVersion(directory + DriverFileName()));
    report.Header("companionVersion", FileVersion(directory + kCompanionExeName));
    const WindowsFacts windows = WindowsVersion();
    const std::optional<bool> memoryIntegrity = MemoryIntegrity();
    report.FactText(kWindows, "version", windows.version);
    report.FactNumber(kWindows, "build", windows.build);
    report.FactFlag(kWindows, "x64", IsX64System());
    report.FactJson(kWindows, "memoryIntegrity",
                    !memoryIntegrity   ? "null"
                    : *memoryIntegrity ? "true"
                                       : "false");
    const PackageFacts package = InstalledPackage().value_or(PackageFacts{});
    report.FactText(kPackage, "productCode", package.productCode);
    report.FactText(kPackage, "productVersion", package.productVersion);
    report.FactText(kMachine, "directory", directory);
    report.FactFlag(kMachine, "elevated", machine.elevated);
    report.FactFlag(kMachine, "x64", IsX64System());

    // The texts the service builds from its folder, built the same way.
    if (!DirectoryFitsTexts(directory.size())) {
        report.Add(Verdict::Fail, code::kFilesPathTooLong,
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
    CheckUser(SnapshotProcesses(), WTSGetActiveConsoleSessionId(), report);
    if (options.watchSeconds != 0)
        WatchButton(machine, options.watchSeconds, report);
    RestoreLoadedDriver(machine, report);
}
