#pragma once
// Helpers for tests that run inside a Wine session made by run-in-wine: the
// session itself (harness/session.h) with a test's failures where a step goes
// wrong, the registry, and probes (the test executable run again for a
// product call that needs a process of its own).

#include <windows.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "harness/session.h"

namespace wgbtest {

using namespace session;

// session::LayOut, a test failure when the build's files cannot be copied.
std::string PrepareInstallDir(const std::string &dir, const std::optional<std::string> &ini);
void CopyFileOrFail(const std::string &from, const std::string &to);
void WriteRegistryValue(HKEY root, const std::string &subKey, const std::string &name, DWORD type,
                        const void *data, DWORD size);

// A check tool's report, kept for the schema's validator in the folder
// WGB_REPORTS names (tests/json/with-reports-validated), and parsed: null
// when it is no JSON.
nlohmann::json KeptReport(const std::string &text);

// This process's token, which the programs it starts share: elevated or not,
// and its user's name in UTF-8 ("DOMAIN\\name"), read without the product's code.
bool TokenElevated();
std::string TokenUserName();

// Runs this executable again as "--probe ARGS": a failure unless it exits
// with 0; gives what it printed.
std::string RunProbe(const std::string &args);
// The main of a test executable with a probe: runs probe(argc, argv) after
// "--probe" when started so, its tests otherwise.
int TestMain(int argc, char **argv, int (*probe)(int, char **));

} // namespace wgbtest
