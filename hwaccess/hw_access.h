#pragma once
// The hardware-access object the worker creates once and never releases, and
// the steps of the driver's bring-up that fills it, for the service and for
// the check tool's judgement of a bring-up. Portable.

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

// --- bring-up steps ---

// The driver service's name, also its display name.
inline constexpr char kDriverServiceName[] = "Quendra_1_0_T";

// The step of bring-up that failed.
enum class DriverStep {
    None,    // nothing failed
    Manager, // opening the Service Control Manager
    Create,  // registering the driver service
    Repoint, // pointing an existing registration at the checked file
    Start,
    Device, // opening the device after a good start (set by OpenIoDriver)
    File,   // the driver file is missing or its path too long (set by OpenIoDriver)
};
