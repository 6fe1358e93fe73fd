#pragma once
// The driver service's name and the steps of the driver's bring-up, for the
// service and for the check tool's judgement of a bring-up. Portable.

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
