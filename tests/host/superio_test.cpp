// Construction, hardware monitor, register 0x29 and the nine-bit values of
// the F71889.

#include "tests/host/superio_fixture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <type_traits>

namespace {

// --- Construction ----------------------------------------------------------

PortTrace ProbeTrace(std::uint8_t high, std::uint8_t low) {
    return {Out(kIndex, 0x87), Out(kIndex, 0x87), Out(kIndex, 0x07), Out(kData, 0x04),
            Out(kIndex, 0x60), In(kData, high),   Out(kIndex, 0x61), In(kData, low)};
}

TEST_F(F71889Test, ConstructionProbesTheHardwareMonitorBase) {
    InspectableChip chip;

    EXPECT_EQ(ProbeTrace(0x02, 0x95), m_ports.trace());
    EXPECT_EQ(&m_hwAccess, chip.m_pHwAccess);
    EXPECT_EQ(0x0295, chip.m_wAddressPort);
    EXPECT_EQ(0x0296, chip.m_wDataPort);
    EXPECT_EQ((std::vector<std::uint8_t>{0xFF, 0xBF, 0x7F}), chip.m_levels);
    // The chip stays in configuration mode with the monitor device selected.
    EXPECT_NE(0, m_ports.sim().config_mode);
    EXPECT_EQ(0x04, portsim_config_reg(&m_ports.sim(), 0, 0x07));
}

struct BaseCase {
    std::uint16_t base;
    std::uint16_t dataPort;
};

void PrintTo(const BaseCase &c, std::ostream *out) {
    *out << "base " << c.base;
}

class ProbeBaseTest : public F71889Test, public ::testing::WithParamInterface<BaseCase> {};

TEST_P(ProbeBaseTest, TakesTheBaseAsRead) {
    portsim_set_hwm_base(&m_ports.sim(), GetParam().base);
    InspectableChip chip;

    EXPECT_EQ(ProbeTrace(GetParam().base >> 8, GetParam().base & 0xFF), m_ports.trace());
    EXPECT_EQ(GetParam().base, chip.m_wAddressPort);
    EXPECT_EQ(GetParam().dataPort, chip.m_wDataPort);
}

// No masking of low bits, no test for 0 or 0xFFFF; the data port wraps.
INSTANTIATE_TEST_SUITE_P(Bases, ProbeBaseTest,
                         ::testing::Values(BaseCase{0x0295, 0x0296}, BaseCase{0x0297, 0x0298},
                                           BaseCase{0xFFFF, 0x0000}, BaseCase{0x0000, 0x0001}));

TEST_F(F71889Test, FailingPortsGiveBaseZero) {
    m_ports.SetFailing(true);
    InspectableChip chip;

    EXPECT_EQ(ProbeTrace(0, 0), m_ports.trace());
    EXPECT_EQ(0x0000, chip.m_wAddressPort);
    EXPECT_EQ(0x0001, chip.m_wDataPort);
}

TEST_F(F71889Test, ExitConfigModeWritesTheExitKey) {
    Chip().ExitConfigMode();

    EXPECT_EQ((PortTrace{Out(kIndex, 0xAA)}), m_ports.trace());
    EXPECT_EQ(0, m_ports.sim().config_mode);
}

// The exit handler reports on stderr, so the message shows that the process
// left through the normal exit path, and only when no port was touched.
FakePorts *g_portsAtExit = nullptr;
void ReportPortsAtExit() {
    if (!g_portsAtExit->trace().empty()) {
        std::_Exit(3);
    }
    std::fputs("exit handlers ran, no port request\n", stderr);
}

TEST(F71889DeathTest, NullHardwareAccessEndsTheProcess) {
    EXPECT_EXIT(
        {
            FakePorts ports;
            g_portsAtExit = &ports;
            std::atexit(ReportPortsAtExit);
            g_pHwAccess = nullptr;
            FintekF71889 chip;
            std::fputs("constructor returned\n", stderr);
        },
        ::testing::ExitedWithCode(0), "exit handlers ran, no port request");
}

// --- Virtual table ---------------------------------------------------------

static_assert(std::is_abstract_v<SuperIO> && std::is_abstract_v<Fintek>);
static_assert(!std::is_abstract_v<FintekF71889>);
static_assert(!std::has_virtual_destructor_v<FintekF71889>,
              "the virtual table holds the operations only");

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
// Under the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the byte offset of its virtual-table entry.
template <typename Member> std::ptrdiff_t SlotOf(Member member) {
    struct {
        std::ptrdiff_t ptr;
        std::ptrdiff_t adj;
    } rep;
    static_assert(sizeof member == sizeof rep);
    std::memcpy(&rep, &member, sizeof rep);
    return (rep.ptr - 1) / static_cast<std::ptrdiff_t>(sizeof(void *));
}

TEST(F71889VirtualTable, OperationsSitInTheirSlots) {
    using F = FintekF71889;
    const std::ptrdiff_t slots[] = {
        SlotOf(&SuperIO::EnterConfigMode), SlotOf(&SuperIO::ExitConfigMode),
        SlotOf(&Fintek::ReadHwmRegister),  SlotOf(&Fintek::ReadHwmVoltage),
        SlotOf(&Fintek::ReadFanRpm),       SlotOf(&Fintek::ReadHwmLevel),
        SlotOf(&Fintek::WriteHwmLevel),    SlotOf(&F::GetGpio7PinStatus),
        SlotOf(&F::GetGpio6PinStatus),     SlotOf(&F::GetGpio5PinStatus),
        SlotOf(&F::GetGpio4PinStatus),     SlotOf(&F::GetGpio3PinStatus),
        SlotOf(&F::GetGpio2PinStatus),     SlotOf(&F::GetGpio1PinStatus),
        SlotOf(&F::GetGpio0PinStatus),     SlotOf(&F::GetNineBitValue0),
        SlotOf(&F::GetNineBitValue1),      SlotOf(&F::GetNineBitValue2),
        SlotOf(&F::SetNineBitValue0),      SlotOf(&F::SetNineBitValue1),
        SlotOf(&F::SetNineBitValue2),      SlotOf(&F::SetGpio7OutputEnable),
        SlotOf(&F::SetGpio6OutputEnable),  SlotOf(&F::SetGpio5OutputEnable),
        SlotOf(&F::SetGpio4OutputEnable),  SlotOf(&F::SetGpio3OutputEnable),
        SlotOf(&F::SetGpio2OutputEnable),  SlotOf(&F::SetGpio1OutputEnable),
        SlotOf(&F::SetGpio0OutputEnable),  SlotOf(&F::SetGpio7DriveEnable),
        SlotOf(&F::SetGpio6DriveEnable),   SlotOf(&F::SetGpio5DriveEnable),
        SlotOf(&F::SetGpio4DriveEnable),   SlotOf(&F::SetGpio3DriveEnable),
        SlotOf(&F::SetGpio2DriveEnable),   SlotOf(&F::SetGpio1DriveEnable),
        SlotOf(&F::SetGpio0DriveEnable),   SlotOf(&F::SetGpio7OutputData),
        SlotOf(&F::SetGpio6OutputData),    SlotOf(&F::SetGpio5OutputData),
        SlotOf(&F::SetGpio4OutputData),    SlotOf(&F::SetGpio3OutputData),
        SlotOf(&F::SetGpio2OutputData),    SlotOf(&F::SetGpio1OutputData),
        SlotOf(&F::SetGpio0OutputData),    SlotOf(&F::SetRegister29Bit),
        SlotOf(&F::GetGpio7OutputData),    SlotOf(&F::GetGpio6OutputData),
        SlotOf(&F::GetGpio5OutputData),    SlotOf(&F::GetGpio4OutputData),
        SlotOf(&F::GetGpio3OutputData),    SlotOf(&F::GetGpio2OutputData),
        SlotOf(&F::GetGpio1OutputData),    SlotOf(&F::GetGpio0OutputData),
        SlotOf(&F::GetGpio7OutputEnable),  SlotOf(&F::GetGpio6OutputEnable),
        SlotOf(&F::GetGpio5OutputEnable),  SlotOf(&F::GetGpio4OutputEnable),
        SlotOf(&F::GetGpio3OutputEnable),  SlotOf(&F::GetGpio2OutputEnable),
        SlotOf(&F::GetGpio1OutputEnable),  SlotOf(&F::GetGpio0OutputEnable),
    };
    ASSERT_EQ(62u, std::size(slots));
    for (std::size_t slot = 0; slot < std::size(slots); ++slot) {
        EXPECT_EQ(static_cast<std::ptrdiff_t>(slot), slots[slot]) << "operation #" << slot;
    }
}
#endif

// --- Hardware monitor --------------------------------------------------------

constexpr std::uint16_t kHwmAddress = 0x0295;
constexpr std::uint16_t kHwmData = 0x0296;

TEST_F(F71889Test, ReadHwmRegisterReadsThroughThePair) {
    Chip();
    m_ports.sim().hwm_regs[0x20] = 0xC3;

    EXPECT_EQ(0xC3, Chip().ReadHwmRegister(0x20));
    EXPECT_EQ((PortTrace{Out(kHwmAddress, 0x20), In(kHwmData, 0xC3)}), m_ports.trace());
}

TEST_F(F71889Test, ReadHwmVoltageCountsEightMillivoltSteps) {
    const struct {
        std::uint8_t raw;
        std::int32_t millivolts;
    } cases[] = {{0x00, 0}, {0x01, 8}, {0x7D, 1000}, {0xFF, 2040}};
    for (const auto &c : cases) {
        m_ports.sim().hwm_regs[0x21] = c.raw;
        EXPECT_EQ(c.millivolts, Chip().ReadHwmVoltage(0x21)) << "raw " << int(c.raw);
    }
}

TEST_F(F71889Test, ReadFanRpmDividesTheCount) {
    const struct {
        std::uint8_t high, low;
        std::int32_t rpm;
    } cases[] = {
        {0x0F, 0xFF, 0},       // no fan
        {0x05, 0xDC, 1000},    // count 1500
        {0xFF, 0xFF, 22},      // count 65535
        {0x00, 0x01, 1500000}, // count 1
        {0x1F, 0xFF, 183},     // the high byte is not masked: count 0x1FFF
        {0x0F, 0xFE, 366},     // only 0x0FFF means no fan
        {0x00, 0x00, 0},       // a stopped counter: no division
    };
    for (const auto &c : cases) {
        m_ports.sim().hwm_regs[0xA0] = c.high;
        m_ports.sim().hwm_regs[0xA1] = c.low;
        m_ports.ClearTrace();

        EXPECT_EQ(c.rpm, Chip().ReadFanRpm(0xA0)) << int(c.high) << "/" << int(c.low);
        EXPECT_EQ((PortTrace{Out(kHwmAddress, 0xA0), In(kHwmData, c.high), Out(kHwmAddress, 0xA1),
                             In(kHwmData, c.low)}),
                  m_ports.trace());
    }
}

TEST_F(F71889Test, ReadFanRpmWrapsToRegisterZero) {
    Chip();
    m_ports.sim().hwm_regs[0xFF] = 0x05;
    m_ports.sim().hwm_regs[0x00] = 0xDC;

    EXPECT_EQ(1000, Chip().ReadFanRpm(0xFF));
    EXPECT_EQ((PortTrace{Out(kHwmAddress, 0xFF), In(kHwmData, 0x05), Out(kHwmAddress, 0x00),
                         In(kHwmData, 0xDC)}),
              m_ports.trace());
}

TEST_F(F71889Test, ReadHwmLevelComparesWithTheThresholds) {
    const struct {
        std::uint8_t raw;
        std::int32_t level;
    } cases[] = {{0xFF, 0}, {0xFE, 1}, {0xBF, 1}, {0xBE, 2}, {0x7F, 2}, {0x7E, 0}, {0x00, 0}};
    for (const auto &c : cases) {
        m_ports.sim().hwm_regs[0x30] = c.raw;
        m_ports.ClearTrace();

        EXPECT_EQ(c.level, Chip().ReadHwmLevel(0x30)) << "raw " << int(c.raw);
        EXPECT_EQ((PortTrace{Out(kHwmAddress, 0x30), In(kHwmData, c.raw)}), m_ports.trace());
    }
}

TEST_F(F71889Test, WriteHwmLevelWritesTheThreshold) {
    const std::uint8_t thresholds[] = {0xFF, 0xBF, 0x7F};
    for (std::uint32_t level = 0; level < 3; ++level) {
        m_ports.sim().hwm_regs[0x31] = 0x55;
        m_ports.ClearTrace();

        Chip().WriteHwmLevel(0x31, level);

        EXPECT_EQ((PortTrace{Out(kHwmAddress, 0x31), Out(kHwmData, thresholds[level])}),
                  m_ports.trace());
        EXPECT_EQ(thresholds[level], m_ports.sim().hwm_regs[0x31]);
    }
}

TEST_F(F71889Test, WriteHwmLevelBeyondTheTableWritesNoData) {
    for (std::uint32_t level : {3u, 4u, 0xFFFFFFFFu}) {
        m_ports.sim().hwm_regs[0x31] = 0x55;
        m_ports.ClearTrace();

        Chip().WriteHwmLevel(0x31, level);

        EXPECT_EQ((PortTrace{Out(kHwmAddress, 0x31)}), m_ports.trace()) << "level " << level;
        EXPECT_EQ(0x55, m_ports.sim().hwm_regs[0x31]);
    }
}

// --- Register 0x29 -----------------------------------------------------------

TEST_F(F71889Test, Register29IgnoresPinsBelowFive) {
    for (std::int32_t pin : {4, 0, -1, INT_MIN}) {
        Chip().SetRegister29Bit(pin, 1);
        EXPECT_TRUE(m_ports.trace().empty()) << "pin " << pin;
    }
}

TEST_F(F71889Test, Register29MapsPinsFiveToSevenToBitsZeroToTwo) {
    const struct {
        std::int32_t pin, on;
        std::uint8_t before, after;
    } cases[] = {
        {5, 1, 0x00, 0x01}, {6, 1, 0x00, 0x02}, {7, 1, 0x00, 0x04}, {7, -7, 0x10, 0x14},
        {5, 0, 0xFF, 0xFE}, {6, 0, 0xFF, 0xFD}, {7, 0, 0xFF, 0xFB},
    };
    for (const auto &c : cases) {
        SetGpioReg(0x29, c.before);
        m_ports.ClearTrace();

        Chip().SetRegister29Bit(c.pin, c.on);

        EXPECT_EQ(Join({Select(kGpioLdn), ReadReg(0x29, c.before), WriteReg(0x29, c.after)}),
                  m_ports.trace())
            << "pin " << c.pin << " on " << c.on;
        EXPECT_EQ(c.after, GpioReg(0x29));
    }
}

TEST_F(F71889Test, Register29RejectsPinsFromEightAfterTheRead) {
    for (std::int32_t pin : {8, 13, INT_MAX}) {
        SetGpioReg(0x29, 0x5A);
        m_ports.ClearTrace();

        ExpectBitPositionError([&] { Chip().SetRegister29Bit(pin, 1); });

        EXPECT_EQ(Join({Select(kGpioLdn), ReadReg(0x29, 0x5A)}), m_ports.trace()) << "pin " << pin;
        EXPECT_EQ(0x5A, GpioReg(0x29));
    }
}

// --- Nine-bit values ---------------------------------------------------------

using NineBitSetter = void (Fintek::*)(std::int32_t);
using NineBitGetter = std::int32_t (Fintek::*)();
// Calls go through a local copy of the member pointer: GCC 12 with
// -fsanitize=undefined miscompiles (object.*array[i])(...).
const NineBitSetter kNineBitSetters[] = {&Fintek::SetNineBitValue0, &Fintek::SetNineBitValue1,
                                         &Fintek::SetNineBitValue2};
const NineBitGetter kNineBitGetters[] = {&Fintek::GetNineBitValue0, &Fintek::GetNineBitValue1,
                                         &Fintek::GetNineBitValue2};

TEST_F(F71889Test, SetNineBitValueWritesBitZeroFirst) {
    const struct {
        unsigned index;
        std::int32_t value;
        std::uint8_t lowBitsBefore, lowBitsAfter, high;
    } cases[] = {
        {1, 0x1FF, 0x00, 0x02, 0xFF},   // all nine bits
        {0, -1, 0x00, 0x01, 0xFF},      // the same as 0x1FF
        {2, 0x200, 0xFF, 0xFB, 0x00},   // bit 9 is dropped
        {0, 2, 0xFF, 0xFE, 0x01},       // even clears
        {1, -2, 0xFF, 0xFD, 0xFF},      // negative even
        {2, -3, 0x00, 0x04, 0xFE},      // negative odd sets
        {2, INT_MIN, 0xFF, 0xFB, 0x00}, // bits 1-8 of 0x80000000
        {1, INT_MAX, 0x00, 0x02, 0xFF}, // odd
        {0, 0x101, 0x06, 0x07, 0x80},   // other values' bits stay
    };
    for (const auto &c : cases) {
        portsim_set_config_reg(&m_ports.sim(), kNineBitLdn, 0xF3, c.lowBitsBefore);
        m_ports.ClearTrace();

        const NineBitSetter set = kNineBitSetters[c.index];
        (Chip().*set)(c.value);

        const auto highReg = static_cast<std::uint8_t>(0xF0 + c.index);
        EXPECT_EQ(Join({Select(kNineBitLdn), ReadReg(0xF3, c.lowBitsBefore),
                        WriteReg(0xF3, c.lowBitsAfter), WriteReg(highReg, c.high)}),
                  m_ports.trace())
            << "value " << c.value << " index " << c.index;
    }
}

TEST_F(F71889Test, GetNineBitValueJoinsHighByteAndSharedBit) {
    portsim_set_config_reg(&m_ports.sim(), kNineBitLdn, 0xF2, 0x80);
    portsim_set_config_reg(&m_ports.sim(), kNineBitLdn, 0xF3, 0x04);
    Chip();

    EXPECT_EQ(0x101, Chip().GetNineBitValue2());
    EXPECT_EQ(Join({Select(kNineBitLdn), ReadReg(0xF2, 0x80), ReadReg(0xF3, 0x04)}),
              m_ports.trace());
    // Bits of the other two values do not leak in.
    portsim_set_config_reg(&m_ports.sim(), kNineBitLdn, 0xF3, 0xFB);
    EXPECT_EQ(0x100, Chip().GetNineBitValue2());
}

// Each value keeps its own nine bits while the other two change.
TEST_F(F71889Test, NineBitValuesRoundTripIndependently) {
    for (std::int32_t value = 0; value < 512; ++value) {
        const std::int32_t written[] = {value, 511 - value, value ^ 0x155};
        for (unsigned index = 0; index < 3; ++index) {
            const NineBitSetter set = kNineBitSetters[index];
            (Chip().*set)(written[index]);
        }
        for (unsigned index = 0; index < 3; ++index) {
            const NineBitGetter get = kNineBitGetters[index];
            EXPECT_EQ(written[index], (Chip().*get)()) << "index " << index;
        }
    }
}

} // namespace
