#include "check/arguments.h"
#include "check/gather.h"
#include "check/judge.h"
#include "check/load_undo.h"
#include "check/render.h"
#include "common/ansi_text.h"
#include "common/system_library.h"
#include "common/win_handles.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A line of UTF-8 text on standard output. A console shows it in UTF-16,
// whatever its code page; a file or a pipe gets the ANSI bytes.
void PrintLine(const std::string &utf8) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    const std::string line = utf8 + "\n";
    const std::wstring wide = WideFrom(line, CP_UTF8);
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        std::fputs(AnsiFromUtf8(line).c_str(), stdout);
        std::fflush(stdout);
    }
}

// Writes text into a new file beside path (UTF-8), then puts it in path's
// place in one step: a reader never sees half a report, and when anything
// fails the report there before stays whole.
bool ReplaceFile(const std::string &utf8Path, const std::string &text) {
    const std::wstring path = WideFrom(utf8Path, CP_UTF8);
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
    wchar_t temporary[MAX_PATH] = {};
    if (GetTempFileNameW(folder.c_str(), L"wgb", 0, temporary) == 0)
        return false;
    bool written = false;
    {
        const UniqueHandle file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD size = 0;
        written =
            file &&
            WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &size, nullptr) &&
            size == text.size() && FlushFileBuffers(file.get());
    }
    if (written &&
        MoveFileExW(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary);
    return false;
}

// The arguments after the program's name in UTF-8, every character of them:
// from Windows' own UTF-16 command line, where the C runtime's are ANSI.
std::vector<std::string> Arguments(int argc, char **argv) {
    using SplitFn = LPWSTR *(WINAPI *)(LPCWSTR, int *);
    // Not imported: shell32.dll's own imports would be sought in this folder too.
    const auto split =
        GetProcedure<SplitFn>(LoadSystemLibrary("shell32.dll"), "CommandLineToArgvW");
    int count = 0;
    const UniqueLocalMemory list(split ? split(GetCommandLineW(), &count) : nullptr);
    const auto *wide = static_cast<LPWSTR *>(list.get());
    std::vector<std::string> arguments;
    for (int i = 1; i < (wide ? count : argc); ++i)
        arguments.push_back(wide ? Utf8FromWide(wide[i]) : Utf8FromAnsi(argv[i]));
    return arguments;
}

} // namespace

int main(int argc, char **argv) {
    // As in the service: no DLL from this folder, which holds the check too.
    RestrictDllSearchToSystemFolder();

    const std::vector<std::string> arguments = Arguments(argc, argv);
    std::vector<const char *> texts;
    for (const std::string &argument : arguments)
        texts.push_back(argument.c_str());
    CheckOptions options;
    if (!ParseCheckArguments(static_cast<int>(texts.size()), texts.data(), options)) {
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
    CheckFacts facts = GatherFacts(options);
    const ReportSteps steps = {
        [&](CheckFacts &watched, const std::function<void(const WatchChange &)> &onChange) {
            if (options.watchSeconds != 0)
                WatchButton(watched, options.watchSeconds, onChange);
        },
        UndoLoad};
    const std::vector<Finding> findings = ShowReport(facts, steps, [&](const std::string &line) {
        if (toConsole)
            PrintLine(line);
        else if (!options.json)
            lines += line + "\r\n";
    });

    const std::string json = options.json ? ReportJson(facts, findings) + "\n" : "";
    if (!options.outFile.empty()) {
        if (!ReplaceFile(options.outFile, options.json ? json : lines)) {
            std::fprintf(stderr, "WGBCheck: cannot write %s\n",
                         AnsiFromUtf8(options.outFile).c_str());
            return kExitNotWritten;
        }
    } else if (options.json) {
        std::fputs(json.c_str(), stdout);
    }
    return ExitCode(findings);
}
