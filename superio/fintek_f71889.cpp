#include "superio/fintek_f71889.h"

#include "hwaccess/hw_access.h"
#include "hwaccess/port_io.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

// --- registers ---
// Port, key, register and logical-device numbers of the Fintek F71889 as
// this system uses them.

namespace f71889 {

// Configuration port pair: the index port selects a register, the data port
// reads or writes it.
constexpr std::uint16_t kConfigIndexPort = 0x4E;
constexpr std::uint16_t kConfigDataPort = 0x4F;

// Written twice to the index port to enter configuration mode, once to leave.
constexpr std::uint8_t kEntryKey = 0x87;
constexpr std::uint8_t kExitKey = 0xAA;

// Global configuration registers.
constexpr std::uint8_t kLogicalDeviceSelect = 0x07;
constexpr std::uint8_t kRegister29 = 0x29;

// Logical devices.
constexpr std::uint8_t kHardwareMonitorDevice = 0x04;
constexpr std::uint8_t kGpioDevice = 0x06;
constexpr std::uint8_t kNineBitDevice = 0x0B;

// Base address of the selected logical device, high byte first.
constexpr std::uint8_t kBaseAddressHigh = 0x60;
constexpr std::uint8_t kBaseAddressLow = 0x61;

// GPIO banks of the GPIO device: port n owns four registers from
// 0xF0 - 0x10 * n on.
constexpr unsigned kGpioPortCount = 8;
constexpr std::uint8_t kGpioBank0 = 0xF0;
constexpr std::uint8_t kGpioBankStride = 0x10;
enum GpioRole : std::uint8_t {
    kGpioOutputEnable = 0, // 1 = the pin is an output
    kGpioOutputData = 1,
    kGpioPinStatus = 2,
    kGpioDriveEnable = 3,
};

// The three nine-bit values of the nine-bit device: value i (0 to 2) keeps
// bits 1..8 in kNineBitHigh0 + i and bit 0 in bit i of the shared
// kNineBitLowBits.
constexpr std::uint8_t kNineBitHigh0 = 0xF0;
constexpr std::uint8_t kNineBitLowBits = 0xF3;

// Register 0x29 holds a three-bit field for pins 5, 6 and 7.
constexpr int kRegister29FirstPin = 5;
constexpr unsigned kRegister29PinCount = 3;

// Fan count that means no fan is connected.
constexpr std::uint8_t kNoFanHigh = 0x0F;
constexpr std::uint8_t kNoFanLow = 0xFF;
// Revolutions per minute = kFanRpmDividend / count.
constexpr std::int32_t kFanRpmDividend = 1500000;

// Voltage inputs count in 8 mV steps.
constexpr std::int32_t kMillivoltsPerStep = 8;

// Hardware-monitor level thresholds, highest first.
constexpr std::uint8_t kLevelThresholds[] = {0xFF, 0xBF, 0x7F};

} // namespace f71889

using namespace f71889;

namespace {

// The operations of one GPIO port that an output-data write goes through
// (called through the virtual table); the port's registers are at
// GpioRegister.
struct GpioBank {
    std::int32_t (Fintek::*getOutputEnable)(std::uint32_t bit);
    void (Fintek::*setOutputEnable)(std::uint32_t bit, std::int32_t on);
    // Set on every output-data write of the port; only port 2 has one.
    void (Fintek::*setDriveEnable)(std::uint32_t bit);
};

constexpr GpioBank kGpioBanks[kGpioPortCount] = {
    {&Fintek::GetGpio0OutputEnable, &Fintek::SetGpio0OutputEnable, nullptr},
    {&Fintek::GetGpio1OutputEnable, &Fintek::SetGpio1OutputEnable, nullptr},
    {&Fintek::GetGpio2OutputEnable, &Fintek::SetGpio2OutputEnable, &Fintek::SetGpio2DriveEnable},
    {&Fintek::GetGpio3OutputEnable, &Fintek::SetGpio3OutputEnable, nullptr},
    {&Fintek::GetGpio4OutputEnable, &Fintek::SetGpio4OutputEnable, nullptr},
    {&Fintek::GetGpio5OutputEnable, &Fintek::SetGpio5OutputEnable, nullptr},
    {&Fintek::GetGpio6OutputEnable, &Fintek::SetGpio6OutputEnable, nullptr},
    {&Fintek::GetGpio7OutputEnable, &Fintek::SetGpio7OutputEnable, nullptr},
};

// Bit positions behave like those of std::bitset<8>, with the message
// callers of this chip interface expect.
void CheckBitPosition(std::uint32_t bit, std::uint32_t width = 8) {
    if (bit >= width) {
        throw std::out_of_range("invalid bitset<N> position");
    }
}

std::int32_t TestBit(std::uint8_t value, std::uint32_t bit) {
    CheckBitPosition(bit);
    return (value >> bit) & 1;
}

std::uint8_t WithBit(std::uint8_t value, std::uint32_t bit, bool on) {
    CheckBitPosition(bit);
    const auto mask = static_cast<std::uint8_t>(1u << bit);
    return on ? static_cast<std::uint8_t>(value | mask) : static_cast<std::uint8_t>(value & ~mask);
}

std::uint8_t GpioRegister(unsigned port, std::uint8_t role) {
    return static_cast<std::uint8_t>(kGpioBank0 - kGpioBankStride * port + role);
}

} // namespace

FintekF71889::FintekF71889() {
    m_pHwAccess = g_pHwAccess;
    if (m_pHwAccess == nullptr) {
        std::exit(0);
    }
    InitLevelTable();
    // Not through the virtual table: the object is still being built.
    FintekF71889::EnterConfigMode();
    ReadHwmBaseAddress();
}

void FintekF71889::InitLevelTable() {
    for (std::uint8_t threshold : kLevelThresholds) {
        m_levels.push_back(threshold);
    }
}

// The probe trusts what it reads: no masking, no identification check.
void FintekF71889::ReadHwmBaseAddress() {
    SelectDevice(kHardwareMonitorDevice);
    const std::uint8_t high = ReadConfig(kBaseAddressHigh);
    const std::uint8_t low = ReadConfig(kBaseAddressLow);
    m_wAddressPort = static_cast<std::uint16_t>(high << 8 | low);
    m_wDataPort = static_cast<std::uint16_t>(m_wAddressPort + 1);
}

void FintekF71889::EnterConfigMode() {
    WriteIoPortByte(kConfigIndexPort, kEntryKey);
    WriteIoPortByte(kConfigIndexPort, kEntryKey);
}

void FintekF71889::ExitConfigMode() {
    WriteIoPortByte(kConfigIndexPort, kExitKey);
}

void FintekF71889::SelectDevice(std::uint8_t device) {
    WriteConfig(kLogicalDeviceSelect, device);
}

std::uint8_t FintekF71889::ReadConfig(std::uint8_t reg) {
    WriteIoPortByte(kConfigIndexPort, reg);
    return ReadIoPortByte(kConfigDataPort);
}

void FintekF71889::WriteConfig(std::uint8_t reg, std::uint8_t value) {
    WriteIoPortByte(kConfigIndexPort, reg);
    WriteIoPortByte(kConfigDataPort, value);
}

std::uint8_t FintekF71889::ReadHwm(std::uint8_t reg) const {
    WriteIoPortByte(m_wAddressPort, reg);
    return ReadIoPortByte(m_wDataPort);
}

// Hardware monitor.

std::int32_t FintekF71889::ReadHwmRegister(std::uint8_t reg) {
    return ReadHwm(reg);
}

std::int32_t FintekF71889::ReadHwmVoltage(std::uint8_t reg) {
    return ReadHwm(reg) * kMillivoltsPerStep;
}

std::int32_t FintekF71889::ReadFanRpm(std::uint8_t reg) {
    const std::uint8_t high = ReadHwm(reg);
    const std::uint8_t low = ReadHwm(static_cast<std::uint8_t>(reg + 1));
    if (high == kNoFanHigh && low == kNoFanLow) {
        return 0;
    }
    const std::int32_t count = high * 256 + low;
    if (count == 0) {
        return 0; // a stopped counter has no speed either
    }
    return kFanRpmDividend / count;
}

std::int32_t FintekF71889::ReadHwmLevel(std::uint8_t reg) {
    const std::uint8_t value = ReadHwm(reg);
    for (std::size_t level = 0; level < m_levels.size(); ++level) {
        if (value >= m_levels[level]) {
            return static_cast<std::int32_t>(level);
        }
    }
    return 0;
}

void FintekF71889::WriteHwmLevel(std::uint8_t reg, std::uint32_t level) {
    WriteIoPortByte(m_wAddressPort, reg);
    if (level < m_levels.size()) {
        WriteIoPortByte(m_wDataPort, m_levels[level]);
    }
}

// GPIO families.

std::int32_t FintekF71889::ReadGpioBit(unsigned port, std::uint8_t role, std::uint32_t bit) {
    EnterConfigMode();
    SelectDevice(kGpioDevice);
    return TestBit(ReadConfig(GpioRegister(port, role)), bit);
}

void FintekF71889::WriteGpioBit(unsigned port, std::uint8_t role, std::uint32_t bit,
                                std::int32_t on) {
    EnterConfigMode();
    SelectDevice(kGpioDevice);
    const std::uint8_t reg = GpioRegister(port, role);
    const std::uint8_t value = ReadConfig(reg);
    WriteConfig(reg, WithBit(value, bit, on != 0));
}

// Uses configuration mode as an earlier call left it.
void FintekF71889::SetGpioDriveEnableBit(unsigned port, std::uint32_t bit) {
    SelectDevice(kGpioDevice);
    const std::uint8_t reg = GpioRegister(port, kGpioDriveEnable);
    const std::uint8_t value = ReadConfig(reg);
    WriteConfig(reg, WithBit(value, bit, true));
}

// Makes the pin an output before driving it. The output-enable read checks
// the bit position before anything is written.
void FintekF71889::WriteGpioOutputData(unsigned port, std::uint32_t bit, std::int32_t on) {
    const GpioBank &bank = kGpioBanks[port];
    if ((this->*bank.getOutputEnable)(bit) == 0) {
        (this->*bank.setOutputEnable)(bit, 1);
    }
    if (bank.setDriveEnable != nullptr) {
        (this->*bank.setDriveEnable)(bit);
    }
    SelectDevice(kGpioDevice);
    const std::uint8_t reg = GpioRegister(port, kGpioOutputData);
    const std::uint8_t value = ReadConfig(reg);
    WriteConfig(reg, WithBit(value, bit, on != 0));
}

std::int32_t FintekF71889::GetGpio7PinStatus(std::uint32_t bit) {
    return ReadGpioBit(7, kGpioPinStatus, bit);
}
std::int32_t FintekF71889::GetGpio6PinStatus(std::uint32_t bit) {
    return ReadGpioBit(6, kGpioPinStatus, bit);
}
std::int32_t FintekF71889::GetGpio5PinStatus(std::uint32_t bit) {
    return ReadGpioBit(5, kGpioPinStatus, bit);
}
std::int32_t FintekF71889::GetGpio4PinStatus(std::uint32_t bit) {
    return ReadGpioBit(4, kGpioPinStatus, bit);
}
std::int32_t FintekF71889::GetGpio3PinStatus(std::uint32_t bit) {
    return ReadGpioBit(3, kGpioPinStatus, bit);
}
std::int32_t FintekF71889::GetGpio2PinStatus(std::uint32_t bit) {
    return ReadGpioBit(2, kGpioPinStatus, bit);
}
std::int32_t FintekF71889::GetGpio1PinStatus(std::uint32_t bit) {
    return ReadGpioBit(1, kGpioPinStatus, bit);
}
std::int32_t FintekF71889::GetGpio0PinStatus(std::uint32_t bit) {
    return ReadGpioBit(0, kGpioPinStatus, bit);
}

void FintekF71889::SetGpio7OutputEnable(std::uint32_t bit, std::int32_t on) {
    WriteGpioBit(7, kGpioOutputEnable, bit, on);
}
void FintekF71889::SetGpio6OutputEnable(std::uint32_t bit, std::int32_t on) {
    WriteGpioBit(6, kGpioOutputEnable, bit, on);
}
void FintekF71889::SetGpio5OutputEnable(std::uint32_t bit, std::int32_t on) {
    WriteGpioBit(5, kGpioOutputEnable, bit, on);
}
void FintekF71889::SetGpio4OutputEnable(std::uint32_t bit, std::int32_t on) {
    WriteGpioBit(4, kGpioOutputEnable, bit, on);
}
void FintekF71889::SetGpio3OutputEnable(std::uint32_t bit, std::int32_t on) {
    WriteGpioBit(3, kGpioOutputEnable, bit, on);
}
void FintekF71889::SetGpio2OutputEnable(std::uint32_t bit, std::int32_t on) {
    WriteGpioBit(2, kGpioOutputEnable, bit, on);
}
void FintekF71889::SetGpio1OutputEnable(std::uint32_t bit, std::int32_t on) {
    WriteGpioBit(1, kGpioOutputEnable, bit, on);
}
void FintekF71889::SetGpio0OutputEnable(std::uint32_t bit, std::int32_t on) {
    WriteGpioBit(0, kGpioOutputEnable, bit, on);
}

void FintekF71889::SetGpio7DriveEnable(std::uint32_t bit) {
    SetGpioDriveEnableBit(7, bit);
}
void FintekF71889::SetGpio6DriveEnable(std::uint32_t bit) {
    SetGpioDriveEnableBit(6, bit);
}
void FintekF71889::SetGpio5DriveEnable(std::uint32_t bit) {
    SetGpioDriveEnableBit(5, bit);
}
void FintekF71889::SetGpio4DriveEnable(std::uint32_t bit) {
    SetGpioDriveEnableBit(4, bit);
}
void FintekF71889::SetGpio3DriveEnable(std::uint32_t bit) {
    SetGpioDriveEnableBit(3, bit);
}
void FintekF71889::SetGpio2DriveEnable(std::uint32_t bit) {
    SetGpioDriveEnableBit(2, bit);
}
void FintekF71889::SetGpio1DriveEnable(std::uint32_t bit) {
    SetGpioDriveEnableBit(1, bit);
}
void FintekF71889::SetGpio0DriveEnable(std::uint32_t bit) {
    SetGpioDriveEnableBit(0, bit);
}

void FintekF71889::SetGpio7OutputData(std::uint32_t bit, std::int32_t on) {
    WriteGpioOutputData(7, bit, on);
}
void FintekF71889::SetGpio6OutputData(std::uint32_t bit, std::int32_t on) {
    WriteGpioOutputData(6, bit, on);
}
void FintekF71889::SetGpio5OutputData(std::uint32_t bit, std::int32_t on) {
    WriteGpioOutputData(5, bit, on);
}
void FintekF71889::SetGpio4OutputData(std::uint32_t bit, std::int32_t on) {
    WriteGpioOutputData(4, bit, on);
}
void FintekF71889::SetGpio3OutputData(std::uint32_t bit, std::int32_t on) {
    WriteGpioOutputData(3, bit, on);
}
void FintekF71889::SetGpio2OutputData(std::uint32_t bit, std::int32_t on) {
    WriteGpioOutputData(2, bit, on);
}
void FintekF71889::SetGpio1OutputData(std::uint32_t bit, std::int32_t on) {
    WriteGpioOutputData(1, bit, on);
}
void FintekF71889::SetGpio0OutputData(std::uint32_t bit, std::int32_t on) {
    WriteGpioOutputData(0, bit, on);
}

std::int32_t FintekF71889::GetGpio7OutputData(std::uint32_t bit) {
    return ReadGpioBit(7, kGpioOutputData, bit);
}
std::int32_t FintekF71889::GetGpio6OutputData(std::uint32_t bit) {
    return ReadGpioBit(6, kGpioOutputData, bit);
}
std::int32_t FintekF71889::GetGpio5OutputData(std::uint32_t bit) {
    return ReadGpioBit(5, kGpioOutputData, bit);
}
std::int32_t FintekF71889::GetGpio4OutputData(std::uint32_t bit) {
    return ReadGpioBit(4, kGpioOutputData, bit);
}
std::int32_t FintekF71889::GetGpio3OutputData(std::uint32_t bit) {
    return ReadGpioBit(3, kGpioOutputData, bit);
}
std::int32_t FintekF71889::GetGpio2OutputData(std::uint32_t bit) {
    return ReadGpioBit(2, kGpioOutputData, bit);
}
std::int32_t FintekF71889::GetGpio1OutputData(std::uint32_t bit) {
    return ReadGpioBit(1, kGpioOutputData, bit);
}
std::int32_t FintekF71889::GetGpio0OutputData(std::uint32_t bit) {
    return ReadGpioBit(0, kGpioOutputData, bit);
}

std::int32_t FintekF71889::GetGpio7OutputEnable(std::uint32_t bit) {
    return ReadGpioBit(7, kGpioOutputEnable, bit);
}
std::int32_t FintekF71889::GetGpio6OutputEnable(std::uint32_t bit) {
    return ReadGpioBit(6, kGpioOutputEnable, bit);
}
std::int32_t FintekF71889::GetGpio5OutputEnable(std::uint32_t bit) {
    return ReadGpioBit(5, kGpioOutputEnable, bit);
}
std::int32_t FintekF71889::GetGpio4OutputEnable(std::uint32_t bit) {
    return ReadGpioBit(4, kGpioOutputEnable, bit);
}
std::int32_t FintekF71889::GetGpio3OutputEnable(std::uint32_t bit) {
    return ReadGpioBit(3, kGpioOutputEnable, bit);
}
std::int32_t FintekF71889::GetGpio2OutputEnable(std::uint32_t bit) {
    return ReadGpioBit(2, kGpioOutputEnable, bit);
}
std::int32_t FintekF71889::GetGpio1OutputEnable(std::uint32_t bit) {
    return ReadGpioBit(1, kGpioOutputEnable, bit);
}
std::int32_t FintekF71889::GetGpio0OutputEnable(std::uint32_t bit) {
    return ReadGpioBit(0, kGpioOutputEnable, bit);
}

// Register 0x29: pins 5, 6 and 7 are bits 0, 1 and 2. Uses configuration
// mode as an earlier call left it.
void FintekF71889::SetRegister29Bit(std::int32_t pin, std::int32_t on) {
    if (pin < kRegister29FirstPin) {
        return;
    }
    SelectDevice(kGpioDevice);
    const std::uint8_t value = ReadConfig(kRegister29);
    const auto bit = static_cast<std::uint32_t>(pin - kRegister29FirstPin);
    CheckBitPosition(bit, kRegister29PinCount);
    WriteConfig(kRegister29, WithBit(value, bit, on != 0));
}

// Nine-bit values. They use configuration mode as an earlier call left it.

std::int32_t FintekF71889::GetNineBitValue(unsigned index) {
    SelectDevice(kNineBitDevice);
    const std::uint8_t high = ReadConfig(static_cast<std::uint8_t>(kNineBitHigh0 + index));
    const std::uint8_t lowBits = ReadConfig(kNineBitLowBits);
    return high * 2 + TestBit(lowBits, index);
}

// Stores the low nine bits of the value's two's-complement form, bit 0
// first.
void FintekF71889::SetNineBitValue(unsigned index, std::int32_t value) {
    SelectDevice(kNineBitDevice);
    const std::uint8_t lowBits = ReadConfig(kNineBitLowBits);
    WriteConfig(kNineBitLowBits, WithBit(lowBits, index, value % 2 != 0));
    const auto high = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> 1);
    WriteConfig(static_cast<std::uint8_t>(kNineBitHigh0 + index), high);
}

std::int32_t FintekF71889::GetNineBitValue0() {
    return GetNineBitValue(0);
}
std::int32_t FintekF71889::GetNineBitValue1() {
    return GetNineBitValue(1);
}
std::int32_t FintekF71889::GetNineBitValue2() {
    return GetNineBitValue(2);
}
void FintekF71889::SetNineBitValue0(std::int32_t value) {
    SetNineBitValue(0, value);
}
void FintekF71889::SetNineBitValue1(std::int32_t value) {
    SetNineBitValue(1, value);
}
void FintekF71889::SetNineBitValue2(std::int32_t value) {
    SetNineBitValue(2, value);
}
