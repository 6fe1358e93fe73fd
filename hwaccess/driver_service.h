#pragma once
// The driver service in the Service Control Manager.

#include <windows.h>

#include <cstdint>

constexpr std::uint16_t DRIVER_SERVICE_INSTALL = 1; // create if needed, then start
constexpr std::uint16_t DRIVER_SERVICE_REMOVE = 2;  // stop, then delete

// One transaction on the service named by g_pszDriverServiceName. Install
// gives the start's result; remove always gives true; other modes false.
bool ManageDriverService(std::uint16_t mode);

// Registers the driver at g_szDriverPath; an existing registration counts as success.
bool CreateDriverService(SC_HANDLE manager, const char *name);
// Starts the service; one already running counts as success.
bool StartDriverService(SC_HANDLE manager, const char *name);
// Sends the stop control without waiting for the stopped state.
bool StopDriverService(SC_HANDLE manager, const char *name);
bool DeleteDriverService(SC_HANDLE manager, const char *name);
