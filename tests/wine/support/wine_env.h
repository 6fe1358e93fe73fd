#pragma once
// Helpers for tests that run inside a Wine session made by run-in-wine: the
// build's files, an install directory, the baseboard product text, waiting,
// programs and processes, the registry, and probes (the test executable run
// again for a product call that needs a process of its own).

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wgbtest {

constexpr DWORD kDeadlineMs = 120000;

// A file of the build, e.g. "WGBService.exe", "Quendra.sys", "WGB.exe".
std::string ArtifactPath(const std::string &fileName);
bool FileExists(const std::string &path);
void WriteTextFile(const std::string &path, const std::string &text);
void CopyFileOrFail(const std::string &from, const std::string &to);
// text in double quotes, as one command-line argument.
std::string Quoted(const std::string &text);

// Creates dir, or empties it of files.
void MakeEmptyDir(const std::string &dir);
// Creates dir afresh with the service, both driver stand-ins (where built)
// and the stub companion, and WGB.ini when ini is given; returns dir ending
// in a backslash.
std::string PrepareInstallDir(const std::string &dir, const std::optional<std::string> &ini);
// An INI text with section "MainBoard" and keys 1.. for the given values.
std::string MainBoardIni(const std::vector<std::string> &values);
// Sets the product text that WMI reports for the baseboard from now on.
void SetBoardProduct(const std::string &product);

// Polls cond until it holds or the deadline passes; returns the last result.
bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs = kDeadlineMs);
// Runs cmdLine to its end: its exit code, and what it wrote to its stdout into
// *output; none when it did not start or end before the deadline.
std::optional<DWORD> RunProgram(const std::string &cmdLine, std::string *output = nullptr);
// Ids of the processes whose executable file name is exeName (any case).
std::vector<DWORD> ProcessesNamed(const std::string &exeName);
void KillProcessesNamed(const std::string &exeName);

void WriteRegistryValue(HKEY root, const std::string &subKey, const std::string &name, DWORD type,
                        const void *data, DWORD size);

// Runs this executable again as "--probe ARGS": a failure unless it exits
// with 0; gives what it printed.
std::string RunProbe(const std::string &args);
// The main of a test executable with a probe: runs probe(argc, argv) after
// "--probe" when started so, its tests otherwise.
int TestMain(int argc, char **argv, int (*probe)(int, char **));

} // namespace wgbtest
