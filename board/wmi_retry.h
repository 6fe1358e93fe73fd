#pragma once
// When the WMI query is tried again. At boot WMI may still be starting, and
// on the first boot of an imaged machine it may rebuild its repository for
// many minutes: the query is tried until it answers, often at first, then
// less often. Portable.

#include <cstdint>

inline constexpr unsigned long kWmiEarlyPauseMs = 10000;
inline constexpr unsigned long kWmiLatePauseMs = 60000;
inline constexpr std::uint64_t kWmiEarlyPhaseMs = 120000;

// The pause before the next try, from the time since the first try began:
// 10 s during the first 2 minutes, 60 s afterwards.
inline unsigned long WmiRetryPauseMs(std::uint64_t elapsedMs) {
    return elapsedMs < kWmiEarlyPhaseMs ? kWmiEarlyPauseMs : kWmiLatePauseMs;
}
