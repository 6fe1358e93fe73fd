#pragma once
// Running the bring-up probe (driver bring-up and port requests in a process
// of their own) and reading its report.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wgbtest {

struct BringupReport {
    std::optional<bool> opened;                         // the OpenIoDriver result
    std::vector<std::pair<std::uint16_t, int>> reads;   // port, value read
    std::vector<std::pair<std::uint16_t, bool>> writes; // port, write result
    std::string handle;  // g_hIoDriver afterwards: "zero", "invalid" or "valid"
    std::string block;   // the 1200-byte block: "none", "filled" or "wrong"
    std::string path;    // g_szDriverPath; empty when the driver file was not sought
    std::string service; // g_pszDriverServiceName, "-" while null
};

// Runs hwaccess_bringup_probe with moduleDir as the executable's directory and
// the steps given ("open", "read:0x50C", "write:0x4E:0x87"). A run that does
// not end with a whole report is a test failure and gives std::nullopt.
std::optional<BringupReport> RunBringupProbe(const std::string &moduleDir,
                                             const std::vector<std::string> &steps);

// The display name of a service; empty when there is none.
std::string ServiceDisplayName(const std::string &name);

} // namespace wgbtest
