#include "support/service_run.h"

#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <optional>

namespace wgbtest {

RunningService InstallAndWaitRunning(const std::string &exe) {
    RunningService service;
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(Quoted(exe) + " -qtrinstall"));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING));
    const std::optional<SERVICE_STATUS_PROCESS> status = ServiceStatus(kServiceName);
    if (status) {
        service.pid = status->dwProcessId;
        service.process.reset(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, service.pid));
    }
    return service;
}

} // namespace wgbtest
