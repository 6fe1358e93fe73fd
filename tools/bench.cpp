// Benchmark: how long after the poll that first reads a press the companion
// starts. The real WGBService.exe runs through the SCM on a served board with
// the stand-in driver, among a crowd of idle processes that every process
// search of the service walks through. Each press is timed from the
// stand-in's timestamp of the read that returned the pressed level to the
// start time the stub companion records; both are the system time. The
// companion's creation time splits it into the service's part and the new
// process's own start.
//
// Usage: bench.exe [PRESSES [IDLE]] (20 presses, 100 idle processes), inside
// run-in-wine (scripts/bench). Prints every press, then medians and maxima.

#include "harness/session.h"
#include "sim/companion/companion_record.h"
#include "sim/sim_client.h"
#include "tools/console.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

using namespace session;
using namespace tools;
namespace rec = companion_record;

namespace {

constexpr const char *kIdleEvent = "WGBBenchIdleEnd";

// No step of a press takes longer than this: a figure outside 0 to 10 s says
// that a timestamp is missing or from another clock, not how long it took.
constexpr double kPlausibleMs = 10000.0;

struct Series {
    const char *name;
    std::vector<double> ms;

    void Add(unsigned long long from, unsigned long long to) {
        const double taken = static_cast<double>(static_cast<long long>(to - from)) / 10000.0;
        if (!(taken >= 0.0 && taken <= kPlausibleMs)) {
            Say("%s %.1f ms", name, taken);
            Fail("a time outside 0 to 10 s: the timestamps do not share a clock");
        }
        ms.push_back(taken);
    }
    // Prints the median and the maximum; gives the median.
    double Summarise() const {
        if (ms.empty())
            Fail("nothing measured");
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        Say("%-32s median %7.1f ms, maximum %7.1f ms", name, sorted[sorted.size() / 2],
            sorted.back());
        return sorted[sorted.size() / 2];
    }
};

unsigned long long CreationTime(DWORD pid) {
    FILETIME created = {}, unused;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process || !GetProcessTimes(process, &created, &unused, &unused, &unused))
        Fail("no creation time of the companion");
    CloseHandle(process);
    return static_cast<unsigned long long>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

// A crowd of copies of this program, each waiting on the event until it is set.
HANDLE StartIdleProcesses(int count) {
    HANDLE end = CreateEventA(nullptr, TRUE, FALSE, kIdleEvent);
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    for (int i = 0; i < count; ++i) {
        std::string line = std::string("\"") + self + "\" --idle";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                            nullptr, nullptr, &startup, &process))
            Fail("cannot start the idle processes");
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return end;
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "--idle") == 0)
        return WaitForSingleObject(OpenEventA(SYNCHRONIZE, FALSE, kIdleEvent), INFINITE);
    const int presses = std::max(1, argc > 1 ? std::atoi(argv[1]) : 20);
    const int idle = std::max(0, argc > 2 ? std::atoi(argv[2]) : 100);
    Say("Press-to-launch latency of WGBService in a Wine session");
    const HANDLE idleEnd = StartIdleProcesses(idle);

    SetBoardProduct("B760M-WGB Rev 1.02");
    const std::string dir =
        LayOutOrFail("C:\\Program Files\\WGB Bench", {"B760M-WGB;first series"});
    RunToEnd(dir + "WGBService.exe", "-qtrinstall");
    if (!WaitForServiceState(kServiceName, SERVICE_RUNNING) ||
        !WaitForServiceState(kDriverServiceName, SERVICE_RUNNING))
        Fail("the service or its driver did not start");
    sim::Control sim;
    if (!sim.SetAndWaitForPoll(sim::kButtonPort, sim::kReleased, DeadlineMs()))
        Fail("the service does not poll the button");
    Say("service installed in %s, polling port 0x%X every 3 s; %d idle processes", dir.c_str(),
        sim::kButtonPort, idle);
    Say("");
    Say("press   poll to start   poll to process   process to start");

    Series total{"poll to companion start:", {}};
    Series service{"poll to companion process:", {}};
    Series start{"companion process to its start:", {}};
    for (int press = 1; press <= presses; ++press) {
        // The companion stays until its creation time has been read.
        std::ofstream(dir + rec::kStayFileName).put('\n');
        const std::optional<sim_trace_entry> poll =
            sim.SetAndWaitForPoll(sim::kButtonPort, sim::kPressed, DeadlineMs());
        if (!poll || !WaitUntil([&] { return rec::ReadRecords(dir).size() >= size_t(press); }))
            Fail("the press was not polled or the companion did not start");
        rec::Record record = rec::ReadRecords(dir).back();
        const unsigned long long started = std::strtoull(record[rec::kTime].c_str(), nullptr, 10);
        const unsigned long long created =
            CreationTime(static_cast<DWORD>(std::atol(record[rec::kPid].c_str())));
        total.Add(poll->time, started);
        service.Add(poll->time, created);
        start.Add(created, started);
        Say("%5d %12.1f ms %14.1f ms %15.1f ms", press, total.ms.back(), service.ms.back(),
            start.ms.back());
        // Companion gone, button released and seen so: the next press is new.
        DeleteFileA((dir + rec::kStayFileName).c_str());
        if (!WaitUntil([] { return ProcessesNamed("WGB.exe").empty(); }) ||
            !sim.SetAndWaitForPoll(sim::kButtonPort, sim::kReleased, DeadlineMs()))
            Fail("the companion did not end or the release was not seen");
    }

    // The poll period, from the stand-in's times of the reads: a figure a
    // loaded machine stretches, so a ceiling for a person, not a test.
    Series period{"poll to next poll:", {}};
    const std::vector<sim_trace_entry> polls = sim.Trace();
    for (std::size_t i = 1; i < polls.size(); ++i)
        period.ms.push_back(static_cast<double>(polls[i].time - polls[i - 1].time) / 10000.0);

    Say("");
    total.Summarise();
    service.Summarise();
    start.Summarise();
    if (period.Summarise() > 4500.0)
        Fail("the button is polled less often than every 3 s: a short press may be missed");
    RunToEnd(dir + "WGBService.exe", "-qtruninstall");
    SetEvent(idleEnd);
    return 0;
}
