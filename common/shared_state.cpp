#include "common/shared_state.h"

char g_szModuleDir[kTextBufferSize];
char g_szIniPath[kTextBufferSize];

// The worker reads the flag at every loop test without a lock, so it must be a
// plain atomic load and store, never a hidden mutex.
static_assert(std::atomic<bool>::is_always_lock_free, "the run flag must be lock-free");

// Constant-initialised: true before any code of the process runs.
std::atomic<bool> g_bRunning{true};
