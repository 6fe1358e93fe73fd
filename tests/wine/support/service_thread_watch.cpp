#include "support/service_thread_watch.h"

#include "support/wine_env.h"

namespace wgbtest {

namespace {

constexpr DWORD kEventPollMs = 50;

// Size of the image loaded at base in process, read from its PE headers.
DWORD ImageSize(HANDLE process, const void *base) {
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS32 nt = {};
    const auto *start = static_cast<const BYTE *>(base);
    if (!ReadProcessMemory(process, start, &dos, sizeof dos, nullptr) ||
        !ReadProcessMemory(process, start + dos.e_lfanew, &nt, sizeof nt, nullptr))
        return 0;
    return nt.OptionalHeader.SizeOfImage;
}

} // namespace

ThreadStartWatch::ThreadStartWatch(DWORD pid) : pid_(pid) {
    loop_ = std::thread([this] { debugLoop(); });
    WaitUntil([this] { return settled_ || failed_ || exited_; });
}

ThreadStartWatch::~ThreadStartWatch() {
    stop_ = true;
    if (loop_.joinable())
        loop_.join();
}

bool ThreadStartWatch::waitForExit() {
    return WaitUntil([this] { return exited_ || failed_; }) && exited_;
}

// Debug events go to the thread that attached, so the whole conversation with
// the process happens here.
void ThreadStartWatch::debugLoop() {
    if (!DebugActiveProcess(pid_)) {
        failed_ = true;
        return;
    }
    DebugSetProcessKillOnExit(FALSE);

    // Attaching starts a thread in the process that stops at a breakpoint and
    // ends; the watch counts from that thread's end on.
    DWORD breakThread = 0;
    ULONG_PTR imageBegin = 0;
    ULONG_PTR imageEnd = 0;
    while (!exited_) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, kEventPollMs)) {
            if (stop_) {
                DebugActiveProcessStop(pid_);
                return;
            }
            continue;
        }
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            const CREATE_PROCESS_DEBUG_INFO &info = event.u.CreateProcessInfo;
            imageBegin = reinterpret_cast<ULONG_PTR>(info.lpBaseOfImage);
            imageEnd = imageBegin + ImageSize(info.hProcess, info.lpBaseOfImage);
            knowsImage_ = imageEnd > imageBegin;
            if (info.hFile != nullptr)
                CloseHandle(info.hFile);
            break;
        }
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile != nullptr)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case CREATE_THREAD_DEBUG_EVENT: {
            const auto start = reinterpret_cast<ULONG_PTR>(event.u.CreateThread.lpStartAddress);
            if (settled_) {
                ++started_;
                if (start >= imageBegin && start < imageEnd)
                    ++startedInImage_;
            }
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
                if (breakThread == 0)
                    breakThread = event.dwThreadId;
            } else {
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        case EXIT_THREAD_DEBUG_EVENT:
            if (event.dwThreadId == breakThread)
                settled_ = true;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exited_ = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
}

} // namespace wgbtest
