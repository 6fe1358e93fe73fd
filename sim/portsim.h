#ifndef WGB_SIM_PORTSIM_H
#define WGB_SIM_PORTSIM_H
/*
 * A simulated x86 I/O port space for the stand-ins: 65536 byte-wide ports,
 * with a small Fintek F71889 behind the configuration pair 0x4E/0x4F and its
 * hardware monitor behind the address/data pair that logical device 0x04
 * reports. Plain C with no platform headers, so that the kernel-mode driver
 * stand-in and the native tests share it.
 *
 * The button inputs start released: ports 0x50C and 0x50D read 0xFF.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PORTSIM_PORTS 65536u
#define PORTSIM_LDNS 16u

struct portsim {
    uint8_t ports[PORTSIM_PORTS];    /* plain ports, outside the chip's pairs */
    uint8_t global_regs[0x30];       /* configuration registers 0x00-0x2F */
    uint8_t ldn_regs[PORTSIM_LDNS][0x100 - 0x30]; /* per logical device, 0x30-0xFF */
    uint8_t hwm_regs[256];           /* hardware-monitor register file */
    uint8_t config_index;            /* last index written to 0x4E */
    uint8_t key_count;               /* entry keys seen in a row */
    uint8_t config_mode;             /* nonzero once 0x87 was written twice */
    uint8_t hwm_index;               /* last register written to the address port */
};

void portsim_init(struct portsim *sim);

/* Port accesses as the driver performs them. */
uint8_t portsim_in(struct portsim *sim, uint16_t port);
void portsim_out(struct portsim *sim, uint16_t port, uint8_t value);

/* Test access that bypasses the chip protocol. */
uint8_t portsim_config_reg(const struct portsim *sim, uint8_t ldn, uint8_t reg);
void portsim_set_config_reg(struct portsim *sim, uint8_t ldn, uint8_t reg, uint8_t value);
uint16_t portsim_hwm_base(const struct portsim *sim);

#ifdef __cplusplus
}
#endif

#endif
