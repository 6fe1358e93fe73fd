// The simulated port space that the host tests and the driver stand-in use.

#include "sim/portsim.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class PortsimTest : public ::testing::Test {
  protected:
    void SetUp() override { portsim_init(&sim); }

    void Enter() {
        portsim_out(&sim, 0x4E, 0x87);
        portsim_out(&sim, 0x4E, 0x87);
    }
    void Select(std::uint8_t ldn) {
        portsim_out(&sim, 0x4E, 0x07);
        portsim_out(&sim, 0x4F, ldn);
    }
    std::uint8_t ReadReg(std::uint8_t reg) {
        portsim_out(&sim, 0x4E, reg);
        return portsim_in(&sim, 0x4F);
    }
    void WriteReg(std::uint8_t reg, std::uint8_t value) {
        portsim_out(&sim, 0x4E, reg);
        portsim_out(&sim, 0x4F, value);
    }

    std::unique_ptr<portsim> owner = std::make_unique<portsim>();
    portsim &sim = *owner;
};

TEST_F(PortsimTest, StartsWithButtonsReleasedAndTheMonitorAt0295) {
    EXPECT_EQ(0xFF, portsim_in(&sim, 0x50C));
    EXPECT_EQ(0xFF, portsim_in(&sim, 0x50D));
    EXPECT_EQ(0x0295, portsim_hwm_base(&sim));
}

TEST_F(PortsimTest, PlainPortsLatchWrites) {
    portsim_out(&sim, 0x50C, 0xFE);
    EXPECT_EQ(0xFE, portsim_in(&sim, 0x50C));
    EXPECT_EQ(0xFF, portsim_in(&sim, 0x50D));
}

TEST_F(PortsimTest, DataPortIsDeadOutsideConfigMode) {
    portsim_set_config_reg(&sim, 0, 0x20, 0x12);
    portsim_out(&sim, 0x4E, 0x20);
    EXPECT_EQ(0xFF, portsim_in(&sim, 0x4F));
    portsim_out(&sim, 0x4F, 0x34);
    EXPECT_EQ(0x12, portsim_config_reg(&sim, 0, 0x20));
}

TEST_F(PortsimTest, TwoEntryKeysInARowUnlockAndTheExitKeyLocks) {
    portsim_set_config_reg(&sim, 0, 0x20, 0x12);

    portsim_out(&sim, 0x4E, 0x87);
    portsim_out(&sim, 0x4E, 0x20);
    portsim_out(&sim, 0x4E, 0x87);
    EXPECT_EQ(0xFF, ReadReg(0x20)) << "keys must follow each other";

    Enter();
    EXPECT_EQ(0x12, ReadReg(0x20));
    Enter(); // entering again while unlocked changes nothing
    EXPECT_EQ(0x12, ReadReg(0x20));

    portsim_out(&sim, 0x4E, 0xAA);
    EXPECT_EQ(0xFF, ReadReg(0x20));
}

TEST_F(PortsimTest, LogicalDevicesHaveTheirOwnUpperRegisters) {
    Enter();
    Select(0x06);
    WriteReg(0xF0, 0x66);
    WriteReg(0x29, 0x29);
    Select(0x0B);
    WriteReg(0xF0, 0xBB);

    EXPECT_EQ(0xBB, ReadReg(0xF0));
    EXPECT_EQ(0x29, ReadReg(0x29)) << "registers below 0x30 are global";
    EXPECT_EQ(0x66, portsim_config_reg(&sim, 0x06, 0xF0));
    EXPECT_EQ(0x0B, portsim_config_reg(&sim, 0x00, 0x07));

    Select(0x40); // no such device
    WriteReg(0xF0, 0x12);
    EXPECT_EQ(0xFF, ReadReg(0xF0));
}

TEST_F(PortsimTest, MonitorPairFollowsTheBaseOfDevice04) {
    sim.hwm_regs[0x20] = 0xC3;
    portsim_out(&sim, 0x0295, 0x20);
    EXPECT_EQ(0xC3, portsim_in(&sim, 0x0296));
    portsim_out(&sim, 0x0296, 0x3C);
    EXPECT_EQ(0x3C, sim.hwm_regs[0x20]);

    Enter();
    Select(0x04);
    WriteReg(0x60, 0x0A);
    WriteReg(0x61, 0x10);
    EXPECT_EQ(0x0A10, portsim_hwm_base(&sim));
    portsim_out(&sim, 0x0A10, 0x20);
    EXPECT_EQ(0x3C, portsim_in(&sim, 0x0A11));
    EXPECT_EQ(0xFF, portsim_in(&sim, 0x0296)) << "the old pair is a plain port again";
}

TEST_F(PortsimTest, MonitorDataPortWrapsAtTheTopOfThePortSpace) {
    portsim_set_hwm_base(&sim, 0xFFFF);
    sim.hwm_regs[0x05] = 0x55;
    portsim_out(&sim, 0xFFFF, 0x05);
    EXPECT_EQ(0x55, portsim_in(&sim, 0x0000));
}

} // namespace
