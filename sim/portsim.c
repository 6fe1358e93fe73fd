#include "sim/portsim.h"

/* volatile keeps the compiler from turning the loop into a call to memset,
 * which the kernel-mode build does not link. */
static void fill(volatile uint8_t *bytes, unsigned count, uint8_t value) {
    unsigned i;
    for (i = 0; i < count; ++i) {
        bytes[i] = value;
    }
}

/* The register slot behind (ldn, reg), or 0 when the device does not exist. */
static uint8_t *config_slot(struct portsim *sim, uint8_t ldn, uint8_t reg) {
    if (reg < PORTSIM_GLOBAL_REGS) {
        return &sim->global_regs[reg];
    }
    if (ldn >= PORTSIM_LDNS) {
        return 0;
    }
    return &sim->ldn_regs[ldn][reg - PORTSIM_GLOBAL_REGS];
}

static uint8_t portsim_config_reg(const struct portsim *sim, uint8_t ldn, uint8_t reg) {
    const uint8_t *slot = config_slot((struct portsim *)sim, ldn, reg);
    return slot ? *slot : PORTSIM_UNCLAIMED;
}

static void portsim_set_config_reg(struct portsim *sim, uint8_t ldn, uint8_t reg, uint8_t value) {
    uint8_t *slot = config_slot(sim, ldn, reg);
    if (slot) {
        *slot = value;
    }
}

static uint16_t portsim_hwm_base(const struct portsim *sim) {
    return (uint16_t)(portsim_config_reg(sim, PORTSIM_HWM_LDN, PORTSIM_BASE_HIGH_REG) << 8 |
                      portsim_config_reg(sim, PORTSIM_HWM_LDN, PORTSIM_BASE_LOW_REG));
}

static void portsim_set_hwm_base(struct portsim *sim, uint16_t base) {
    portsim_set_config_reg(sim, PORTSIM_HWM_LDN, PORTSIM_BASE_HIGH_REG, (uint8_t)(base >> 8));
    portsim_set_config_reg(sim, PORTSIM_HWM_LDN, PORTSIM_BASE_LOW_REG, (uint8_t)base);
}

void portsim_init(struct portsim *sim) {
    unsigned ldn;

    fill(sim->ports, PORTSIM_PORTS, PORTSIM_UNCLAIMED);
    fill(sim->global_regs, PORTSIM_GLOBAL_REGS, 0);
    for (ldn = 0; ldn < PORTSIM_LDNS; ++ldn) {
        fill(sim->ldn_regs[ldn], sizeof sim->ldn_regs[ldn], 0);
    }
    fill(sim->hwm_regs, sizeof sim->hwm_regs, 0);
    sim->config_index = 0;
    sim->key_count = 0;
    sim->config_mode = 0;
    sim->hwm_index = 0;
    portsim_set_hwm_base(sim, PORTSIM_DEFAULT_HWM_BASE);
}

static uint8_t selected_ldn(const struct portsim *sim) {
    return sim->global_regs[PORTSIM_LDN_SELECT_REG];
}

static void write_index(struct portsim *sim, uint8_t value) {
    if (!sim->config_mode) {
        sim->key_count = value == PORTSIM_ENTRY_KEY ? (uint8_t)(sim->key_count + 1) : 0;
        if (sim->key_count == 2) {
            sim->config_mode = 1;
            sim->key_count = 0;
        }
    } else if (value == PORTSIM_EXIT_KEY) {
        sim->config_mode = 0;
    } else {
        sim->config_index = value;
    }
}

uint8_t portsim_in(struct portsim *sim, uint16_t port) {
    uint16_t base;

    if (port == PORTSIM_CONFIG_INDEX_PORT) {
        return sim->config_mode ? sim->config_index : PORTSIM_UNCLAIMED;
    }
    if (port == PORTSIM_CONFIG_DATA_PORT) {
        return sim->config_mode ? portsim_config_reg(sim, selected_ldn(sim), sim->config_index)
                                : PORTSIM_UNCLAIMED;
    }
    base = portsim_hwm_base(sim);
    if (port == base) {
        return sim->hwm_index;
    }
    if (port == (uint16_t)(base + 1)) {
        return sim->hwm_regs[sim->hwm_index];
    }
    return sim->ports[port];
}

void portsim_out(struct portsim *sim, uint16_t port, uint8_t value) {
    uint16_t base;

    if (port == PORTSIM_CONFIG_INDEX_PORT) {
        write_index(sim, value);
        return;
    }
    if (port == PORTSIM_CONFIG_DATA_PORT) {
        if (sim->config_mode) {
            portsim_set_config_reg(sim, selected_ldn(sim), sim->config_index, value);
        }
        return;
    }
    base = portsim_hwm_base(sim);
    if (port == base) {
        sim->hwm_index = value;
    } else if (port == (uint16_t)(base + 1)) {
        sim->hwm_regs[sim->hwm_index] = value;
    } else {
        sim->ports[port] = value;
    }
}
