#pragma once
// Start of the companion application in the logged-on user's session.

#include "button/process_choice.h"

// Starts the command line in g_szModuleDir as the user of the desktop shell
// chosen from a snapshot, on that user's interactive desktop and with that
// user's environment. Nothing starts when the process of the shell's id is
// no longer that shell. Failures go unnoticed.
void LaunchCompanion(const ProcessEntry &shell);
