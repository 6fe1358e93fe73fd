#include "hwaccess/io_driver.h"

#include "common/shared_state.h"
#include "common/system_library.h"
#include "common/win_handles.h"
#include "hwaccess/driver_registration.h"

#include <cstdlib>
#include <cstring>

HANDLE g_hIoDriver = nullptr;
char g_szDriverPath[MAX_PATH];
const char *g_pszDriverServiceName = nullptr;

namespace {

constexpr char kDevicePath[] = "\\\\.\\Quendra_1_0_1";
constexpr char kDriverFileX64[] = "Quendra_X64.sys";
constexpr char kDriverFile[] = "Quendra.sys";
constexpr std::size_t kDriverBlockSize = 1200;
constexpr unsigned char kDriverBlockFill = 0xFF;

// Opened for its attributes alone, sharing everything: a scanner, an indexer
// or a backup agent holding the file must not make it count as missing.
bool FileExists(const char *path) {
    const UniqueHandle file(CreateFileA(path, FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

} // namespace

bool OpenDriverDevice() {
    g_hIoDriver = CreateFileA(kDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return g_hIoDriver != INVALID_HANDLE_VALUE;
}

void CloseIoDriver() {
    if (g_hIoDriver != nullptr && g_hIoDriver != INVALID_HANDLE_VALUE)
        CloseHandle(g_hIoDriver);
    g_hIoDriver = INVALID_HANDLE_VALUE;
}

bool IsX64System() {
    const HMODULE kernel32 = GetModuleHandleA("kernel32");
    if (!kernel32)
        return false;
    using GetNativeSystemInfoFn = void(WINAPI *)(LPSYSTEM_INFO);
    // Looked up at run time: older kernels do not have it.
    const auto getNativeSystemInfo =
        GetProcedure<GetNativeSystemInfoFn>(kernel32, "GetNativeSystemInfo");
    if (!getNativeSystemInfo)
        return false;
    SYSTEM_INFO info = {};
    getNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

const char *DriverFileName() {
    return IsX64System() ? kDriverFileX64 : kDriverFile;
}

bool LocateDriverFile(const char *directory) {
    if (GetCurrentDirectoryA(MAX_PATH, g_szDriverPath) == 0)
        return false;

    const char *fileName = DriverFileName();
    g_pszDriverServiceName = kDriverServiceName;

    // A directory too long to leave room for the file name cannot hold the
    // driver: treated as a missing file, before anything is registered.
    const std::size_t dirLength = strnlen(directory, kTextBufferSize);
    if (dirLength + std::strlen(fileName) >= MAX_PATH)
        return false;

    wsprintfA(g_szDriverPath, "%s", directory);
    wsprintfA(g_szDriverPath + dirLength, "%s", fileName);
    return FileExists(g_szDriverPath);
}

bool OpenIoDriver(IoDriverState *state, DriverServiceReport *report) {
    return OpenIoDriverIn(g_szModuleDir, state, report);
}

bool OpenIoDriverIn(const char *directory, IoDriverState *state, DriverServiceReport *report) {
    if (!OpenDriverDevice()) {
        // Any failure but a missing device means the driver is there and
        // refuses us: leave the driver service alone.
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
        if (!LocateDriverFile(directory)) {
            if (report)
                report->failedStep = DriverStep::File;
            return false;
        }
        DriverServiceReport install;
        const bool started = ManageDriverService(DRIVER_SERVICE_INSTALL, &install);
        // After a failed start a registration found stays as it was (another
        // product's, or an administrator's decision); only one made here goes.
        if (!started) {
            install.undoFailed = !RestoreDriverService(install);
        } else if (!OpenDriverDevice()) {
            install.failedStep = DriverStep::Device;
            install.error = GetLastError();
        }
        if (report)
            *report = install;
        if (!started || install.failedStep == DriverStep::Device)
            return false;
    }

    state->pBuffer = std::malloc(kDriverBlockSize);
    if (!state->pBuffer) {
        // A closed handle must not stay where port requests would use it.
        CloseIoDriver();
        return false;
    }
    std::memset(state->pBuffer, kDriverBlockFill, kDriverBlockSize);
    return true;
}
