#include "sim/sim_client.h"

#include <cstring>

namespace sim {

namespace {
constexpr DWORD kPollMs = 50;
constexpr std::uint32_t kTraceBatch = 4096;
} // namespace

Control::Control()
    : device_(CreateFileA(SIM_CONTROL_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

bool Control::SetPort(std::uint16_t port, std::uint8_t value) {
    sim_port_value in = {port, value, 0};
    DWORD returned = 0;
    return DeviceIoControl(device_.get(), IOCTL_SIM_SET_PORT, &in, sizeof in, nullptr, 0, &returned,
                           nullptr);
}

bool Control::FailReads(bool fail) {
    std::uint32_t in = fail ? 1 : 0;
    DWORD returned = 0;
    return DeviceIoControl(device_.get(), IOCTL_SIM_FAIL_READS, &in, sizeof in, nullptr, 0,
                           &returned, nullptr);
}

bool Control::RefuseUnload(bool refuse) {
    std::uint32_t in = refuse ? 1 : 0;
    DWORD returned = 0;
    return DeviceIoControl(device_.get(), IOCTL_SIM_REFUSE_UNLOAD, &in, sizeof in, nullptr, 0,
                           &returned, nullptr);
}

std::vector<sim_trace_entry> Control::Trace(std::uint32_t fromSeq) {
    std::vector<sim_trace_entry> trace;
    std::vector<std::uint8_t> buffer(sizeof(sim_trace_header) +
                                     kTraceBatch * sizeof(sim_trace_entry));
    for (;;) {
        DWORD returned = 0;
        sim_trace_header header;
        if (!DeviceIoControl(device_.get(), IOCTL_SIM_GET_TRACE, &fromSeq, sizeof fromSeq,
                             buffer.data(), static_cast<DWORD>(buffer.size()), &returned,
                             nullptr) ||
            returned < sizeof header)
            return trace;
        std::memcpy(&header, buffer.data(), sizeof header);
        trace.resize(trace.size() + header.count);
        std::memcpy(&trace[trace.size() - header.count], buffer.data() + sizeof header,
                    header.count * sizeof(sim_trace_entry));
        fromSeq = header.first + header.count;
        if (header.count == 0 || fromSeq >= header.total)
            return trace;
    }
}

std::optional<sim_trace_entry>
Control::WaitForReads(int count, const std::function<bool(const sim_trace_entry &)> &match,
                      DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    int seen = 0;
    do {
        for (const sim_trace_entry &entry : Trace(next_)) {
            next_ = entry.seq + 1;
            if (entry.op == SIM_OP_READ && match(entry) && ++seen == count)
                return entry;
        }
        Sleep(kPollMs);
    } while (GetTickCount64() < deadline);
    return std::nullopt;
}

bool Control::WaitForPolls(int count, DWORD timeoutMs) {
    return WaitForReads(
               count, [](const sim_trace_entry &) { return true; }, timeoutMs)
        .has_value();
}

std::optional<sim_trace_entry> Control::SetAndWaitForPoll(std::uint16_t port, std::uint8_t value,
                                                          DWORD timeoutMs) {
    // Only reads after the change count.
    const std::vector<sim_trace_entry> before = Trace(next_);
    if (!before.empty())
        next_ = before.back().seq + 1;
    if (!SetPort(port, value))
        return std::nullopt;
    return WaitForReads(
        1,
        [&](const sim_trace_entry &e) {
            return e.port == port && e.status == 0 && e.value == value;
        },
        timeoutMs);
}

} // namespace sim
