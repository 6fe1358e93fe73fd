#pragma once
// The Fintek F71889 Super I/O chip, reached through configuration ports
// 0x4E/0x4F and the hardware-monitor port pair that the chip reports.

#include "superio/superio.h"

#include <cstdint>

class FintekF71889 : public Fintek {
  public:
    // Reads g_pHwAccess and ends the process with exit code 0 when it is null.
    // Otherwise fills the level table, enters configuration mode (and leaves
    // the chip in it) and reads the hardware-monitor base address.
    FintekF71889();

    void EnterConfigMode() override;
    void ExitConfigMode() override;

    std::int32_t ReadHwmRegister(std::uint8_t reg) override;
    std::int32_t ReadHwmVoltage(std::uint8_t reg) override;
    std::int32_t ReadFanRpm(std::uint8_t reg) override;
    std::int32_t ReadHwmLevel(std::uint8_t reg) override;
    void WriteHwmLevel(std::uint8_t reg, std::uint32_t level) override;

    std::int32_t GetGpio7PinStatus(std::uint32_t bit) override;
    std::int32_t GetGpio6PinStatus(std::uint32_t bit) override;
    std::int32_t GetGpio5PinStatus(std::uint32_t bit) override;
    std::int32_t GetGpio4PinStatus(std::uint32_t bit) override;
    std::int32_t GetGpio3PinStatus(std::uint32_t bit) override;
    std::int32_t GetGpio2PinStatus(std::uint32_t bit) override;
    std::int32_t GetGpio1PinStatus(std::uint32_t bit) override;
    std::int32_t GetGpio0PinStatus(std::uint32_t bit) override;

    std::int32_t GetNineBitValue0() override;
    std::int32_t GetNineBitValue1() override;
    std::int32_t GetNineBitValue2() override;
    void SetNineBitValue0(std::int32_t value) override;
    void SetNineBitValue1(std::int32_t value) override;
    void SetNineBitValue2(std::int32_t value) override;

    void SetGpio7OutputEnable(std::uint32_t bit, std::int32_t on) override;
    void SetGpio6OutputEnable(std::uint32_t bit, std::int32_t on) override;
    void SetGpio5OutputEnable(std::uint32_t bit, std::int32_t on) override;
    void SetGpio4OutputEnable(std::uint32_t bit, std::int32_t on) override;
    void SetGpio3OutputEnable(std::uint32_t bit, std::int32_t on) override;
    void SetGpio2OutputEnable(std::uint32_t bit, std::int32_t on) override;
    void SetGpio1OutputEnable(std::uint32_t bit, std::int32_t on) override;
    void SetGpio0OutputEnable(std::uint32_t bit, std::int32_t on) override;

    void SetGpio7DriveEnable(std::uint32_t bit) override;
    void SetGpio6DriveEnable(std::uint32_t bit) override;
    void SetGpio5DriveEnable(std::uint32_t bit) override;
    void SetGpio4DriveEnable(std::uint32_t bit) override;
    void SetGpio3DriveEnable(std::uint32_t bit) override;
    void SetGpio2DriveEnable(std::uint32_t bit) override;
    void SetGpio1DriveEnable(std::uint32_t bit) override;
    void SetGpio0DriveEnable(std::uint32_t bit) override;

    void SetGpio7OutputData(std::uint32_t bit, std::int32_t on) override;
    void SetGpio6OutputData(std::uint32_t bit, std::int32_t on) override;
    void SetGpio5OutputData(std::uint32_t bit, std::int32_t on) override;
    void SetGpio4OutputData(std::uint32_t bit, std::int32_t on) override;
    void SetGpio3OutputData(std::uint32_t bit, std::int32_t on) override;
    void SetGpio2OutputData(std::uint32_t bit, std::int32_t on) override;
    void SetGpio1OutputData(std::uint32_t bit, std::int32_t on) override;
    void SetGpio0OutputData(std::uint32_t bit, std::int32_t on) override;

    void SetRegister29Bit(std::int32_t pin, std::int32_t on) override;

    std::int32_t GetGpio7OutputData(std::uint32_t bit) override;
    std::int32_t GetGpio6OutputData(std::uint32_t bit) override;
    std::int32_t GetGpio5OutputData(std::uint32_t bit) override;
    std::int32_t GetGpio4OutputData(std::uint32_t bit) override;
    std::int32_t GetGpio3OutputData(std::uint32_t bit) override;
    std::int32_t GetGpio2OutputData(std::uint32_t bit) override;
    std::int32_t GetGpio1OutputData(std::uint32_t bit) override;
    std::int32_t GetGpio0OutputData(std::uint32_t bit) override;

    std::int32_t GetGpio7OutputEnable(std::uint32_t bit) override;
    std::int32_t GetGpio6OutputEnable(std::uint32_t bit) override;
    std::int32_t GetGpio5OutputEnable(std::uint32_t bit) override;
    std::int32_t GetGpio4OutputEnable(std::uint32_t bit) override;
    std::int32_t GetGpio3OutputEnable(std::uint32_t bit) override;
    std::int32_t GetGpio2OutputEnable(std::uint32_t bit) override;
    std::int32_t GetGpio1OutputEnable(std::uint32_t bit) override;
    std::int32_t GetGpio0OutputEnable(std::uint32_t bit) override;

  protected:
    // Hardware-monitor port pair; the data port is always the address port + 1.
    std::uint16_t m_wAddressPort;
    std::uint16_t m_wDataPort;

  private:
    void InitLevelTable();
    void ReadHwmBaseAddress();

    // Configuration-port primitives.
    static void SelectDevice(std::uint8_t device);
    static std::uint8_t ReadConfig(std::uint8_t reg);
    static void WriteConfig(std::uint8_t reg, std::uint8_t value);

    // Hardware-monitor register access.
    std::uint8_t ReadHwm(std::uint8_t reg) const;

    // The GPIO families, shared by all eight ports.
    std::int32_t ReadGpioBit(unsigned port, std::uint8_t role, std::uint32_t bit);
    void WriteGpioBit(unsigned port, std::uint8_t role, std::uint32_t bit, std::int32_t on);
    void SetGpioDriveEnableBit(unsigned port, std::uint32_t bit);
    void WriteGpioOutputData(unsigned port, std::uint32_t bit, std::int32_t on);

    // The nine-bit values, shared by all three.
    std::int32_t GetNineBitValue(unsigned index);
    void SetNineBitValue(unsigned index, std::int32_t value);
};
