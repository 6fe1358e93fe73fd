#include "check/load_undo.h"

#include "check/gather.h"
#include "common/win_handles.h"
#include "hwaccess/io_driver.h"

#include <atomic>
#include <mutex>

namespace {

// Taken once, by the main thread or a handler, whichever comes first.
std::mutex g_undoLock;
std::optional<DriverServiceReport> g_pendingUndo;
std::atomic<bool> g_watchInterrupted{false};

// A process that has loaded user32.dll, as this one has, is told of a logoff
// or a shutdown not through the console's handler but by WM_ENDSESSION to its
// top-level windows, and may be ended once that returns.
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_ENDSESSION || !wParam)
        return DefWindowProcA(window, message, wParam, lParam);
    bool done = false;
    TakeAndUndo(done);
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

} // namespace

void ArmLoadUndo(const DriverServiceReport &install) {
    {
        const std::lock_guard<std::mutex> lock(g_undoLock);
        g_pendingUndo = install;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const UniqueHandle watch(CreateThread(nullptr, 0, WatchSessionEnd, nullptr, 0, nullptr));
}

std::optional<WinError> TakeAndUndo(bool &done) {
    const std::lock_guard<std::mutex> lock(g_undoLock);
    done = false;
    if (!g_pendingUndo)
        return std::nullopt;
    const DriverServiceReport install = *g_pendingUndo;
    g_pendingUndo.reset();
    CloseIoDriver();
    done = RestoreDriverService(install);
    return done ? WinError{} : WindowsError(GetLastError());
}

void UndoLoad(CheckFacts &facts) {
    bool done = false;
    const std::optional<WinError> error = TakeAndUndo(done);
    if (facts.driver && facts.driver->load && error) {
        facts.driver->load->undo = done ? LoadFacts::Undo::Undone : LoadFacts::Undo::NotUndone;
        facts.driver->load->undoError = *error;
    }
}

// A logoff or a shutdown reaches this handler only while the process has not
// loaded user32.dll; closing the console always does.
BOOL WINAPI OnConsoleControl(DWORD event) {
    g_watchInterrupted = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        bool done = false;
        TakeAndUndo(done);
    }
    return TRUE;
}

bool WatchInterrupted() {
    return g_watchInterrupted;
}
