#pragma once
// A service's configuration as the Service Control Manager holds it, and the
// wait for a service to stop.

#include <windows.h>

#include <vector>

// A QUERY_SERVICE_CONFIGA and the strings it points into, in a buffer of the
// size Windows asks for. The buffer is empty when the configuration cannot be
// read; GetLastError then tells why.
std::vector<char> ReadServiceConfig(SC_HANDLE service);

// Waits until the service, whose last status is given, reports stopped,
// asking every 100 ms: true then; false when timeoutMs ran out or its status
// could not be read (status holds the last one read).
bool WaitUntilStopped(SC_HANDLE service, SERVICE_STATUS &status, DWORD timeoutMs);

inline const QUERY_SERVICE_CONFIGA *ServiceConfigIn(const std::vector<char> &buffer) {
    return reinterpret_cast<const QUERY_SERVICE_CONFIGA *>(buffer.data());
}
