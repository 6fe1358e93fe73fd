#pragma once
// The client of the I/O driver stand-in's control device (sim/sim_control.h):
// what the tools and the Wine tests use to press and release the simulated
// button and to follow the service's polls of it.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/owned_handle.h"
#include "sim/sim_control.h"

namespace sim {

// The default button input: port 0x50C, bit 0 low while pressed.
constexpr std::uint16_t kButtonPort = 0x50C;
constexpr std::uint8_t kPressed = 0xFE;
constexpr std::uint8_t kReleased = 0xFF;

class Control {
  public:
    // Opens \\.\QuendraSimCtl: IsOpen once the stand-in is loaded.
    Control();
    bool IsOpen() const { return static_cast<bool>(device_); }

    bool SetPort(std::uint16_t port, std::uint8_t value);
    // Makes every port read fail, or answer again.
    bool FailReads(bool fail);
    // With refuse, the stand-in will not unload: a stop is refused.
    bool RefuseUnload(bool refuse);
    // Port requests of the main device from sequence number fromSeq on, oldest first.
    std::vector<sim_trace_entry> Trace(std::uint32_t fromSeq = 0);

    // Waits for count reads that match, counted from the cursor on, and moves
    // the cursor behind the last of them: that read, or none at the deadline.
    std::optional<sim_trace_entry>
    WaitForReads(int count, const std::function<bool(const sim_trace_entry &)> &match,
                 DWORD timeoutMs);
    // Waits for count more reads, whatever they return.
    bool WaitForPolls(int count, DWORD timeoutMs);
    // Gives the input a new level and waits for the first read that returns
    // it: the service has then acted on that level and sleeps until its next poll.
    std::optional<sim_trace_entry> SetAndWaitForPoll(std::uint16_t port, std::uint8_t value,
                                                     DWORD timeoutMs);

  private:
    OwnedHandle device_;
    std::uint32_t next_ = 0;
};

} // namespace sim
