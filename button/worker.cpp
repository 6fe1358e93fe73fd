#include "button/worker.h"

#include "board/identify_board.h"
#include "button/process_lookup.h"
#include "button/worker_rules.h"
#include "common/ansi_text.h"
#include "common/shared_state.h"
#include "common/system_library.h"
#include "common/win_handles.h"
#include "hwaccess/driver_record.h"
#include "hwaccess/hw_access.h"
#include "hwaccess/io_driver.h"
#include "hwaccess/port_io.h"
#include "superio/fintek_f71889.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

FintekF71889 *g_pSuperIo = nullptr;
bool g_bButtonLatched = false;

namespace {

constexpr DWORD kPollIntervalMs = 3000;

// --- companion launch ---

// userenv.dll is not one of Windows' known DLLs: it is loaded from the system
// folder alone, never from the service's folder. Once loaded it stays, as a
// DLL the executable imported would.
HMODULE Userenv() {
    static HMODULE module = nullptr;
    if (module == nullptr)
        module = LoadSystemLibrary("userenv.dll");
    return module;
}

// The user's own environment, so that the companion sees the user's profile
// paths and variables rather than those of the service's account.
class UserEnvironment {
  public:
    explicit UserEnvironment(HANDLE token) : userenv_(Userenv()) {
        if (!userenv_)
            return;
        using CreateFn = BOOL(WINAPI *)(void **, HANDLE, BOOL);
        const auto create = GetProcedure<CreateFn>(userenv_, "CreateEnvironmentBlock");
        destroy_ = GetProcedure<DestroyFn>(userenv_, "DestroyEnvironmentBlock");
        if (!create || !destroy_ || !create(&block_, token, FALSE))
            block_ = nullptr;
    }
    UserEnvironment(const UserEnvironment &) = delete;
    UserEnvironment &operator=(const UserEnvironment &) = delete;
    ~UserEnvironment() {
        if (block_ != nullptr)
            destroy_(block_);
    }
    void *get() const { return block_; }

  private:
    using DestroyFn = BOOL(WINAPI *)(void *);

    HMODULE userenv_;
    DestroyFn destroy_ = nullptr;
    void *block_ = nullptr;
};

// Starts the command line in g_szModuleDir as the user of the desktop shell
// chosen from a snapshot, on that user's interactive desktop and with that
// user's environment. Nothing starts when the process of the shell's id is
// no longer that shell. Failures go unnoticed.
void LaunchCompanion(const ProcessEntry &shell) {
    const UniqueHandle shellToken = OpenShellToken(shell);
    if (!shellToken)
        return;

    // The desktop the user sees; a service's own window station is invisible.
    char desktop[] = "winsta0\\default";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process = {};

    // Without the user's block the companion falls back to the service's environment.
    UserEnvironment environment(shellToken.get());
    DWORD flags = DETACHED_PROCESS;
    if (environment.get() != nullptr)
        flags |= CREATE_UNICODE_ENVIRONMENT;

    if (!CreateProcessAsUserA(shellToken.get(), nullptr, g_szModuleDir, nullptr, nullptr, FALSE,
                              flags, environment.get(), nullptr, &startup, &process))
        return;
    // The companion runs on its own: its handles are not kept.
    const UniqueHandle started(process.hProcess), startedThread(process.hThread);
}

// --- press ---

// Handles a new press: starts the companion for the user at the console
// unless it runs in that user's session already. One snapshot serves both
// look-ups.
void HandlePress(const char *directory) {
    const std::vector<ProcessEntry> processes = SnapshotProcesses();
    const ProcessEntry *shell = ChooseUserShell(processes, WTSGetActiveConsoleSessionId());
    if (shell == nullptr || RunsInSession(processes, kCompanionExeName, shell->sessionId))
        return;
    // Composed afresh each time from the unchanged directory, so every launch
    // uses the same command line.
    wsprintfA(g_szModuleDir, kCommandLineFormat, directory, kCompanionExeName);
    LaunchCompanion(*shell);
}

} // namespace

// --- worker routine ---

int WorkerMain() {
    std::memset(g_szModuleDir, 0, sizeof(g_szModuleDir));
    std::memset(g_szIniPath, 0, sizeof(g_szIniPath));

    // A null handle (the file carries another name) yields this executable too.
    HMODULE module = GetModuleHandleA(kModuleFileName);
    const DWORD pathLength = GetModuleFileNameA(module, g_szModuleDir, sizeof(g_szModuleDir));
    // A path cut short at the buffer's end names no real directory.
    if (pathLength == 0 || pathLength >= sizeof(g_szModuleDir))
        return 0;

    char directory[kTextBufferSize];
    std::memcpy(directory, g_szModuleDir, sizeof(directory));
    const std::size_t directoryLength = CutToDirectory(directory, IsAnsiLeadByte);
    // Every text built from the directory must fit its buffer; otherwise the
    // service stays idle rather than work with a cut path.
    if (directoryLength == 0 || !DirectoryFitsTexts(directoryLength))
        return 0;

    std::memset(g_szModuleDir, 0, sizeof(g_szModuleDir));
    wsprintfA(g_szModuleDir, "%s", directory);
    wsprintfA(g_szIniPath, kIniPathFormat, directory, kIniFileName);

    if (!IdentifyBoard())
        return 0;

    // Plain allocation: OpenIoDriver and the worker fill in what is used.
    HwAccess *hwAccess = new (std::nothrow) HwAccess;
    if (hwAccess == nullptr)
        return 0;
    g_pHwAccess = hwAccess;
    // Filling the level table may still run out of memory inside the
    // constructor; the worker then ends like any other failed step.
    try {
        g_pSuperIo = new (std::nothrow) FintekF71889;
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (g_pSuperIo == nullptr)
        return 0;

    DriverServiceReport install;
    const std::int32_t driverReady = OpenIoDriver(&hwAccess->driver, &install) ? 1 : 0;
    // The service's removal undoes what bring-up changed of the registration.
    RecordDriverChange(install);
    hwAccess->driver.bOpened = driverReady;
    hwAccess->bDriverReady = driverReady;
    if (!driverReady)
        return 0;

    while (g_bRunning.load()) {
        Sleep(kPollIntervalMs);
        // The board text is searched on every pass, as the input is chosen afresh.
        const ButtonInput input = ButtonInputFor(g_strBoard);
        std::uint8_t value = 0;
        // A failed read (the driver stopped or updated meanwhile) is no
        // sample: its 0 would read as a press.
        if (!TryReadIoPortByte(input.port, value))
            continue;
        if (LatchPress(g_bButtonLatched, ButtonLevel(input, value)))
            HandlePress(directory);
    }
    return 0;
}
