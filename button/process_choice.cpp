#include "button/process_choice.h"

#include "common/ascii_case.h"

namespace {

bool IsNamed(const ProcessEntry &process, const char *exeName) {
    return EqualIgnoringAsciiCase(process.exeName.c_str(), exeName);
}

} // namespace

const ProcessEntry *ChooseUserShell(const std::vector<ProcessEntry> &processes,
                                    std::uint32_t consoleSession) {
    for (const ProcessEntry &process : processes) {
        if (process.sessionId == consoleSession && IsNamed(process, kShellExeName))
            return &process;
    }
    return nullptr;
}

const ProcessEntry *FirstShell(const std::vector<ProcessEntry> &processes) {
    for (const ProcessEntry &process : processes) {
        if (IsNamed(process, kShellExeName))
            return &process;
    }
    return nullptr;
}

bool IsStillTheShell(const ProcessEntry &shell, const OpenedProcess &opened,
                     LeadByteTest isLeadByte) {
    std::string directory = opened.imagePath;
    const std::size_t fileName = CutToDirectory(&directory[0], isLeadByte);
    return EqualIgnoringAsciiCase(opened.imagePath.c_str() + fileName, kShellExeName) &&
           opened.tokenSession == shell.sessionId;
}

bool RunsInSession(const std::vector<ProcessEntry> &processes, const char *exeName,
                   std::uint32_t session) {
    for (const ProcessEntry &process : processes) {
        if (process.sessionId == session && IsNamed(process, exeName))
            return true;
    }
    return false;
}
