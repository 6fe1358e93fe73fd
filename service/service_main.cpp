#include "service/service_main.h"

#include "button/worker.h"
#include "common/shared_state.h"
#include "service/service_rules.h"

HINSTANCE g_hInstance = nullptr;
SERVICE_STATUS g_ServiceStatus = {};
SERVICE_STATUS_HANDLE g_hServiceStatus = nullptr;
HWND g_hHiddenWnd = nullptr;
WorkerThreadRecord g_WorkerThread;
CWMI_EvtListener g_EvtListener;

namespace {

constexpr DWORD kPauseAfterMessageMs = 1;
// A pause before the service reports stopped. The worker sleeps 3000 ms
// between polls, so it sees the cleared run flag in that time only when it
// happens to wake; the process ends either way.
constexpr DWORD kPauseOnDestroyMs = 1000;

constexpr DWORD kWorkerExitCode = 1;

} // namespace

// --- service main and control handler ---

void WINAPI ServiceMain(DWORD, LPSTR *) {
    status_rules::SetRunningAtStart(g_ServiceStatus);
    g_hServiceStatus = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    if (g_hServiceStatus == nullptr)
        return;
    SetServiceStatus(g_hServiceStatus, &g_ServiceStatus);

    // Returns only when the hidden window has been destroyed.
    RunHiddenWindow();

    status_rules::SetStopped(g_ServiceStatus);
    SetServiceStatus(g_hServiceStatus, &g_ServiceStatus);
}

// Runs on the dispatcher's thread. Stopping only reports the state: once the
// service has reported stopped the dispatcher returns and the process ends.
void WINAPI ServiceCtrlHandler(DWORD control) {
    status_rules::ApplyControl(g_ServiceStatus, control);
    SetServiceStatus(g_hServiceStatus, &g_ServiceStatus);
}

// --- hidden window ---

void RunHiddenWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = HiddenWndProc;
    windowClass.hInstance = g_hInstance;
    windowClass.lpszClassName = kHiddenWindowClass;
    RegisterClassA(&windowClass);

    // WM_CREATE is handled inside this call: the worker runs once it returns.
    g_hHiddenWnd = CreateWindowExA(0, kHiddenWindowClass, kHiddenWindowTitle, 0, 0, 0, 0, 0,
                                   nullptr, nullptr, g_hInstance, nullptr);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        Sleep(kPauseAfterMessageMs);
    }
}

LRESULT CALLBACK HiddenWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        StartWorkerThread();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        g_bRunning = false;
        Sleep(kPauseOnDestroyMs);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// --- worker thread and its task ---

void CWMI_EvtListener::Run() {
    WorkerMain();
}

void StartWorkerThread() {
    // A thread once started stays the only one, even after it has ended.
    if (g_WorkerThread.hThread.get() != nullptr)
        return;
    CRunable *task = &g_EvtListener;
    g_WorkerThread.hThread.reset(CreateThread(nullptr, 0, WorkerThreadProc, task, CREATE_SUSPENDED,
                                              &g_WorkerThread.dwThreadId));
    ResumeThread(g_WorkerThread.hThread.get());
}

DWORD WINAPI WorkerThreadProc(LPVOID parameter) {
    static_cast<CRunable *>(parameter)->Run();
    return kWorkerExitCode;
}
