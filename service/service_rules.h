#pragma once
// The service's portable rules: the names it is known by, its command line,
// the image path it registers and how its status record changes. Free of
// <windows.h>, so that they are tested natively.

#include "common/scm_numbers.h"

#include <cstddef>
#include <cstdint>
#include <string>

// --- names ---
// Names under which the service meets the Service Control Manager, the
// registry and the window manager.

// Service key name, display name and dispatcher table name alike.
inline constexpr char kServiceName[] = "QTR_WGBService";
// Under HKEY_LOCAL_MACHINE.
inline constexpr char kServiceRegistryKey[] = "SYSTEM\\CurrentControlSet\\Services\\QTR_WGBService";
inline constexpr char kStartValueName[] = "Start";

inline constexpr char kHiddenWindowClass[] = "WINWGBWND";
inline constexpr char kHiddenWindowTitle[] = "WinWgbWnd";

// --- command line ---
// The command line of the entry routine: what follows the program name, and
// which switch it selects.

// Text after the program name: a name in double quotes is skipped as a whole
// (quotes included), any other name up to the first character of code 0x20 or
// less; then every character of code 0x20 or less is skipped. What remains,
// trailing blanks included, is returned (a pointer into cmdLine).
const char *SkipProgramName(const char *cmdLine);

enum class SwitchCommand { None, Install, Uninstall };

inline constexpr char kInstallSwitch[] = "-qtrinstall";
inline constexpr char kUninstallSwitch[] = "-qtruninstall";

// True when text equals sw whole, ignoring the case of ASCII letters only.
bool SwitchMatches(const char *text, const char *sw);

// The command the text after the program name selects; null selects none.
SwitchCommand SelectCommand(const char *args);

// --- image path ---
// The image path the installation registers for the service.

// The module path is read into a buffer of this many bytes, the terminator
// included.
inline constexpr std::size_t kModulePathSize = 256;

// True when an executable at a path of this length can be registered: a
// longer path arrives cut at the buffer's end, and would name some other
// program.
inline bool ModulePathFits(std::size_t length) {
    return length != 0 && length < kModulePathSize;
}

// The module path in double quotes: the quotes keep a path with blanks from
// being read as a shorter program followed by arguments.
inline std::string QuotedImagePath(const std::string &modulePath) {
    return "\"" + modulePath + "\"";
}

// --- status record ---
// How the service's status record changes: at start, on each control code and
// at the end. Written over any record with the platform's SERVICE_STATUS field
// names: the service applies it to its real record; PlainStatus mirrors that
// record with fixed-width fields where <windows.h> is not at hand.

namespace status_rules {

// SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS.
inline constexpr std::uint32_t kReportedServiceType = 0x130;
// SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN: pause and continue are not accepted.
inline constexpr std::uint32_t kAcceptedControls = 5;

// The seven 32-bit fields of SERVICE_STATUS, in the platform's order.
struct PlainStatus {
    std::uint32_t dwServiceType;
    std::uint32_t dwCurrentState;
    std::uint32_t dwControlsAccepted;
    std::uint32_t dwWin32ExitCode;
    std::uint32_t dwServiceSpecificExitCode;
    std::uint32_t dwCheckPoint;
    std::uint32_t dwWaitHint;
};

// All fields cleared, then reported running at once: no pending phase.
template <typename Status> void SetRunningAtStart(Status &s) {
    s = Status{};
    s.dwServiceType = kReportedServiceType;
    s.dwCurrentState = kStateRunning;
    s.dwControlsAccepted = kAcceptedControls;
}

template <typename Status> void SetStopped(Status &s) {
    s.dwWin32ExitCode = 0;
    s.dwCurrentState = kStateStopped;
    s.dwCheckPoint = 0;
    s.dwWaitHint = 0;
}

// Interrogate and every code not listed leave the record as it is; the caller
// reports it either way.
template <typename Status> void ApplyControl(Status &s, std::uint32_t control) {
    switch (control) {
    case kControlStop:
    case kControlShutdown:
        SetStopped(s);
        break;
    case kControlPause:
        s.dwCurrentState = kStatePaused;
        break;
    case kControlContinue:
        s.dwCurrentState = kStateRunning;
        break;
    default:
        break;
    }
}

} // namespace status_rules
