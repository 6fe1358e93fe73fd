#include "support/sim_client.h"

#include "support/service_run.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wgbtest {

namespace {

// Entries fetched per trace request.
constexpr DWORD kTraceBatch = 4096;

std::string WithBackslash(const std::string &dir) {
    return (!dir.empty() && dir.back() == '\\') ? dir : dir + "\\";
}

} // namespace

// ---- control device ---------------------------------------------------------

SimControl::SimControl()
    : device_(CreateFileA(SIM_CONTROL_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

bool SimControl::Request(DWORD code, const void *in, DWORD inLength, void *out, DWORD outLength,
                         DWORD *returned) {
    DWORD bytes = 0;
    BOOL ok = DeviceIoControl(device_.get(), code, const_cast<void *>(in), inLength, out, outLength,
                              &bytes, nullptr);
    if (returned)
        *returned = bytes;
    return ok != FALSE;
}

std::optional<uint8_t> SimControl::ByteRequest(DWORD code, const void *in, DWORD inLength) {
    uint8_t value = 0;
    DWORD returned = 0;
    if (!Request(code, in, inLength, &value, sizeof value, &returned) || returned != 1) {
        ADD_FAILURE() << "control request 0x" << std::hex << code << " failed, error " << std::dec
                      << GetLastError();
        return std::nullopt;
    }
    return value;
}

bool SimControl::Reset() {
    AcceptOpens();
    return Request(IOCTL_SIM_RESET, nullptr, 0, nullptr, 0);
}

bool SimControl::SetPort(uint16_t port, uint8_t value) {
    sim_port_value in = {port, value, 0};
    return Request(IOCTL_SIM_SET_PORT, &in, sizeof in, nullptr, 0);
}

std::optional<uint8_t> SimControl::Port(uint16_t port) {
    sim_port_value in = {port, 0, 0};
    return ByteRequest(IOCTL_SIM_GET_PORT, &in, sizeof in);
}

bool SimControl::SetConfigReg(uint8_t ldn, uint8_t reg, uint8_t value) {
    sim_chip_reg in = {ldn, reg, value, 0};
    return Request(IOCTL_SIM_SET_CONFIG_REG, &in, sizeof in, nullptr, 0);
}

std::optional<uint8_t> SimControl::ConfigReg(uint8_t ldn, uint8_t reg) {
    sim_chip_reg in = {ldn, reg, 0, 0};
    return ByteRequest(IOCTL_SIM_GET_CONFIG_REG, &in, sizeof in);
}

bool SimControl::SetHwmReg(uint8_t reg, uint8_t value) {
    sim_chip_reg in = {0, reg, value, 0};
    return Request(IOCTL_SIM_SET_HWM_REG, &in, sizeof in, nullptr, 0);
}

std::optional<uint8_t> SimControl::HwmReg(uint8_t reg) {
    sim_chip_reg in = {0, reg, 0, 0};
    return ByteRequest(IOCTL_SIM_GET_HWM_REG, &in, sizeof in);
}

std::vector<sim_trace_entry> SimControl::Trace(uint32_t fromSeq) {
    std::vector<sim_trace_entry> trace;
    std::vector<uint8_t> buffer(sizeof(sim_trace_header) + kTraceBatch * sizeof(sim_trace_entry));
    for (uint32_t next = fromSeq;;) {
        DWORD returned = 0;
        if (!Request(IOCTL_SIM_GET_TRACE, &next, sizeof next, buffer.data(),
                     static_cast<DWORD>(buffer.size()), &returned) ||
            returned < sizeof(sim_trace_header)) {
            ADD_FAILURE() << "reading the trace failed, error " << GetLastError();
            return trace;
        }
        sim_trace_header header;
        std::memcpy(&header, buffer.data(), sizeof header);
        for (uint32_t i = 0; i < header.count; ++i) {
            sim_trace_entry entry;
            std::memcpy(&entry, buffer.data() + sizeof header + i * sizeof entry, sizeof entry);
            trace.push_back(entry);
        }
        next = header.first + header.count;
        if (header.count == 0 || next >= header.total)
            return trace;
    }
}

bool SimControl::ClearTrace() {
    return Request(IOCTL_SIM_CLEAR_TRACE, nullptr, 0, nullptr, 0);
}

bool SimControl::FailRequests(bool reads, bool writes, uint32_t status) {
    sim_failures in = {(reads ? SIM_FAIL_READS : 0u) | (writes ? SIM_FAIL_WRITES : 0u), status};
    return Request(IOCTL_SIM_SET_FAILURES, &in, sizeof in, nullptr, 0);
}

bool SimControl::RefuseOpens(uint32_t status) {
    refusal_.reset();
    DWORD error = status == SIM_STATUS_SHARING_VIOLATION ? ERROR_SHARING_VIOLATION
                  : status == SIM_STATUS_ACCESS_DENIED   ? ERROR_ACCESS_DENIED
                                                         : ERROR_SUCCESS;
    if (error == ERROR_SUCCESS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    refusal_ = std::make_unique<DeviceOpenRefusal>(error);
    return refusal_->IsActive();
}

std::optional<sim_counters> SimControl::Counters() {
    sim_counters counters = {};
    DWORD returned = 0;
    if (!Request(IOCTL_SIM_GET_COUNTERS, nullptr, 0, &counters, sizeof counters, &returned) ||
        returned != sizeof counters) {
        ADD_FAILURE() << "reading the counters failed, error " << GetLastError();
        return std::nullopt;
    }
    return counters;
}

std::vector<sim_trace_entry> TraceOf(const std::vector<sim_trace_entry> &trace, uint8_t op) {
    std::vector<sim_trace_entry> out;
    for (const sim_trace_entry &entry : trace)
        if (entry.op == op)
            out.push_back(entry);
    return out;
}

std::string Describe(const sim_trace_entry &entry) {
    char text[160];
    std::snprintf(text, sizeof text, "#%u %s port 0x%X value 0x%02X status 0x%08X in %u out %u",
                  entry.seq, entry.op == SIM_OP_READ ? "read" : "write", entry.port, entry.value,
                  entry.status, entry.in_len, entry.out_len);
    return text;
}

DeviceOpenRefusal::DeviceOpenRefusal(DWORD error) {
    char prefix[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (length == 0 || length >= sizeof prefix) {
        ADD_FAILURE() << "WINEPREFIX is not set: run the test through run-in-wine";
        return;
    }
    // Wine looks device names up in lower case.
    path_ = WindowsPathOf(prefix) + "\\dosdevices\\quendra_1_0_1";
    if (error == ERROR_SHARING_VIOLATION) {
        held_.reset(CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        active_ = static_cast<bool>(held_);
    } else if (error == ERROR_ACCESS_DENIED) {
        active_ = CreateDirectoryA(path_.c_str(), nullptr) != FALSE;
    } else {
        ADD_FAILURE() << "no refusal with error " << error;
        return;
    }
    if (!active_)
        ADD_FAILURE() << "cannot create " << path_ << ": error " << GetLastError();
}

DeviceOpenRefusal::~DeviceOpenRefusal() {
    if (held_)
        held_.reset(); // deleted on close
    else if (active_)
        RemoveDirectoryA(path_.c_str());
}

UniqueHandle OpenIoDevice() {
    return UniqueHandle(CreateFileA(SIM_MAIN_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// ---- driver service ---------------------------------------------------------

std::string DriverArtifactPath() {
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    return ArtifactPath(info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64
                            ? "Quendra_X64.sys"
                            : "Quendra.sys");
}

DWORD RegisterDriverService(const std::string &imagePath) {
    const std::string image = imagePath.empty() ? DriverArtifactPath() : imagePath;
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return GetLastError();
    UniqueServiceHandle service(
        CreateServiceA(manager.get(), kDriverServiceName, kDriverServiceName, SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return service ? ERROR_SUCCESS : GetLastError();
}

DWORD StartDriverService() {
    return StartServiceByName(kDriverServiceName) ? ERROR_SUCCESS : GetLastError();
}

bool StopDriverService() {
    if (ServiceState(kDriverServiceName) != SERVICE_STOPPED)
        ControlServiceByName(kDriverServiceName, SERVICE_CONTROL_STOP);
    return WaitForServiceState(kDriverServiceName, SERVICE_STOPPED);
}

bool LoadDriver(const std::string &imagePath) {
    DWORD registered = RegisterDriverService(imagePath);
    if (registered != ERROR_SUCCESS && registered != ERROR_SERVICE_EXISTS)
        return false;
    DWORD started = StartDriverService();
    if (started != ERROR_SUCCESS && started != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    return WaitForDriverLoaded();
}

bool WaitForDriverLoaded() {
    return WaitUntil([] { return SimControl().IsOpen(); });
}

void UnloadDriver() {
    RemoveServiceIfPresent(kDriverServiceName);
}

bool SetDriverFailStart(bool fail) {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServiceKey(kDriverServiceName).c_str(), 0, KEY_SET_VALUE,
                      key.put()) != ERROR_SUCCESS)
        return false;
    if (!fail) {
        LSTATUS rc = RegDeleteValueA(key.get(), SIM_FAIL_START_VALUE);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    const DWORD one = 1;
    return RegSetValueExA(key.get(), SIM_FAIL_START_VALUE, 0, REG_DWORD,
                          reinterpret_cast<const BYTE *>(&one), sizeof one) == ERROR_SUCCESS;
}

// ---- companion records ------------------------------------------------------

std::string CompanionRecordFile(const std::string &dir) {
    return WithBackslash(dir) + companion_record::kRecordFileName;
}

std::string CompanionStayFile(const std::string &dir) {
    return WithBackslash(dir) + companion_record::kStayFileName;
}

std::vector<CompanionRecord> ReadCompanionRecords(const std::string &dir) {
    const std::string path = CompanionRecordFile(dir);
    if (!FileExists(path))
        return {};
    return companion_record::ParseRecords(ReadTextFile(path));
}

bool WaitForCompanionRecords(const std::string &dir, std::size_t count, DWORD timeoutMs) {
    return WaitUntil([&] { return ReadCompanionRecords(dir).size() >= count; }, timeoutMs);
}

std::string CompanionField(const CompanionRecord &record, const std::string &key) {
    const auto found = record.find(key);
    return found == record.end() ? "<absent>" : found->second;
}

std::vector<std::string> CompanionArgv(const CompanionRecord &record) {
    std::vector<std::string> argv;
    auto argc = record.find(companion_record::kArgc);
    if (argc == record.end())
        return argv;
    const int count = std::atoi(argc->second.c_str());
    for (int i = 0; i < count; ++i) {
        auto arg = record.find(companion_record::kArgvPrefix + std::to_string(i));
        argv.push_back(arg == record.end() ? std::string() : arg->second);
    }
    return argv;
}

std::string CompanionCommandLine(const std::string &dir) {
    return Quoted(dir + "WGB.exe") + " /S";
}

} // namespace wgbtest

std::ostream &operator<<(std::ostream &out, const sim_trace_entry &entry) {
    return out << wgbtest::Describe(entry);
}
