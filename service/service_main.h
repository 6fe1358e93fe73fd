#pragma once
// The running service: its status record and control handler, the hidden
// window whose message loop the service thread runs, and the one worker
// thread with the task it runs.

#include <windows.h>

#include "common/win_handles.h"

// --- service main and control handler ---

// Instance handle of the executable, stored by the entry routine before the
// dispatcher starts; the hidden window's class and window use it.
extern HINSTANCE g_hInstance;
extern SERVICE_STATUS g_ServiceStatus;
extern SERVICE_STATUS_HANDLE g_hServiceStatus;

// Given to the control dispatcher; runs for the life of the service.
void WINAPI ServiceMain(DWORD argc, LPSTR *argv);
void WINAPI ServiceCtrlHandler(DWORD control);

// --- hidden window ---
// The never-shown window whose message loop the service thread runs.

extern HWND g_hHiddenWnd;

// Creates the window (which starts the worker) and runs the message loop until
// the window is destroyed.
void RunHiddenWindow();
LRESULT CALLBACK HiddenWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// --- worker thread and its task ---

class CRunable {
  public:
    virtual ~CRunable() = default;
    virtual void Run() = 0;
};

class CTask : public CRunable {
  public:
    void Run() override {}
    virtual void Hook1() {}
    virtual void Hook2() {}
};

// Watches the button: Run is the worker routine.
class CWMI_EvtListener : public CTask {
  public:
    void Run() override;
};

// The one task object, run by the worker thread.
extern CWMI_EvtListener g_EvtListener;

struct WorkerThreadRecord {
    UniqueHandle hThread; // closed at process end; the thread is never joined
    DWORD dwThreadId = 0;
};

extern WorkerThreadRecord g_WorkerThread;

// Starts the worker unless one has been started already.
void StartWorkerThread();
// Runs the task given as parameter (a CRunable); exit code 1.
DWORD WINAPI WorkerThreadProc(LPVOID parameter);
