#include "common/service_config.h"

#include "common/scm_numbers.h"

static_assert(kStartAuto == SERVICE_AUTO_START && kStartDisabled == SERVICE_DISABLED);
static_assert(kStateStopped == SERVICE_STOPPED && kStateRunning == SERVICE_RUNNING &&
              kStatePaused == SERVICE_PAUSED);
static_assert(kControlStop == SERVICE_CONTROL_STOP && kControlPause == SERVICE_CONTROL_PAUSE &&
              kControlContinue == SERVICE_CONTROL_CONTINUE &&
              kControlInterrogate == SERVICE_CONTROL_INTERROGATE &&
              kControlShutdown == SERVICE_CONTROL_SHUTDOWN);

std::vector<char> ReadServiceConfig(SC_HANDLE service) {
    // The first call fails and names the size the strings need.
    DWORD needed = 0;
    QueryServiceConfigA(service, nullptr, 0, &needed);
    std::vector<char> buffer(
        needed > sizeof(QUERY_SERVICE_CONFIGA) ? needed : sizeof(QUERY_SERVICE_CONFIGA));
    if (!QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data()),
                             static_cast<DWORD>(buffer.size()), &needed))
        buffer.clear();
    return buffer;
}

bool WaitUntilStopped(SC_HANDLE service, SERVICE_STATUS &status, DWORD timeoutMs) {
    constexpr DWORD kPollMs = 100;
    for (DWORD waited = 0; status.dwCurrentState != SERVICE_STOPPED; waited += kPollMs) {
        if (waited >= timeoutMs)
            return false;
        Sleep(kPollMs);
        if (!QueryServiceStatus(service, &status))
            return false;
    }
    return true;
}
