#pragma once
// The process-wide values that several parts of the service share, and the
// executable's own file name. Declared here, at the bottom of the tree, so
// that every part reaches them without including a part above it.

#include <atomic>
#include <cstddef>

inline constexpr std::size_t kTextBufferSize = 256;

// The service's executable file name.
inline constexpr char kModuleFileName[] = "WGBService.exe";

// Directory of the executable ending in a backslash; from the first companion
// launch on, the companion's command line. Written by the worker, read by the
// driver bring-up and the companion launch.
extern char g_szModuleDir[kTextBufferSize];
// The directory followed by "WGB.ini". Written by the worker, read by the
// board identification.
extern char g_szIniPath[kTextBufferSize];

// True from process start, cleared when the hidden window is destroyed.
// Written by the service thread, read by the worker at each loop test.
extern std::atomic<bool> g_bRunning;
