#pragma once
// The one worker thread of the service.

#include <windows.h>

#include "common/win_handles.h"

struct WorkerThreadRecord {
    UniqueHandle hThread; // closed at process end; the thread is never joined
    DWORD dwThreadId = 0;
};

extern WorkerThreadRecord g_WorkerThread;

// Starts the worker unless one has been started already.
void StartWorkerThread();
// Runs the task given as parameter (a CRunable); exit code 1.
DWORD WINAPI WorkerThreadProc(LPVOID parameter);
