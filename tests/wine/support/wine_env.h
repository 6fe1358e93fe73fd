#pragma once
// Helpers for tests that run inside a Wine session made by run-in-wine:
// where the build's artifacts are, laying out an install directory, the
// baseboard product text, waiting for conditions, processes, the Service
// Control Manager and the registry.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wgbtest {

constexpr DWORD kDeadlineMs = 60000;
constexpr const char *kServiceName = "QTR_WGBService";
constexpr const char *kDriverServiceName = "Quendra_1_0_T";

// ---- paths and files ------------------------------------------------------

// "/a/b" -> "Z:\a\b": how Wine shows the Unix file system.
std::string WindowsPathOf(const std::string &unixPath);
// A file of the build, e.g. "WGBService.exe", "Quendra.sys", "WGB.exe".
std::string ArtifactPath(const std::string &fileName);
bool FileExists(const std::string &path);
std::string ReadTextFile(const std::string &path);
void WriteTextFile(const std::string &path, const std::string &text);
void CopyFileOrFail(const std::string &from, const std::string &to);
// Deletes the files directly inside dir, then dir itself; missing is fine.
void RemoveDirectoryTree(const std::string &dir);

// text in double quotes, as one command-line argument: a path with blanks.
// Backslashes right before the closing quote are doubled, or the C runtime
// would read the last one as escaping the quote.
std::string Quoted(const std::string &text);

// ---- install directory ----------------------------------------------------

struct InstallLayout {
    std::string exeName = "WGBService.exe";
    bool driver32 = true;           // Quendra.sys
    bool driver64 = true;           // Quendra_X64.sys, where the build made one
    bool companion = true;          // WGB.exe
    std::optional<std::string> ini; // WGB.ini contents; none: no file
};

// Creates dir (and its parents), copies the files the layout asks for and
// returns dir ending in a backslash. Default dir has blanks in its path.
std::string PrepareInstallDir(const InstallLayout &layout = {},
                              const std::string &dir = "C:\\Program Files\\WGB Test Tools");

// An INI text with section "MainBoard" and keys 1.. for the given values.
std::string MainBoardIni(const std::vector<std::string> &values);

// ---- baseboard --------------------------------------------------------------

// Sets the product text that WMI reports for the baseboard from now on.
void SetBoardProduct(const std::string &product);

// ---- waiting and processes ------------------------------------------------

// Polls cond until it holds or the deadline passes; returns the last result.
bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs = kDeadlineMs);

// Starts cmdLine, waits for it and returns its exit code; std::nullopt when
// it could not start or did not end before the deadline (it is then killed).
std::optional<DWORD> RunProgram(const std::string &cmdLine, DWORD timeoutMs = kDeadlineMs);

// Like RunProgram, and also returns what the program wrote to its stdout.
std::optional<DWORD> RunProgramCapture(const std::string &cmdLine, std::string &output,
                                       DWORD timeoutMs = kDeadlineMs);

// Ids of the processes whose executable file name is exeName (any case).
std::vector<DWORD> ProcessesNamed(const std::string &exeName);
void KillProcessesNamed(const std::string &exeName);
// Number of threads of a process.
int ThreadCount(DWORD pid);

// ---- Service Control Manager ----------------------------------------------

struct ServiceConfig {
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::string imagePath;
    std::string account;
};

bool ServiceExists(const std::string &name);
// SERVICE_STOPPED, SERVICE_RUNNING, ...; 0 when there is no such service.
DWORD ServiceState(const std::string &name);
// Full status, for the reported service type and accepted controls.
std::optional<SERVICE_STATUS_PROCESS> ServiceStatus(const std::string &name);
std::optional<ServiceConfig> QueryServiceConfiguration(const std::string &name);
bool WaitForServiceState(const std::string &name, DWORD state, DWORD timeoutMs = kDeadlineMs);
// Sends a control; true when the SCM took it.
bool ControlServiceByName(const std::string &name, DWORD control);
bool StartServiceByName(const std::string &name);
// Stops (when running) and deletes the service, and waits until it is gone.
void RemoveServiceIfPresent(const std::string &name);

// ---- registry -------------------------------------------------------------

std::optional<DWORD> ReadRegistryDword(HKEY root, const std::string &subKey,
                                       const std::string &value);
void WriteRegistryDword(HKEY root, const std::string &subKey, const std::string &value, DWORD data);
std::string ServiceKey(const std::string &serviceName);

} // namespace wgbtest
