#pragma once
// The real service under test, installed through its own "-qtrinstall" switch
// as an administrator would, and its process as the SCM started it.

#include <windows.h>

#include <string>

#include "common/win_handles.h"
#include "support/wine_env.h"

namespace wgbtest {

// The service process as the SCM started it; pid 0 and no handle when the
// SCM reports no running service.
struct RunningService {
    DWORD pid = 0;
    // Opened for waiting on it and reading its exit code.
    UniqueHandle process;
};

// Runs exe with "-qtrinstall" (a test failure unless it exits with 0) and
// waits until the service runs (a test failure when it does not).
RunningService InstallAndWaitRunning(const std::string &exe);

} // namespace wgbtest
