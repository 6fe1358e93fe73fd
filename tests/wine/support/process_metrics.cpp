#include "support/process_metrics.h"

#include "support/button_process_watch.h"
#include "support/wine_env.h"

#include <psapi.h>

#include <algorithm>

namespace wgbtest {

namespace {

// Most probes one crowd may hold: the semaphore's limit.
constexpr int kIdleProbesMax = 4096;

} // namespace

// ---- one process ------------------------------------------------------------

std::optional<std::size_t> WorkingSetBytes(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process)
        return std::nullopt;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process.get(), &counters, sizeof counters))
        return std::nullopt;
    return counters.WorkingSetSize;
}

std::optional<ProcessSample> SampleProcess(DWORD pid) {
    const int handles = HandleCount(pid);
    std::optional<std::size_t> workingSet = WorkingSetBytes(pid);
    if (handles < 0 || !workingSet)
        return std::nullopt;
    return ProcessSample{static_cast<std::size_t>(handles), *workingSet};
}

std::optional<std::uint64_t> ProcessCreationTime(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    FILETIME created, exited, kernel, user;
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
        return std::nullopt;
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

DWORD ServiceProcessId(const std::string &serviceName) {
    std::optional<SERVICE_STATUS_PROCESS> status = ServiceStatus(serviceName);
    return status ? status->dwProcessId : 0;
}

// ---- a crowd of idle processes ------------------------------------------------

IdleProcesses::IdleProcesses(int count)
    : name_("WGBIdleCrowd" + std::to_string(GetCurrentProcessId())),
      endEvent_(CreateEventA(nullptr, TRUE, FALSE, (name_ + ".end").c_str())),
      ready_(CreateSemaphoreA(nullptr, 0, kIdleProbesMax, (name_ + ".ready").c_str())) {
    if (!endEvent_ || !ready_)
        return;
    const std::string command = "\"" + ArtifactPath(kIdleProbeExeName) + "\" " + name_;
    for (int i = 0; i < count && i < kIdleProbesMax; ++i) {
        std::string line = command;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                            nullptr, &startup, &info))
            break;
        CloseHandle(info.hThread);
        processes_.emplace_back(info.hProcess);
    }
}

IdleProcesses::~IdleProcesses() {
    if (endEvent_)
        SetEvent(endEvent_.get());
    for (UniqueHandle &process : processes_)
        if (WaitForSingleObject(process.get(), kDeadlineMs) != WAIT_OBJECT_0)
            TerminateProcess(process.get(), 1);
}

bool IdleProcesses::WaitUntilReady(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (confirmed_ < processes_.size()) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(ready_.get(), left) != WAIT_OBJECT_0)
            return false;
        ++confirmed_;
    }
    return !processes_.empty();
}

std::size_t IdleProcesses::Running() const {
    return static_cast<std::size_t>(
        std::count_if(processes_.begin(), processes_.end(), [](const UniqueHandle &process) {
            return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
        }));
}

// ---- time and statistics ----------------------------------------------------

double TicksToMs(std::int64_t ticks) {
    return static_cast<double>(ticks) / 10000.0;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

} // namespace wgbtest
