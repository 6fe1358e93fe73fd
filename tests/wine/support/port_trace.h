#pragma once
// The service's port requests as the stand-in traces them, followed with a
// cursor so that each wait looks only at what came after the last one; and
// the simulated button that the service polls on a served board.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "support/sim_client.h"
#include "support/wine_env.h"

namespace wgbtest {

// The default button input: port 0x50C, bit 0 low while pressed.
constexpr uint16_t kButtonPort = 0x50C;
constexpr uint8_t kButtonPressed = 0xFE;
constexpr uint8_t kButtonReleased = 0xFF;

class PortTrace {
  public:
    using Match = std::function<bool(const sim_trace_entry &)>;

    // The stand-in behind sim must be loaded.
    explicit PortTrace(SimControl &sim) : sim_(sim) {}

    // Moves the cursor behind every request traced so far.
    void SkipToEnd();

    // Waits for count reads that match, counted from the cursor on, and moves
    // the cursor behind the last of them; that read, or none at the deadline.
    std::optional<sim_trace_entry> WaitForReads(int count, const Match &match,
                                                DWORD timeoutMs = kDeadlineMs);

    // Waits for count more polls, whatever they read.
    bool WaitForPolls(int count, DWORD timeoutMs = kDeadlineMs);

    // Waits for the first successful poll of port that reads value.
    std::optional<sim_trace_entry> WaitForPoll(uint16_t port, uint8_t value,
                                               DWORD timeoutMs = kDeadlineMs);

    // Gives the input a new level and waits for the first poll that reads it:
    // once it returns, the service has acted on that level and sleeps until
    // its next poll.
    std::optional<sim_trace_entry> SetAndWaitForPoll(uint16_t port, uint8_t value,
                                                     DWORD timeoutMs = kDeadlineMs);

    // Waits for count more polls whose read fails.
    bool WaitForFailedPolls(int count);

  private:
    SimControl &sim_;
    uint32_t next_ = 0;
};

} // namespace wgbtest
