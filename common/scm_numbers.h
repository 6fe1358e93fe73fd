#pragma once
// The Service Control Manager's numbers, in one place for code that needs no
// <windows.h> (the service's status rules, the check tool's judgement) and
// for the "Start" value of a service's key. Each equals the SDK constant it
// names; common/service_config.cpp, built for Windows, asserts it.

#include <cstdint>

// Start types, as the "Start" value holds them.
inline constexpr std::uint32_t kStartAuto = 2;     // SERVICE_AUTO_START
inline constexpr std::uint32_t kStartDisabled = 4; // SERVICE_DISABLED

// Current states.
inline constexpr std::uint32_t kStateStopped = 1; // SERVICE_STOPPED
inline constexpr std::uint32_t kStateRunning = 4; // SERVICE_RUNNING
inline constexpr std::uint32_t kStatePaused = 7;  // SERVICE_PAUSED

// Controls a service's handler receives.
inline constexpr std::uint32_t kControlStop = 1;        // SERVICE_CONTROL_STOP
inline constexpr std::uint32_t kControlPause = 2;       // SERVICE_CONTROL_PAUSE
inline constexpr std::uint32_t kControlContinue = 3;    // SERVICE_CONTROL_CONTINUE
inline constexpr std::uint32_t kControlInterrogate = 4; // SERVICE_CONTROL_INTERROGATE
inline constexpr std::uint32_t kControlShutdown = 5;    // SERVICE_CONTROL_SHUTDOWN
