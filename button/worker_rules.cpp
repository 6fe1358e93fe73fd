#include "button/worker_rules.h"

#include "common/ascii_case.h"

namespace {

constexpr std::size_t kQuotesAndSwitchLength = sizeof("\"\" /S") - 1;

constexpr char kAlternativeInputModel[] = "6231";
constexpr ButtonInput kDefaultInput{0x50C, 0};
constexpr ButtonInput kAlternativeInput{0x50D, 6};

bool IsNamed(const ProcessEntry &process, const char *exeName) {
    return EqualIgnoringAsciiCase(process.exeName.c_str(), exeName);
}

} // namespace

// --- directory ---

std::size_t CutToDirectory(char *path, LeadByteTest isLeadByte) {
    std::size_t end = 0; // just past the last backslash seen
    for (std::size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '\\')
            end = i + 1;
        // A double-byte character moves as a whole; a lead byte at the very
        // end stands alone.
        else if (isLeadByte(static_cast<unsigned char>(path[i])) && path[i + 1] != '\0')
            ++i;
    }
    path[end] = '\0';
    return end;
}

// --- texts built from the directory ---

std::size_t IniPathLength(std::size_t directoryLength) {
    return directoryLength + sizeof(kIniFileName) - 1;
}

std::size_t CommandLineLength(std::size_t directoryLength) {
    return directoryLength + sizeof(kCompanionExeName) - 1 + kQuotesAndSwitchLength;
}

bool DirectoryFitsTexts(std::size_t directoryLength) {
    return IniPathLength(directoryLength) < kTextBufferSize &&
           CommandLineLength(directoryLength) < kTextBufferSize;
}

// --- button input ---

ButtonInput ButtonInputFor(const std::string &boardProduct) {
    if (boardProduct.find(kAlternativeInputModel) != std::string::npos)
        return kAlternativeInput;
    return kDefaultInput;
}

unsigned ButtonLevel(ButtonInput input, std::uint8_t portValue) {
    return (portValue >> input.bit) & 1u;
}

// --- press latch ---

bool LatchPress(bool &latched, unsigned level) {
    if (level != kLevelPressed) {
        latched = false;
        return false;
    }
    if (latched)
        return false;
    latched = true;
    return true;
}

// --- the user's shell ---

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
