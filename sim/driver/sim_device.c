#include "sim/driver/sim_device.h"

#include <string.h>

#define PORT_MASK_16 0xFFFFu
#define STATUS_SEVERITY_ERROR_MIN 0xC0000000u

static uint16_t load_u16(const uint8_t *p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}

static uint32_t load_u32(const uint8_t *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void sim_device_init(struct sim_device *dev) {
    memset(dev, 0, sizeof *dev);
    portsim_init(&dev->ports);
}

void sim_device_open(struct sim_device *dev) {
    dev->counters.opens++;
}

void sim_device_close(struct sim_device *dev) {
    dev->counters.closes++;
}

static void trace_request(struct sim_device *dev, uint8_t op, uint32_t port, uint8_t value,
                          uint32_t status, uint32_t in_len, uint32_t out_len, uint64_t now) {
    struct sim_trace_entry *e = &dev->trace[dev->trace_total % SIM_TRACE_CAPACITY];
    e->time = now;
    e->seq = dev->trace_total;
    e->status = status;
    e->port = port;
    e->in_len = in_len;
    e->out_len = out_len;
    e->op = op;
    e->value = value;
    e->reserved[0] = e->reserved[1] = 0;
    dev->trace_total++;
    if (status != SIM_STATUS_SUCCESS)
        dev->counters.failed++;
}

/* A status a test asks for, or the default when it is no error status. */
static uint32_t error_status_or(uint32_t status, uint32_t fallback) {
    return status >= STATUS_SEVERITY_ERROR_MIN ? status : fallback;
}

static uint32_t injected_failure(const struct sim_device *dev, uint32_t kind) {
    return (dev->fail_mask & kind) ? dev->fail_status : SIM_STATUS_SUCCESS;
}

static uint32_t read_port(struct sim_device *dev, uint8_t *buffer, uint32_t in_len,
                          uint32_t out_len, uint64_t now, uint32_t *info) {
    uint32_t port = in_len >= 2 ? load_u16(buffer) : 0;
    uint32_t status = SIM_STATUS_SUCCESS;
    uint8_t value = 0;

    if (in_len != QUENDRA_READ_INPUT_LENGTH || out_len != QUENDRA_READ_OUTPUT_LENGTH)
        status = SIM_STATUS_INVALID_PARAMETER;
    else
        status = injected_failure(dev, SIM_FAIL_READS);

    if (status == SIM_STATUS_SUCCESS) {
        value = portsim_in(&dev->ports, (uint16_t)port);
        buffer[0] = value;
        buffer[1] = SIM_READ_FILLER;
        *info = QUENDRA_READ_OUTPUT_LENGTH;
        dev->counters.reads++;
    }
    trace_request(dev, SIM_OP_READ, port, value, status, in_len, out_len, now);
    return status;
}

static uint32_t write_port(struct sim_device *dev, const uint8_t *buffer, uint32_t in_len,
                           uint32_t out_len, uint64_t now) {
    uint32_t port = in_len >= 4 ? load_u32(buffer) : 0;
    uint8_t value = in_len >= 5 ? buffer[4] : 0;
    uint32_t status = SIM_STATUS_SUCCESS;

    if (in_len != QUENDRA_WRITE_INPUT_LENGTH || out_len != QUENDRA_WRITE_OUTPUT_LENGTH ||
        port > PORT_MASK_16)
        status = SIM_STATUS_INVALID_PARAMETER;
    else
        status = injected_failure(dev, SIM_FAIL_WRITES);

    if (status == SIM_STATUS_SUCCESS) {
        portsim_out(&dev->ports, (uint16_t)port, value);
        dev->counters.writes++;
    }
    trace_request(dev, SIM_OP_WRITE, port, value, status, in_len, out_len, now);
    return status;
}

uint32_t sim_device_port_request(struct sim_device *dev, uint32_t code, uint8_t *buffer,
                                 uint32_t in_len, uint32_t out_len, uint64_t now, uint32_t *info) {
    *info = 0;
    switch (code) {
    case IOCTL_READ_IO_PORT_BYTE:
        return read_port(dev, buffer, in_len, out_len, now, info);
    case IOCTL_WRITE_IO_PORT_BYTE:
        return write_port(dev, buffer, in_len, out_len, now);
    default:
        dev->counters.other_requests++;
        return SIM_STATUS_INVALID_DEVICE_REQUEST;
    }
}

static uint32_t get_trace(const struct sim_device *dev, uint8_t *buffer, uint32_t in_len,
                          uint32_t out_len, uint32_t *info) {
    struct sim_trace_header header;
    uint32_t oldest, first, room, count, i;

    if (in_len != sizeof(uint32_t) || out_len < sizeof header)
        return SIM_STATUS_INVALID_PARAMETER;

    oldest = dev->trace_total > SIM_TRACE_CAPACITY ? dev->trace_total - SIM_TRACE_CAPACITY : 0;
    first = load_u32(buffer);
    if (first < oldest)
        first = oldest;
    if (first > dev->trace_total)
        first = dev->trace_total;
    room = (out_len - (uint32_t)sizeof header) / (uint32_t)sizeof(struct sim_trace_entry);
    count = dev->trace_total - first;
    if (count > room)
        count = room;

    header.total = dev->trace_total;
    header.first = first;
    header.count = count;
    header.reserved = 0;
    memcpy(buffer, &header, sizeof header);
    for (i = 0; i < count; i++)
        memcpy(buffer + sizeof header + i * sizeof(struct sim_trace_entry),
               &dev->trace[(first + i) % SIM_TRACE_CAPACITY], sizeof(struct sim_trace_entry));
    *info = (uint32_t)sizeof header + count * (uint32_t)sizeof(struct sim_trace_entry);
    return SIM_STATUS_SUCCESS;
}

static int lengths_are(uint32_t in_len, uint32_t out_len, uint32_t want_in, uint32_t want_out) {
    return in_len == want_in && out_len == want_out;
}

uint32_t sim_device_control(struct sim_device *dev, uint32_t code, uint8_t *buffer, uint32_t in_len,
                            uint32_t out_len, uint32_t *info) {
    struct sim_port_value pv;
    struct sim_chip_reg cr;
    struct sim_failures fail;

    *info = 0;
    switch (code) {
    case IOCTL_SIM_RESET:
        sim_device_init(dev);
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_SET_PORT:
        if (!lengths_are(in_len, out_len, sizeof pv, 0))
            return SIM_STATUS_INVALID_PARAMETER;
        memcpy(&pv, buffer, sizeof pv);
        dev->ports.ports[pv.port] = pv.value;
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_GET_PORT:
        if (!lengths_are(in_len, out_len, sizeof pv, 1))
            return SIM_STATUS_INVALID_PARAMETER;
        memcpy(&pv, buffer, sizeof pv);
        buffer[0] = dev->ports.ports[pv.port];
        *info = 1;
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_SET_CONFIG_REG:
        if (!lengths_are(in_len, out_len, sizeof cr, 0))
            return SIM_STATUS_INVALID_PARAMETER;
        memcpy(&cr, buffer, sizeof cr);
        portsim_set_config_reg(&dev->ports, cr.ldn, cr.reg, cr.value);
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_GET_CONFIG_REG:
        if (!lengths_are(in_len, out_len, sizeof cr, 1))
            return SIM_STATUS_INVALID_PARAMETER;
        memcpy(&cr, buffer, sizeof cr);
        buffer[0] = portsim_config_reg(&dev->ports, cr.ldn, cr.reg);
        *info = 1;
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_SET_HWM_REG:
        if (!lengths_are(in_len, out_len, sizeof cr, 0))
            return SIM_STATUS_INVALID_PARAMETER;
        memcpy(&cr, buffer, sizeof cr);
        dev->ports.hwm_regs[cr.reg] = cr.value;
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_GET_HWM_REG:
        if (!lengths_are(in_len, out_len, sizeof cr, 1))
            return SIM_STATUS_INVALID_PARAMETER;
        memcpy(&cr, buffer, sizeof cr);
        buffer[0] = dev->ports.hwm_regs[cr.reg];
        *info = 1;
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_GET_TRACE:
        return get_trace(dev, buffer, in_len, out_len, info);

    case IOCTL_SIM_CLEAR_TRACE:
        dev->trace_total = 0;
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_SET_FAILURES:
        if (!lengths_are(in_len, out_len, sizeof fail, 0))
            return SIM_STATUS_INVALID_PARAMETER;
        memcpy(&fail, buffer, sizeof fail);
        dev->fail_mask = fail.mask & (SIM_FAIL_READS | SIM_FAIL_WRITES);
        dev->fail_status = error_status_or(fail.status, SIM_STATUS_IO_DEVICE_ERROR);
        return SIM_STATUS_SUCCESS;

    case IOCTL_SIM_GET_COUNTERS:
        if (!lengths_are(in_len, out_len, 0, sizeof dev->counters))
            return SIM_STATUS_INVALID_PARAMETER;
        memcpy(buffer, &dev->counters, sizeof dev->counters);
        *info = sizeof dev->counters;
        return SIM_STATUS_SUCCESS;

    default:
        return SIM_STATUS_INVALID_DEVICE_REQUEST;
    }
}
