#include "button/companion_launch.h"

#include "button/process_lookup.h"
#include "button/worker.h"
#include "common/win_handles.h"

#include <userenv.h>

namespace {

constexpr char kShellExeName[] = "EXPLORER.EXE";

// The user's own environment, so that the companion sees the user's profile
// paths and variables rather than those of the service's account.
class UserEnvironment {
  public:
    explicit UserEnvironment(HANDLE token) {
        if (!CreateEnvironmentBlock(&block_, token, FALSE))
            block_ = nullptr;
    }
    UserEnvironment(const UserEnvironment &) = delete;
    UserEnvironment &operator=(const UserEnvironment &) = delete;
    ~UserEnvironment() {
        if (block_ != nullptr)
            DestroyEnvironmentBlock(block_);
    }
    void *get() const { return block_; }

  private:
    void *block_ = nullptr;
};

} // namespace

void LaunchCompanion() {
    UniqueHandle shellToken;
    if (!FindProcessByName(kShellExeName, shellToken.put()))
        return;

    // The desktop the user sees; a service's own window station is invisible.
    char desktop[] = "winsta0\\default";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process = {};

    // Without the user's block the companion falls back to the service's environment.
    UserEnvironment environment(shellToken.get());
    DWORD flags = DETACHED_PROCESS;
    if (environment.get() != nullptr)
        flags |= CREATE_UNICODE_ENVIRONMENT;

    if (!CreateProcessAsUserA(shellToken.get(), nullptr, g_szModuleDir, nullptr, nullptr, FALSE,
                              flags, environment.get(), nullptr, &startup, &process))
        return;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}
