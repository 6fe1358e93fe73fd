#pragma once
// Helpers for tests that use the stand-ins of sim/: the I/O driver stand-in
// (its control device \\.\QuendraSimCtl and its driver service) and the stub
// companion's start records.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/win_handles.h"
#include "sim/companion/companion_record.h"
#include "sim/sim_control.h"
#include "support/wine_env.h"

namespace wgbtest {

// ---- control device ---------------------------------------------------------

// While it lives, every open of \\.\Quendra_1_0_1 fails with error:
// ERROR_SHARING_VIOLATION or ERROR_ACCESS_DENIED, whether the stand-in is
// loaded or not; handles opened before keep working. (Wine opens a device
// whatever the driver's IRP_MJ_CREATE answers, but it looks \\.\NAME up in
// the prefix's dosdevices directory first: a file there that this object holds
// without sharing gives the sharing violation, a directory the access denial.)
class DeviceOpenRefusal {
  public:
    explicit DeviceOpenRefusal(DWORD error);
    ~DeviceOpenRefusal();
    DeviceOpenRefusal(const DeviceOpenRefusal &) = delete;
    DeviceOpenRefusal &operator=(const DeviceOpenRefusal &) = delete;

    // False when the refusal could not be set up (reported as a test failure).
    bool IsActive() const { return active_; }

  private:
    std::string path_;
    UniqueHandle held_;
    bool active_ = false;
};

// The stand-in's test device. Every call is one control request; a setter
// returns false (with GetLastError) when the request failed, a getter reports
// a failed request as a test failure.
class SimControl {
  public:
    // Opens \\.\QuendraSimCtl; the stand-in must be loaded. See IsOpen.
    SimControl();

    bool IsOpen() const { return static_cast<bool>(device_); }

    // The state right after loading: port space initialised, trace empty, no
    // failures, counters zero; and no refusal of opens.
    bool Reset();

    // The byte a plain port (one outside the chip's register pairs) holds:
    // what a read returns and what the last write left. Not traced.
    bool SetPort(uint16_t port, uint8_t value);
    std::optional<uint8_t> Port(uint16_t port);

    // Registers of the chip model, without its configuration protocol.
    bool SetConfigReg(uint8_t ldn, uint8_t reg, uint8_t value);
    std::optional<uint8_t> ConfigReg(uint8_t ldn, uint8_t reg);
    bool SetHwmReg(uint8_t reg, uint8_t value);
    std::optional<uint8_t> HwmReg(uint8_t reg);

    // Port requests of the main device in arrival order, from sequence number
    // fromSeq on (those the ring still holds).
    std::vector<sim_trace_entry> Trace(uint32_t fromSeq = 0);
    bool ClearTrace();

    // Reads and/or writes then fail with status, without port access (a
    // status that is no error status stands for STATUS_IO_DEVICE_ERROR, which
    // DeviceIoControl reports as ERROR_IO_DEVICE). FailRequests(false, false)
    // ends it.
    bool FailRequests(bool reads, bool writes, uint32_t status = SIM_STATUS_IO_DEVICE_ERROR);

    // From now on every open of \\.\Quendra_1_0_1 fails with
    // SIM_STATUS_SHARING_VIOLATION (ERROR_SHARING_VIOLATION) or
    // SIM_STATUS_ACCESS_DENIED (ERROR_ACCESS_DENIED), until AcceptOpens, Reset
    // or the end of this object: a DeviceOpenRefusal that this object holds.
    // Refused opens do not reach the stand-in, so no counter shows them.
    bool RefuseOpens(uint32_t status);
    void AcceptOpens() { refusal_.reset(); }

    std::optional<sim_counters> Counters();

  private:
    bool Request(DWORD code, const void *in, DWORD inLength, void *out, DWORD outLength,
                 DWORD *returned = nullptr);
    std::optional<uint8_t> ByteRequest(DWORD code, const void *in, DWORD inLength);

    UniqueHandle device_;
    std::unique_ptr<DeviceOpenRefusal> refusal_;
};

// Only the entries of one kind (SIM_OP_READ or SIM_OP_WRITE).
std::vector<sim_trace_entry> TraceOf(const std::vector<sim_trace_entry> &trace, uint8_t op);
// "read 0x50C -> 0xFF ok @123" style, for failure messages.
std::string Describe(const sim_trace_entry &entry);

// Opens \\.\Quendra_1_0_1 as the service does (read/write, no sharing);
// an invalid handle with GetLastError on failure.
UniqueHandle OpenIoDevice();

// ---- driver service ---------------------------------------------------------

// The build's stand-in that this Windows loads: Quendra_X64.sys where Windows
// runs on AMD64, Quendra.sys otherwise.
std::string DriverArtifactPath();
// Registers the stand-in as kernel driver service "Quendra_1_0_T", demand
// start, with imagePath (default: DriverArtifactPath()). ERROR_SUCCESS, or
// the error of CreateServiceA (ERROR_SERVICE_EXISTS included).
DWORD RegisterDriverService(const std::string &imagePath = {});
// StartServiceA on "Quendra_1_0_T": ERROR_SUCCESS or its error.
DWORD StartDriverService();
// Stops "Quendra_1_0_T" and waits until it is stopped.
bool StopDriverService();
// Registers (if needed) and starts the stand-in; true once its devices exist.
bool LoadDriver(const std::string &imagePath = {});
// Waits until the stand-in's devices exist: it has been loaded, here or by
// the service's bring-up.
bool WaitForDriverLoaded();
// Stops and deletes the driver service, if there is one.
void UnloadDriver();
// Sets or removes the "FailStart" value under the service's key; the service
// must be registered.
bool SetDriverFailStart(bool fail);

// ---- companion records ------------------------------------------------------

using CompanionRecord = companion_record::Record;

// Where the companion in dir (with or without the closing backslash) writes
// its records, and the file that keeps it running.
std::string CompanionRecordFile(const std::string &dir);
std::string CompanionStayFile(const std::string &dir);
// Every complete record in dir's record file, oldest first; none when the
// file does not exist.
std::vector<CompanionRecord> ReadCompanionRecords(const std::string &dir);
// Waits until dir's record file holds at least count records.
bool WaitForCompanionRecords(const std::string &dir, std::size_t count,
                             DWORD timeoutMs = kDeadlineMs);
// The value of key in a record, "<absent>" when it has none.
std::string CompanionField(const CompanionRecord &record, const std::string &key);
// argv0 .. argv<argc-1> of a record.
std::vector<std::string> CompanionArgv(const CompanionRecord &record);
// The command line the service starts the companion in dir (ending in a
// backslash) with.
std::string CompanionCommandLine(const std::string &dir);

} // namespace wgbtest

// GoogleTest prints entries with this.
std::ostream &operator<<(std::ostream &out, const sim_trace_entry &entry);
