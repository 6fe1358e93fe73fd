#include "support/port_trace.h"

#include <vector>

namespace wgbtest {

void PortTrace::SkipToEnd() {
    const std::vector<sim_trace_entry> trace = sim_.Trace(next_);
    if (!trace.empty())
        next_ = trace.back().seq + 1;
}

std::optional<sim_trace_entry> PortTrace::WaitForReads(int count, const Match &match,
                                                       DWORD timeoutMs) {
    int seen = 0;
    std::optional<sim_trace_entry> last;
    WaitUntil(
        [&] {
            for (const sim_trace_entry &entry : sim_.Trace(next_)) {
                next_ = entry.seq + 1;
                if (entry.op == SIM_OP_READ && match(entry) && ++seen == count) {
                    last = entry;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return last;
}

bool PortTrace::WaitForPolls(int count, DWORD timeoutMs) {
    return WaitForReads(
               count, [](const sim_trace_entry &) { return true; }, timeoutMs)
        .has_value();
}

std::optional<sim_trace_entry> PortTrace::WaitForPoll(uint16_t port, uint8_t value,
                                                      DWORD timeoutMs) {
    return WaitForReads(
        1,
        [&](const sim_trace_entry &entry) {
            return entry.port == port && entry.status == 0 && entry.value == value;
        },
        timeoutMs);
}

std::optional<sim_trace_entry> PortTrace::SetAndWaitForPoll(uint16_t port, uint8_t value,
                                                            DWORD timeoutMs) {
    SkipToEnd();
    if (!sim_.SetPort(port, value))
        return std::nullopt;
    return WaitForPoll(port, value, timeoutMs);
}

bool PortTrace::WaitForFailedPolls(int count) {
    return WaitForReads(count, [](const sim_trace_entry &entry) { return entry.status != 0; })
        .has_value();
}

} // namespace wgbtest
