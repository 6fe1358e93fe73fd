#include "button/worker.h"

#include "board/identify_board.h"
#include "button/button_input.h"
#include "button/companion_launch.h"
#include "button/module_directory.h"
#include "button/press_latch.h"
#include "button/process_choice.h"
#include "button/process_lookup.h"
#include "button/worker_texts.h"
#include "common/ansi_text.h"
#include "common/shared_state.h"
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
