#pragma once
// The checks of one installation, in the order an integrator works through
// them, each made with the service's own code: the files, their protection,
// the service's registration, the board, the driver, the button, the user.

#include "button/process_choice.h"
#include "check/arguments.h"
#include "check/report.h"
#include "hwaccess/driver_service.h"

#include <string>
#include <vector>

// Checks the installation in directory (ending in a backslash) and adds what
// was found to the report. Changes nothing on the machine, except that
// options.load brings the driver up as the service would.
void RunMachineChecks(const std::string &directory, const CheckOptions &options, Report &report);

struct DriverFailure {
    const char *code; // check/finding_codes.h
    std::string advice;
};
// The code and the advice for a bring-up that failed as install tells: by
// the step that failed, and for a start Windows blocks by its error.
DriverFailure DriverFailureOf(const DriverServiceReport &install);

// 7. The user whose session the companion would start in, from a snapshot of
// the processes and the console's session.
void CheckUser(const std::vector<ProcessEntry> &processes, DWORD console, Report &report);
