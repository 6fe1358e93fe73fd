#pragma once
// A service's configuration as the Service Control Manager holds it.

#include <windows.h>

#include <vector>

// A QUERY_SERVICE_CONFIGA and the strings it points into, in a buffer of the
// size Windows asks for. The buffer is empty when the configuration cannot be
// read; GetLastError then tells why.
std::vector<char> ReadServiceConfig(SC_HANDLE service);

inline const QUERY_SERVICE_CONFIGA *ServiceConfigIn(const std::vector<char> &buffer) {
    return reinterpret_cast<const QUERY_SERVICE_CONFIGA *>(buffer.data());
}
