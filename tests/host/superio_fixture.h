#pragma once
// A constructed FintekF71889 over the simulated port space, with helpers
// that spell out the chip's port sequences.

#include "hwaccess/hw_access.h"
#include "superio/fintek_f71889.h"
#include "tests/host/fake_ports.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

// Exposes the object's fields to the tests.
class InspectableChip final : public FintekF71889 {
  public:
    using FintekF71889::m_levels;
    using FintekF71889::m_pHwAccess;
    using FintekF71889::m_wAddressPort;
    using FintekF71889::m_wDataPort;
};

constexpr std::uint16_t kIndex = 0x4E;
constexpr std::uint16_t kData = 0x4F;
constexpr std::uint8_t kGpioLdn = 0x06;
constexpr std::uint8_t kNineBitLdn = 0x0B;

inline PortTrace EnterKeys() {
    return {Out(kIndex, 0x87), Out(kIndex, 0x87)};
}
inline PortTrace Select(std::uint8_t ldn) {
    return {Out(kIndex, 0x07), Out(kData, ldn)};
}
inline PortTrace ReadReg(std::uint8_t reg, std::uint8_t value) {
    return {Out(kIndex, reg), In(kData, value)};
}
inline PortTrace WriteReg(std::uint8_t reg, std::uint8_t value) {
    return {Out(kIndex, reg), Out(kData, value)};
}

// Runs call and expects the bit-position error.
template <typename Call> void ExpectBitPositionError(Call &&call) {
    try {
        call();
        ADD_FAILURE() << "no out_of_range thrown";
    } catch (const std::out_of_range &error) {
        EXPECT_STREQ("invalid bitset<N> position", error.what());
    }
}

class F71889Test : public ::testing::Test {
  protected:
    void SetUp() override {
        m_savedHwAccess = g_pHwAccess;
        g_pHwAccess = &m_hwAccess;
    }
    void TearDown() override { g_pHwAccess = m_savedHwAccess; }

    // Builds the chip over the current port space and forgets the probe's
    // requests.
    InspectableChip &Chip() {
        if (!m_chip) {
            m_chip.emplace();
            m_ports.ClearTrace();
        }
        return *m_chip;
    }

    std::uint8_t GpioReg(std::uint8_t reg) {
        return portsim_config_reg(&m_ports.sim(), kGpioLdn, reg);
    }
    void SetGpioReg(std::uint8_t reg, std::uint8_t value) {
        portsim_set_config_reg(&m_ports.sim(), kGpioLdn, reg, value);
    }

    FakePorts m_ports;
    HwAccess m_hwAccess{};
    HwAccess *m_savedHwAccess = nullptr;
    std::optional<InspectableChip> m_chip;
};
