#include "button/module_directory.h"
#include "check/arguments.h"
#include "check/finding_codes.h"
#include "check/machine_checks.h"
#include "check/machine_facts.h"
#include "check/report.h"
#include "common/shared_state.h"
#include "common/system_library.h"
#include "common/win_handles.h"

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

// Writes text into a new file beside path, then puts it in path's place in
// one step: a reader never sees half a report, and when anything fails the
// report there before stays whole.
bool ReplaceFile(const std::string &path, const std::string &text) {
    const std::size_t slash = path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char temporary[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "wgb", 0, temporary) == 0)
        return false;
    bool written = false;
    {
        const UniqueHandle file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD size = 0;
        written =
            file &&
            WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &size, nullptr) &&
            size == text.size() && FlushFileBuffers(file.get());
    }
    if (written &&
        MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary);
    return false;
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

    // The installation checked is the one this copy lies in, as for the service.
    char directory[kTextBufferSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, directory, sizeof directory);
    const bool pathFits = length != 0 && length < sizeof directory;
    report.Header("checkVersion", pathFits ? FileVersion(directory) : "");
    report.Header("computerName", ComputerName());
    report.Header("checkedAt", UtcTimestamp());
    if (!pathFits) {
        report.Add(Verdict::Fail, code::kFilesPathTooLong,
                   "this program's path is too long to be the service's folder",
                   "install into a folder with a shorter path");
    } else {
        CutToDirectory(directory, IsAnsiLeadByte);
        RunMachineChecks(directory, options, report);
    }

    const std::string json = options.json ? report.Json(AnsiToUtf8) + "\n" : "";
    if (!options.outFile.empty()) {
        if (!ReplaceFile(options.outFile, options.json ? json : lines)) {
            std::fprintf(stderr, "WGBCheck: cannot write %s\n", options.outFile.c_str());
            return kExitBadArgument;
        }
    } else if (options.json) {
        std::fputs(json.c_str(), stdout);
    }
    return report.ExitCode();
}
