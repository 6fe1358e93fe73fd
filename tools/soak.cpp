// Soak run of the real service: many presses of the simulated button, with
// the companion running and with it closed, then many stop/start cycles
// through the SCM. Prints how often the companion started, the service's
// handle count and working set after every press, and what each cycle left.
// Each press and release costs two polls of 3 s, so this takes minutes.
//
// Usage: soak.exe [PRESSES-WHILE-RUNNING [PRESSES-WHILE-CLOSED [CYCLES]]]
// (30, 10, 30), inside run-in-wine (scripts/soak).

#include "common/win_handles.h"
#include "sim/companion/companion_record.h"
#include "harness/session.h"
#include "sim/sim_client.h"
#include "tools/console.h"

#include <psapi.h>

#include <cstdlib>
#include <fstream>

using namespace session;
using namespace tools;
namespace rec = companion_record;

namespace {

size_t WorkingSetKiB(DWORD pid) {
    PROCESS_MEMORY_COUNTERS counters = {};
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    GetProcessMemoryInfo(process, &counters, sizeof counters);
    CloseHandle(process);
    return counters.WorkingSetSize / 1024;
}

int Argument(int argc, char **argv, int index, int fallback) {
    return argc > index ? std::atoi(argv[index]) : fallback;
}

} // namespace

int main(int argc, char **argv) {
    const int whileRunning = Argument(argc, argv, 1, 30);
    const int whileClosed = Argument(argc, argv, 2, 10);
    const int cycles = Argument(argc, argv, 3, 30);
    SetBoardProduct("B760M-WGB Rev 1.02");
    const std::string dir = LayOutOrFail("C:\\Program Files\\WGB Soak", {"B760M-WGB;first series"});
    RunToEnd(dir + "WGBService.exe", "-qtrinstall");
    if (!WaitForServiceState(kServiceName, SERVICE_RUNNING) ||
        !WaitForServiceState(kDriverServiceName, SERVICE_RUNNING))
        Fail("the service or its driver did not start");
    const DWORD pid = ServiceProcessId(kServiceName);
    sim::Control sim;
    auto press = [&] {
        if (!sim.SetAndWaitForPoll(sim::kButtonPort, sim::kPressed, DeadlineMs()) ||
            !sim.SetAndWaitForPoll(sim::kButtonPort, sim::kReleased, DeadlineMs()))
            Fail("a press or release was not polled");
    };
    auto starts = [&] { return rec::ReadRecords(dir).size(); };
    auto sample = [&](const char *when, int n) {
        Say("%-26s %3d: starts %2zu, handles %d, working set %zu KiB", when, n, starts(),
            HandleCount(pid), WorkingSetKiB(pid));
    };
    Say("Soak of WGBService in a Wine session (service process %lu)", pid);

    // The first press starts the companion, which stays; the presses while it
    // runs are spent; with it closed, each press starts it once.
    std::ofstream(dir + rec::kStayFileName).put('\n');
    press();
    if (!WaitUntil([&] { return starts() == 1; }))
        Fail("the first press started nothing");
    sample("first press", 1);
    for (int n = 1; n <= whileRunning; ++n) {
        press();
        sample("press, companion running", n);
    }
    DeleteFileA((dir + rec::kStayFileName).c_str());
    for (int n = 1; n <= whileClosed; ++n) {
        press();
        WaitUntil([] { return ProcessesNamed("WGB.exe").empty(); });
        sample("press, companion closed", n);
    }
    Say("starts: %zu for %d presses (expected %d); service process %lu now", starts(),
        1 + whileRunning + whileClosed, 1 + whileClosed, ServiceProcessId(kServiceName));

    int clean = 0;
    DWORD previous = pid;
    for (int n = 1; n <= cycles; ++n) {
        const bool stopped = StopService(kServiceName) == std::optional<DWORD>(0) &&
                             ProcessesNamed("WGBService.exe").empty();
        const bool running =
            StartServiceByName(kServiceName) && WaitForServiceState(kServiceName, SERVICE_RUNNING);
        const DWORD now = ServiceProcessId(kServiceName);
        clean +=
            stopped && running && now != previous && ProcessesNamed("WGBService.exe").size() == 1;
        previous = now;
    }
    Say("stop/start cycles: %d, clean (stopped, process ended with 0, new process running): %d",
        cycles, clean);
    Say("the last process polls: %s", sim.WaitForPolls(1, DeadlineMs()) ? "yes" : "NO");
    RunToEnd(dir + "WGBService.exe", "-qtruninstall");
    return 0;
}
