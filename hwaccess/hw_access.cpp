#include "hwaccess/hw_access.h"

HwAccess *g_pHwAccess = nullptr;
