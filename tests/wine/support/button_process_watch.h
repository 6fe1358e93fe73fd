#pragma once
// Looking into the running service process from outside: the handles it
// holds and whether its worker thread still runs.

#include <windows.h>

#include <optional>
#include <vector>

namespace wgbtest {

// Handles the process holds, counted in the system's handle table (Wine
// answers GetProcessHandleCount with 0).
int HandleCount(DWORD pid);

// Threads of the process that started in code of its executable, other than
// at the executable's entry point: in the service, the worker thread. None
// when the process or its executable cannot be examined.
std::optional<std::vector<DWORD>> ThreadsStartedInExecutable(DWORD pid);

// Waits until the service has started its worker (its hidden window exists,
// and the worker is started while the window is created) and the worker has
// ended. False when either does not happen before the deadline.
bool WaitForWorkerEnd(DWORD pid);

} // namespace wgbtest
