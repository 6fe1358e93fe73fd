#pragma once
// What the service's bring-up changed of the driver service's registration,
// kept for the service's removal, which undoes it: a registration the service
// made goes, one it pointed at its own file is pointed back at the file it
// named before, and one it did not change stays as it is.

#include "hwaccess/driver_service.h"

// Under HKEY_LOCAL_MACHINE, the service's own key: only SYSTEM and
// Administrators may change it, an administrator looks there for a service's
// settings, and it goes when the service is deleted.
inline constexpr char kDriverRecordKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\QTR_WGBService\\Parameters";

// Records what a bring-up that left its change in place (the driver started)
// changed: that it made the registration, or the image path it replaced, and
// the file it pointed the registration at. A bring-up that changed nothing
// leaves an earlier record as it is.
void RecordDriverChange(const DriverServiceReport &install,
                        const char *recordKey = kDriverRecordKey);

// Undoes what the record says (UndoDriverChange); Nothing without a record.
// The record goes with the service's key.
DriverRelease ReleaseDriverService(const char *recordKey = kDriverRecordKey);
