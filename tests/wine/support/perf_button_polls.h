#pragma once
// The simulated button on port 0x50C (bit 0, low while pressed) and the
// service's polls of it, followed through the stand-in's trace by sequence
// number: for benchmarks and soak runs that press it many times.

#include <windows.h>

#include <cstdint>
#include <optional>

#include "support/sim_client.h"
#include "support/wine_env.h"

namespace wgbtest {

class ButtonPolls {
  public:
    static constexpr uint16_t kPort = 0x50C;

    // The stand-in behind sim must be loaded.
    explicit ButtonPolls(SimControl &sim) : sim_(sim) {}

    // Sets the button's level; false when the stand-in did not take it.
    bool Set(bool pressed);

    // Sequence number that the next port request will carry.
    uint32_t TraceEnd();

    // The first successful read of the button from fromSeq on that saw the
    // level, if one has come.
    std::optional<sim_trace_entry> FirstPoll(uint32_t fromSeq, bool pressed);

    // Waits until a read from fromSeq on has seen the level; that read, or
    // std::nullopt at the deadline.
    std::optional<sim_trace_entry> AwaitPoll(uint32_t fromSeq, bool pressed,
                                             DWORD timeoutMs = kDeadlineMs);

    // Sets the level and waits until a poll has read it: once it returns, the
    // service has acted on that level and sleeps until its next poll.
    std::optional<sim_trace_entry> SetAndAwaitPoll(bool pressed, DWORD timeoutMs = kDeadlineMs);

  private:
    SimControl &sim_;
    uint32_t end_ = 0;
};

} // namespace wgbtest
