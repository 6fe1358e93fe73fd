#pragma once
// The worker routine, which polls the button and starts the companion on a
// press, and the process-wide values it owns.

#include "common/shared_state.h"

class FintekF71889;

extern FintekF71889 *g_pSuperIo;
// Set from the poll that handles a press until a poll reads the released level.
extern bool g_bButtonLatched;

// The body of the service, run once on the worker thread. Returns 0.
int WorkerMain();
