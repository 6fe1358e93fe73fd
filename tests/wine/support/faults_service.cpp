#include "support/faults_service.h"

#include "support/wine_env.h"

#include "common/win_handles.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

namespace wgbtest {

namespace {

constexpr char kUserProgram[] = "notepad.exe";
constexpr char kUserDesktop[] = "WinSta0\\Default";
constexpr char kShell[] = "explorer.exe";
constexpr char kOwnDesktop[] = "WGBTestAway";

// Every process of the session by name, for failure messages.
std::string ProcessNames() {
    std::string names;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry))
        names += std::string(names.empty() ? "" : " ") + entry.szExeFile;
    return names;
}

} // namespace

std::optional<SERVICE_STATUS> InterrogateService(const std::string &name) {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_INTERROGATE));
    SERVICE_STATUS status = {};
    if (!service || !ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status))
        return std::nullopt;
    return status;
}

SessionWithoutUser::SessionWithoutUser()
    : savedDesktop_(GetThreadDesktop(GetCurrentThreadId())),
      ownDesktop_(CreateDesktopA(kOwnDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr)) {
    if (ownDesktop_ == nullptr || !SetThreadDesktop(ownDesktop_)) {
        ADD_FAILURE() << "cannot leave the user's desktop: error " << GetLastError();
        return;
    }
    // The program may still be on its way up when the session is young.
    WaitUntil([] { return !ProcessesNamed(kUserProgram).empty(); });
    KillProcessesNamed(kUserProgram);
    active_ = WaitUntil([] { return ProcessesNamed(kShell).empty(); });
    if (!active_)
        ADD_FAILURE() << "explorer.exe stays; processes: " << ProcessNames();
}

SessionWithoutUser::~SessionWithoutUser() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string desktop = kUserDesktop;
    startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION process = {};
    std::string commandLine = kUserProgram;
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    EXPECT_TRUE(WaitUntil([] { return !ProcessesNamed(kShell).empty(); }))
        << "explorer.exe did not come back";
    SetThreadDesktop(savedDesktop_);
    if (ownDesktop_ != nullptr)
        CloseDesktop(ownDesktop_);
}

} // namespace wgbtest
