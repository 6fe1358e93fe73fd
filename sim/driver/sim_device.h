#ifndef WGB_SIM_DRIVER_SIM_DEVICE_H
#define WGB_SIM_DRIVER_SIM_DEVICE_H
/*
 * What the I/O driver stand-in does with each request, apart from the kernel
 * plumbing: the port requests of the main device, its opens and closes, and
 * the control requests of the test device. Plain C without platform headers;
 * the caller serialises the calls and supplies the time.
 *
 * Buffers are METHOD_BUFFERED system buffers: one buffer of at least
 * max(in_len, out_len) bytes, input first, output written over it.
 */

#include <stdint.h>

#include "sim/portsim.h"
#include "sim/sim_control.h"

struct sim_device {
    struct portsim ports;
    struct sim_trace_entry trace[SIM_TRACE_CAPACITY];
    uint32_t trace_total;
    uint32_t fail_mask;
    uint32_t fail_status;
    struct sim_counters counters;
};

void sim_device_init(struct sim_device *dev);

/* Opens and closes of the main device, counted. */
void sim_device_open(struct sim_device *dev);
void sim_device_close(struct sim_device *dev);

/* A control request on the main device; *info receives the byte count. */
uint32_t sim_device_port_request(struct sim_device *dev, uint32_t code, uint8_t *buffer,
                                 uint32_t in_len, uint32_t out_len, uint64_t now, uint32_t *info);

/* A control request on the test device; *info receives the byte count. */
uint32_t sim_device_control(struct sim_device *dev, uint32_t code, uint8_t *buffer, uint32_t in_len,
                            uint32_t out_len, uint32_t *info);

#endif
