#include "check/arguments.h"
#include "check/gather.h"
#include "check/judge.h"
#include "check/load_undo.h"
#include "check/render.h"
#include "common/system_library.h"
#include "common/win_handles.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// A line of UTF-8 text on standard output. A console shows it in UTF-16,
// whatever its code page; a file or a pipe gets the ANSI bytes.
void PrintLine(const std::string &utf8) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    const std::string line = utf8 + "\n";
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0], length);
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        std::fputs(AnsiFromUtf8(line).c_str(), stdout);
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
        return kExitOk;
    }

    // Lines appear as they are found, unless they go to a file.
    std::string lines;
    const bool toConsole = !options.json && options.outFile.empty();
    const auto show = [&](const std::string &line) {
        if (toConsole)
            PrintLine(line);
        else if (!options.json)
            lines += line + "\r\n";
    };
    CheckFacts facts = GatherFacts(options);
    std::vector<std::string> shown;
    for (const Finding &finding : Judge(facts))
        shown.push_back(FindingLine(finding));
    for (const std::string &line : shown)
        show(line);
    if (options.watchSeconds != 0)
        WatchButton(facts, options.watchSeconds,
                    [&](const WatchChange &change) { show(WatchLine(change)); });
    UndoLoad(facts);
    // Then what the watch and the undo added.
    const std::vector<Finding> findings = Judge(facts);
    for (const Finding &finding : findings) {
        const std::string line = FindingLine(finding);
        if (std::find(shown.begin(), shown.end(), line) == shown.end())
            show(line);
    }

    const std::string json = options.json ? ReportJson(facts, findings) + "\n" : "";
    if (!options.outFile.empty()) {
        if (!ReplaceFile(options.outFile, options.json ? json : lines)) {
            std::fprintf(stderr, "WGBCheck: cannot write %s\n", options.outFile.c_str());
            return kExitNotWritten;
        }
    } else if (options.json) {
        std::fputs(json.c_str(), stdout);
    }
    return ExitCode(findings);
}
