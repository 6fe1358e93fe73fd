// Benchmark: how long after the poll that first reads a press the companion
// starts. The real WGBService.exe runs through the SCM on a served board with
// the stand-in driver, among a crowd of idle processes that every process
// search of the service has to go through. For each press the time runs from
// the stand-in's timestamp of the read that returned the pressed level to the
// start time the stub companion records (its first instruction); both are the
// system time. The companion's process creation time (GetProcessTimes) splits
// it in two: the service's part (process searches, the user's environment,
// CreateProcessAsUserA up to the new process) and the new process's own start.
//
// Usage: press_latency.exe [PRESSES [IDLE]]   (default 20 presses, 100 idle
// processes), inside run-in-wine. Prints every press, then the count, the
// median and the maximum.

#include "support/console.h"
#include "support/port_trace.h"
#include "support/process_metrics.h"
#include "support/service_run.h"
#include "support/sim_client.h"
#include "support/wine_env.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace wgbtest;

namespace {

constexpr int kDefaultPresses = 20;
constexpr int kDefaultIdleProcesses = 100;
constexpr const char *kBoard = "B760M-WGB Rev 1.02";
constexpr DWORD kWaitMs = 90000;
constexpr double kTargetMedianMs = 50.0;
constexpr double kTargetMaxMs = 200.0;

int ArgumentOr(int argc, char **argv, int index, int fallback) {
    const int value = argc > index ? std::atoi(argv[index]) : fallback;
    return value >= 0 ? value : fallback;
}

size_t SessionProcessCount() {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry))
        ++count;
    return count;
}

uint64_t RecordNumber(const CompanionRecord &record, const char *key) {
    auto field = record.find(key);
    if (field == record.end())
        Fail("a companion record without its process id or start time");
    return std::strtoull(field->second.c_str(), nullptr, 10);
}

double Milliseconds(uint64_t from, uint64_t to) {
    return TicksToMs(static_cast<int64_t>(to - from));
}

struct Series {
    const char *name;
    std::vector<double> ms;

    void Summarise() const {
        Say("%-34s median %7.1f ms, maximum %7.1f ms", name, Median(ms),
            *std::max_element(ms.begin(), ms.end()));
    }
};

} // namespace

int main(int argc, char **argv) {
    const int presses = std::max(1, ArgumentOr(argc, argv, 1, kDefaultPresses));
    const int idle = ArgumentOr(argc, argv, 2, kDefaultIdleProcesses);
    Say("Press-to-launch latency of WGBService in a Wine session");

    IdleProcesses crowd(idle);
    if (crowd.Started() != static_cast<size_t>(idle) ||
        (idle > 0 && !crowd.WaitUntilReady(kWaitMs)))
        Fail("could not start the idle processes");

    SetBoardProduct(kBoard);
    InstallLayout layout;
    layout.ini = MainBoardIni({"B760M-WGB;first series"});
    const std::string dir = PrepareInstallDir(layout);
    if (!RunProgram(Quoted(dir + "WGBService.exe") + " -qtrinstall"))
        Fail("the install run did not end");
    if (!WaitForServiceState(kServiceName, SERVICE_RUNNING, kWaitMs) ||
        !WaitForServiceState(kDriverServiceName, SERVICE_RUNNING, kWaitMs))
        Fail("the service or its driver did not start");
    SimControl sim;
    if (!sim.IsOpen())
        Fail("cannot reach the stand-in's control device");
    PortTrace trace(sim);
    if (!trace.SetAndWaitForPoll(kButtonPort, kButtonReleased, kWaitMs))
        Fail("the service does not poll the button");
    Say("service installed in %s, polling port 0x%X every 3 s", dir.c_str(), kButtonPort);
    Say("processes in the session: %zu (%zu of them idle)", SessionProcessCount(), crowd.Running());
    Say("");
    Say("press   poll to start   poll to process   process to start");

    Series total{"poll to companion start:", {}};
    Series service{"poll to companion process:", {}};
    Series start{"companion process to its start:", {}};
    const std::string stayFile = CompanionStayFile(dir);
    for (int press = 1; press <= presses; ++press) {
        // The companion stays until its creation time has been read.
        WriteTextFile(stayFile, "");
        const size_t startsBefore = ReadCompanionRecords(dir).size();
        trace.SkipToEnd();
        sim.SetPort(kButtonPort, kButtonPressed);
        if (!WaitForCompanionRecords(dir, startsBefore + 1, kWaitMs))
            Fail("the companion did not start");
        const CompanionRecord record = ReadCompanionRecords(dir).back();
        // The read that started it is traced by now.
        const std::optional<sim_trace_entry> poll =
            trace.WaitForPoll(kButtonPort, kButtonPressed, 0);
        const DWORD pid = static_cast<DWORD>(RecordNumber(record, companion_record::kPid));
        const std::optional<uint64_t> created = ProcessCreationTime(pid);
        if (!poll || !created)
            Fail("no pressed read in the trace or no creation time of the companion");
        const uint64_t started = RecordNumber(record, companion_record::kTime);
        total.ms.push_back(Milliseconds(poll->time, started));
        service.ms.push_back(Milliseconds(poll->time, *created));
        start.ms.push_back(Milliseconds(*created, started));
        Say("%5d %12.1f ms %14.1f ms %15.1f ms", press, total.ms.back(), service.ms.back(),
            start.ms.back());

        // Companion gone, button released and seen released: the next press is new.
        DeleteFileA(stayFile.c_str());
        if (!WaitUntil([] { return ProcessesNamed("WGB.exe").empty(); }, kWaitMs) ||
            !trace.SetAndWaitForPoll(kButtonPort, kButtonReleased, kWaitMs))
            Fail("the companion did not end or the release was not seen");
    }

    Say("");
    Say("presses: %zu, idle processes: %zu", total.ms.size(), crowd.Running());
    total.Summarise();
    service.Summarise();
    start.Summarise();
    const double median = Median(total.ms);
    const double maximum = *std::max_element(total.ms.begin(), total.ms.end());
    Say("target, poll to companion start: median under %.0f ms %s, maximum under %.0f ms %s",
        kTargetMedianMs, median < kTargetMedianMs ? "met" : "NOT met", kTargetMaxMs,
        maximum < kTargetMaxMs ? "met" : "NOT met");

    RunProgram(Quoted(dir + "WGBService.exe") + " -qtruninstall");
    return 0;
}
