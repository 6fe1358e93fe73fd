#pragma once
// The Wine session that run-in-wine makes, as the tools and the Wine tests
// drive it from inside: the build's files laid out in an install directory,
// the baseboard product text, services through the Service Control Manager,
// processes, and waiting for what the service does. Nothing here runs
// through the product's own code: a test's check must not share the fault it
// looks for.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/win_handles.h"

namespace session {

constexpr const char *kServiceName = "QTR_WGBService";
constexpr const char *kDriverServiceName = "Quendra_1_0_T";

// How long to wait for something the service or Windows does before giving
// up: WGB_DEADLINE_S, which run-in-wine sets generously for the machine
// (minutes; where 32-bit programs run through an emulator, each start of one
// costs about a minute of processor time). A working session never waits it
// out.
DWORD DeadlineMs();

// A file of the build (WGB_ARTIFACTS), e.g. "WGBService.exe", "Quendra.sys";
// empty when run-in-wine did not say where the build is.
std::string ArtifactPath(const std::string &fileName);
bool FileExists(const std::string &path);
bool WriteTextFile(const std::string &path, const std::string &text);
// Creates dir and the folders above it, or empties it of files.
void MakeEmptyDir(const std::string &dir);
// An INI text with section "MainBoard" and keys 1.. for the given values.
std::string MainBoardIni(const std::vector<std::string> &values);
// Makes dir afresh with the service, the check tool, both driver stand-ins
// (where built) and the stub companion, and WGB.ini when ini is given.
// Returns dir ending in a backslash; empty when a file could not be copied.
std::string LayOut(const std::string &dir, const std::optional<std::string> &ini);
// Sets the product text that WMI reports for the baseboard from now on.
bool SetBoardProduct(const std::string &product);

// Polls cond until it holds or the deadline passes; returns the last result.
bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs = DeadlineMs());

// The service opened with that access; null when that failed, GetLastError
// then telling why (ERROR_SERVICE_DOES_NOT_EXIST when there is none).
UniqueServiceHandle OpenServiceByName(const std::string &name, DWORD access);
std::optional<SERVICE_STATUS_PROCESS> ServiceStatus(const std::string &name);
// SERVICE_STOPPED, SERVICE_RUNNING, ...; 0 when there is no such service.
DWORD ServiceState(const std::string &name);
bool WaitForServiceState(const std::string &name, DWORD state);
// The id of the service's process; 0 when it has none.
DWORD ServiceProcessId(const std::string &name);
bool StartServiceByName(const std::string &name);
// Sends the stop control. True when the service took it; a stop is judged
// by the stopped state and the process's exit code, not by this answer.
bool RequestStop(const std::string &name);
// Stops a running service and waits until it is reported stopped and its
// process has ended: that process's exit code, or none when the stop was
// refused or either wait ran out.
std::optional<DWORD> StopService(const std::string &name);

// Ids of the processes whose executable file name is exeName (any case).
std::vector<DWORD> ProcessesNamed(const std::string &exeName);
void KillProcessesNamed(const std::string &exeName);
// Handles the process holds, counted in the system's handle table. Relies on
// Wine's internals: Wine answers GetProcessHandleCount with 0, but lists
// every handle with its owner in SystemHandleInformation.
int HandleCount(DWORD pid);

// Starts cmdLine: its standard output and error into outputFile when given,
// else this program's; on the named desktop when given. The process, or
// none when it did not start.
UniqueHandle StartProgram(const std::string &cmdLine, const std::string &outputFile = "",
                          const char *desktop = nullptr);
// Runs cmdLine to its end: its exit code, and what it wrote into *output when
// asked (else it writes to this program's output); none when it did not
// start or end before the deadline.
std::optional<DWORD> RunProgram(const std::string &cmdLine, std::string *output = nullptr);
// The same for a command line in UTF-16, every character of it.
std::optional<DWORD> RunProgram(const std::wstring &cmdLine);
std::string ReadWholeFile(const std::string &path);
// text in double quotes, as one command-line argument.
std::string Quoted(const std::string &text);

} // namespace session
