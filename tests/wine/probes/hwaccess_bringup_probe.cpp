// Runs driver bring-up and port requests in a process of its own (the device
// handle is process-wide) and reports each step on stdout, one line each.
//
// Usage: hwaccess_bringup_probe MODULE-DIR [STEP...]
//   MODULE-DIR  taken as the executable's directory (ends in a backslash)
//   open        OpenIoDriver            -> "open <0|1>"
//   read:P      ReadIoPortByte(P)       -> "read <P> <value>"
//   write:P:V   WriteIoPortByte(P, V)   -> "write <P> <0|1>"
// followed by "handle <zero|invalid|valid>", "block <none|filled|wrong>",
// "path <g_szDriverPath>" and "service <g_pszDriverServiceName or ->".
// Numbers are decimal or 0x-prefixed hex.

#include "button/worker.h"
#include "hwaccess/hw_access.h"
#include "hwaccess/io_driver.h"
#include "hwaccess/port_io.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kDriverBlockSize = 1200;

std::string HandleState() {
    if (g_hIoDriver == nullptr)
        return "zero";
    return g_hIoDriver == INVALID_HANDLE_VALUE ? "invalid" : "valid";
}

std::string BlockState(const void *block) {
    if (block == nullptr)
        return "none";
    const auto *bytes = static_cast<const unsigned char *>(block);
    for (std::size_t i = 0; i < kDriverBlockSize; ++i)
        if (bytes[i] != 0xFF)
            return "wrong";
    return "filled";
}

unsigned long Number(const char *text) {
    return std::strtoul(text, nullptr, 0);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2)
        return 2;
    lstrcpynA(g_szModuleDir, argv[1], sizeof g_szModuleDir);

    IoDriverState state = {};
    std::string report;
    for (int i = 2; i < argc; ++i) {
        const char *step = argv[i];
        if (std::strcmp(step, "open") == 0) {
            report += "open " + std::to_string(OpenIoDriver(&state) ? 1 : 0) + "\n";
        } else if (std::strncmp(step, "read:", 5) == 0) {
            const auto port = static_cast<std::uint16_t>(Number(step + 5));
            report +=
                "read " + std::to_string(port) + " " + std::to_string(ReadIoPortByte(port)) + "\n";
        } else if (std::strncmp(step, "write:", 6) == 0) {
            char *valueText = nullptr;
            const auto port = static_cast<std::uint16_t>(std::strtoul(step + 6, &valueText, 0));
            if (*valueText != ':')
                return 2;
            const auto value = static_cast<std::uint8_t>(Number(valueText + 1));
            report += "write " + std::to_string(port) + " " +
                      std::to_string(WriteIoPortByte(port, value) ? 1 : 0) + "\n";
        } else {
            return 2;
        }
    }
    report += "handle " + HandleState() + "\n";
    report += "block " + BlockState(state.pBuffer) + "\n";
    report += std::string("path ") + g_szDriverPath + "\n";
    report +=
        std::string("service ") + (g_pszDriverServiceName ? g_pszDriverServiceName : "-") + "\n";

    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), report.data(), static_cast<DWORD>(report.size()),
              &written, nullptr);
    return 0;
}
