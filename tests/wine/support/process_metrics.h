#pragma once
// Measuring processes from outside in a Wine session: a process's handle
// count and working set, the process of a running service, a crowd of idle
// processes standing for a busy desktop, and the statistics of a benchmark.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/win_handles.h"

namespace wgbtest {

// ---- one process ------------------------------------------------------------

// The process's working set in bytes (GetProcessMemoryInfo); std::nullopt
// when the process cannot be opened or queried.
std::optional<std::size_t> WorkingSetBytes(DWORD pid);

// Handles and working set of a process; the handle count comes from
// HandleCount (support/button_process_watch.h).
struct ProcessSample {
    std::size_t handles = 0;
    std::size_t workingSet = 0;
};
// Both figures at once; std::nullopt when either cannot be had.
std::optional<ProcessSample> SampleProcess(DWORD pid);

// When the process was created, 100 ns since 1601 (GetProcessTimes): in Wine
// the moment its creator's CreateProcess call made it, before it runs any of
// its own code. std::nullopt when it cannot be opened.
std::optional<std::uint64_t> ProcessCreationTime(DWORD pid);

// The process id the SCM reports for a service; 0 when it has none.
DWORD ServiceProcessId(const std::string &serviceName);

// ---- a crowd of idle processes ------------------------------------------------

// Copies of the idle probe (perf_idle_probe.exe from the build), each blocked
// on an event until this object ends them. Every probe confirms through a
// semaphore that it is waiting, so a ready crowd takes no processor time.
class IdleProcesses {
  public:
    // Starts count probes, detached from any console.
    explicit IdleProcesses(int count);
    // Sets the end event and waits for every probe to leave.
    ~IdleProcesses();
    IdleProcesses(const IdleProcesses &) = delete;
    IdleProcesses &operator=(const IdleProcesses &) = delete;

    // Probes that could be started.
    std::size_t Started() const { return processes_.size(); }
    // True once every started probe has confirmed that it waits.
    bool WaitUntilReady(DWORD timeoutMs);
    // Probes still running.
    std::size_t Running() const;

  private:
    std::string name_;
    UniqueHandle endEvent_;
    UniqueHandle ready_;
    std::size_t confirmed_ = 0;
    std::vector<UniqueHandle> processes_;
};

// The executable name of the idle probe, for process lookups.
constexpr const char *kIdleProbeExeName = "perf_idle_probe.exe";

// ---- time and statistics ----------------------------------------------------

// Units of 100 ns (the clock of the stand-in's trace and of the companion's
// records) to milliseconds.
double TicksToMs(std::int64_t ticks);

// The median of the values (mean of the two middle ones for an even count);
// 0 for none.
double Median(std::vector<double> values);

} // namespace wgbtest
