#include "button/module_directory.h"
#include "button/worker.h"
#include "check/arguments.h"
#include "check/machine_checks.h"
#include "check/report.h"
#include "common/shared_state.h"
#include "common/system_library.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kExitBadArgument = 3;

std::string AnsiToUtf8(const std::string &ansi) {
    const int wideLength =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                        wideLength);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], length, nullptr, nullptr);
    return utf8;
}

} // namespace

int main(int argc, char **argv) {
    // As in the service: no DLL from this folder, which holds the check too.
    RestrictDllSearchToSystemFolder();

    CheckOptions options;
    if (!ParseCheckArguments(argc - 1, argv + 1, options)) {
        std::fputs(kCheckUsage, stderr);
        return kExitBadArgument;
    }
    if (options.help) {
        std::fputs(kCheckUsage, stdout);
        return 0;
    }

    // The installation checked is the one this copy lies in, as for the service.
    char directory[kTextBufferSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) {
        std::fputs("FAIL  files      this program's path is too long to be the service's folder\n",
                   stdout);
        return 2;
    }
    CutToDirectory(directory, IsAnsiLeadByte);

    Report report;
    if (!options.json)
        report.onLine = [](const std::string &line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        };
    RunMachineChecks(directory, options, report);
    if (options.json)
        std::printf("%s\n", report.Json(AnsiToUtf8).c_str());
    return report.ExitCode();
}
