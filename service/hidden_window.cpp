#include "service/hidden_window.h"

#include "common/shared_state.h"
#include "service/service_main.h"
#include "service/service_names.h"
#include "service/worker_thread.h"

HWND g_hHiddenWnd = nullptr;

namespace {

constexpr DWORD kPauseAfterMessageMs = 1;
// A pause before the service reports stopped. The worker sleeps 3000 ms
// between polls, so it sees the cleared run flag in that time only when it
// happens to wake; the process ends either way.
constexpr DWORD kPauseOnDestroyMs = 1000;

} // namespace

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
