/* For the runner's own test (runner-test): starts a copy of itself with the
 * argument "child", which never ends, marks its working folder ("child" by
 * the copy, then "parent") once both run, and then never ends either, or
 * with the argument "exit" ends and leaves the copy behind. */
#include <process.h>
#include <string.h>
#include <windows.h>

static const char kChildRuns[] = "never_exits child runs";

static void Mark(const char *name) {
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

int main(int argc, char **argv) {
    HANDLE child_runs = CreateEventA(NULL, TRUE, FALSE, kChildRuns);
    if (argc > 1 && strcmp(argv[1], "child") == 0) {
        Mark("child");
        SetEvent(child_runs);
        Sleep(INFINITE);
    }
    if (_spawnl(_P_NOWAIT, argv[0], "never_exits", "child", NULL) == -1)
        return 1;
    if (WaitForSingleObject(child_runs, INFINITE) != WAIT_OBJECT_0)
        return 1;
    Mark("parent");
    if (argc > 1 && strcmp(argv[1], "exit") == 0)
        return 0;
    Sleep(INFINITE);
    return 0;
}
