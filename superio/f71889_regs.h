#pragma once
// Port, key, register and logical-device numbers of the Fintek F71889 as
// this system uses them.

#include <cstdint>

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

// Nine-bit values of the nine-bit device: value i keeps bits 1..8 in
// kNineBitHigh0 + i and bit 0 in bit i of the shared kNineBitLowBits.
constexpr unsigned kNineBitValueCount = 3;
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
