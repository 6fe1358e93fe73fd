#include "support/button_process_watch.h"

#include "support/service_desktop.h"
#include "support/wine_env.h"

#include "common/win_handles.h"

#include <tlhelp32.h>

#include <cstdint>

namespace wgbtest {

namespace {

constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kThreadQuerySetWin32StartAddress = 9;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

using QuerySystemFn = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);
using QueryThreadFn = LONG(WINAPI *)(HANDLE, ULONG, PVOID, ULONG, PULONG);

template <typename Fn> Fn NtdllFunction(const char *name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

struct ImageRange {
    std::uintptr_t base = 0;
    std::uintptr_t end = 0;
    std::uintptr_t entryPoint = 0;
};

// Where the process's executable is mapped, and its entry point.
bool ExecutableImage(DWORD pid, ImageRange &image) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    if (!snapshot || !Module32First(snapshot.get(), &module))
        return false;
    image.base = reinterpret_cast<std::uintptr_t>(module.modBaseAddr);
    image.end = image.base + module.modBaseSize;

    UniqueHandle process(OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid));
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS32 nt = {};
    if (!ReadProcessMemory(process.get(), module.modBaseAddr, &dos, sizeof dos, nullptr) ||
        !ReadProcessMemory(process.get(), module.modBaseAddr + dos.e_lfanew, &nt, sizeof nt,
                           nullptr))
        return false;
    image.entryPoint = image.base + nt.OptionalHeader.AddressOfEntryPoint;
    return true;
}

} // namespace

int HandleCount(DWORD pid) {
    const auto query = NtdllFunction<QuerySystemFn>("NtQuerySystemInformation");
    if (query == nullptr)
        return -1;
    std::vector<BYTE> buffer(1 << 16);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), &needed)) ==
           kStatusInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status < 0)
        return -1;
    const auto *table = reinterpret_cast<const SystemHandleTable *>(buffer.data());
    int count = 0;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].ownerPid == pid)
            ++count;
    return count;
}

std::optional<std::vector<DWORD>> ThreadsStartedInExecutable(DWORD pid) {
    ImageRange image;
    const auto query = NtdllFunction<QueryThreadFn>("NtQueryInformationThread");
    if (query == nullptr || !ExecutableImage(pid, image))
        return std::nullopt;
    std::vector<DWORD> threads;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != pid)
            continue;
        UniqueHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        PVOID start = nullptr;
        if (!thread || query(thread.get(), kThreadQuerySetWin32StartAddress, &start, sizeof start,
                             nullptr) < 0)
            continue;
        const auto address = reinterpret_cast<std::uintptr_t>(start);
        if (address >= image.base && address < image.end && address != image.entryPoint)
            threads.push_back(entry.th32ThreadID);
    }
    return threads;
}

bool WaitForWorkerEnd(DWORD pid) {
    {
        ServiceDesktopScope desktop;
        if (!desktop.entered() || WaitForWindow("WINWGBWND", "WinWgbWnd") == nullptr)
            return false;
    }
    return WaitUntil([pid] {
        const std::optional<std::vector<DWORD>> threads = ThreadsStartedInExecutable(pid);
        return threads && threads->empty();
    });
}

} // namespace wgbtest
