#pragma once
// Bring-up of the kernel I/O driver: open its device, or find the driver file
// beside the executable, register and start it, and open the device then.

#include "hwaccess/hw_access.h"

#include <windows.h>

// 0 until bring-up runs, INVALID_HANDLE_VALUE after a failed open, else the device.
extern HANDLE g_hIoDriver;
// Full path of the driver file; the driver service's image path.
extern char g_szDriverPath[MAX_PATH];
// Name of the driver service; null until LocateDriverFile has run.
extern const char *g_pszDriverServiceName;

// Opens the driver's device, registering and starting the driver first when
// it is not loaded. True when port requests can go out. When a start was
// tried, *startError receives its Windows error (ERROR_SUCCESS when it ran).
bool OpenIoDriver(IoDriverState *state, DWORD *startError = nullptr);
// Opens the driver's device into g_hIoDriver, and nothing else. True when it
// opened; GetLastError tells why not.
bool OpenDriverDevice();

// Builds g_szDriverPath from g_szModuleDir, sets g_pszDriverServiceName and
// tells whether the driver file exists. A path that does not fit
// g_szDriverPath counts as a missing file.
bool LocateDriverFile();

// True when Windows itself runs on AMD64, whatever this process is.
bool IsX64System();
