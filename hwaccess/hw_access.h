#pragma once
// The hardware-access object the worker creates once and never releases.

#include <cstdint>

// Driver state record, filled by OpenIoDriver.
struct IoDriverState {
    std::int32_t bOpened; // 1 after a successful bring-up, 0 after a failed one
    void *pBuffer;        // the driver's 1200-byte block, filled with 0xFF
};

struct HwAccess {
    IoDriverState driver;
    std::int32_t bDriverReady; // the bring-up result, written a second time
};

// Set by the worker before it creates the Super I/O object, whose
// constructor reads it.
inline HwAccess *g_pHwAccess = nullptr;
