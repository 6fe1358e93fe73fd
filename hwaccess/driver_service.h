#pragma once
// The driver service in the Service Control Manager.

#include <windows.h>

#include <cstdint>

constexpr std::uint16_t DRIVER_SERVICE_INSTALL = 1; // create if needed, then start
constexpr std::uint16_t DRIVER_SERVICE_REMOVE = 2;  // stop, then delete

// The step of the install transaction that failed.
enum class DriverStep {
    None,
    Create,  // registering the driver service
    Repoint, // pointing an existing registration at the checked file
    Start,
};

// How the install transaction went, for bring-up's failure path and for
// the check tool.
struct DriverServiceReport {
    DriverStep failedStep = DriverStep::None;
    DWORD error = ERROR_SUCCESS; // the Windows error of the step that failed
    // The registration found has start type SERVICE_DISABLED: an
    // administrator's decision, so no start is tried.
    bool disabled = false;
};

// One transaction on the service named by g_pszDriverServiceName. Install
// gives true once the driver service runs; remove always gives true; other
// modes false. *report, when given, tells how an install went.
bool ManageDriverService(std::uint16_t mode, DriverServiceReport *report = nullptr);

// Registers the driver at g_szDriverPath. An existing registration counts as
// success once its image path names g_szDriverPath; report tells which step
// failed, and whether the registration found is disabled.
bool CreateDriverService(SC_HANDLE manager, const char *name, DriverServiceReport &report);
// Changes the service's image path, and nothing else, unless it names that
// file already.
bool PointDriverServiceAt(SC_HANDLE service, const QUERY_SERVICE_CONFIGA &config,
                          const char *imagePath);
// Starts the service: ERROR_SUCCESS, also when it runs already, or the
// Windows error of the start.
DWORD StartDriverService(SC_HANDLE manager, const char *name);
// Sends the stop control without waiting for the stopped state.
bool StopDriverService(SC_HANDLE manager, const char *name);
bool DeleteDriverService(SC_HANDLE manager, const char *name);
