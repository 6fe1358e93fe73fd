#include "tests/host/fake_ports.h"

#include "hwaccess/port_io.h"

#include <cassert>
#include <cstdio>
#include <ostream>

namespace {
FakePorts *g_activePorts = nullptr;
}

void PrintTo(const PortRequest &request, std::ostream *os) {
    char text[32];
    if (request.kind == PortRequest::Kind::Write) {
        std::snprintf(text, sizeof text, "0x%02X<-0x%02X", request.port, request.value);
    } else {
        std::snprintf(text, sizeof text, "read 0x%02X=0x%02X", request.port, request.value);
    }
    *os << text;
}

PortTrace Join(std::initializer_list<PortTrace> parts) {
    PortTrace joined;
    for (const PortTrace &part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

FakePorts::FakePorts() : m_sim(std::make_unique<portsim>()) {
    assert(g_activePorts == nullptr && "one FakePorts at a time");
    portsim_init(m_sim.get());
    g_activePorts = this;
}

FakePorts::~FakePorts() {
    g_activePorts = nullptr;
}

FakePorts *FakePorts::Active() {
    return g_activePorts;
}

std::uint8_t FakePorts::Read(std::uint16_t port) {
    const std::uint8_t value = m_failing ? 0 : portsim_in(m_sim.get(), port);
    m_trace.push_back(In(port, value));
    return value;
}

bool FakePorts::Write(std::uint16_t port, std::uint8_t value) {
    m_trace.push_back(Out(port, value));
    if (m_failing) {
        return false;
    }
    portsim_out(m_sim.get(), port, value);
    return true;
}

// The host build's port functions.

std::uint8_t ReadIoPortByte(std::uint16_t port) {
    return g_activePorts != nullptr ? g_activePorts->Read(port) : 0;
}

bool WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
    return g_activePorts != nullptr && g_activePorts->Write(port, value);
}
