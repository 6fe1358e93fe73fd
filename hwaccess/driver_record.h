#pragma once
// What the service's bring-up changed of the driver service's registration,
// kept for the service's removal, which undoes it: a registration the service
// made goes, one it pointed at its own file is pointed back at the file it
// named before, and one it did not change stays as it is. Apart from the
// registration's steps, which the check tool links too: it writes nothing to
// the registry.

#include "hwaccess/driver_registration.h"

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

// A record kept across the deletion of its service's key: moved from one key
// to another (the destination made only below an existing key). True when
// there was one and it moved.
bool MoveDriverRecord(const char *from, const char *to);

// Takes over a record an earlier installation of the service in another
// folder handed over (MoveDriverRecord), into recordKey. Where this service's
// bring-up already recorded that it pointed that installation's registration
// at its own file, the registration is still the earlier record's doing: made
// by the service, or another product's to point back. The handed-over record
// goes. False when there was none.
bool AdoptDriverRecord(const char *handedOver, const char *recordKey = kDriverRecordKey);
