#include "check/load_undo.h"

#include "check/gather.h"
#include "common/ansi_text.h"
#include "common/win_handles.h"
#include "hwaccess/io_driver.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

// Taken once, by the main thread or a handler, whichever comes first.
std::mutex g_undoLock;
std::optional<DriverRecord> g_pendingUndo;
std::atomic<bool> g_watchInterrupted{false};

// A process that has loaded user32.dll, as this one has, is told of a logoff
// or a shutdown not through the console's handler but by WM_ENDSESSION to its
// top-level windows, and may be ended once that returns.
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_ENDSESSION || !wParam)
        return DefWindowProcA(window, message, wParam, lParam);
    WinError error;
    TakeAndUndo(error);
    return 0;
}

// A hidden top-level window (a message-only one is told of no session's end)
// and its message loop, for the rest of the process's life.
DWORD WINAPI WatchSessionEnd(LPVOID) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = OnSessionMessage;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "WGBCheckSessionEnd";
    if (!RegisterClassA(&windowClass) ||
        !CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                         windowClass.hInstance, nullptr))
        return 0;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}

// A registration deleted goes once nobody holds it open (a driver that did
// not stop, the Services console): until then, at the latest the next
// restart, it stays, marked for deletion.
bool StillRegistered() {
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(
        manager ? OpenServiceA(manager.get(), kDriverServiceName, SERVICE_QUERY_STATUS) : nullptr);
    return service || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

// What an undo left, by the registration as found again.
LoadFacts::Undo Outcome(bool created, DriverRelease release) {
    switch (release) {
    case DriverRelease::Nothing: // no longer as --load left it
        return LoadFacts::Undo::ChangedSince;
    case DriverRelease::Failed:
        return LoadFacts::Undo::NotUndone;
    case DriverRelease::RestartNeeded:
        return LoadFacts::Undo::RestartNeeded;
    default:
        return created && StillRegistered() ? LoadFacts::Undo::RestartNeeded
                                            : LoadFacts::Undo::Undone;
    }
}

} // namespace

LoadFacts LoadDriver(const std::string &directory, bool &deviceOpen) {
    IoDriverState state = {};
    DriverServiceReport install;
    deviceOpen = OpenIoDriverIn(directory.c_str(), &state, &install);
    std::free(state.pBuffer);
    LoadFacts load;
    load.failedStep = install.failedStep;
    load.error = WindowsError(install.error);
    load.disabled = install.disabled;
    load.created = install.created;
    load.repointed = install.repointed;
    load.previousImagePath = Utf8FromAnsi(install.previousImagePath);
    if (install.failedStep == DriverStep::Start && ChangedRegistration(install))
        load.undo = Outcome(install.created,
                            install.undoFailed ? DriverRelease::Failed : DriverRelease::Done);
    else if (ChangedRegistration(install))
        ArmLoadUndo(install);
    return load;
}

void ArmLoadUndo(const DriverServiceReport &install) {
    {
        const std::lock_guard<std::mutex> lock(g_undoLock);
        g_pendingUndo = DriverRecord{g_szDriverPath, install.created, install.previousImagePath};
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const UniqueHandle watch(CreateThread(nullptr, 0, WatchSessionEnd, nullptr, 0, nullptr));
}

LoadFacts::Undo TakeAndUndo(WinError &error) {
    const std::lock_guard<std::mutex> lock(g_undoLock);
    if (!g_pendingUndo)
        return LoadFacts::Undo::Nothing;
    const DriverRecord record = *g_pendingUndo;
    g_pendingUndo.reset();
    // The device held open would keep the driver from stopping.
    CloseIoDriver();
    const DriverRelease release = UndoDriverChange(record);
    if (release == DriverRelease::Failed)
        error = WindowsError(GetLastError());
    return Outcome(record.created, release);
}

void UndoLoad(CheckFacts &facts) {
    WinError error;
    const LoadFacts::Undo undo = TakeAndUndo(error);
    if (facts.driver && facts.driver->load && undo != LoadFacts::Undo::Nothing) {
        facts.driver->load->undo = undo;
        facts.driver->load->undoError = error;
    }
}

// A logoff or a shutdown reaches this handler only while the process has not
// loaded user32.dll; closing the console always does.
BOOL WINAPI OnConsoleControl(DWORD event) {
    g_watchInterrupted = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WinError error;
        TakeAndUndo(error);
    }
    return TRUE;
}

bool WatchInterrupted() {
    return g_watchInterrupted;
}
