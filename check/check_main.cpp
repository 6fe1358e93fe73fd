#include "button/module_directory.h"
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

std::wstring Wide(const std::string &text, UINT codePage) {
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string AnsiToUtf8(const std::string &ansi) {
    const std::wstring wide = Wide(ansi, CP_ACP);
    const int wideLength = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], length, nullptr, nullptr);
    return utf8;
}

// A line of ANSI text on standard output. A console shows it in UTF-16,
// whatever its code page; a file or a pipe gets the ANSI bytes.
void PrintLine(const std::string &ansi) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        const std::wstring wide = Wide(ansi + "\n", CP_ACP);
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        std::printf("%s\n", ansi.c_str());
        std::fflush(stdout);
    }
}

bool WriteWholeFile(const std::string &path, const std::string &text) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
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

    // Lines appear as they are found, unless they go to a file.
    Report report;
    std::string lines;
    if (!options.json && options.outFile.empty())
        report.onLine = PrintLine;
    else if (!options.json)
        report.onLine = [&lines](const std::string &line) { lines += AnsiToUtf8(line) + "\r\n"; };
    report.Header("checkVersion", WGB_VERSION);

    // The installation checked is the one this copy lies in, as for the service.
    char directory[kTextBufferSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) {
        report.Add("files", Verdict::Fail,
                   "this program's path is too long to be the service's folder",
                   "install into a folder with a shorter path");
    } else {
        CutToDirectory(directory, IsAnsiLeadByte);
        RunMachineChecks(directory, options, report);
    }

    const std::string json = options.json ? report.Json(AnsiToUtf8) + "\n" : "";
    if (!options.outFile.empty()) {
        if (!WriteWholeFile(options.outFile, options.json ? json : lines)) {
            std::fprintf(stderr, "WGBCheck: cannot write %s\n", options.outFile.c_str());
            return kExitBadArgument;
        }
    } else if (options.json) {
        std::fputs(json.c_str(), stdout);
    }
    return report.ExitCode();
}
