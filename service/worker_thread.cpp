#include "service/worker_thread.h"

#include "button/worker.h"
#include "service/tasks.h"

WorkerThreadRecord g_WorkerThread;
CWMI_EvtListener g_EvtListener;

void CWMI_EvtListener::Run() {
    WorkerMain();
}

namespace {

constexpr DWORD kWorkerExitCode = 1;

} // namespace

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
