#ifndef WGB_SIM_PORTSIM_H
#define WGB_SIM_PORTSIM_H
/*
 * A simulated x86 I/O port space for the stand-ins: 65536 byte-wide ports,
 * with a small Fintek F71889 behind the configuration pair 0x4E/0x4F and its
 * hardware monitor behind the address/data pair that logical device 0x04
 * reports. Plain C with no platform headers and no library calls, so that
 * the kernel-mode driver stand-in and the native tests share it. The caller
 * owns the storage of a struct portsim; this file keeps no state of its own.
 *
 * State after portsim_init:
 *   - every plain port reads 0xFF, as an unclaimed ISA port does; so the
 *     button inputs 0x50C and 0x50D start released;
 *   - the chip is out of configuration mode, with index 0 and logical
 *     device 0 selected;
 *   - every configuration register is 0, except the hardware-monitor base
 *     of logical device 0x04: register 0x60 = 0x02, 0x61 = 0x95 (0x0295);
 *   - every hardware-monitor register is 0, and register 0 is selected.
 *
 * Decoding of portsim_in / portsim_out, first match wins:
 *   1. 0x4E (index port). Out of configuration mode, writing 0x87 twice in
 *      a row enters it (any other value in between starts the count again)
 *      and reads give 0xFF. In configuration mode, 0xAA leaves it and any
 *      other value (0x87 too) becomes the index; reads give the index.
 *   2. 0x4F (data port). Out of configuration mode, reads give 0xFF and
 *      writes are ignored. In it, the data port reads and writes the
 *      register that the index selects: registers 0x00-0x2F are global
 *      (register 0x07 selects the logical device), registers 0x30-0xFF
 *      belong to the selected logical device. Logical devices from
 *      PORTSIM_LDNS on do not exist: reads give 0xFF, writes are ignored.
 *   3. The hardware-monitor pair, at the base that logical device 0x04's
 *      registers 0x60 (high) and 0x61 (low) hold at the time of the access:
 *      the address port latches a register number (reads give it back) and
 *      the data port (base + 1, modulo 65536) reads and writes that
 *      register of hwm_regs. Configuration mode plays no part.
 *   4. Any other port is a plain latch: a write stores the value in
 *      ports[], a read gives ports[] back.
 *
 * Tests and the driver stand-in may read and change the fields directly
 * (for instance ports[0x50C] for the button, hwm_regs[] for the monitor);
 * the functions below reach configuration registers without the protocol.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PORTSIM_PORTS 65536u
#define PORTSIM_LDNS 16u
#define PORTSIM_GLOBAL_REGS 0x30u

#define PORTSIM_CONFIG_INDEX_PORT 0x4Eu
#define PORTSIM_CONFIG_DATA_PORT 0x4Fu
#define PORTSIM_ENTRY_KEY 0x87u
#define PORTSIM_EXIT_KEY 0xAAu
#define PORTSIM_LDN_SELECT_REG 0x07u
#define PORTSIM_HWM_LDN 0x04u
#define PORTSIM_BASE_HIGH_REG 0x60u
#define PORTSIM_BASE_LOW_REG 0x61u
#define PORTSIM_DEFAULT_HWM_BASE 0x0295u
#define PORTSIM_UNCLAIMED 0xFFu

struct portsim {
    uint8_t ports[PORTSIM_PORTS];             /* plain ports, outside the chip's pairs */
    uint8_t global_regs[PORTSIM_GLOBAL_REGS]; /* configuration registers 0x00-0x2F */
    uint8_t ldn_regs[PORTSIM_LDNS][0x100 - PORTSIM_GLOBAL_REGS]; /* per device, 0x30-0xFF */
    uint8_t hwm_regs[256]; /* hardware-monitor register file */
    uint8_t config_index;  /* last index written to 0x4E */
    uint8_t key_count;     /* entry keys seen in a row */
    uint8_t config_mode;   /* nonzero once 0x87 was written twice */
    uint8_t hwm_index;     /* last register written to the address port */
};

void portsim_init(struct portsim *sim);

/* Port accesses as the driver performs them. */
uint8_t portsim_in(struct portsim *sim, uint16_t port);
void portsim_out(struct portsim *sim, uint16_t port, uint8_t value);

#ifdef __cplusplus
}
#endif

#endif
