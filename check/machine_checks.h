#pragma once
// The checks of one installation, in the order an integrator works through
// them, each made with the service's own code: the files, their protection,
// the service's registration, the board, the driver, the button, the user.

#include "check/arguments.h"
#include "check/report.h"

#include <string>

// Checks the installation in directory (ending in a backslash) and adds what
// was found to the report. Changes nothing on the machine, except that
// options.load brings the driver up as the service would.
void RunMachineChecks(const std::string &directory, const CheckOptions &options, Report &report);
