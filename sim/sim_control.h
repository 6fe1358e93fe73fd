#ifndef WGB_SIM_SIM_CONTROL_H
#define WGB_SIM_SIM_CONTROL_H
/*
 * The control device of the I/O driver stand-in, for tests only.
 *
 * The stand-in creates two devices when it loads:
 *   \Device\Quendra_1_0_1  (\\.\Quendra_1_0_1)  the I/O driver's device
 *   \Device\QuendraSimCtl  (\\.\QuendraSimCtl)  this control device
 * Every control request below is METHOD_BUFFERED with any access; a request
 * with a wrong buffer length completes with STATUS_INVALID_PARAMETER.
 *
 * Plain C with fixed-width types, shared by the kernel-mode stand-in and the
 * test helpers.
 *
 * Refused opens of the main device are not the stand-in's business: Wine
 * opens a device whatever its IRP_MJ_CREATE handler answers. The test
 * helpers refuse them instead (tests/wine/support/sim_client.h).
 */

#include <stdint.h>

#include "hwaccess/ioctl_codes.h"

#define SIM_MAIN_DEVICE_NAME L"\\Device\\Quendra_1_0_1"
#define SIM_MAIN_LINK_NAME L"\\DosDevices\\Quendra_1_0_1"
#define SIM_MAIN_DEVICE_PATH "\\\\.\\Quendra_1_0_1"

#define SIM_CONTROL_DEVICE_NAME L"\\Device\\QuendraSimCtl"
#define SIM_CONTROL_LINK_NAME L"\\DosDevices\\QuendraSimCtl"
#define SIM_CONTROL_DEVICE_PATH "\\\\.\\QuendraSimCtl"

/* REG_DWORD under the driver's service key: nonzero makes DriverEntry fail. */
#define SIM_FAIL_START_VALUE "FailStart"
#define SIM_FAIL_START_VALUE_W L"FailStart"

/* Whole trace ring; older entries are overwritten once it is full. */
#define SIM_TRACE_CAPACITY 65536u
/* Output byte 1 of a successful read: a value the caller must ignore. */
#define SIM_READ_FILLER 0xA5u

/* NTSTATUS values the stand-in and its test helpers use. */
#define SIM_STATUS_SUCCESS 0x00000000u
#define SIM_STATUS_INVALID_PARAMETER 0xC000000Du
#define SIM_STATUS_INVALID_DEVICE_REQUEST 0xC0000010u
#define SIM_STATUS_ACCESS_DENIED 0xC0000022u
#define SIM_STATUS_SHARING_VIOLATION 0xC0000043u
#define SIM_STATUS_IO_DEVICE_ERROR 0xC0000185u

#define SIM_CONTROL_DEVICE_TYPE 0x8D51u
#define SIM_CONTROL_CODE(function)                                                                 \
    QUENDRA_CTL_CODE(SIM_CONTROL_DEVICE_TYPE, (function), QUENDRA_METHOD_BUFFERED, 0u)

/* in: none. out: none. Back to the state after loading: port space
 * initialised, trace empty, no failures, counters zero. */
#define IOCTL_SIM_RESET SIM_CONTROL_CODE(0x900u)
/* in: struct sim_port_value. out: none. Sets a plain port's byte (the value
 * a read of a port outside the chip's pairs returns). Not traced. */
#define IOCTL_SIM_SET_PORT SIM_CONTROL_CODE(0x901u)
/* in: struct sim_port_value (value ignored). out: 1 byte, the plain port's
 * byte (the last value written to it, or set). Not traced. */
#define IOCTL_SIM_GET_PORT SIM_CONTROL_CODE(0x902u)
/* in: struct sim_chip_reg. out: none. Sets a configuration register of the
 * chip model: registers below 0x30 are global (ldn ignored), the others
 * belong to logical device ldn. */
#define IOCTL_SIM_SET_CONFIG_REG SIM_CONTROL_CODE(0x903u)
/* in: struct sim_chip_reg (value ignored). out: 1 byte. */
#define IOCTL_SIM_GET_CONFIG_REG SIM_CONTROL_CODE(0x904u)
/* in: struct sim_chip_reg (ldn ignored). out: none. Sets a hardware-monitor
 * register of the chip model. */
#define IOCTL_SIM_SET_HWM_REG SIM_CONTROL_CODE(0x905u)
/* in: struct sim_chip_reg (ldn and value ignored). out: 1 byte. */
#define IOCTL_SIM_GET_HWM_REG SIM_CONTROL_CODE(0x906u)
/* in: uint32_t, the first sequence number wanted. out: struct
 * sim_trace_header followed by up to (out length - header) / entry size
 * entries, oldest first; at least the header must fit. */
#define IOCTL_SIM_GET_TRACE SIM_CONTROL_CODE(0x907u)
/* in: none. out: none. Empties the trace; numbering starts again at 0. */
#define IOCTL_SIM_CLEAR_TRACE SIM_CONTROL_CODE(0x908u)
/* in: struct sim_failures. out: none. */
#define IOCTL_SIM_SET_FAILURES SIM_CONTROL_CODE(0x909u)
/* in: none. out: struct sim_counters. */
#define IOCTL_SIM_GET_COUNTERS SIM_CONTROL_CODE(0x90Au)

struct sim_port_value {
    uint16_t port;
    uint8_t value;
    uint8_t reserved;
};

struct sim_chip_reg {
    uint8_t ldn;
    uint8_t reg;
    uint8_t value;
    uint8_t reserved;
};

/* Requests of the kind in mask then complete with status without any port
 * access; a status that is no error status (0, say) stands for
 * STATUS_IO_DEVICE_ERROR. Mask 0 ends it. */
#define SIM_FAIL_READS 1u
#define SIM_FAIL_WRITES 2u
struct sim_failures {
    uint32_t mask;
    uint32_t status;
};

#define SIM_OP_READ 1u
#define SIM_OP_WRITE 2u

/* One port request of the main device, answered or failed. */
struct sim_trace_entry {
    uint64_t time;    /* 100 ns since 1601, system time when it arrived */
    uint32_t seq;     /* 0, 1, 2, ... since the last clear */
    uint32_t status;  /* NTSTATUS it completed with; 0 when answered */
    uint32_t port;    /* as sent (0 when the input was too short for it) */
    uint32_t in_len;  /* input buffer length of the request */
    uint32_t out_len; /* output buffer length of the request */
    uint8_t op;       /* SIM_OP_READ or SIM_OP_WRITE */
    uint8_t value;    /* byte read or written (write: as sent even if failed) */
    uint8_t reserved[2];
};

struct sim_trace_header {
    uint32_t total; /* requests traced since the last clear */
    uint32_t first; /* sequence number of the first entry returned */
    uint32_t count; /* entries returned after this header */
    uint32_t reserved;
};

struct sim_counters {
    uint32_t opens;          /* opens of the main device */
    uint32_t closes;         /* closes of the main device */
    uint32_t reads;          /* read requests answered */
    uint32_t writes;         /* write requests answered */
    uint32_t failed;         /* port requests completed with an error */
    uint32_t other_requests; /* control codes the main device does not know */
    uint32_t reserved[2];
};

#ifdef __cplusplus
static_assert(sizeof(struct sim_trace_entry) == 32, "trace entry layout");
static_assert(sizeof(struct sim_trace_header) == 16, "trace header layout");
static_assert(sizeof(struct sim_counters) == 32, "counters layout");
#else
_Static_assert(sizeof(struct sim_trace_entry) == 32, "trace entry layout");
_Static_assert(sizeof(struct sim_trace_header) == 16, "trace header layout");
_Static_assert(sizeof(struct sim_counters) == 32, "counters layout");
#endif

#endif
