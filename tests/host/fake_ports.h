#pragma once
// The host tests' port space: ReadIoPortByte and WriteIoPortByte go to the
// simulated port space of the FakePorts object in scope, and every request
// is recorded. With no FakePorts in scope, every request fails, as it does
// before the I/O driver is open.

#include "sim/portsim.h"

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <vector>

// One port request: a write with its value, or a read with the value it gave.
struct PortRequest {
    enum class Kind { Read, Write };
    Kind kind;
    std::uint16_t port;
    std::uint8_t value;

    bool operator==(const PortRequest &other) const {
        return kind == other.kind && port == other.port && value == other.value;
    }
    bool operator!=(const PortRequest &other) const { return !(*this == other); }
};

using PortTrace = std::vector<PortRequest>;

// A read of port that gave value.
inline PortRequest In(std::uint16_t port, std::uint8_t value) {
    return {PortRequest::Kind::Read, port, value};
}
// A write of value to port.
inline PortRequest Out(std::uint16_t port, std::uint8_t value) {
    return {PortRequest::Kind::Write, port, value};
}

// Prints "0x4E<-0x87" for writes and "read 0x4F=0x12" for reads.
void PrintTo(const PortRequest &request, std::ostream *os);

// Joins traces: Join({a, b}, {c}) is {a, b, c}.
PortTrace Join(std::initializer_list<PortTrace> parts);

class FakePorts {
  public:
    // Installs a freshly initialised port space (see sim/portsim.h) for the
    // lifetime of the object. Only one may be in scope at a time.
    FakePorts();
    ~FakePorts();
    FakePorts(const FakePorts &) = delete;
    FakePorts &operator=(const FakePorts &) = delete;

    portsim &sim() { return *m_sim; }
    const PortTrace &trace() const { return m_trace; }
    void ClearTrace() { m_trace.clear(); }

    // While failing, requests are recorded but do not reach the port space:
    // reads give 0 and writes report false.
    void SetFailing(bool failing) { m_failing = failing; }

    // The FakePorts in scope, or nullptr.
    static FakePorts *Active();

    std::uint8_t Read(std::uint16_t port);
    bool Write(std::uint16_t port, std::uint8_t value);

  private:
    std::unique_ptr<portsim> m_sim;
    PortTrace m_trace;
    bool m_failing = false;
};
