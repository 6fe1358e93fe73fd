// An idle process: one of the crowd that stands for a busy desktop while the
// press latency is measured. Given a name, it opens the event "<name>.end",
// tells the semaphore "<name>.ready" that it waits, and sleeps on the event
// until it is set. Without a name, or when either object is missing, it ends
// at once.

#include <windows.h>

#include <string>

int main(int argc, char **argv) {
    if (argc < 2)
        return 1;
    const std::string name = argv[1];
    HANDLE end = OpenEventA(SYNCHRONIZE, FALSE, (name + ".end").c_str());
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (name + ".ready").c_str());
    if (end == nullptr || ready == nullptr)
        return 1;
    ReleaseSemaphore(ready, 1, nullptr);
    CloseHandle(ready);
    WaitForSingleObject(end, INFINITE);
    CloseHandle(end);
    return 0;
}
