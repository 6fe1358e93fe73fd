#pragma once
// The driver service in the Service Control Manager.

#include <windows.h>

#include <cstdint>

constexpr std::uint16_t DRIVER_SERVICE_INSTALL = 1; // create if needed, then start
constexpr std::uint16_t DRIVER_SERVICE_REMOVE = 2;  // stop, then delete

// One transaction on the service named by g_pszDriverServiceName. Install
// gives the start's result, and the start's Windows error in *startError when
// the start was tried; remove always gives true; other modes false.
bool ManageDriverService(std::uint16_t mode, DWORD *startError = nullptr);

// Registers the driver at g_szDriverPath. An existing registration counts as
// success once its image path names g_szDriverPath.
bool CreateDriverService(SC_HANDLE manager, const char *name);
// Changes the service's image path, and nothing else, unless it names that
// file already.
bool PointDriverServiceAt(SC_HANDLE service, const char *imagePath);
// Starts the service: ERROR_SUCCESS, also when it runs already, or the
// Windows error of the start.
DWORD StartDriverService(SC_HANDLE manager, const char *name);
// Sends the stop control without waiting for the stopped state.
bool StopDriverService(SC_HANDLE manager, const char *name);
bool DeleteDriverService(SC_HANDLE manager, const char *name);
