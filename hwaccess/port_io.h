#pragma once
// Byte-wide I/O port access, carried out by the kernel I/O driver: the
// functions, and the driver's two requests they send. Declared without
// Windows types, so that code above it (the Super I/O family) stays
// portable; implemented over DeviceIoControl.

#include <cstdint>

// The byte read from the port; 0 when the request fails.
std::uint8_t ReadIoPortByte(std::uint16_t port);
// The same read, telling whether the driver completed it; value is 0 when it
// did not.
bool TryReadIoPortByte(std::uint16_t port, std::uint8_t &value);

// True when the driver completed the write.
bool WriteIoPortByte(std::uint16_t port, std::uint8_t value);

// --- the driver's requests ---
/*
 * Device and control codes of the kernel I/O driver, with no Windows header.
 *
 * Both requests are METHOD_BUFFERED on device type 0xC350, in the standard
 * CTL_CODE layout: type << 16 | access << 14 | function << 2 | method.
 *
 *   read:  input  2 bytes, port (u16 little-endian)
 *          output 2 bytes, byte 0 the value read, byte 1 not interpreted
 *   write: input  5 bytes, port (u32 little-endian, upper half zero), value
 *          no output
 */

#define QUENDRA_DEVICE_TYPE 0xC350u
#define QUENDRA_METHOD_BUFFERED 0u
#define QUENDRA_FILE_READ_ACCESS 1u
#define QUENDRA_FILE_WRITE_ACCESS 2u

#define QUENDRA_CTL_CODE(type, function, method, access)                                           \
    (((type) << 16) | ((access) << 14) | ((function) << 2) | (method))

#define IOCTL_READ_IO_PORT_BYTE                                                                    \
    QUENDRA_CTL_CODE(QUENDRA_DEVICE_TYPE, 0x833u, QUENDRA_METHOD_BUFFERED, QUENDRA_FILE_READ_ACCESS)
#define IOCTL_WRITE_IO_PORT_BYTE                                                                   \
    QUENDRA_CTL_CODE(QUENDRA_DEVICE_TYPE, 0x836u, QUENDRA_METHOD_BUFFERED,                         \
                     QUENDRA_FILE_WRITE_ACCESS)

/* The driver knows its requests by these numbers alone. */
static_assert(IOCTL_READ_IO_PORT_BYTE == 0xC35060CCu, "the driver's read code");
static_assert(IOCTL_WRITE_IO_PORT_BYTE == 0xC350A0D8u, "the driver's write code");

#define QUENDRA_READ_INPUT_LENGTH 2u
#define QUENDRA_READ_OUTPUT_LENGTH 2u
#define QUENDRA_WRITE_INPUT_LENGTH 5u
#define QUENDRA_WRITE_OUTPUT_LENGTH 0u
