#include "board/wmi_retry.h"

unsigned long WmiRetryPauseMs(std::uint64_t elapsedMs) {
    return elapsedMs < kWmiEarlyPhaseMs ? kWmiEarlyPauseMs : kWmiLatePauseMs;
}
