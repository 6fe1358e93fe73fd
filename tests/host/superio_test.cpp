// The F71889 over recorded port requests: the probe, the hardware monitor, the
// eight GPIO ports in each role, register 0x29 and the nine-bit values.

#include "hwaccess/hw_access.h"
#include "hwaccess/port_io.h"
#include "superio/fintek_f71889.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

// 'r' or 'w', the port, and the value read or written.
using Trace = std::vector<std::tuple<char, int, int>>;
Trace g_script; // each read answers with the value at its position here
Trace g_trace;

Trace RequestsOf(const Trace &script, const std::function<void()> &call) {
    g_script = script;
    g_trace.clear();
    call();
    return g_trace;
}

Trace operator+(Trace a, const Trace &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr int kIndex = 0x4E;
constexpr int kData = 0x4F;
constexpr int kRejected = -1; // the call threw the bit-position error
const Trace kEnter = {{'w', kIndex, 0x87}, {'w', kIndex, 0x87}};

Trace Select(int device) {
    return {{'w', kIndex, 0x07}, {'w', kData, device}};
}
Trace Read(int reg, int value) {
    return {{'w', kIndex, reg}, {'r', kData, value}};
}
Trace Write(int reg, int value) {
    return {{'w', kIndex, reg}, {'w', kData, value}};
}
Trace Probe(int base) {
    return kEnter + Select(0x04) + Read(0x60, base >> 8) + Read(0x61, base & 0xFF);
}
// A hardware-monitor register behind the pair at 0x295.
Trace Hwm(int reg, int value) {
    return {{'w', 0x295, reg}, {'r', 0x296, value}};
}

using F = Fintek;
using BitGet = std::int32_t (F::*)(std::uint32_t);
using BitSet = void (F::*)(std::uint32_t, std::int32_t);
struct GpioPort {
    int n;
    BitGet pinStatus, outputData, outputEnable;
    BitSet setOutputEnable, setOutputData;
    void (F::*setDriveEnable)(std::uint32_t);
};
#define GPIO_PORT(n)                                                                               \
    {                                                                                              \
        n, &F::GetGpio##n##PinStatus, &F::GetGpio##n##OutputData, &F::GetGpio##n##OutputEnable,    \
            &F::SetGpio##n##OutputEnable, &F::SetGpio##n##OutputData, &F::SetGpio##n##DriveEnable  \
    }
const GpioPort kPorts[] = {GPIO_PORT(0), GPIO_PORT(1), GPIO_PORT(2), GPIO_PORT(3),
                           GPIO_PORT(4), GPIO_PORT(5), GPIO_PORT(6), GPIO_PORT(7)};

// One call on the chip, the requests it must make and what it must give.
struct Op {
    std::function<int(F &)> call;
    Trace script;
    int result = 0;
};

class SuperIo : public testing::Test {
  protected:
    SuperIo() {
        g_pHwAccess = &m_hwAccess;
        RequestsOf(Probe(0x0295), [this] { m_chip.emplace(); });
    }
    ~SuperIo() override { g_pHwAccess = nullptr; }

    void Expect(const std::vector<Op> &ops) {
        for (std::size_t row = 0; row < ops.size(); ++row) {
            int result = 0;
            const Trace requests = RequestsOf(ops[row].script, [&] {
                try {
                    result = ops[row].call(*m_chip);
                } catch (const std::out_of_range &error) {
                    EXPECT_STREQ("invalid bitset<N> position", error.what());
                    result = kRejected;
                }
            });
            EXPECT_EQ(ops[row].script, requests) << "row " << row;
            EXPECT_EQ(ops[row].result, result) << "row " << row;
        }
    }

    HwAccess m_hwAccess{};
    std::optional<FintekF71889> m_chip;
};

// The base is taken as read, unmasked, and the data port wraps past 0xFFFF.
// The chip stays in configuration mode.
TEST_F(SuperIo, ProbeTakesTheMonitorBaseAsRead) {
    EXPECT_EQ(Probe(0xFFFF), RequestsOf(Probe(0xFFFF), [this] { m_chip.emplace(); }));
    Expect({{[](F &c) { return c.ReadHwmRegister(0x20); },
             {{'w', 0xFFFF, 0x20}, {'r', 0, 0xC3}},
             0xC3}});
}

TEST(SuperIoDeathTest, NoHardwareAccessEndsTheProcess) {
    EXPECT_EXIT(
        {
            g_pHwAccess = nullptr;
            FintekF71889 chip;
            std::exit(1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(SuperIo, HardwareMonitor) {
    std::vector<Op> ops = {
        {[](F &c) { return c.ReadHwmRegister(0x20); }, Hwm(0x20, 0xC3), 0xC3},
        {[](F &c) { return c.ReadHwmVoltage(0x21); }, Hwm(0x21, 0xFF), 2040},
    };
    // Fan: high byte, then low byte of the count; 0x0FFF means no fan.
    const struct {
        int reg, high, low, rpm;
    } fans[] = {{0xA0, 0x05, 0xDC, 1000}, {0xA0, 0x0F, 0xFF, 0},  {0xA0, 0x0F, 0xFE, 366},
                {0xA0, 0x1F, 0xFF, 183},  {0xA0, 0xFF, 0xFF, 22}, {0xA0, 0x00, 0x00, 0},
                {0xFF, 0x05, 0xDC, 1000}};
    for (const auto &f : fans)
        ops.push_back({[&](F &c) { return c.ReadFanRpm(f.reg); },
                       Hwm(f.reg, f.high) + Hwm((f.reg + 1) & 0xFF, f.low), f.rpm});
    // Levels: the first threshold of 0xFF, 0xBF, 0x7F that the value reaches.
    const int levels[][2] = {{0xFF, 0}, {0xFE, 1}, {0xBF, 1}, {0xBE, 2}, {0x7F, 2}, {0x7E, 0}};
    for (const auto &l : levels)
        ops.push_back({[](F &c) { return c.ReadHwmLevel(0x30); }, Hwm(0x30, l[0]), l[1]});
    // Writing a level selects the register, then writes its threshold; level 3 has none.
    const int thresholds[] = {0xFF, 0xBF, 0x7F};
    for (std::uint32_t level = 0; level < 4; ++level)
        ops.push_back({[=](F &c) { return c.WriteHwmLevel(0x31, level), 0; },
                       Trace{{'w', 0x295, 0x31}} +
                           (level < 3 ? Trace{{'w', 0x296, thresholds[level]}} : Trace{})});
    Expect(ops);
}

// Port n's registers start at 0xF0 - 0x10 * n: output enable, output data, pin
// status, drive enable. An output-data write makes the pin an output first;
// on port 2 it also sets the pin's drive enable. Bit positions from 8 on are
// refused after the register read and before any write.
TEST_F(SuperIo, GpioPortsInEachRole) {
    for (const GpioPort &p : kPorts) {
        const int enable = 0xF0 - 0x10 * p.n, data = enable + 1, status = enable + 2;
        const int drive = enable + 3;
        const Trace gpio = kEnter + Select(0x06);
        const Trace driveStep =
            p.n == 2 ? Select(0x06) + Read(drive, 0x00) + Write(drive, 0x02) : Trace{};
        SCOPED_TRACE("GPIO port " + std::to_string(p.n));
        Expect({
            {[&](F &c) { return (c.*p.pinStatus)(1); }, gpio + Read(status, 0x02), 1},
            {[&](F &c) { return (c.*p.outputData)(1); }, gpio + Read(data, 0xFD), 0},
            {[&](F &c) { return (c.*p.outputEnable)(1); }, gpio + Read(enable, 0x02), 1},
            {[&](F &c) { return (c.*p.setOutputEnable)(1, 7), 0; },
             gpio + Read(enable, 0x00) + Write(enable, 0x02)},
            // Without entering configuration mode.
            {[&](F &c) { return (c.*p.setDriveEnable)(1), 0; },
             Select(0x06) + Read(drive, 0x10) + Write(drive, 0x12)},
            {[&](F &c) { return (c.*p.setOutputData)(1, 1), 0; },
             gpio + Read(enable, 0x02) + driveStep + Select(0x06) + Read(data, 0x00) +
                 Write(data, 0x02)},
            {[&](F &c) { return (c.*p.setOutputData)(1, 0), 0; },
             gpio + Read(enable, 0xFD) + gpio + Read(enable, 0xFD) + Write(enable, 0xFF) +
                 driveStep + Select(0x06) + Read(data, 0xFF) + Write(data, 0xFD)},
            {[&](F &c) { return (c.*p.pinStatus)(8); }, gpio + Read(status, 0xFF), kRejected},
            {[&](F &c) { return (c.*p.setOutputEnable)(8, 1), 0; }, gpio + Read(enable, 0xFF),
             kRejected},
            {[&](F &c) { return (c.*p.setOutputData)(8, 1), 0; }, gpio + Read(enable, 0x00),
             kRejected},
        });
    }
}

// Register 0x29 holds pins 5 to 7 in bits 0 to 2; lower pins are ignored and
// higher ones refused after the read. Nine-bit value i keeps bits 1-8 in
// register 0xF0 + i and bit 0 in bit i of register 0xF3. Both use configuration
// mode as an earlier call left it.
TEST_F(SuperIo, ConfigurationRegisters) {
    const Trace gpio = Select(0x06), nine = Select(0x0B);
    Expect({
        {[](F &c) { return c.ExitConfigMode(), 0; }, {{'w', kIndex, 0xAA}}},
        {[](F &c) { return c.SetRegister29Bit(4, 1), 0; }, {}},
        {[](F &c) { return c.SetRegister29Bit(5, 1), 0; },
         gpio + Read(0x29, 0x00) + Write(0x29, 1)},
        {[](F &c) { return c.SetRegister29Bit(6, 0), 0; },
         gpio + Read(0x29, 0xFF) + Write(0x29, 0xFD)},
        {[](F &c) { return c.SetRegister29Bit(7, -7), 0; },
         gpio + Read(0x29, 0x10) + Write(0x29, 0x14)},
        {[](F &c) { return c.SetRegister29Bit(8, 1), 0; }, gpio + Read(0x29, 0xFF), kRejected},
        {[](F &c) { return c.GetNineBitValue0(); }, nine + Read(0xF0, 0x01) + Read(0xF3, 0xFE), 2},
        {[](F &c) { return c.GetNineBitValue1(); }, nine + Read(0xF1, 0xFF) + Read(0xF3, 0x02),
         0x1FF},
        {[](F &c) { return c.GetNineBitValue2(); }, nine + Read(0xF2, 0x80) + Read(0xF3, 0x04),
         0x101},
        {[](F &c) { return c.SetNineBitValue0(2), 0; },
         nine + Read(0xF3, 0xFF) + Write(0xF3, 0xFE) + Write(0xF0, 0x01)},
        {[](F &c) { return c.SetNineBitValue1(0x1FF), 0; },
         nine + Read(0xF3, 0x00) + Write(0xF3, 0x02) + Write(0xF1, 0xFF)},
        // Bits above the ninth are dropped.
        {[](F &c) { return c.SetNineBitValue2(-3), 0; },
         nine + Read(0xF3, 0x00) + Write(0xF3, 0x04) + Write(0xF2, 0xFE)},
    });
}

} // namespace

// The host build's port functions.
std::uint8_t ReadIoPortByte(std::uint16_t port) {
    const std::size_t at = g_trace.size();
    const int value = at < g_script.size() ? std::get<2>(g_script[at]) : 0xFF;
    g_trace.emplace_back('r', port, value);
    return static_cast<std::uint8_t>(value);
}

bool WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
    g_trace.emplace_back('w', port, value);
    return true;
}
