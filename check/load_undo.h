#pragma once
// --load: the driver brought up as the service does, and what that changed
// undone once however the check tool ends: by UndoLoad at its end, or inside
// the handler Windows calls when the console is closed, the user logs off or
// the machine shuts down, as the process is ended once that handler returns.

#include "check/facts.h"
#include "hwaccess/driver_registration.h"

#include <windows.h>

#include <string>

// Brings the driver up from directory (ending in a backslash) as the service
// does: what bring-up did, and deviceOpen when the device opened. A change
// it left in place waits for the undo (ArmLoadUndo); after a failed start
// bring-up has undone it already, and the facts tell what that left.
LoadFacts LoadDriver(const std::string &directory, bool &deviceOpen);

// Keeps what bring-up changed for the undo, and sets up the handlers: the
// console's, and a hidden top-level window's for WM_ENDSESSION.
void ArmLoadUndo(const DriverServiceReport &install);

// The undo, when one is pending: what it left (Undo::Nothing when none was
// pending), and the Windows error where it failed.
LoadFacts::Undo TakeAndUndo(WinError &error);

// The same at the tool's end, into the facts.
void UndoLoad(CheckFacts &facts);

// Ctrl+C and Ctrl+Break end the watch; a console close, a logoff or a
// shutdown undo --load too.
BOOL WINAPI OnConsoleControl(DWORD event);
bool WatchInterrupted();
