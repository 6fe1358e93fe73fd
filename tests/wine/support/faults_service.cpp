#include "support/faults_service.h"

#include "support/service_desktop.h"
#include "support/wine_env.h"

#include "common/win_handles.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <cstdint>

namespace wgbtest {

namespace {

// NtQueryInformationThread's class for the start routine Win32 gave the thread.
constexpr ULONG kThreadQuerySetWin32StartAddress = 9;
constexpr char kUserProgram[] = "notepad.exe";
constexpr char kUserDesktop[] = "WinSta0\\Default";
constexpr char kShell[] = "explorer.exe";
constexpr char kOwnDesktop[] = "WGBTestAway";

using QueryThreadFn = LONG(WINAPI *)(HANDLE, ULONG, PVOID, ULONG, PULONG);

struct Image {
    std::uintptr_t base = 0;
    std::uintptr_t end = 0;
    std::uintptr_t entryPoint = 0;
};

// Where the process's executable lies in its memory, and its entry point.
std::optional<Image> ExecutableImage(DWORD pid) {
    UniqueHandle modules(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    if (!modules || !Module32First(modules.get(), &module))
        return std::nullopt;
    UniqueHandle process(OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid));
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS32 nt = {};
    if (!ReadProcessMemory(process.get(), module.modBaseAddr, &dos, sizeof dos, nullptr) ||
        !ReadProcessMemory(process.get(), module.modBaseAddr + dos.e_lfanew, &nt, sizeof nt,
                           nullptr))
        return std::nullopt;
    Image image;
    image.base = reinterpret_cast<std::uintptr_t>(module.modBaseAddr);
    image.end = image.base + module.modBaseSize;
    image.entryPoint = image.base + nt.OptionalHeader.AddressOfEntryPoint;
    return image;
}

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

int ThreadsStartedInImage(DWORD pid) {
    const auto query = reinterpret_cast<QueryThreadFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    const std::optional<Image> image = ExecutableImage(pid);
    UniqueHandle threads(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (query == nullptr || !image || !threads)
        return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(threads.get(), &entry); more;
         more = Thread32Next(threads.get(), &entry)) {
        if (entry.th32OwnerProcessID != pid)
            continue;
        UniqueHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        PVOID start = nullptr;
        if (!thread || query(thread.get(), kThreadQuerySetWin32StartAddress, &start, sizeof start,
                             nullptr) < 0)
            return -1;
        const auto address = reinterpret_cast<std::uintptr_t>(start);
        if (address >= image->base && address < image->end && address != image->entryPoint)
            ++count;
    }
    return count;
}

bool WaitForWorkerToEnd(DWORD pid) {
    {
        ServiceDesktopScope desktop;
        if (!desktop.entered() || WaitForWindow("WINWGBWND", "WinWgbWnd") == nullptr)
            return false;
    }
    return WaitUntil([pid] { return ThreadsStartedInImage(pid) == 0; });
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
