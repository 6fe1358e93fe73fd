#pragma once
// The worker routine and the process-wide values it owns.

class FintekF71889;

// Directory of the executable ending in a backslash; from the first companion
// launch on, the companion's command line.
extern char g_szModuleDir[256];
// The directory followed by "WGB.ini".
extern char g_szIniPath[256];
extern FintekF71889 *g_pSuperIo;
// Set from the poll that handles a press until a poll reads the released level.
extern bool g_bButtonLatched;

// The body of the service, run once on the worker thread. Returns 0.
int WorkerMain();
