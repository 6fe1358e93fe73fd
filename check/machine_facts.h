#pragma once
// What the check tool reads off Windows for its checks: errors as text,
// elevation, a service's registration, the user of a process, a file's
// version.

#include <windows.h>

#include <optional>
#include <string>

// "Windows error N (its message)".
std::string WindowsError(DWORD error);

// True when this process runs with administrator rights.
bool IsElevated();

struct ServiceFacts {
    std::string imagePath;
    DWORD startType = 0;
    DWORD state = 0;
};
// The registration and state of a service; none, with the Windows error in
// *error, when it cannot be read (ERROR_SERVICE_DOES_NOT_EXIST: not registered).
std::optional<ServiceFacts> QueryServiceFacts(const char *name, DWORD *error);
// A REG_DWORD value under HKEY_LOCAL_MACHINE; none when there is no such value.
std::optional<DWORD> MachineDword(const char *registryKey, const char *valueName);
// The service's "Start" value as the registry holds it: what the next boot
// uses, which the Service Control Manager may not show before that boot.
std::optional<DWORD> RegisteredStart(const char *registryKey, const char *valueName);
// "running", "stopped", "starting", "stopping", "pausing", "resuming",
// "paused", or the number.
std::string StateName(DWORD state);
// "boot", "system", "auto", "demand", "disabled", or the number.
std::string StartName(DWORD start);

// The account the process runs as, "DOMAIN\\name"; empty when not known.
std::string UserOfProcess(DWORD processId);

// The fixed file version of an executable, "a.b.c.d"; empty when it has none.
std::string FileVersion(const std::string &path);

// The computer's name, as %COMPUTERNAME% gives it.
std::string ComputerName();
// The time now in UTC, ISO 8601: "2026-12-08T08:11:27Z".
std::string UtcTimestamp();

struct WindowsFacts {
    std::string version; // "10.0"
    DWORD build = 0;
};
// The version of Windows itself, which GetVersionEx hides from a program
// that declares none in a manifest.
WindowsFacts WindowsVersion();
// Whether memory integrity (hypervisor-enforced code integrity) is on; none
// when the registry does not say.
std::optional<bool> MemoryIntegrity();

struct PackageFacts {
    std::string productCode;    // "{...}"
    std::string productVersion; // as the installer keeps it
};
// The package installed under one of the upgrade codes, through the
// installer's own functions; none when the service was installed by hand.
std::optional<PackageFacts> InstalledPackage();
