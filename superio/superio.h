#pragma once
// The Super I/O family's roots: configuration mode of a Super I/O chip
// (SuperIO), and the operations of a Fintek Super I/O chip (Fintek): hardware
// monitor, GPIO banks, register 0x29 and the nine-bit values. The
// declaration order of each class is the order of its virtual table and must
// not change.

#include <cstdint>
#include <vector>

struct HwAccess;

// --- SuperIO ---

class SuperIO {
  public:
    // Slot 0: unlocks the chip's configuration registers.
    virtual void EnterConfigMode() = 0;
    // Slot 1: locks them again.
    virtual void ExitConfigMode() = 0;

  protected:
    // The object is never destroyed through the family's pointers, so the
    // virtual table holds no destructor.
    SuperIO() = default;
    ~SuperIO() = default;
    SuperIO(const SuperIO &) = delete;
    SuperIO &operator=(const SuperIO &) = delete;

    // The hardware-access object; set by the chip's constructor, which
    // refuses to run without one.
    HwAccess *m_pHwAccess;
};

// --- Fintek ---

class Fintek : public SuperIO {
  public:
    // Hardware monitor (slots 2-6), through the address/data port pair.
    virtual std::int32_t ReadHwmRegister(std::uint8_t reg) = 0;
    virtual std::int32_t ReadHwmVoltage(std::uint8_t reg) = 0; // millivolts
    virtual std::int32_t ReadFanRpm(std::uint8_t reg) = 0;     // reg high, reg + 1 low
    virtual std::int32_t ReadHwmLevel(std::uint8_t reg) = 0;   // 0, 1 or 2
    virtual void WriteHwmLevel(std::uint8_t reg, std::uint32_t level) = 0;

    // Pin status bits (slots 7-14).
    virtual std::int32_t GetGpio7PinStatus(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio6PinStatus(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio5PinStatus(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio4PinStatus(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio3PinStatus(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio2PinStatus(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio1PinStatus(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio0PinStatus(std::uint32_t bit) = 0;

    // Nine-bit values of logical device 0x0B (slots 15-20).
    virtual std::int32_t GetNineBitValue0() = 0;
    virtual std::int32_t GetNineBitValue1() = 0;
    virtual std::int32_t GetNineBitValue2() = 0;
    virtual void SetNineBitValue0(std::int32_t value) = 0;
    virtual void SetNineBitValue1(std::int32_t value) = 0;
    virtual void SetNineBitValue2(std::int32_t value) = 0;

    // Output enable bits (slots 21-28); nonzero on makes the pin an output.
    virtual void SetGpio7OutputEnable(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio6OutputEnable(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio5OutputEnable(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio4OutputEnable(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio3OutputEnable(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio2OutputEnable(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio1OutputEnable(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio0OutputEnable(std::uint32_t bit, std::int32_t on) = 0;

    // Drive enable bits (slots 29-36); only ever set.
    virtual void SetGpio7DriveEnable(std::uint32_t bit) = 0;
    virtual void SetGpio6DriveEnable(std::uint32_t bit) = 0;
    virtual void SetGpio5DriveEnable(std::uint32_t bit) = 0;
    virtual void SetGpio4DriveEnable(std::uint32_t bit) = 0;
    virtual void SetGpio3DriveEnable(std::uint32_t bit) = 0;
    virtual void SetGpio2DriveEnable(std::uint32_t bit) = 0;
    virtual void SetGpio1DriveEnable(std::uint32_t bit) = 0;
    virtual void SetGpio0DriveEnable(std::uint32_t bit) = 0;

    // Output data bits (slots 37-44); the pin is made an output first.
    virtual void SetGpio7OutputData(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio6OutputData(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio5OutputData(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio4OutputData(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio3OutputData(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio2OutputData(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio1OutputData(std::uint32_t bit, std::int32_t on) = 0;
    virtual void SetGpio0OutputData(std::uint32_t bit, std::int32_t on) = 0;

    // Pins 5, 6 and 7 of configuration register 0x29 (slot 45).
    virtual void SetRegister29Bit(std::int32_t pin, std::int32_t on) = 0;

    // Output data bits as last written (slots 46-53).
    virtual std::int32_t GetGpio7OutputData(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio6OutputData(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio5OutputData(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio4OutputData(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio3OutputData(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio2OutputData(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio1OutputData(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio0OutputData(std::uint32_t bit) = 0;

    // Output enable bits (slots 54-61).
    virtual std::int32_t GetGpio7OutputEnable(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio6OutputEnable(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio5OutputEnable(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio4OutputEnable(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio3OutputEnable(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio2OutputEnable(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio1OutputEnable(std::uint32_t bit) = 0;
    virtual std::int32_t GetGpio0OutputEnable(std::uint32_t bit) = 0;

  protected:
    Fintek() = default; // the level table starts empty
    ~Fintek() = default;

    // Hardware-monitor level thresholds, highest first.
    std::vector<std::uint8_t> m_levels;
};
