#pragma once
// Bring-up of the kernel I/O driver: open its device, or find the driver file
// beside the executable, register and start it, and open the device then.

#include "hwaccess/driver_registration.h"
#include "hwaccess/hw_access.h"

#include <windows.h>

// 0 until bring-up runs, INVALID_HANDLE_VALUE after a failed open, else the device.
extern HANDLE g_hIoDriver;
// Full path of the driver file; the driver service's image path.
extern char g_szDriverPath[MAX_PATH];
// Name of the driver service; null until LocateDriverFile has run.
extern const char *g_pszDriverServiceName;

// Opens the driver's device, registering and starting the driver first when
// it is not loaded; after a failed start the registration is left as it was
// found (RestoreDriverService). True when port requests can go out. *report,
// when given, tells how the driver service's install went, when it was tried.
bool OpenIoDriver(IoDriverState *state, DriverServiceReport *report = nullptr);
// The same for the driver file in directory (ending in a backslash), in
// place of g_szModuleDir's.
bool OpenIoDriverIn(const char *directory, IoDriverState *state, DriverServiceReport *report);
// Opens the driver's device into g_hIoDriver, and nothing else. True when it
// opened; GetLastError tells why not.
bool OpenDriverDevice();
// Closes g_hIoDriver, which then holds INVALID_HANDLE_VALUE.
void CloseIoDriver();

// Builds g_szDriverPath from directory (ending in a backslash), sets
// g_pszDriverServiceName and tells whether the driver file exists. A path
// that does not fit g_szDriverPath counts as a missing file.
bool LocateDriverFile(const char *directory);

// True when Windows itself runs on AMD64, whatever this process is.
bool IsX64System();
// The driver file this Windows needs: "Quendra_X64.sys" on 64-bit Windows,
// else "Quendra.sys".
const char *DriverFileName();
