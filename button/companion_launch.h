#pragma once
// Start of the companion application in the logged-on user's session.

#include <cstdint>

// Starts the command line in g_szModuleDir as the user of the desktop shell
// with that process id, on that user's interactive desktop and with that
// user's environment. Failures go unnoticed.
void LaunchCompanion(std::uint32_t shellProcessId);
