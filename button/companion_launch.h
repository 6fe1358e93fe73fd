#pragma once
// Start of the companion application in the logged-on user's session.

// Starts the command line in g_szModuleDir as the user of the desktop shell
// ("EXPLORER.EXE"), on that user's interactive desktop and with that user's
// environment. Starts nothing when no shell runs; failures go unnoticed.
void LaunchCompanion();
