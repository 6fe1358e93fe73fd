#include "button/companion_launch.h"

#include "button/process_lookup.h"
#include "common/shared_state.h"
#include "common/system_library.h"
#include "common/win_handles.h"

namespace {

// userenv.dll is not one of Windows' known DLLs: it is loaded from the system
// folder alone, never from the service's folder. Once loaded it stays, as a
// DLL the executable imported would.
HMODULE Userenv() {
    static HMODULE module = nullptr;
    if (module == nullptr)
        module = LoadSystemLibrary("userenv.dll");
    return module;
}

// The user's own environment, so that the companion sees the user's profile
// paths and variables rather than those of the service's account.
class UserEnvironment {
  public:
    explicit UserEnvironment(HANDLE token) : userenv_(Userenv()) {
        if (!userenv_)
            return;
        using CreateFn = BOOL(WINAPI *)(void **, HANDLE, BOOL);
        const auto create = GetProcedure<CreateFn>(userenv_, "CreateEnvironmentBlock");
        destroy_ = GetProcedure<DestroyFn>(userenv_, "DestroyEnvironmentBlock");
        if (!create || !destroy_ || !create(&block_, token, FALSE))
            block_ = nullptr;
    }
    UserEnvironment(const UserEnvironment &) = delete;
    UserEnvironment &operator=(const UserEnvironment &) = delete;
    ~UserEnvironment() {
        if (block_ != nullptr)
            destroy_(block_);
    }
    void *get() const { return block_; }

  private:
    using DestroyFn = BOOL(WINAPI *)(void *);

    HMODULE userenv_;
    DestroyFn destroy_ = nullptr;
    void *block_ = nullptr;
};

} // namespace

void LaunchCompanion(const ProcessEntry &shell) {
    const UniqueHandle shellToken = OpenShellToken(shell);
    if (!shellToken)
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
