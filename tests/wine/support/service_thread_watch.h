#pragma once
// Seeing every thread a process starts, however short-lived: the watch attaches
// to the process as its debugger and counts the thread-creation events.

#include <windows.h>

#include <atomic>
#include <thread>

namespace wgbtest {

class ThreadStartWatch {
  public:
    // Attaches to the process and waits until the events that describe what
    // already runs there (and the attach itself) are through.
    explicit ThreadStartWatch(DWORD pid);
    // Detaches when the process still runs; the process is not ended.
    ~ThreadStartWatch();
    ThreadStartWatch(const ThreadStartWatch &) = delete;
    ThreadStartWatch &operator=(const ThreadStartWatch &) = delete;

    // True once attached and settled.
    bool watching() const { return settled_; }
    // Threads the process has started since the watch settled.
    int threadsStarted() const { return started_; }
    // Those of them whose start routine lies in the executable's own image,
    // not in a system library.
    int threadsStartedInImage() const { return startedInImage_; }
    // True once the executable's image range is known.
    bool knowsImage() const { return knowsImage_; }
    // Waits until the process has ended; every thread it ever started has
    // then been counted.
    bool waitForExit();

  private:
    void debugLoop();

    DWORD pid_;
    std::atomic<bool> settled_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> knowsImage_{false};
    std::atomic<bool> exited_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int> started_{0};
    std::atomic<int> startedInImage_{0};
    std::thread loop_;
};

} // namespace wgbtest
