#include "common/service_config.h"

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
