#pragma once
// What --load changed, undone once however the check tool ends: by UndoLoad
// at its end, or inside the handler Windows calls when the console is
// closed, the user logs off or the machine shuts down, as the process is
// ended once that handler returns.

#include "check/facts.h"
#include "hwaccess/driver_service.h"

#include <windows.h>

#include <optional>

// Keeps what bring-up changed for the undo, and sets up the handlers: the
// console's, and a hidden top-level window's for WM_ENDSESSION.
void ArmLoadUndo(const DriverServiceReport &install);

// The undo, when one is pending (none when there is nothing to undo); done
// tells whether the registration is back as it was found.
std::optional<WinError> TakeAndUndo(bool &done);

// The same at the tool's end, into the facts.
void UndoLoad(CheckFacts &facts);

// Ctrl+C and Ctrl+Break end the watch; a console close, a logoff or a
// shutdown undo --load too.
BOOL WINAPI OnConsoleControl(DWORD event);
bool WatchInterrupted();
