#ifndef WGB_SIM_SIM_CONTROL_H
#define WGB_SIM_SIM_CONTROL_H
/*
 * The control device of the I/O driver stand-in. When it loads, the stand-in
 * creates two devices:
 *   \Device\Quendra_1_0_1  (\\.\Quendra_1_0_1)  the I/O driver's device
 *   \Device\QuendraSimCtl  (\\.\QuendraSimCtl)  this control device, through
 *                                               which a program presses the
 *                                               button and follows the polls
 * Both control requests are METHOD_BUFFERED with any access. Plain C with
 * fixed-width types, shared by the kernel-mode stand-in and its client; like
 * the stand-in, it owes nothing to the service's headers.
 */

#include <stdint.h>

#define SIM_MAIN_DEVICE_NAME L"\\Device\\Quendra_1_0_1"
#define SIM_MAIN_LINK_NAME L"\\DosDevices\\Quendra_1_0_1"
#define SIM_CONTROL_DEVICE_NAME L"\\Device\\QuendraSimCtl"
#define SIM_CONTROL_LINK_NAME L"\\DosDevices\\QuendraSimCtl"
#define SIM_CONTROL_DEVICE_PATH "\\\\.\\QuendraSimCtl"

/* The trace keeps the last SIM_TRACE_CAPACITY port requests. */
#define SIM_TRACE_CAPACITY 65536u
/* Output byte 1 of a successful read: a value the caller must ignore. */
#define SIM_READ_FILLER 0xA5u

#define SIM_CONTROL_DEVICE_TYPE 0x8D51u
/* Windows' control-code layout: type << 16 | access << 14 | function << 2 |
 * method, here with METHOD_BUFFERED (0) and any access (0). */
#define SIM_CONTROL_CODE(function) ((SIM_CONTROL_DEVICE_TYPE << 16) | ((function) << 2))

/* in: struct sim_port_value. Sets the byte that reads of a plain port (one
 * outside the chip's register pairs) return: the button's level. */
#define IOCTL_SIM_SET_PORT SIM_CONTROL_CODE(0x901u)
/* in: uint32_t, nonzero to make every read of the main device fail (traced
 * with its status) until set to 0 again: a driver stopped or updated while a
 * program polls. */
#define IOCTL_SIM_FAIL_READS SIM_CONTROL_CODE(0x902u)
/* in: uint32_t, nonzero to take the stand-in's unload routine away, as a
 * driver that cannot be unloaded has none: a stop is refused until set to 0
 * again. */
#define IOCTL_SIM_REFUSE_UNLOAD SIM_CONTROL_CODE(0x903u)
/* in: uint32_t, the first sequence number wanted. out: struct
 * sim_trace_header, then up to (out length - header) / entry size entries,
 * oldest first. */
#define IOCTL_SIM_GET_TRACE SIM_CONTROL_CODE(0x907u)

struct sim_port_value {
    uint16_t port;
    uint8_t value;
    uint8_t reserved;
};

#define SIM_OP_READ 1u
#define SIM_OP_WRITE 2u

/* One port request of the main device, answered or refused. */
struct sim_trace_entry {
    uint64_t time;   /* 100 ns since 1601 when it arrived */
    uint32_t seq;    /* 0, 1, 2, ... since the stand-in loaded */
    uint32_t status; /* NTSTATUS it completed with: 0 when answered */
    uint16_t port;   /* as sent */
    uint8_t op;      /* SIM_OP_READ or SIM_OP_WRITE */
    uint8_t value;   /* byte read or written */
    uint32_t reserved;
};

struct sim_trace_header {
    uint32_t total; /* requests traced since loading */
    uint32_t first; /* sequence number of the first entry returned */
    uint32_t count; /* entries returned after this header */
    uint32_t reserved;
};

#endif
