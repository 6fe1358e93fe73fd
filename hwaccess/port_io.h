#pragma once
// Byte-wide I/O port access, carried out by the kernel I/O driver.
// Declared without Windows types, so that code above it (the Super I/O
// family) stays portable; implemented over DeviceIoControl.

#include <cstdint>

// The byte read from the port; 0 when the request fails.
std::uint8_t ReadIoPortByte(std::uint16_t port);
// The same read, telling whether the driver completed it; value is 0 when it
// did not.
bool TryReadIoPortByte(std::uint16_t port, std::uint8_t &value);

// True when the driver completed the write.
bool WriteIoPortByte(std::uint16_t port, std::uint8_t value);
