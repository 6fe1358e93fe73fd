#ifndef WGB_HWACCESS_IOCTL_CODES_H
#define WGB_HWACCESS_IOCTL_CODES_H
/*
 * Device and control codes of the kernel I/O driver. Plain C with no
 * Windows header, so that C code and kernel-mode code can share the numbers.
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
#ifdef __cplusplus
static_assert(IOCTL_READ_IO_PORT_BYTE == 0xC35060CCu, "the driver's read code");
static_assert(IOCTL_WRITE_IO_PORT_BYTE == 0xC350A0D8u, "the driver's write code");
#else
_Static_assert(IOCTL_READ_IO_PORT_BYTE == 0xC35060CCu, "the driver's read code");
_Static_assert(IOCTL_WRITE_IO_PORT_BYTE == 0xC350A0D8u, "the driver's write code");
#endif

#define QUENDRA_READ_INPUT_LENGTH 2u
#define QUENDRA_READ_OUTPUT_LENGTH 2u
#define QUENDRA_WRITE_INPUT_LENGTH 5u
#define QUENDRA_WRITE_OUTPUT_LENGTH 0u

#endif
