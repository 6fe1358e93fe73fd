#include "support/service_env.h"

#include "sim/sim_client.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <vector>

namespace wgbtest {

static std::string ServiceKey(const std::string &name) {
    return "SYSTEM\\CurrentControlSet\\Services\\" + name;
}

// Read with the test's own code, not the product's: a check must not share
// the fault it looks for.
std::optional<ServiceConfig> QueryConfig(const std::string &name) {
    UniqueServiceHandle service = OpenServiceByName(name, SERVICE_ALL_ACCESS);
    // 8 KB: the largest configuration the Service Control Manager returns.
    std::vector<char> buffer(8192);
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
    DWORD needed = 0;
    if (!service || !QueryServiceConfigA(service.get(), config, 8192, &needed))
        return std::nullopt;
    return ServiceConfig{config->dwServiceType, config->dwStartType, config->dwErrorControl,
                         config->lpBinaryPathName ? config->lpBinaryPathName : ""};
}

bool ServiceGone(const std::string &name) {
    const UniqueServiceHandle service = OpenServiceByName(name, SERVICE_QUERY_STATUS);
    return !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
}

static bool ChangeConfig(const std::string &name, DWORD start, const char *imagePath) {
    UniqueServiceHandle service = OpenServiceByName(name, SERVICE_ALL_ACCESS);
    return service &&
           ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE,
                                imagePath, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

bool ChangeStartType(const std::string &name, DWORD start) {
    return ChangeConfig(name, start, nullptr);
}

bool ChangeImagePath(const std::string &name, const std::string &imagePath) {
    return ChangeConfig(name, SERVICE_NO_CHANGE, imagePath.c_str());
}

std::optional<DWORD> StartValue(const std::string &name) {
    DWORD data = 0, size = sizeof data;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, ServiceKey(name).c_str(), "Start", RRF_RT_REG_DWORD,
                     nullptr, &data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

void WriteStartValue(const std::string &name, DWORD start) {
    WriteRegistryValue(HKEY_LOCAL_MACHINE, ServiceKey(name), "Start", REG_DWORD, &start,
                       sizeof start);
}

void RemoveServiceIfPresent(const std::string &name) {
    if (UniqueServiceHandle service = OpenServiceByName(name, SERVICE_ALL_ACCESS)) {
        RequestStop(name);
        WaitForServiceState(name, SERVICE_STOPPED);
        DeleteService(service.get());
    }
    EXPECT_TRUE(WaitUntil([&] { return ServiceGone(name); })) << name << " was not removed";
}

RunningService ServiceProcess() {
    RunningService service;
    service.pid = ServiceProcessId(kServiceName);
    service.process.reset(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, service.pid));
    return service;
}

RunningService InstallAndWaitRunning(const std::string &exe) {
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(Quoted(exe) + " -qtrinstall"));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING));
    return ServiceProcess();
}

void ExpectAliveAndStoppable(const RunningService &service) {
    // The same process: one that ended and was started again has another id.
    EXPECT_EQ(service.pid, ServiceProcessId(kServiceName));
    SERVICE_STATUS answer = {};
    const UniqueServiceHandle handle = OpenServiceByName(kServiceName, SERVICE_INTERROGATE);
    ASSERT_TRUE(ControlService(handle.get(), SERVICE_CONTROL_INTERROGATE, &answer))
        << "the control handler did not answer";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), answer.dwCurrentState);
    // The stopped state reached, then the process's end with 0.
    EXPECT_EQ(std::optional<DWORD>(0), StopService(kServiceName));
}

int ThreadsStartedInExecutable(DWORD pid, const std::string &exe) {
    using QueryFn = LONG(WINAPI *)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG kThreadQuerySetWin32StartAddress = 9;
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    // The image's range as its file gives it. (The process's own loader data
    // would tell for sure, but reading another process's memory fails where
    // it runs under an emulator.) The service is built as this test is.
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS nt = {};
    std::ifstream file(exe, std::ios::binary);
    file.read(reinterpret_cast<char *>(&dos), sizeof dos).seekg(dos.e_lfanew);
    if (!file.read(reinterpret_cast<char *>(&nt), sizeof nt))
        return -1;
    const std::uintptr_t base = nt.OptionalHeader.ImageBase;
    const std::uintptr_t end = base + nt.OptionalHeader.SizeOfImage;
    UniqueHandle threads(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(threads.get(), &entry); more;
         more = Thread32Next(threads.get(), &entry)) {
        UniqueHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        std::uintptr_t start = 0;
        if (entry.th32OwnerProcessID == pid && thread &&
            query(thread.get(), kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) >=
                0)
            count += start >= base && start < end;
    }
    return count;
}

void EnterServiceDesktop() {
    const HWINSTA station =
        OpenWindowStationA("__wineservice_winstation", FALSE, WINSTA_ALL_ACCESS);
    const HDESK desktop = station && SetProcessWindowStation(station)
                              ? OpenDesktopA("Default", 0, FALSE, GENERIC_ALL)
                              : nullptr;
    ASSERT_TRUE(desktop && SetThreadDesktop(desktop)) << "error " << GetLastError();
}

HWND WaitForHiddenWindow() {
    HWND window = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (window = FindWindowA("WINWGBWND", "WinWgbWnd")); }));
    return window;
}

const char *DriverFile() {
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? "Quendra_X64.sys"
                                                                       : "Quendra.sys";
}

void CleanUpAfterService() {
    RemoveServiceIfPresent(kServiceName);
    KillProcessesNamed("WGBCheck.exe");
    KillProcessesNamed("WGB.exe");
    RemoveServiceIfPresent(kDriverServiceName);
}

DWORD RegisterDriverService() {
    const std::string image = ArtifactPath(DriverFile());
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(
        CreateServiceA(manager.get(), kDriverServiceName, kDriverServiceName, SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return service ? ERROR_SUCCESS : GetLastError();
}

bool LoadDriver() {
    return RegisterDriverService() == ERROR_SUCCESS && StartServiceByName(kDriverServiceName) &&
           WaitForDriverLoaded();
}

bool WaitForDriverLoaded() {
    return WaitUntil([] { return sim::Control().IsOpen(); });
}

bool WaitForCompanionStarts(const std::string &dir, std::size_t count) {
    return WaitUntil([&] { return companion_record::ReadRecords(dir).size() >= count; });
}

std::string DeviceRefusalFolder() {
    return std::string("Z:") + std::getenv("WINEPREFIX") + "\\dosdevices\\quendra_1_0_1";
}

void EndDriverAsARestartWould() {
    KillProcessesNamed("winedevice.exe");
    using OpenLinkFn = LONG(WINAPI *)(HANDLE *, ACCESS_MASK, OBJECT_ATTRIBUTES *);
    using MakeTemporaryFn = LONG(WINAPI *)(HANDLE);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto openLink = reinterpret_cast<OpenLinkFn>(
        reinterpret_cast<void *>(GetProcAddress(ntdll, "NtOpenSymbolicLinkObject")));
    const auto makeTemporary = reinterpret_cast<MakeTemporaryFn>(
        reinterpret_cast<void *>(GetProcAddress(ntdll, "NtMakeTemporaryObject")));
    // The links the stand-in made, which outlive its process as permanent
    // objects do.
    for (const wchar_t *name : {L"\\??\\Quendra_1_0_1", L"\\??\\QuendraSimCtl"}) {
        UNICODE_STRING linkName = {static_cast<USHORT>(wcslen(name) * 2),
                                   static_cast<USHORT>(wcslen(name) * 2), const_cast<PWSTR>(name)};
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &linkName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
        UniqueHandle link;
        if (openLink && makeTemporary && openLink(link.put(), DELETE, &attributes) == 0)
            makeTemporary(link.get());
    }
}

} // namespace wgbtest
