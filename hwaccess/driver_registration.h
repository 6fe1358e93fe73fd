#pragma once
// The driver service's registration in the Service Control Manager: made,
// pointed at the driver file, started and stopped by bring-up, and undone.

#include "hwaccess/hw_access.h"

#include <windows.h>

#include <cstdint>
#include <string>

constexpr std::uint16_t DRIVER_SERVICE_INSTALL = 1; // create if needed, then start
constexpr std::uint16_t DRIVER_SERVICE_REMOVE = 2;  // stop, then delete

// How the install transaction went, for bring-up's failure path and for
// the check tool.
struct DriverServiceReport {
    DriverStep failedStep = DriverStep::None;
    DWORD error = ERROR_SUCCESS; // the Windows error of the step that failed
    // The registration found has start type SERVICE_DISABLED: an
    // administrator's decision, so it is left untouched and no start is tried.
    bool disabled = false;
    // The install registered the driver service itself.
    bool created = false;
    // The install pointed a registration it found at the checked file; it
    // named previousImagePath before.
    bool repointed = false;
    std::string previousImagePath;
    // Bring-up's undo after a failed start failed (set by OpenIoDriver).
    bool undoFailed = false;
};

// True when the install changed a registration that its undo must put back:
// one it created, unless an administrator disabled it before its start
// (ERROR_SERVICE_DISABLED: their decision, kept), or one it pointed at the
// checked file.
bool ChangedRegistration(const DriverServiceReport &install);

// The rights each step asks of the Service Control Manager and of the
// driver service's object, and no more: a registration whose own security
// descriptor grants less than all access still serves every step it grants.
namespace driver_rights {
inline constexpr DWORD kInstallManager = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
inline constexpr DWORD kManager = SC_MANAGER_CONNECT;
inline constexpr DWORD kCreated = SERVICE_QUERY_STATUS; // the handle CreateService returns
inline constexpr DWORD kRead = SERVICE_QUERY_CONFIG;
inline constexpr DWORD kRepoint = SERVICE_CHANGE_CONFIG;
inline constexpr DWORD kStart = SERVICE_START;
inline constexpr DWORD kStop = SERVICE_STOP | SERVICE_QUERY_STATUS;
inline constexpr DWORD kDelete = DELETE;
} // namespace driver_rights

// One transaction on the service named by g_pszDriverServiceName. Install
// gives true once the driver service runs; remove always gives true; other
// modes false. *report, when given, tells how an install went.
bool ManageDriverService(std::uint16_t mode, DriverServiceReport *report = nullptr);

// Undoes what an install changed (ChangedRegistration), so that a
// registration that is not ours stays as it was: one the install created is
// stopped and deleted, one it pointed at the checked file is pointed back.
// True when there was nothing to undo or the undo succeeded.
bool RestoreDriverService(const DriverServiceReport &install);

// Registers the driver at g_szDriverPath. An existing registration counts as
// success once its image path names g_szDriverPath, and a disabled one as it
// is, untouched; report tells which step failed, whether the registration
// found is disabled, and what the install changed.
bool CreateDriverService(SC_HANDLE manager, const char *name, DriverServiceReport &report);
// True when the registration's image path names that file, also in the
// kernel's form "\??\C:\...".
bool NamesFile(const QUERY_SERVICE_CONFIGA &config, const char *imagePath);
// True when an image path as the registration holds it (perhaps in the
// kernel's form, "\\??\\C:\\...") names the file imagePath.
bool SameDriverFile(const char *registered, const char *imagePath);
// Changes the service's image path, and nothing else.
bool ChangeDriverImagePath(SC_HANDLE service, const char *imagePath);
// Starts the service: ERROR_SUCCESS, also when it runs already, or the
// Windows error of the start.
DWORD StartDriverService(SC_HANDLE manager, const char *name);
// Sends the stop control without waiting for the stopped state.
bool StopDriverService(SC_HANDLE manager, const char *name);
bool DeleteDriverService(SC_HANDLE manager, const char *name);

// What a bring-up changed: the file it pointed the registration at, and that
// it made the registration or the image path it replaced.
struct DriverRecord {
    std::string imagePath;
    bool created = false;
    std::string previousImagePath;
};

enum class DriverRelease {
    Nothing,       // no record, or the registration is no longer as bring-up left it
    Done,          // deleted, or pointed back, and the driver stopped
    RestartNeeded, // done, but the driver will not stop: it goes at the next restart
    Failed,        // the registration could not be deleted or pointed back
};

// Undoes that while the registration still names imagePath (otherwise someone
// changed it since, and it is theirs): one bring-up made is deleted, one it
// pointed at imagePath is pointed back, and the driver loaded from
// imagePath is stopped; a registration made that will not stop stays marked
// for deletion until the next restart.
DriverRelease UndoDriverChange(const DriverRecord &record);
