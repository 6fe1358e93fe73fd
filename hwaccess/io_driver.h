#pragma once
// Bring-up of the kernel I/O driver.

#include "hwaccess/hw_access.h"

#include <windows.h>

// 0 until bring-up runs, INVALID_HANDLE_VALUE after a failed open, else the device.
extern HANDLE g_hIoDriver;

// Opens the driver's device, registering and starting the driver first when
// it is not loaded. True when port requests can go out.
bool OpenIoDriver(IoDriverState *state);
