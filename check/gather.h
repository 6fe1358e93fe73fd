#pragma once
// Every Windows call of the check tool's look at a machine: the facts of the
// installation this program lies in, read with the service's own code.

#include "check/arguments.h"
#include "check/facts.h"

#include <functional>
#include <string>

// The facts of the installation in this program's folder. Changes nothing
// on the machine, except that options.load brings the driver up as the
// service would, when nobody but administrators may change what it loads;
// UndoLoad (check/load_undo.h) puts the registration back.
CheckFacts GatherFacts(const CheckOptions &options);

// Samples the button every 100 ms for that many seconds, or until Ctrl+C,
// and calls onChange with each change of its level.
void WatchButton(CheckFacts &facts, unsigned seconds,
                 const std::function<void(const WatchChange &)> &onChange);

// A Windows error number with its message, in UTF-8.
WinError WindowsError(unsigned long error);
