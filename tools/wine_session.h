#pragma once
// What the tools do in the Wine session that run-in-wine made: console lines,
// laying out an install directory from the build, the baseboard product
// text, the service through the SCM, processes.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tools {

constexpr const char *kServiceName = "QTR_WGBService";
constexpr const char *kDriverServiceName = "Quendra_1_0_T";
// How long a step may take before the tool gives up: generous, since where
// 32-bit programs run through an emulator each start of one costs about a
// minute. A working session never waits it out.
constexpr DWORD kWaitMs = 900000;

// One console line, printf style, flushed at once so that it stands in order
// among what Wine writes.
void Say(const char *format, ...);
// Says what failed and ends the program with exit code 1.
[[noreturn]] void Fail(const char *what);

// Creates dir with the service, the check tool, the driver stand-ins and the stub companion
// from the build (WGB_ARTIFACTS), and WGB.ini with these "MainBoard" values;
// returns dir ending in a backslash.
std::string LayOut(const std::string &dir, const std::vector<std::string> &boards);
// Sets the product text that WMI reports for the baseboard.
void SetBoardProduct(const std::string &product);
// Runs exe with the arguments ("-qtrinstall", "--load"...) to its end; what it
// prints appears on this console.
void RunToEnd(const std::string &exe, const char *arguments);

bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs = kWaitMs);
DWORD ServiceState(const char *name);
DWORD ServiceProcessId(const char *name);
bool WaitForServiceState(const char *name, DWORD state);
std::vector<DWORD> ProcessesNamed(const char *exeName);

} // namespace tools
