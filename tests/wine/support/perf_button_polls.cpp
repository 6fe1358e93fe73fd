#include "support/perf_button_polls.h"

#include <vector>

namespace wgbtest {

namespace {

constexpr uint8_t kPressedByte = 0xFE; // bit 0 low
constexpr uint8_t kReleasedByte = 0xFF;

bool IsPressed(uint8_t value) {
    return (value & 1) == 0;
}

} // namespace

bool ButtonPolls::Set(bool pressed) {
    return sim_.SetPort(kPort, pressed ? kPressedByte : kReleasedByte);
}

uint32_t ButtonPolls::TraceEnd() {
    std::vector<sim_trace_entry> entries = sim_.Trace(end_);
    if (!entries.empty())
        end_ = entries.back().seq + 1;
    return end_;
}

std::optional<sim_trace_entry> ButtonPolls::FirstPoll(uint32_t fromSeq, bool pressed) {
    for (const sim_trace_entry &entry : sim_.Trace(fromSeq))
        if (entry.op == SIM_OP_READ && entry.port == kPort && entry.status == 0 &&
            IsPressed(entry.value) == pressed)
            return entry;
    return std::nullopt;
}

std::optional<sim_trace_entry> ButtonPolls::AwaitPoll(uint32_t fromSeq, bool pressed,
                                                      DWORD timeoutMs) {
    std::optional<sim_trace_entry> poll;
    WaitUntil(
        [&] {
            poll = FirstPoll(fromSeq, pressed);
            return poll.has_value();
        },
        timeoutMs);
    return poll;
}

std::optional<sim_trace_entry> ButtonPolls::SetAndAwaitPoll(bool pressed, DWORD timeoutMs) {
    const uint32_t from = TraceEnd();
    if (!Set(pressed))
        return std::nullopt;
    return AwaitPoll(from, pressed, timeoutMs);
}

} // namespace wgbtest
