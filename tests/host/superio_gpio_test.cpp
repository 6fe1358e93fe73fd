// The six GPIO families of the F71889, over all eight ports.

#include "tests/host/superio_fixture.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using BitGetter = std::int32_t (Fintek::*)(std::uint32_t bit);
using BitWriter = void (Fintek::*)(std::uint32_t bit, std::int32_t on);
using BitSetter = void (Fintek::*)(std::uint32_t bit);

struct GpioPort {
    unsigned port;
    std::uint8_t bank; // output enable; +1 output data, +2 pin status, +3 drive enable
    BitGetter getPinStatus;
    BitWriter setOutputEnable;
    BitSetter setDriveEnable;
    BitWriter setOutputData;
    BitGetter getOutputData;
    BitGetter getOutputEnable;
    bool outputWriteSetsDriveEnable;

    std::uint8_t outputEnable() const { return bank; }
    std::uint8_t outputData() const { return bank + 1; }
    std::uint8_t pinStatus() const { return bank + 2; }
    std::uint8_t driveEnable() const { return bank + 3; }
};

void PrintTo(const GpioPort &p, std::ostream *out) {
    *out << "GPIO port " << p.port;
}

using F = Fintek;
const GpioPort kPorts[] = {
    {7, 0x80, &F::GetGpio7PinStatus, &F::SetGpio7OutputEnable, &F::SetGpio7DriveEnable,
     &F::SetGpio7OutputData, &F::GetGpio7OutputData, &F::GetGpio7OutputEnable, false},
    {6, 0x90, &F::GetGpio6PinStatus, &F::SetGpio6OutputEnable, &F::SetGpio6DriveEnable,
     &F::SetGpio6OutputData, &F::GetGpio6OutputData, &F::GetGpio6OutputEnable, false},
    {5, 0xA0, &F::GetGpio5PinStatus, &F::SetGpio5OutputEnable, &F::SetGpio5DriveEnable,
     &F::SetGpio5OutputData, &F::GetGpio5OutputData, &F::GetGpio5OutputEnable, false},
    {4, 0xB0, &F::GetGpio4PinStatus, &F::SetGpio4OutputEnable, &F::SetGpio4DriveEnable,
     &F::SetGpio4OutputData, &F::GetGpio4OutputData, &F::GetGpio4OutputEnable, false},
    {3, 0xC0, &F::GetGpio3PinStatus, &F::SetGpio3OutputEnable, &F::SetGpio3DriveEnable,
     &F::SetGpio3OutputData, &F::GetGpio3OutputData, &F::GetGpio3OutputEnable, false},
    {2, 0xD0, &F::GetGpio2PinStatus, &F::SetGpio2OutputEnable, &F::SetGpio2DriveEnable,
     &F::SetGpio2OutputData, &F::GetGpio2OutputData, &F::GetGpio2OutputEnable, true},
    {1, 0xE0, &F::GetGpio1PinStatus, &F::SetGpio1OutputEnable, &F::SetGpio1DriveEnable,
     &F::SetGpio1OutputData, &F::GetGpio1OutputData, &F::GetGpio1OutputEnable, false},
    {0, 0xF0, &F::GetGpio0PinStatus, &F::SetGpio0OutputEnable, &F::SetGpio0DriveEnable,
     &F::SetGpio0OutputData, &F::GetGpio0OutputData, &F::GetGpio0OutputEnable, false},
};

class GpioTest : public F71889Test, public ::testing::WithParamInterface<GpioPort> {
  protected:
    const GpioPort &P() const { return GetParam(); }

    // Seeds the four registers of the port's bank and forgets the requests
    // so far.
    void Seed(std::uint8_t outputEnable, std::uint8_t outputData, std::uint8_t pinStatus,
              std::uint8_t driveEnable) {
        Chip();
        SetGpioReg(P().outputEnable(), outputEnable);
        SetGpioReg(P().outputData(), outputData);
        SetGpioReg(P().pinStatus(), pinStatus);
        SetGpioReg(P().driveEnable(), driveEnable);
        m_ports.ClearTrace();
    }
};

std::string PortName(const ::testing::TestParamInfo<GpioPort> &info) {
    return "Port" + std::to_string(info.param.port);
}

INSTANTIATE_TEST_SUITE_P(AllPorts, GpioTest, ::testing::ValuesIn(kPorts), PortName);

// --- Bit reads: pin status, output data, output enable ---------------------

TEST_P(GpioTest, BitReadsEnterConfigModeAndTestOneBit) {
    const struct {
        const char *family;
        BitGetter get;
        std::uint8_t reg;
    } reads[] = {{"pin status", P().getPinStatus, P().pinStatus()},
                 {"output data", P().getOutputData, P().outputData()},
                 {"output enable", P().getOutputEnable, P().outputEnable()}};
    constexpr std::uint8_t kPattern = 0xA5;
    for (const auto &read : reads) {
        for (std::uint32_t bit = 0; bit < 8; ++bit) {
            Seed(0, 0, 0, 0);
            SetGpioReg(read.reg, kPattern);

            EXPECT_EQ((kPattern >> bit) & 1, (Chip().*read.get)(bit)) << read.family << " " << bit;
            EXPECT_EQ(Join({EnterKeys(), Select(kGpioLdn), ReadReg(read.reg, kPattern)}),
                      m_ports.trace())
                << read.family << " bit " << bit;
        }
    }
}

TEST_P(GpioTest, BitReadsRejectPositionsFromEightAfterTheRead) {
    const struct {
        BitGetter get;
        std::uint8_t reg;
    } reads[] = {{P().getPinStatus, P().pinStatus()},
                 {P().getOutputData, P().outputData()},
                 {P().getOutputEnable, P().outputEnable()}};
    for (const auto &read : reads) {
        for (std::uint32_t bit : {8u, 31u, 0xFFFFFFFFu}) {
            Seed(0x11, 0x22, 0x33, 0x44);
            SetGpioReg(read.reg, 0xFF);

            ExpectBitPositionError([&] { (Chip().*read.get)(bit); });
            EXPECT_EQ(Join({EnterKeys(), Select(kGpioLdn), ReadReg(read.reg, 0xFF)}),
                      m_ports.trace());
        }
    }
}

// --- Output enable writes ----------------------------------------------------

TEST_P(GpioTest, OutputEnableWriteSetsForAnyNonzeroOn) {
    const struct {
        std::uint32_t bit;
        std::int32_t on;
        std::uint8_t before, after;
    } cases[] = {
        {2, 5, 0x00, 0x04}, {0, 1, 0x00, 0x01}, {7, -1, 0x01, 0x81},
        {2, 0, 0xFF, 0xFB}, {7, 0, 0x80, 0x00}, {3, 1, 0x08, 0x08},
    };
    for (const auto &c : cases) {
        Seed(c.before, 0x5A, 0x5A, 0x5A);

        (Chip().*P().setOutputEnable)(c.bit, c.on);

        const std::uint8_t reg = P().outputEnable();
        EXPECT_EQ(
            Join({EnterKeys(), Select(kGpioLdn), ReadReg(reg, c.before), WriteReg(reg, c.after)}),
            m_ports.trace())
            << "bit " << c.bit << " on " << c.on;
        EXPECT_EQ(c.after, GpioReg(reg));
    }
}

TEST_P(GpioTest, OutputEnableWriteRejectsPositionsFromEightAfterTheRead) {
    Seed(0x3C, 0, 0, 0);

    ExpectBitPositionError([&] { (Chip().*P().setOutputEnable)(8, 1); });

    EXPECT_EQ(Join({EnterKeys(), Select(kGpioLdn), ReadReg(P().outputEnable(), 0x3C)}),
              m_ports.trace());
    EXPECT_EQ(0x3C, GpioReg(P().outputEnable()));
}

// --- Drive enable sets -------------------------------------------------------

TEST_P(GpioTest, DriveEnableSetsWithoutEnteringConfigMode) {
    const struct {
        std::uint32_t bit;
        std::uint8_t before, after;
    } cases[] = {{0, 0x00, 0x01}, {3, 0x10, 0x18}, {7, 0x7F, 0xFF}, {4, 0xFF, 0xFF}};
    for (const auto &c : cases) {
        Seed(0, 0, 0, c.before);

        (Chip().*P().setDriveEnable)(c.bit);

        const std::uint8_t reg = P().driveEnable();
        EXPECT_EQ(Join({Select(kGpioLdn), ReadReg(reg, c.before), WriteReg(reg, c.after)}),
                  m_ports.trace())
            << "bit " << c.bit;
        EXPECT_EQ(c.after, GpioReg(reg));
    }
}

TEST_P(GpioTest, DriveEnableRejectsPositionsFromEightAfterTheRead) {
    Seed(0, 0, 0, 0x42);

    ExpectBitPositionError([&] { (Chip().*P().setDriveEnable)(9); });

    EXPECT_EQ(Join({Select(kGpioLdn), ReadReg(P().driveEnable(), 0x42)}), m_ports.trace());
    EXPECT_EQ(0x42, GpioReg(P().driveEnable()));
}

// --- Output data writes ------------------------------------------------------

// The port-2 step: the drive-enable set of the same bit, on every call.
PortTrace DriveStep(const GpioPort &port, std::uint32_t bit, std::uint8_t before) {
    if (!port.outputWriteSetsDriveEnable) {
        return {};
    }
    const auto after = static_cast<std::uint8_t>(before | 1u << bit);
    return Join({Select(kGpioLdn), ReadReg(port.driveEnable(), before),
                 WriteReg(port.driveEnable(), after)});
}

TEST_P(GpioTest, OutputDataWriteToAnOutput) {
    const struct {
        std::uint32_t bit;
        std::int32_t on;
        std::uint8_t before, after;
    } cases[] = {{1, 1, 0x00, 0x02}, {1, 0, 0xFF, 0xFD}, {6, 3, 0x01, 0x41}, {0, 0, 0x00, 0x00}};
    for (const auto &c : cases) {
        const auto enabled = static_cast<std::uint8_t>(1u << c.bit);
        Seed(enabled, c.before, 0, 0x00);

        (Chip().*P().setOutputData)(c.bit, c.on);

        EXPECT_EQ(Join({EnterKeys(), Select(kGpioLdn), ReadReg(P().outputEnable(), enabled),
                        DriveStep(P(), c.bit, 0x00), Select(kGpioLdn),
                        ReadReg(P().outputData(), c.before), WriteReg(P().outputData(), c.after)}),
                  m_ports.trace())
            << "bit " << c.bit << " on " << c.on;
        EXPECT_EQ(c.after, GpioReg(P().outputData()));
        EXPECT_EQ(enabled, GpioReg(P().outputEnable()));
        EXPECT_EQ(P().outputWriteSetsDriveEnable ? enabled : 0x00, GpioReg(P().driveEnable()));
    }
}

TEST_P(GpioTest, OutputDataWriteMakesTheBitAnOutputFirst) {
    for (std::int32_t on : {1, 0}) {
        Seed(0xFD, on ? 0x00 : 0xFF, 0, 0x00);

        (Chip().*P().setOutputData)(1, on);

        const std::uint8_t dataAfter = on ? 0x02 : 0xFD;
        EXPECT_EQ(Join({EnterKeys(), Select(kGpioLdn), ReadReg(P().outputEnable(), 0xFD),
                        EnterKeys(), Select(kGpioLdn), ReadReg(P().outputEnable(), 0xFD),
                        WriteReg(P().outputEnable(), 0xFF), DriveStep(P(), 1, 0x00),
                        Select(kGpioLdn), ReadReg(P().outputData(), on ? 0x00 : 0xFF),
                        WriteReg(P().outputData(), dataAfter)}),
                  m_ports.trace())
            << "on " << on;
        EXPECT_EQ(0xFF, GpioReg(P().outputEnable()));
        EXPECT_EQ(dataAfter, GpioReg(P().outputData()));
    }
}

TEST_P(GpioTest, OutputDataWriteRejectsPositionsFromEightBeforeAnyWrite) {
    Seed(0x00, 0x77, 0, 0x00);

    ExpectBitPositionError([&] { (Chip().*P().setOutputData)(8, 1); });

    EXPECT_EQ(Join({EnterKeys(), Select(kGpioLdn), ReadReg(P().outputEnable(), 0x00)}),
              m_ports.trace());
    EXPECT_EQ(0x00, GpioReg(P().outputEnable()));
    EXPECT_EQ(0x77, GpioReg(P().outputData()));
    EXPECT_EQ(0x00, GpioReg(P().driveEnable()));
}

// --- Virtual calls -----------------------------------------------------------

// Overrides that show the output-data write calls its helpers through the
// virtual table.
class ChipWithHooks final : public FintekF71889 {
  public:
    int enterCalls = 0;
    std::int32_t outputEnableAnswer = 1;

    void EnterConfigMode() override {
        ++enterCalls;
        FintekF71889::EnterConfigMode();
    }
    std::int32_t GetGpio5OutputEnable(std::uint32_t) override { return outputEnableAnswer; }
};

TEST_F(F71889Test, OperationsCallEachOtherThroughTheVirtualTable) {
    ChipWithHooks chip;
    EXPECT_EQ(0, chip.enterCalls) << "the constructor enters directly";
    m_ports.ClearTrace();

    chip.SetGpio5OutputData(1, 1);
    EXPECT_EQ(Join({Select(kGpioLdn), ReadReg(0xA1, 0x00), WriteReg(0xA1, 0x02)}), m_ports.trace());
    EXPECT_EQ(0, chip.enterCalls);

    chip.outputEnableAnswer = 0;
    chip.SetGpio5OutputData(1, 1);
    EXPECT_EQ(1, chip.enterCalls) << "the output-enable write enters config mode";

    chip.GetGpio0PinStatus(0);
    EXPECT_EQ(2, chip.enterCalls);
}

} // namespace
