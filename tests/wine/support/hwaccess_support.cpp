#include "support/hwaccess_support.h"

#include "common/win_handles.h"
#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace wgbtest {

namespace {

// The text after "key " on a line of its own, or std::nullopt.
std::optional<std::string> Field(const std::string &line, const std::string &key) {
    if (line.compare(0, key.size() + 1, key + " ") != 0)
        return std::nullopt;
    return line.substr(key.size() + 1);
}

std::uint16_t PortOf(const std::string &text) {
    return static_cast<std::uint16_t>(std::strtoul(text.c_str(), nullptr, 10));
}

} // namespace

std::optional<BringupReport> RunBringupProbe(const std::string &moduleDir,
                                             const std::vector<std::string> &steps) {
    std::string commandLine =
        Quoted(ArtifactPath("hwaccess_bringup_probe.exe")) + " " + Quoted(moduleDir);
    for (const std::string &step : steps)
        commandLine += " " + step;
    std::string output;
    const std::optional<DWORD> code = RunProgramCapture(commandLine, output);
    if (code != std::optional<DWORD>(0)) {
        ADD_FAILURE() << "probe did not run: " << commandLine << "\n" << output;
        return std::nullopt;
    }

    BringupReport report;
    bool sawService = false;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key, port, value;
        words >> key >> port >> value;
        if (key == "open")
            report.opened = port == "1";
        else if (key == "read")
            report.reads.emplace_back(PortOf(port), std::atoi(value.c_str()));
        else if (key == "write")
            report.writes.emplace_back(PortOf(port), value == "1");
        else if (auto handle = Field(line, "handle"))
            report.handle = *handle;
        else if (auto block = Field(line, "block"))
            report.block = *block;
        else if (auto path = Field(line, "path"))
            report.path = *path;
        else if (auto service = Field(line, "service")) {
            report.service = *service;
            sawService = true;
        }
    }
    if (!sawService) {
        ADD_FAILURE() << "incomplete probe report: " << output;
        return std::nullopt;
    }
    return report;
}

std::string ServiceDisplayName(const std::string &name) {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    char display[256] = {};
    DWORD size = sizeof display;
    if (!manager || !GetServiceDisplayNameA(manager.get(), name.c_str(), display, &size))
        return {};
    return display;
}

} // namespace wgbtest
