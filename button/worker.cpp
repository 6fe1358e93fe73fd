#include "button/worker.h"

char g_szModuleDir[256];
char g_szIniPath[256];
FintekF71889 *g_pSuperIo = nullptr;

int WorkerMain() { return 0; }
