#pragma once
// How the service's status record changes: at start, on each control code and
// at the end. Written over any record with the platform's SERVICE_STATUS field
// names: the service applies it to its real record; PlainStatus mirrors that
// record with fixed-width fields where <windows.h> is not at hand.

#include <cstdint>

namespace status_rules {

// SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS.
inline constexpr std::uint32_t kReportedServiceType = 0x130;
// SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN: pause and continue are not accepted.
inline constexpr std::uint32_t kAcceptedControls = 5;

inline constexpr std::uint32_t kStateStopped = 1;
inline constexpr std::uint32_t kStateRunning = 4;
inline constexpr std::uint32_t kStatePaused = 7;

inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;

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
